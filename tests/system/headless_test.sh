#!/usr/bin/env bash
# headless_test.sh [BUILD]: the build configured with LUMADRIFT_BUILD_UI=OFF
# (default: $LUMADRIFT_HEADLESS_BUILD) never looked for Qt, has no workbench,
# and its replay tool passes its tests there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
build=${1:-${LUMADRIFT_HEADLESS_BUILD:-}}

[ -n "$build" ] && [ -f "$build/CMakeCache.txt" ] || skip "no headless build given (scripts/test makes one and sets LUMADRIFT_HEADLESS_BUILD)"
grep -q '^LUMADRIFT_BUILD_UI:.*=OFF$' "$build/CMakeCache.txt" || fail "$build is not configured with LUMADRIFT_BUILD_UI=OFF"
# Any find_package(Qt6 ...), found or not, leaves Qt6_DIR in the cache.
! grep -q '^Qt6' "$build/CMakeCache.txt" || fail "the headless configuration looked for Qt: $(grep '^Qt6' "$build/CMakeCache.txt")"
[ ! -e "$build/lumadrift" ] || fail "the headless build has a workbench"
for p in lumadrift-replay lumadrift-samples; do
    [ -x "$build/$p" ] || fail "the headless build has no $p"
done
if ldd "$build/lumadrift-replay" | grep -qi qt; then
    fail "lumadrift-replay links Qt: $(ldd "$build/lumadrift-replay" | grep -i qt)"
fi
"$build/lumadrift-replay" --version
# Only the replay tool's layer is built there; the other test programs are
# not, and the whole-system tests run from the main build.
ctest --test-dir "$build" --output-on-failure --no-tests=error -E '_NOT_BUILT$|^system[.]' -j "$(nproc)"
