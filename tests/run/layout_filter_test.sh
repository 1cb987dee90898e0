#!/usr/bin/env bash
# quillmore-layout as a process: byte-identical to an independent engine
# (perl running the same five rules) on the SQL sample and on awkward bytes,
# from files and from pipes; streaming as input arrives, in constant memory;
# its failures (closed pipe, read and write errors, no memory) and its
# command line.
# usage: layout_filter_test.sh QUILLMORE_LAYOUT SQL_DIR REFERENCE_DIR [EMULATOR]
# With an emulator (Wine, for the Windows build) the memory checks are left
# out: they would measure the emulator.
set -uo pipefail
filter_program=$1 sql=$2 reference=$3 emulator=${4:-}
filter=(${emulator:+"$emulator"} "$filter_program")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

same_as_reference() {  # same_as_reference FILE
  perl "$reference/rules.pl" <"$1" >"$work/expected" &&
    "${filter[@]}" <"$1" >"$work/from-file" &&
    cat "$1" | "${filter[@]}" >"$work/from-pipe" &&
    cmp -s "$work/expected" "$work/from-file" &&
    cmp -s "$work/expected" "$work/from-pipe"
}

# Real SQL, file by file and all of it at once.
count=0
while IFS= read -r -d '' file; do
  check "sample file $file" same_as_reference "$file"
  count=$((count + 1))
done < <(find "$sql" -name '*.sql' -print0 | sort -z)
check "sample found ($count files)" test "$count" -gt 100
find "$sql" -name '*.sql' -print0 | sort -z | xargs -0 cat >"$work/all.sql"
check "whole sample in one input" same_as_reference "$work/all.sql"

# Line breaks of every kind, NUL, bytes that are not UTF-8, dollars and
# backslashes, keywords in every case; no input; random bytes.
printf 'select a,b\r\n  FROM t\r\rWhErE\tx = $1 \\n\x00\xff\xfe or\n\n y,\xc3\x28 AND z OrDeR by 1,' \
  >"$work/awkward"
check "awkward bytes" same_as_reference "$work/awkward"
: >"$work/empty"
check "empty input" same_as_reference "$work/empty"
check "empty input gives no output" test ! -s "$work/from-file"
head -c 3000000 /dev/urandom >"$work/random"
check "random bytes" same_as_reference "$work/random"

# A line typed into a pipe is laid out before the input ends: all but the
# pending space of its line break, which the next line decides.
streams() {
  mkfifo "$work/keyboard" "$work/screen"
  "${filter[@]}" <"$work/keyboard" >"$work/screen" &
  exec 3>"$work/keyboard"
  printf 'select a, b from t where x\n' >&3
  timeout 10 head -c 39 "$work/screen" >"$work/first-line"
  exec 3>&-
  wait
  [ "$(cat "$work/first-line")" = $'select a,\r\n        b\r\n  from t\r\nwhere x' ]
}
check "streams a line as it comes" streams

# Memory stays the same whatever the input's size: 40 MB of commas (400 MB
# of output) take no more than 1 MB of them.
peak_kib() {  # peak_kib MEGABYTES: peak RSS of the filter on that many commas
  head -c "$(($1 << 20))" /dev/zero | tr '\0' ',' >"$work/commas"
  /usr/bin/time -f %M -o "$work/rss" "${filter[@]}" <"$work/commas" >/dev/null &&
    cat "$work/rss"
}
if [ -z "$emulator" ]; then
  small=$(peak_kib 1) large=$(peak_kib 40)
  check "constant memory (${small} KiB on 1 MB, ${large} KiB on 40 MB)" \
    test "$large" -le $((small + 1024))
fi

# Failures: a reader that goes away ends the filter without a word; a read
# or a write that fails gives one line and status 1.
head -c 20000000 /dev/urandom >"$work/big"
closed_pipe() {
  (trap '' PIPE && "${filter[@]}" <"$work/big" 2>"$work/err" | head -c 10 >/dev/null)
  [ "${PIPESTATUS[0]}" -ne 0 ] && [ ! -s "$work/err" ]
}
check "closed pipe ends quietly" closed_pipe
one_line_failure() {  # one_line_failure WHAT INPUT OUTPUT
  "${filter[@]}" <"$2" >"$3" 2>"$work/err"
  [ $? -eq 1 ] && [ "$(wc -l <"$work/err")" -eq 1 ] && grep -q "$1" "$work/err"
}
check "write error" one_line_failure "cannot write standard output" "$work/all.sql" /dev/full
check "read error" one_line_failure "cannot read standard input" / /dev/null
# Under a memory limit it either works, or reports the want of memory, or
# cannot even be loaded; it never aborts. Builds that cannot run under a
# limit at all (the sanitizers') skip this.
out_of_memory() {
  local limit reported=0 status
  for limit in $(seq 3000 250 12000); do
    (ulimit -v "$limit" && "${filter[@]}" <"$work/all.sql" >/dev/null 2>"$work/err")
    status=$?
    if [ "$status" -eq 1 ] && grep -qx "quillmore-layout: not enough memory" "$work/err"; then
      reported=1
    elif [ "$status" -ne 0 ] && [ "$status" -ne 127 ]; then
      echo "status $status under $limit KiB: $(cat "$work/err")" >&2
      return 1
    fi
  done
  [ "$reported" -eq 1 ]
}
if [ -z "$emulator" ] && (ulimit -v 2000000 && "${filter[@]}" </dev/null) >/dev/null 2>&1; then
  check "out of memory is reported" out_of_memory
fi

# The command line.
check "--version" test "$("${filter[@]}" --version | tr -d '\r')" = "quillmore 1.00"
check "--help" bash -c '"$@" --help | grep -q "^usage: quillmore-layout"' - "${filter[@]}"
check "--help to a full disk fails" bash -c '! "$@" --help >/dev/full 2>/dev/null' - "${filter[@]}"
check "--version to a full disk fails" bash -c '! "$@" --version >/dev/full 2>/dev/null' - "${filter[@]}"
usage_error() {  # usage_error BLAMED ARGUMENT...
  "${filter[@]}" "${@:2}" </dev/null >"$work/out" 2>"$work/err"
  [ $? -eq 2 ] && [ ! -s "$work/out" ] &&
    grep -qF "unexpected argument '$1'" "$work/err"
}
check "unknown option" usage_error --bogus --bogus
check "stray argument" usage_error file.sql file.sql
check "extra argument after --help" usage_error extra --help extra
check "extra argument after --version" usage_error x --version x

finish
