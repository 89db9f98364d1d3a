#!/usr/bin/env bash
# slurm_replay_test.sh REPLAY SAMPLES: a batch replay spread by
# scripts/slurm-replay over a real one-node Slurm cluster gives byte for byte
# the outputs of a local -j 1 run, and its summary names the picture that
# failed and the task that replayed it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
source "$here/slurm_cluster.sh"
replay=$1
samples=$2
submit=$here/../../scripts/slurm-replay

need_root "starting slurmctld and slurmd with SlurmUser=root"
need_tools munged slurmctld slurmd sbatch sinfo scancel iconv diff

work=$(mktemp -d)
cleanup()
{
    scancel --quiet --name=lumadrift-replay,lumadrift-summary 2>/dev/null || true
    slurm_cluster_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
private_home "$work"

slurm_cluster_start "$work/cluster" || fail "the Slurm cluster did not start"
echo "cluster up: $(sinfo -h -o '%N %c CPUs %T')"

# 40 pictures; one of them cut short, so it cannot be opened.
"$samples" --series "$work/in" 40 320 240
head -c 100 "$work/in/series_0017.bmp" > "$work/in/series_0017.tmp"
mv "$work/in/series_0017.tmp" "$work/in/series_0017.bmp"
mkdir -p "$work/root/env" "$work/root/log"
printf '%s\n' \
  '55 画像処理範囲取得' 'チャネル=3 反転=0 彩度=0.00 左座標=10 上座標=8 右座標=300 下座標=231' \
  '09 移動平均' 'Xサイズ=5 Yサイズ=3' \
  '01 2値化' '最小値=120 最大値=255' \
  '04 ラベリング' 'ファイル=result.lbl' \
  '52 ファイルの保存' 'ファイル=result.bmp' \
  | iconv -f UTF-8 -t CP932 | sed 's/$/\r/' > "$work/five.flt"

start=$(date +%s%N)
local_status=0
"$replay" --root "$work/root" -j 1 -o "$work/local" "$work/five.flt" "$work/in" \
  > "$work/local.out" 2> "$work/local.err" || local_status=$?
local_ms=$((($(date +%s%N) - start) / 1000000))
[ "$local_status" = 1 ] || fail "the local run exited with $local_status, not 1 (one picture fails)"

start=$(date +%s%N)
status=0
timeout 300 "$submit" --replay "$replay" --root "$work/root" -n 4 -c 1 -o "$work/slurm" --wait \
  "$work/five.flt" "$work/in" > "$work/submit.out" 2>&1 || status=$?
slurm_ms=$((($(date +%s%N) - start) / 1000000))
cat "$work/submit.out"
[ "$status" != 124 ] || fail "the Slurm run did not end within 300 s"
[ "$status" = 1 ] || fail "slurm-replay --wait exited with $status, not 1 (one task failed)"

summary=$work/slurm/slurm/summary.txt
[ -f "$summary" ] || fail "no summary"
for pattern in '^pictures: 40$' '^task 0: exit status 0,' '^task 1: exit status 1,' \
               '^task 2: exit status 0,' '^task 3: exit status 0,' '^tasks failed: 1 of 4$'; do
    grep -q -e "$pattern" "$summary" || fail "no line '$pattern' in the summary: $(cat "$summary")"
done
grep -q 'series_0017.bmp: cannot be opened' "$summary" || fail "the summary does not name the broken picture"
local_failed=$(sed -n 's/.*entries failed: \([0-9]*\),.*/\1/p' "$work/local.out")
grep -qx "entries failed: $local_failed" "$summary" \
    || fail "the summary's failed entries differ from the local run's ($local_failed)"

mv "$work/slurm/slurm" "$work/slurm-logs"
diff -r "$work/local" "$work/slurm" >/dev/null \
    || fail "the outputs differ: $(diff -rq "$work/local" "$work/slurm" | head -5)"
echo "outputs identical: $(ls "$work/local" | wc -l) files"
echo "local -j 1: $local_ms ms; Slurm, 4 tasks of 1 CPU, from submission to summary: $slurm_ms ms"
