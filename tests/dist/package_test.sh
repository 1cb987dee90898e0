#!/usr/bin/env bash
# The Debian package CPack makes of a build: its name and fields, its
# dependencies against what the binaries really load, its files, lintian's
# verdict, and (as root) a clean dpkg -i and dpkg -r on this machine.
# usage: package_test.sh BUILD_DIR SOURCE_DIR
# Exits 77 (skipped) after the other checks when not root, since dpkg -i
# needs it.
set -uo pipefail
build=$1 source=$2
work=$(mktemp -d)
installed_by_test=
cleanup() {
  # A failed run of the test leaves nothing installed behind it.
  if [ -n "$installed_by_test" ]; then dpkg -P quillmore >/dev/null 2>&1; fi
  rm -rf "$work"
}
trap cleanup EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAILED: cpack" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
deb=$work/quillmore_1.0.0_${arch}.deb
check "package file quillmore_1.0.0_${arch}.deb" test -f "$deb"
[ -f "$deb" ] || exit 1

field() { dpkg-deb -f "$deb" "$1"; }
check "Package" test "$(field Package)" = quillmore
check "Version" test "$(field Version)" = 1.0.0
check "Architecture" test "$(field Architecture)" = "$arch"
check "Section" test "$(field Section)" = utils
check "Recommends the libraries opened at run time" \
  test "$(field Recommends)" = "libsystemd0, libwayland-client0 (>= 1.20)"
check "Description synopsis" \
  test "$(field Description | head -n 1)" = "lay out the SQL on the clipboard"

# The files: the same as `cmake --install` puts under /usr, owned by root,
# with the usual modes.
dpkg-deb -c "$deb" >"$work/contents"
awk '$1 !~ /^d/ {sub(/^\.\/usr\//, "", $6); print $6}' "$work/contents" |
  LC_ALL=C sort >"$work/files"
LC_ALL=C sort "$source/tests/dist/installed_files" >"$work/expected"
check "package files" diff -u "$work/expected" "$work/files"
check "everything owned by root" test -z "$(awk '$2 != "root/root"' "$work/contents")"
check "folders 0755" test -z "$(awk '/^d/ && $1 != "drwxr-xr-x"' "$work/contents")"
check "programs 0755, data 0644" test -z "$(awk '$1 !~ /^d/ &&
  !(($6 ~ /\/bin\// && $1 == "-rwxr-xr-x") || ($6 !~ /\/bin\// && $1 == "-rw-r--r--"))' \
  "$work/contents")"

# Dependencies: every shared library the packaged programs load comes from
# a package in Depends, and Depends names no package they do not load.
dpkg-deb -x "$deb" "$work/root"
: >"$work/needed-packages"
for program in "$work"/root/usr/bin/*; do
  check "$(basename "$program") is stripped" \
    bash -c '! file "$0" | grep -q "not stripped"' "$program"
  # NAME PATH of each library; the dynamic loader is listed by its path.
  ldd "$program" | awk '$2 == "=>" && $3 ~ /^\// {print $1, $3}
    $1 ~ /^\// {n = split($1, p, "/"); print p[n], $1}' >"$work/ldd"
  for lib in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    path=$(awk -v l="$lib" '$1 == l {print $2}' "$work/ldd")
    owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -n 1 | cut -d: -f1)
    [ -n "$owner" ] || owner=$(dpkg -S "$path" 2>/dev/null | head -n 1 | cut -d: -f1)
    check "$lib of $(basename "$program") is in a package" test -n "$owner"
    echo "$owner" >>"$work/needed-packages"
  done
done
LC_ALL=C sort -u "$work/needed-packages" >"$work/needed"
field Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//' | grep . | LC_ALL=C sort -u >"$work/depends"
check "Depends is what the programs load" diff -u "$work/needed" "$work/depends"

# lintian: no errors and no warnings; everything it says is shown.
lintian --fail-on error,warning --info "$deb" >"$work/lintian" 2>&1
lintian_status=$?
grep -v 'running with root privileges' "$work/lintian" >&2
check "lintian: no errors or warnings" test "$lintian_status" -eq 0

if [ "$(id -u)" -ne 0 ]; then
  echo "package: $passed passed, $failed failed; dpkg -i skipped (not root)"
  [ "$failed" -eq 0 ] && exit 77
  exit 1
fi
if dpkg-query -W -f='${Status}' quillmore 2>/dev/null | grep -q 'installed'; then
  echo "package: $passed passed, $failed failed; dpkg -i skipped" \
    "(quillmore is already installed here)"
  [ "$failed" -eq 0 ] && exit 77
  exit 1
fi

# Installing and removing it on this machine.
installed_by_test=1
check "dpkg -i" dpkg -i "$deb"
check "dpkg says installed" \
  test "$(dpkg-query -W -f='${Status}' quillmore)" = "install ok installed"
dpkg -L quillmore | while read -r path; do [ -f "$path" ] && echo "$path"; done |
  sed 's|^/usr/||' | LC_ALL=C sort >"$work/listed"
check "dpkg -L lists the package's files" diff -u "$work/expected" "$work/listed"
check "quillmore-layout on PATH runs" \
  test "$(PATH=/usr/bin quillmore-layout --version)" = "quillmore 1.00"
check "man finds quillmore(1)" test "$(man -w quillmore)" = /usr/share/man/man1/quillmore.1.gz
check "man finds quillmore-layout(1)" \
  test "$(man -w quillmore-layout)" = /usr/share/man/man1/quillmore-layout.1.gz
check "dpkg -r" dpkg -r quillmore
left=$(while read -r file; do [ -e "/usr/$file" ] && echo "/usr/$file"; done \
  <"$work/expected")
check "no file left after dpkg -r" test -z "$left"
echo "$left" >&2
check "dpkg says not installed" \
  bash -c '! dpkg-query -W -f="\${Status}" quillmore 2>/dev/null | grep -q " installed"'
installed_by_test=

finish "package"
