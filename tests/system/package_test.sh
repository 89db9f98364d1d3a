#!/usr/bin/env bash
# package_test.sh [DEB]: installs the package (default: $LUMADRIFT_DEB) on
# this machine, uses it as a user would, removes it and checks that nothing is
# left but the user's own root.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
deb=${1:-${LUMADRIFT_DEB:-}}

[ -n "$deb" ] && [ -f "$deb" ] || skip "no package given (scripts/test builds it with scripts/package and sets LUMADRIFT_DEB)"
need_root "installing a package with dpkg"
need_tools dpkg dpkg-deb cmp timeout

work=$(mktemp -d)
installed=0
cleanup()
{
    if [ "$installed" = 1 ]; then dpkg -r lumadrift >/dev/null 2>&1 || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
private_home "$work"
prefix=/opt/lumadrift
root=$XDG_DATA_HOME/lumadrift

dpkg -i "$deb" > "$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
installed=1

# The replay tool from PATH, its version that of the package.
[ "$(command -v lumadrift-replay)" = /usr/bin/lumadrift-replay ] || fail "lumadrift-replay is not on PATH"
version=$(dpkg-deb -f "$deb" Version)
[ "$(lumadrift-replay --version)" = "lumadrift-replay $version" ] \
    || fail "lumadrift-replay --version says '$(lumadrift-replay --version)', the package is $version"

# First start, from a folder of the caller's, with a picture named relative to
# it; the workbench closes itself after a moment.
mkdir -p "$work/caller"
cp "$prefix/picture/sample_8bit.bmp" "$work/caller/my picture.bmp"
status=0
(cd "$work/caller" && QT_QPA_PLATFORM=offscreen LUMADRIFT_CLOSE_AFTER_MS=1000 \
    timeout 60 lumadrift "my picture.bmp") > "$work/gui.log" 2>&1 || status=$?
[ "$status" = 0 ] || { cat "$work/gui.log"; fail "the launcher exited with $status"; }

for d in bin env picture filter log data; do
    [ -d "$root/$d" ] || fail "the user's root has no $d folder"
done
for p in "$prefix"/bin/*; do
    [ "$(readlink "$root/bin/$(basename "$p")")" = "$p" ] || fail "$root/bin/$(basename "$p") is not a link to $p"
done
for f in picture/sample.bmp picture/sample_1bit.bmp filter/sample.flt; do
    cmp -s "$prefix/$f" "$root/$f" || fail "$f was not copied into the user's root"
done
[ -f "$root/env/Lumadrift.ini" ] || fail "the workbench did not keep its settings in the user's root"
grep -qxF "File1=$work/caller/my picture.bmp" "$XDG_CONFIG_HOME/Lumadrift/Lumadrift.conf" \
    || fail "the picture named relative to the caller's folder was not opened: $(cat "$XDG_CONFIG_HOME/Lumadrift/Lumadrift.conf" 2>&1)"

# The sample macro runs in the user's root as installed.
(cd "$root/bin" && lumadrift-replay ../filter/sample.flt) > "$work/replay.log" 2>&1 \
    || { cat "$work/replay.log"; fail "the sample macro failed in the user's root"; }
[ -f "$root/data/sample_objects.bmp" ] || fail "the sample macro wrote no result into the user's data folder"

# Later starts never overwrite the user's files, nor bring back deleted ones.
echo mine > "$root/picture/sample.bmp"
echo mine > "$root/filter/sample.flt"
rm "$root/picture/sample_1bit.bmp"
(cd "$work/caller" && QT_QPA_PLATFORM=offscreen LUMADRIFT_CLOSE_AFTER_MS=0 timeout 60 lumadrift) \
    > "$work/gui2.log" 2>&1 || { cat "$work/gui2.log"; fail "the second start failed"; }
[ "$(cat "$root/picture/sample.bmp")$(cat "$root/filter/sample.flt")" = minemine ] \
    || fail "a later start overwrote the user's files"
[ ! -e "$root/picture/sample_1bit.bmp" ] || fail "a later start copied a deleted sample again"

# Removal leaves no file of the package, nor anything under /opt/lumadrift.
dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|' | grep -v '/$' > "$work/files"
dpkg -r lumadrift > "$work/dpkg-r.log" 2>&1 || { cat "$work/dpkg-r.log"; fail "dpkg -r failed"; }
installed=0
while read -r f; do
    [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f is left after dpkg -r"
done < "$work/files"
[ ! -e "$prefix" ] || fail "$prefix is left after dpkg -r: $(find "$prefix" | head)"
[ -L "$root/bin/lumadrift" ] || fail "dpkg -r touched the user's root"
echo "installed, used and removed $(basename "$deb"): $(wc -l < "$work/files") files"
