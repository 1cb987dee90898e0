#!/usr/bin/env bash
# The Debian package CPack makes of a build: lintian's verdict, its files,
# its dependencies against what the binaries really load, and (as root) a
# clean dpkg -i and dpkg -r on this machine.
# usage: package_test.sh BUILD_DIR SOURCE_DIR
# Exits 77 (skipped) after the other checks when dpkg -i cannot run here.
set -uo pipefail
build=$1 source=$2
work=$(mktemp -d)
installed_by_test=
# A failed run of the test leaves nothing installed behind it.
trap '[ -z "$installed_by_test" ] || dpkg -P quillmore >/dev/null 2>&1; rm -rf "$work"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/quillmore_*.deb) || exit 1
lintian --fail-on error,warning --info "$deb" 2>&1 | grep -v 'running with root' >&2
check "lintian: no errors or warnings" test "${PIPESTATUS[0]}" -eq 0
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {sub(/^\.\/usr\//, "", $6); print $6}' |
  LC_ALL=C sort >"$work/files"
check "package files" diff -u "$source/tests/dist/installed_files" "$work/files"

# Depends names exactly the packages of the libraries the programs load.
dpkg-deb -x "$deb" "$work/root"
for program in "$work"/root/usr/bin/*; do
  for lib in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    path=$(ldd "$program" | awk -v l="$lib" '$1 == l {print $3}')
    dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path"
  done
done | cut -d: -f1 | LC_ALL=C sort -u >"$work/needed"
dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep . |
  LC_ALL=C sort -u >"$work/depends"
check "Depends is what the programs load" diff -u "$work/needed" "$work/depends"

if [ "$(id -u)" -ne 0 ] || dpkg-query -W quillmore >/dev/null 2>&1; then
  echo "package: $passed passed, $failed failed; dpkg -i skipped (not root," \
    "or quillmore is installed here)"
  [ "$failed" -eq 0 ] && exit 77
  exit 1
fi
installed_by_test=1
check "dpkg -i" dpkg -i "$deb"
check "quillmore-layout on PATH runs" test -n "$(PATH=/usr/bin quillmore-layout --version)"
check "man finds quillmore(1)" test "$(man -w quillmore)" = /usr/share/man/man1/quillmore.1.gz
check "dpkg -r" dpkg -r quillmore
check "no file left after dpkg -r" test -z "$(sed 's|^|/usr/|' "$source/tests/dist/installed_files" |
  while read -r file; do [ -e "$file" ] && echo "$file"; done)"
installed_by_test=

finish "package"
