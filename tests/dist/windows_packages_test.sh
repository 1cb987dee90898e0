#!/usr/bin/env bash
# The Windows packages of one architecture as a user meets them, under Wine:
# the zip, and the per-user installer from install (over an older version
# and the other architecture) to the shortcut's run and msiexec /x.
# usage: windows_packages_test.sh BUILD_DIR SOURCE_DIR EMULATOR TOOLS_DIR ARCH VERSION
set -uo pipefail
build=$1 source=$2 emulator=$3 tools=$4 arch=$5 version=$6
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
scratch

cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
unzip -q "$work"/quillmore-*-windows-"$arch".zip -d "$work/zip" || exit 1
zip=$(ls -d "$work"/zip/*)
files="LICENSE.txt README.txt quillmore-layout.exe quillmore.exe "
check "zip holds the programs, the readme and the licence" test "$(ls "$zip" | tr '\n' ' ')" = "$files"
for text in README.txt LICENSE.txt; do
  check "$text: every line ends in CR LF" \
    test "$(grep -c $'\r$' "$zip/$text")" -eq "$(wc -l <"$zip/$text")"
done

wine() { "$emulator" "$@" </dev/null | tr -d '\r'; }
msiexec() { "$emulator" msiexec "$1" "$(wine winepath -w "$2")" /qn </dev/null; }
folder() { wine winepath -u "$(wine cmd /c echo "%$1%")"; }
# The version of each uninstall entry named quillmore, in every hive and view.
entries() {
  local root view
  for root in HKCU HKLM; do
    for view in 64 32; do
      wine reg query "$root\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" \
        /s /reg:$view 2>/dev/null
    done
  done | awk '$1 == "DisplayName" {name = $3} $1 == "DisplayVersion" && name == "quillmore" {
    print $3; name = ""}'
}

msi=$(ls "$build"/packages/quillmore-*-windows-"$arch".msi) || exit 1
other=$([ "$arch" = x64 ] && echo x86 || echo x64)
product=${msi##*/quillmore-} product=${product%%-*}
for older in "0.0.1 $arch" "$product $other"; do
  set -- $older
  cmake -DVERSION="$1" -DARCH="$2" -DSOURCE_DIR="$build/dist/msi-files" \
    -DOUTPUT="$work/$1-$2.msi" -P "$source/dist/windows/make_msi.cmake" >/dev/null ||
    exit 1
done
# What an interrupted run may have left.
for package in "$msi" "$work"/*.msi; do msiexec /x "$package"; done

for package in "$work/0.0.1-$arch.msi" "$work/$product-$other.msi" "$msi"; do
  check "msiexec /i ${package##*/}" msiexec /i "$package"
done
check "Installed apps lists quillmore once, at $product" test "$(entries)" = "$product"
icon=$(wine reg query 'HKCU\Software\Microsoft\Installer\Products' /s |
  sed -n 's/^ *ProductIcon *REG_SZ *//p')
check "Installed apps shows the three-image icon" \
  test "$(icotool -l "$(wine winepath -u "$icon")" | wc -l)" -eq 3

dir=$(folder LOCALAPPDATA)/Programs/quillmore
check "installed: the zip's files" diff -r "$zip" "$dir"
for exe in quillmore quillmore-layout; do
  check "$exe.exe needs only system DLLs" test -z "$(x86_64-w64-mingw32-objdump -p \
    "$dir/$exe.exe" | sed -n 's/.*DLL Name: //p' | grep -viE '^(kernel32|user32|msvcrt)\.dll$')"
done
machine=$([ "$arch" = x64 ] && echo 'PE32+ executable (GUI) x86-64' ||
  echo 'PE32 executable (GUI) Intel 80386')
check "quillmore.exe: $machine" grep -qF "$machine" <(file "$dir/quillmore.exe")
wrestool -x -t14 "$dir/quillmore.exe" >"$work/icon.ico"
check "icon: 32x32 in 2 and 16 colours, 16x16 in 16" test "$(icotool -l "$work/icon.ico" |
  sed 's/--index=. //')" = "$(printf -- '--icon --width=%s --height=%s --bit-depth=%s --palette-size=%s\n' \
  32 32 1 2 32 32 4 16 16 16 4 16)"
check "version record: 040904B0, file and product version $version" test "$(wrestool -x --raw \
  -t16 "$dir/quillmore.exe" | strings -el | grep -A1 -xE '040904B0|FileVersion|ProductVersion' |
  tr '\n' ' ')" = "040904B0 CompanyName -- FileVersion $version -- ProductVersion $version "

link=$(folder APPDATA)/Microsoft/Windows/Start\ Menu/Programs/quillmore.lnk
# The link's header holds the key at offset 0x40: the virtual key ('Q',
# 0x51), then the modifiers (HOTKEYF_CONTROL | HOTKEYF_ALT, 0x06).
check "the Start-menu shortcut's key is Ctrl+Alt+Q" \
  test "$(od -An -tx1 -j64 -N2 "$link" 2>/dev/null)" = " 51 06"
# The target, from the link's LinkInfo (wine start /wait may return early).
target=$(python3 - "$link" <<'EOF'
import struct, sys
link = open(sys.argv[1], "rb").read()
at = 0x4C + (2 + struct.unpack_from("<H", link, 0x4C)[0] if link[0x14] & 1 else 0)
base = at + struct.unpack_from("<I", link, at + 16)[0]
print(link[base:link.index(b"\0", base)].decode("latin-1"))
EOF
)
check "the shortcut starts the installed quillmore.exe" \
  test "$(wine winepath -u "$target")" -ef "$dir/quillmore.exe"
printf 'select a, b from t where x = 1 and y = 2 or z = 3 order by a' >"$work/query"
wine "$tools/windows_clip.exe" copy-ansi "Z:$work/query"
check "the shortcut's program runs" "$emulator" "$target" </dev/null
check "and lays out the clipboard" test "$("$emulator" "$tools/windows_clip.exe" paste | od -c)" = \
  "$(printf 'select a,\r\n        b\r\n  from t\r\nwhere x = 1\r\n  and y = 2\r\n   or z = 3\r\norder by a' |
    iconv -t UTF-16LE | od -c)"

check "msiexec /x" msiexec /x "$msi"
check "no file, folder or shortcut is left" test ! -e "$dir" -a ! -e "$link" -a \
  -z "$(find "$WINEPREFIX/drive_c" -iname '*quillmore*')"
wine regedit /E "Z:$work/registry.reg"
check "nothing is left in the registry" \
  test "$(iconv -f UTF-16LE -t UTF-8 "$work/registry.reg" | grep -ci quillmore)" -eq 0

finish "windows packages ($arch)"
