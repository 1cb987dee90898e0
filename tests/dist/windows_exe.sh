# Sourced by the Windows package tests, after checks.sh.
# identity DIR ARCH VERSION: the two programs in DIR as Windows shows them:
# the machine, the GUI subsystem (no console opens), no DLL beyond the
# system's, the three-image icon, and the version record's U.S. English,
# Unicode strings.
identity() {
  local dir=$1 arch=$2 version=$3 exe machine
  machine=$([ "$arch" = x64 ] && echo 'PE32+ executable (GUI) x86-64' ||
    echo 'PE32 executable (GUI) Intel 80386')
  for exe in quillmore quillmore-layout; do
    check "$exe.exe needs only system DLLs" test -z "$(x86_64-w64-mingw32-objdump -p \
      "$dir/$exe.exe" | sed -n 's/.*DLL Name: //p' | grep -viE '^(kernel32|user32|msvcrt)\.dll$')"
  done
  check "quillmore.exe: $machine" grep -qF "$machine" <(file "$dir/quillmore.exe")
  wrestool -x -t14 "$dir/quillmore.exe" >"$work/icon.ico"
  check "icon: 32x32 in 2 and 16 colours, 16x16 in 16" test "$(icotool -l "$work/icon.ico" |
    sed 's/--index=. //')" = "$(printf -- '--icon --width=%s --height=%s --bit-depth=%s --palette-size=%s\n' \
    32 32 1 2 32 32 4 16 16 16 4 16)"
  wrestool -x --raw -t16 "$dir/quillmore.exe" | strings -el >"$work/version"
  check "version record: 040904B0, file and product version $version" test \
    "$(grep -A1 -xE '040904B0|FileVersion|ProductVersion' "$work/version" | tr '\n' ' ')" = \
    "040904B0 CompanyName -- FileVersion $version -- ProductVersion $version "
}
