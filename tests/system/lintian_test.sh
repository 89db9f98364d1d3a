#!/usr/bin/env bash
# lintian_test.sh [DEB]: lintian finds no error in the package (default:
# $LUMADRIFT_DEB); warnings are shown, not counted.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
deb=${1:-${LUMADRIFT_DEB:-}}

[ -n "$deb" ] && [ -f "$deb" ] || skip "no package given (scripts/test builds it with scripts/package and sets LUMADRIFT_DEB)"
need_tools lintian
status=0
out=$(lintian --fail-on error --display-info "$deb" 2>&1) || status=$?
printf '%s\n' "$out" | grep -v 'running with root privileges' || true
if [ "$status" != 0 ] || printf '%s\n' "$out" | grep -q '^E: '; then
    fail "lintian reports errors (exit status $status)"
fi
echo "lintian: no errors in $(basename "$deb")"
