#!/usr/bin/env bash
# The Windows zip CPack makes of the cross build, checked with the tools
# that read its parts, and the filter from it run under Wine.
# usage: windows_zip_test.sh BUILD_DIR EMULATOR
set -uo pipefail
build=$1 emulator=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
zip=$(ls "$work"/quillmore-*-windows.zip) || exit 1
unzip -q "$zip" -d "$work/unpacked"
dir=$(ls -d "$work"/unpacked/*)
check "zip holds the programs, the readme and the licence" test \
  "$(cd "$dir" && ls | tr '\n' ' ')" = "LICENSE.txt README.txt quillmore-layout.exe quillmore.exe "
for exe in quillmore quillmore-layout; do
  check "$exe.exe needs only system DLLs" test -z "$(i686-w64-mingw32-objdump -p \
    "$dir/$exe.exe" | sed -n 's/.*DLL Name: //p' | grep -viE '^(kernel32|user32|msvcrt)\.dll$')"
done
check "quillmore.exe is a 32-bit Windows GUI program" \
  grep -q 'PE32 executable (GUI) Intel 80386' <(file "$dir/quillmore.exe")
wrestool -x -t14 "$dir/quillmore.exe" >"$work/icon.ico"
check "icon: 32x32 in 2 and 16 colours, 16x16 in 16" test "$(icotool -l "$work/icon.ico" |
  sed 's/--index=. //')" = "$(printf -- '--icon --width=%s --height=%s --bit-depth=%s --palette-size=%s\n' \
  32 32 1 2 32 32 4 16 16 16 4 16)"
check "a version record" grep -q "type=version" <(wrestool -l "$dir/quillmore.exe")
for text in README.txt LICENSE.txt; do
  check "$text: every line ends in CR LF" \
    test "$(grep -c $'\r$' "$dir/$text")" -eq "$(wc -l <"$dir/$text")"
done
printf 'select a,b from t where x = 1' | "$emulator" "$dir/quillmore-layout.exe" >"$work/out"
check "quillmore-layout.exe lays out under Wine" \
  cmp "$work/out" <(printf 'select a,\r\n       b\r\n  from t\r\nwhere x = 1')

finish "windows zip"
