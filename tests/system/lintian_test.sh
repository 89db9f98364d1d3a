#!/usr/bin/env bash
# lintian_test.sh [DEB]: lintian finds no error in the package (default:
# $LUMADRIFT_DEB), nor do the desktop entry and AppStream validators in the
# files it ships; warnings are shown, not counted.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
deb=${1:-${LUMADRIFT_DEB:-}}

[ -n "$deb" ] && [ -f "$deb" ] || skip "no package given (scripts/test builds it with scripts/package and sets LUMADRIFT_DEB)"
need_tools lintian dpkg-deb desktop-file-validate appstreamcli
status=0
out=$(lintian --fail-on error --display-info "$deb" 2>&1) || status=$?
printf '%s\n' "$out" | grep -v 'running with root privileges' || true
if [ "$status" != 0 ] || printf '%s\n' "$out" | grep -q '^E: '; then
    fail "lintian reports errors (exit status $status)"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
for f in "$work"/usr/share/applications/*.desktop; do
    desktop-file-validate "$f" || fail "desktop-file-validate: $(basename "$f")"
done
for f in "$work"/usr/share/metainfo/*.xml; do
    appstreamcli validate --no-net "$f" || fail "appstreamcli validate: $(basename "$f")"
done
echo "lintian, desktop-file-validate, appstreamcli: no errors in $(basename "$deb")"
