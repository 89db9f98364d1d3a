# A throw-away one-node Slurm cluster for tests, sourced by bash scripts.
#
#   slurm_cluster_start DIR   writes a munge key and slurm.conf under DIR,
#                             starts munged, slurmctld and slurmd in the
#                             background and waits until the node is idle;
#                             exports SLURM_CONF so sbatch & co. talk to it
#   slurm_cluster_stop        stops the three daemons by their PIDs
#
# Everything lives under DIR: keys, sockets, state, spool, logs. The daemons
# run as root and nothing of the system's own munge or Slurm set-up is used,
# so a machine where those services run (or do not) is left alone. Ports are
# picked at random among free ones, so two clusters can run side by side.

slurm_cluster_pids=()

slurm_port_free()
{
    ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

slurm_pick_port()
{
    local p
    for _ in $(seq 50); do
        p=$((20000 + RANDOM % 20000))
        if slurm_port_free "$p" && slurm_port_free $((p + 1)); then
            echo "$p"
            return 0
        fi
    done
    return 1
}

# slurm_spawn LOG COMMAND...: starts COMMAND in the background with its
# output in LOG and remembers its PID for slurm_cluster_stop.
slurm_spawn()
{
    local log=$1
    shift
    "$@" </dev/null >>"$log" 2>&1 &
    slurm_cluster_pids+=($!)
}

slurm_cluster_stop()
{
    local pid
    for pid in "${slurm_cluster_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${slurm_cluster_pids[@]}"; do
        for _ in $(seq 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    slurm_cluster_pids=()
}

slurm_cluster_start()
{
    local dir=$1 host port cpus
    host=$(hostname -s)
    cpus=$(nproc)
    port=$(slurm_pick_port) || { echo "no free port for slurmctld" >&2; return 1; }
    mkdir -p "$dir/munge" "$dir/state" "$dir/spool" "$dir/log"
    chmod 700 "$dir" "$dir/munge"

    dd if=/dev/urandom of="$dir/munge/munge.key" bs=1024 count=1 status=none
    chmod 400 "$dir/munge/munge.key"
    slurm_spawn "$dir/log/munged.out" munged --foreground --force \
        --key-file="$dir/munge/munge.key" --socket="$dir/munge/socket" \
        --pid-file="$dir/munge/munged.pid" --seed-file="$dir/munge/seed" \
        --log-file="$dir/log/munged.log"
    for _ in $(seq 100); do
        [ -S "$dir/munge/socket" ] && break
        sleep 0.1
    done
    [ -S "$dir/munge/socket" ] || { echo "munged did not start:" >&2; cat "$dir/log/munged.log" >&2; return 1; }

    cat > "$dir/slurm.conf" <<EOF
ClusterName=lumadrift-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/none
MpiDefault=none
SwitchType=switch/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
ReturnToService=2
MaxArraySize=1001
NodeName=$host NodeAddr=127.0.0.1 CPUs=$cpus State=UNKNOWN
PartitionName=test Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
    export SLURM_CONF=$dir/slurm.conf
    slurm_spawn "$dir/log/slurmctld.out" slurmctld -D -i -f "$SLURM_CONF"
    slurm_spawn "$dir/log/slurmd.out" slurmd -D -f "$SLURM_CONF"

    local state=""
    for _ in $(seq 150); do
        state=$(sinfo -h -n "$host" -o '%T' 2>/dev/null || true)
        [ "$state" = idle ] && return 0
        sleep 0.2
    done
    echo "the Slurm node did not become idle (state: '${state}')" >&2
    tail -n 20 "$dir/log/slurmctld.log" "$dir/log/slurmd.log" >&2 2>/dev/null || true
    return 1
}
