#!/usr/bin/env bash
# The Debian package CPack makes: lintian's verdict (fields, owners, modes,
# stripping) and Depends against what the programs really load.
# usage: package_test.sh BUILD_DIR
set -uo pipefail
build=$1
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
scratch

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/quillmore_*.deb) || exit 1
lintian --fail-on error,warning --info "$deb" 2>&1 | grep -v 'running with root' >&2
check "lintian: no errors or warnings" test "${PIPESTATUS[0]}" -eq 0
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

finish "package"
