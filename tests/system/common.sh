# Shared by the whole-system test scripts (sourced).
#
# A check that cannot run here (not root, a tool missing, nothing built yet)
# skips with its reason and exit status 77; scripts/test sets
# LUMADRIFT_SYSTEM_TESTS=required, where the same reasons fail instead.

skip()
{
    echo "skipped: $*"
    if [ "${LUMADRIFT_SYSTEM_TESTS:-}" = required ]; then
        echo "(LUMADRIFT_SYSTEM_TESTS=required: a skip counts as a failure)"
        exit 1
    fi
    exit 77
}

fail()
{
    echo "FAILED: $*" >&2
    exit 1
}

need_root()
{
    [ "$(id -u)" -eq 0 ] || skip "$1 needs root (running as uid $(id -u))"
}

need_tools()
{
    local t
    for t in "$@"; do
        command -v "$t" >/dev/null || skip "$t is not installed (scripts/install-deps installs it for scripts/test)"
    done
}

# Each test gets its own home, data, config and runtime folders, so nothing
# it starts touches the real user's files.
private_home()
{
    local base=$1
    mkdir -p "$base/home" "$base/data" "$base/config" "$base/cache" "$base/run"
    chmod 700 "$base/run"
    export HOME=$base/home XDG_DATA_HOME=$base/data XDG_CONFIG_HOME=$base/config
    export XDG_CACHE_HOME=$base/cache XDG_RUNTIME_DIR=$base/run
}
