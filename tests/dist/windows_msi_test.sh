#!/usr/bin/env bash
# The per-user installer as a user meets it, under Wine: msiexec installs it
# without a question, replacing an older version and the other architecture;
# Installed apps lists it once; the files and the Start-menu shortcut with
# Ctrl+Alt+Q are in place; the shortcut starts a quillmore.exe that lays out
# the clipboard; msiexec /x leaves nothing of it behind.
# usage: windows_msi_test.sh BUILD_DIR SOURCE_DIR EMULATOR TOOLS_DIR ARCH VERSION
set -uo pipefail
build=$1 source=$2 emulator=$3 tools=$4 arch=$5 version=$6
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
. "$(dirname "${BASH_SOURCE[0]}")/windows_exe.sh"
scratch

wine() { "$emulator" "$@" </dev/null | tr -d '\r'; }
msiexec() { "$emulator" msiexec "$1" "$(wine winepath -w "$2")" /qn </dev/null; }
folder() { wine winepath -u "$(wine cmd /c echo "%$1%")"; }
# Installed apps: every uninstall entry named quillmore, per user and per
# machine, in the 64-bit and the 32-bit view, as "DisplayVersion".
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
check "installed: the programs, the readme and the licence" test \
  "$(cd "$dir" && ls | tr '\n' ' ')" = "LICENSE.txt README.txt quillmore-layout.exe quillmore.exe "
identity "$dir" "$arch" "$version"

link=$(folder APPDATA)/Microsoft/Windows/Start\ Menu/Programs/quillmore.lnk
# The link's header holds the key at offset 0x40: the virtual key ('Q',
# 0x51), then the modifiers (HOTKEYF_CONTROL | HOTKEYF_ALT, 0x06).
check "the Start-menu shortcut's key is Ctrl+Alt+Q" \
  test "$(od -An -tx1 -j64 -N2 "$link" 2>/dev/null)" = " 51 06"
# The target, from the link's LinkInfo: its local base path. (wine start
# /wait may return before a shortcut's program has ended.)
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
wine "$tools/windows_clip.exe" copy "Z:$work/query"
check "the shortcut's program runs" "$emulator" "$target" </dev/null
check "and lays out the clipboard" test "$("$emulator" "$tools/windows_clip.exe" paste | od -c)" = \
  "$(printf 'select a,\r\n        b\r\n  from t\r\nwhere x = 1\r\n  and y = 2\r\n   or z = 3\r\norder by a' | od -c)"

check "msiexec /x" msiexec /x "$msi"
check "no file, folder or shortcut is left" test ! -e "$dir" -a ! -e "$link" -a \
  -z "$(find "$WINEPREFIX/drive_c" -iname '*quillmore*')"
wine regedit /E "Z:$work/registry.reg"
check "nothing is left in the registry" \
  test "$(iconv -f UTF-16LE -t UTF-8 "$work/registry.reg" | grep -ci quillmore)" -eq 0

finish "windows installer ($arch)"
