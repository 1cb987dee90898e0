#!/usr/bin/env bash
# `cmake --install`: the files, checked with the tools that read them.
# usage: install_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 source=$2
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
scratch

prefix=$work/root/usr
DESTDIR=$work/root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; exit 1; }
(cd "$prefix" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$work/files"
check "installed files" diff -u "$source/tests/dist/installed_files" "$work/files"
desktop=$prefix/share/applications/quillmore.desktop
check "desktop-file-validate is quiet" test -z "$(desktop-file-validate "$desktop" 2>&1)"

# The pages' example blocks go to PAGE-1, PAGE-2.
for page in quillmore quillmore-layout; do
  file=$prefix/share/man/man1/$page.1.gz
  LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
    man --warnings -E UTF-8 -l -Tutf8 -Z "$file" 2>&1 >/dev/null | tee "$work/warnings" >&2
  check "man -l $page: no warnings" test ! -s "$work/warnings"
  gzip -dc "$file" | awk -v out="$work/$page-" '/^\.EX/ {n++; on = 1; next}
    /^\.EE/ {on = 0} on {gsub(/\\-/, "-"); gsub(/\\\(aq/, "\047"); print > (out n)}'
done
printf '%s' "$(cat "$work/quillmore-1")" | "$prefix/bin/quillmore-layout" | tr -d '\r' >"$work/out"
check "quillmore(1) example is what the layout gives" \
  diff -u "$work/quillmore-2" <(cat "$work/out"; echo)
command=$(head -n 1 "$work/quillmore-layout-1" | sed 's/^\$ //')
(cd "$prefix/bin" && PATH=$prefix/bin:$PATH bash -c "$command") | tr -d '\r' | sed 's/ $//' >"$work/out"
check "quillmore-layout(1) example is what it prints" \
  diff -u <(tail -n +2 "$work/quillmore-layout-1") <(cat "$work/out"; echo)

for size in 16 32 48 64 128 256; do
  check "icon $size x $size" grep -q "PNG image data, $size x $size," \
    <(file "$prefix/share/icons/hicolor/${size}x$size/apps/quillmore.png")
done

finish "install"
