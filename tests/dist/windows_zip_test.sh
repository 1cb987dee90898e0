#!/usr/bin/env bash
# The Windows zip CPack makes of the cross build: the two programs, the very
# files the other Windows tests ran, and a readme with Windows line breaks;
# quillmore-layout.exe, run from the unpacked zip under Wine, lays out.
# usage: windows_zip_test.sh BUILD_DIR EMULATOR
set -uo pipefail
build=$1 emulator=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

if ! cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAILED: cpack" >&2
  exit 1
fi
folder=quillmore-1.0.0-windows
zip=$work/$folder.zip
check "zip file $folder.zip" test -f "$zip"
[ -f "$zip" ] || exit 1

unzip -Z1 "$zip" | grep -v '/$' | LC_ALL=C sort >"$work/files"
printf '%s\n' "$folder/LICENSE.txt" "$folder/README.txt" "$folder/quillmore-layout.exe" \
  "$folder/quillmore.exe" >"$work/expected"
check "zip holds the programs, the readme and the licence" diff -u "$work/expected" "$work/files"
check "unzip -t" unzip -tqq "$zip"
unzip -q "$zip" -d "$work/unpacked"
dir=$work/unpacked/$folder
check "quillmore.exe is the built one" cmp "$build/run/quillmore.exe" "$dir/quillmore.exe"
check "quillmore-layout.exe is the built one" \
  cmp "$build/run/quillmore-layout.exe" "$dir/quillmore-layout.exe"
check "quillmore.exe is a Windows GUI program" \
  grep -q 'PE32 executable (GUI) Intel 80386' <(file "$dir/quillmore.exe")
readme=$dir/README.txt
check "readme: every line ends in CR LF" \
  test "$(grep -c $'\r$' "$readme")" -eq "$(wc -l <"$readme")"
check "readme: version" grep -q '^quillmore 1.00 for Windows' "$readme"
check "readme: shortcut key" grep -q 'Shortcut key' "$readme"
check "licence: MIT, in CR LF" grep -q $'^MIT License\r$' "$dir/LICENSE.txt"

check "quillmore-layout.exe --version under Wine" \
  test "$("$emulator" "$dir/quillmore-layout.exe" --version | tr -d '\r')" = "quillmore 1.00"
printf 'select a,b from t where x = 1' |
  "$emulator" "$dir/quillmore-layout.exe" >"$work/laid-out"
printf 'select a,\r\n       b\r\n  from t\r\nwhere x = 1' >"$work/expected-layout"
check "quillmore-layout.exe lays out under Wine" cmp "$work/expected-layout" "$work/laid-out"

finish "windows zip"
