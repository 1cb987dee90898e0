#!/usr/bin/env bash
# The RPM, as far as a Debian machine can take it: rpmlint, Requires and
# Recommends against what the programs load, and an install into a scratch
# root (without dependencies, which this rpm database does not know).
# usage: rpm_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 source=$2
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
scratch

cpack -G RPM --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
rpm=$(ls "$work"/quillmore-*.rpm) || exit 1
# Fedora and openSUSE gzip man pages too; the publisher signs a package.
printf 'CompressExtension = "gz"\nFilters = ["no-signature"]\n' >"$work/rpmlint.toml"
rpmlint -c "$work/rpmlint.toml" "$rpm" 2>&1 | grep -E '^[^ ]+: [EW]: ' >&2
check "rpmlint: no errors" test "${PIPESTATUS[0]}" -eq 0
check "the package owns no folder but its own" test \
  "$(rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "$rpm" | sed -n 's/^d[^ ]* //p')" = \
  /usr/share/doc/quillmore

root=$work/root
{ rpm --root "$root" --initdb && rpm --root "$root" --nodeps -i "$rpm"; } 2>&1 |
  grep -v -e 'use Alien instead' -e 'know what you are doing' >&2
check "rpm -i into a scratch root" test -x "$root/usr/bin/quillmore"
(cd "$root/usr" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$work/files"
check "the files cmake --install puts in" diff -u "$source/tests/dist/installed_files" "$work/files"
(cd "$root/usr" && find . -mindepth 1 -printf '%y %m %u:%g %P\n') |
  awk '$3 != "root:root" || $2 != ($1 == "d" || $4 ~ /^bin\// ? 755 : 644)' >"$work/modes"
check "owned by root, programs and folders 0755, the rest 0644" test ! -s "$work/modes"
cat "$work/modes" >&2

for program in "$root"/usr/bin/*; do
  readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'
done | LC_ALL=C sort -u >"$work/needed"
rpm -qp --requires "$rpm" | sed -n 's/^\(lib[^(]*\.so\.[0-9]*\)()(64bit)$/\1/p' |
  LC_ALL=C sort -u >"$work/requires"
check "Requires is what the programs link" diff -u <(grep -v ld-linux "$work/needed") "$work/requires"
# What quillmore opens at run time is named in it and linked by nothing.
grep -ao 'lib[a-z-]*\.so\.[0-9]' "$root/usr/bin/quillmore" | LC_ALL=C sort -u |
  LC_ALL=C comm -23 - "$work/needed" | grep -v ld-linux | sed 's/$/()(64bit)/' >"$work/opened"
check "Recommends is what quillmore opens at run time" \
  diff -u "$work/opened" <(rpm -qp --recommends "$rpm" | LC_ALL=C sort)

query='select a, b from t where x = 1 and y = 2 or z = 3 order by a'
laid_out=$'select a,\n        b\n  from t\nwhere x = 1\n  and y = 2\n   or z = 3\norder by a'
xvfb
printf '%s' "$query" | xclip -selection clipboard -i
wait_until test "$(xclip -o -selection clipboard)" = "$query"
check "installed quillmore lays out the X11 clipboard" \
  env -u WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent \
  "$root/usr/bin/quillmore"
check "to the example's layout" test "$(xclip -o -selection clipboard)" = "$laid_out"

finish "rpm"
