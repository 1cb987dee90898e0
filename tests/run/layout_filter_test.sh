#!/usr/bin/env bash
# quillmore-layout as a process: byte-identical to an independent engine
# (perl running the same five rules) on real SQL and on awkward bytes, read
# from files and from pipes, and its command line.
# usage: layout_filter_test.sh QUILLMORE_LAYOUT CORPUS_DIR REFERENCE_DIR
set -uo pipefail
filter=$1 corpus=$2 reference=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

same_as_reference() {  # same_as_reference FILE
  perl "$reference/rules.pl" <"$1" >"$work/expected" &&
    "$filter" <"$1" >"$work/from-file" &&
    cat "$1" | "$filter" >"$work/from-pipe" &&
    cmp -s "$work/expected" "$work/from-file" &&
    cmp -s "$work/expected" "$work/from-pipe"
}

# Real SQL, file by file and all of it at once.
count=0
while IFS= read -r -d '' file; do
  check "corpus file $file" same_as_reference "$file"
  count=$((count + 1))
done < <(find "$corpus" -name '*.sql' -print0 | sort -z)
check "corpus found ($count files)" test "$count" -gt 300
find "$corpus" -name '*.sql' -print0 | sort -z | xargs -0 cat >"$work/all.sql"
check "whole corpus in one input" same_as_reference "$work/all.sql"

# Line breaks of every kind, NUL, bytes that are not UTF-8, dollars and
# backslashes, keywords in every case.
printf 'select a,b\r\n  FROM t\r\rWhErE\tx = $1 \\n\x00\xff\xfe or\n\n y,\xc3\x28 AND z OrDeR by 1,' \
  >"$work/awkward"
check "awkward bytes" same_as_reference "$work/awkward"
: >"$work/empty"
check "empty input" same_as_reference "$work/empty"
check "empty input gives no output" test ! -s "$work/from-file"
head -c 3000000 /dev/urandom >"$work/random"
check "random bytes" same_as_reference "$work/random"

# The command line.
check "--version" test "$("$filter" --version)" = "quillmore 1.00"
check "--help" bash -c '"$0" --help | grep -q "^usage: quillmore-layout"' "$filter"
usage_error() {
  "$filter" "$@" </dev/null >"$work/out" 2>"$work/err"
  [ $? -eq 2 ] && [ ! -s "$work/out" ] && grep -q "unexpected argument" "$work/err"
}
check "unknown option" usage_error --bogus
check "stray argument" usage_error file.sql
check "extra argument after --help" usage_error --help extra

finish
