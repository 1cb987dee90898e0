#!/usr/bin/env bash
# The Windows zip CPack makes of the cross build, checked with the tools
# that read its parts, and the filter from it run under Wine.
# usage: windows_zip_test.sh BUILD_DIR EMULATOR ARCH VERSION
set -uo pipefail
build=$1 emulator=$2 arch=$3 version=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
. "$(dirname "${BASH_SOURCE[0]}")/windows_exe.sh"

cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
zip=$(ls "$work"/quillmore-*-windows-"$arch".zip) || exit 1
unzip -q "$zip" -d "$work/unpacked"
dir=$(ls -d "$work"/unpacked/*)
check "zip holds the programs, the readme and the licence" test \
  "$(cd "$dir" && ls | tr '\n' ' ')" = "LICENSE.txt README.txt quillmore-layout.exe quillmore.exe "
identity "$dir" "$arch" "$version"
for text in README.txt LICENSE.txt; do
  check "$text: every line ends in CR LF" \
    test "$(grep -c $'\r$' "$dir/$text")" -eq "$(wc -l <"$dir/$text")"
done
printf 'select a,b from t where x = 1' | "$emulator" "$dir/quillmore-layout.exe" >"$work/out"
check "quillmore-layout.exe lays out under Wine" \
  cmp "$work/out" <(printf 'select a,\r\n       b\r\n  from t\r\nwhere x = 1')

finish "windows zip ($arch)"
