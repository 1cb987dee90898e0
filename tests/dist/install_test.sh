#!/usr/bin/env bash
# `cmake --install` of a build: exactly the expected files, a desktop entry
# that desktop-file-validate accepts, man pages that man renders without a
# warning and whose examples are what quillmore-layout really does, and
# icons with the same pixels as the Windows icon (read back by icotool).
# usage: install_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 source=$2
here=$source/tests/dist
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

root=$work/root
prefix=$root/usr
if ! DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "FAILED: cmake --install" >&2
  exit 1
fi

# Exactly the expected files, nothing more.
(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort) >"$work/files"
LC_ALL=C sort "$here/installed_files" >"$work/expected"
check "installed files" diff -u "$work/expected" "$work/files"
check "quillmore is executable" test -x "$prefix/bin/quillmore"
check "installed quillmore-layout runs" \
  test "$("$prefix/bin/quillmore-layout" --version)" = "quillmore 1.00"
nonstandard=$(find "$root" -type d ! -perm 0755; find "$root" -type f ! -perm 0644 ! -path '*/bin/*')
check "folders 0755, data files 0644" test -z "$nonstandard"

# The desktop entry: valid, findable in launchers, pointing at what is
# installed.
desktop=$prefix/share/applications/quillmore.desktop
check "desktop-file-validate is quiet" test -z "$(desktop-file-validate "$desktop" 2>&1)"
check "desktop-file-validate passes" desktop-file-validate "$desktop"
entry() { sed -n "s/^$1=//p" "$desktop"; }
check "desktop entry runs the installed program" test -x "$prefix/bin/$(entry Exec)"
check "desktop entry icon is in the theme" \
  test -f "$prefix/share/icons/hicolor/48x48/apps/$(entry Icon).png"
check "desktop entry is shown in launchers" test -z "$(entry NoDisplay)$(entry Hidden)"
check "desktop entry has a comment" test -n "$(entry Comment)"
check "desktop entry is no terminal program" test "$(entry Terminal)" = false

# The man pages: rendered by man without warnings (as lintian checks them),
# with the sections a reader looks for.
for page in quillmore quillmore-layout; do
  file=$prefix/share/man/man1/$page.1.gz
  LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$file" >/dev/null 2>"$work/warnings"
  check "man -l $page: no warnings" test ! -s "$work/warnings"
  cat "$work/warnings" >&2
  MANWIDTH=80 man -l "$file" 2>/dev/null | col -b >"$work/$page.txt"
  for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" "SEE ALSO"; do
    check "$page(1) has $section" grep -qx "$section" "$work/$page.txt"
  done
done
for topic in X11 Wayland Windows "CR LF" GNOME "KDE Plasma" "sway and i3" \
  "desktop notification" "quillmore: cannot read the clipboard"; do
  check "quillmore(1) tells about $topic" grep -q "$topic" "$work/quillmore.txt"
done

# Each page's example is what the filter does. The roff source's first
# example block is the input, the second the laid-out text (LF for CR LF).
examples() {  # examples PAGE: the .EX blocks' lines, blocks apart by ----
  gzip -dc "$prefix/share/man/man1/$1.1.gz" |
    awk '/^\.EX/ {on = 1; next} /^\.EE/ {on = 0; print "----"; next}
         on {gsub(/\\-/, "-"); gsub(/\\\(aq/, "\047"); print}'
}
examples quillmore | awk 'BEGIN {RS = "----\n"} NR == 1' >"$work/input"
examples quillmore | awk 'BEGIN {RS = "----\n"; ORS = ""} NR == 2' >"$work/shown"
printf '%s' "$(cat "$work/input")" | "$prefix/bin/quillmore-layout" |
  tr -d '\r' >"$work/laid-out"
echo >>"$work/laid-out"
check "quillmore(1) example is what the layout gives" diff -u "$work/shown" "$work/laid-out"
examples quillmore-layout | awk 'BEGIN {RS = "----\n"; ORS = ""} NR == 1' >"$work/block"
command=$(head -n 1 "$work/block" | sed 's/^\$ //')
tail -n +2 "$work/block" >"$work/shown"
(cd "$prefix/bin" && PATH=$prefix/bin:$PATH bash -c "$command") | tr -d '\r' |
  sed 's/ $//' >"$work/laid-out"
echo >>"$work/laid-out"
check "quillmore-layout(1) example is what it prints" diff -u "$work/shown" "$work/laid-out"

# The icons: PNGs of the size their folder says, with the pixels of the
# Windows icon's 16-colour images (16x16 and 32x32, as icotool reads them
# from the .ico) and the larger sizes whole multiples of those.
python3 "$source/dist/make_icon.py" "$work/quillmore.ico"
mkdir "$work/ico"
icotool -x -o "$work/ico" "$work/quillmore.ico"
pixels() { python3 "$here/png_pixels.py" "$1"; }
pixels "$work/ico/quillmore_3_16x16x4.png" >"$work/ico16"
pixels "$work/ico/quillmore_2_32x32x4.png" >"$work/ico32"
scale() {  # scale FACTOR < PIXELS: every pixel as a FACTOR x FACTOR square
  awk -v f="$1" '{line = ""; for (i = 1; i <= NF; i++)
                    for (j = 0; j < f; j++) line = line (line == "" ? "" : " ") $i;
                  for (j = 0; j < f; j++) print line}'
}
for pair in 16:16 32:32 48:16 64:32 128:32 256:32; do
  size=${pair%:*} drawn=${pair#*:}
  png=$prefix/share/icons/hicolor/${size}x${size}/apps/quillmore.png
  check "icon ${size}: file says PNG ${size} x ${size}" \
    grep -q "PNG image data, $size x $size, 8-bit/color RGBA" <(file "$png")
  scale $((size / drawn)) <"$work/ico$drawn" >"$work/expected-pixels"
  pixels "$png" >"$work/pixels"
  check "icon ${size}: the Windows icon's pixels" cmp -s "$work/expected-pixels" "$work/pixels"
done

finish "install"
