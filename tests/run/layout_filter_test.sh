#!/usr/bin/env bash
# quillmore-layout as a process: byte for byte what perl makes of the same
# five rules, streaming in constant memory, and its failures.
# usage: layout_filter_test.sh QUILLMORE_LAYOUT SQL_DIR REFERENCE_DIR [EMULATOR]
set -uo pipefail
filter_program=$1 sql=$2 reference=$3 emulator=${4:-}
filter=(${emulator:+"$emulator"} "$filter_program")
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
scratch

same_as_reference() {  # same_as_reference FILE: from a file and from a pipe
  perl "$reference/rules.pl" <"$1" >"$work/expected" &&
    "${filter[@]}" <"$1" >"$work/from-file" &&
    cat "$1" | "${filter[@]}" >"$work/from-pipe" &&
    cmp -s "$work/expected" "$work/from-file" &&
    cmp -s "$work/expected" "$work/from-pipe"
}

# The whole sample as one input (the layout tests take it file by file).
count=$(find "$sql" -name '*.sql' | wc -l)
check "sample found ($count files)" test "$count" -gt 100
find "$sql" -name '*.sql' -print0 | sort -z | xargs -0 cat >"$work/all.sql"
check "whole sample" same_as_reference "$work/all.sql"
printf 'select a,b\r\n  FROM t\r\rWhErE\tx = $1 \\n\x00\xff\xfe or\n\n y,\xc3\x28 AND z OrDeR by 1,' \
  >"$work/awkward"
check "awkward bytes" same_as_reference "$work/awkward"
: >"$work/empty"
check "empty input, no output" same_as_reference "$work/empty"
head -c 2000000 /dev/urandom >"$work/random"
check "random bytes" same_as_reference "$work/random"
# A file read by mapping starts where standard input stands (here not on a
# page's start) and is left at its end, as reading it would leave it.
from_where_it_stands() {
  tail -c +1001 "$work/all.sql" | perl "$reference/rules.pl" >"$work/expected" &&
    { dd of=/dev/null bs=1000 count=1 status=none &&
      "${filter[@]}" >"$work/from-file" && cat >"$work/rest"; } <"$work/all.sql" &&
    cmp -s "$work/expected" "$work/from-file" && [ ! -s "$work/rest" ]
}
if [ -z "$emulator" ]; then  # the mapping is the POSIX build's
  check "a file from where standard input stands, left at its end" from_where_it_stands
fi

# A line typed into a pipe comes out before the input ends, all but the
# pending space.
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

peak_kib() {  # peak_kib MEGABYTES: peak RSS of the filter on that many commas
  head -c "$(($1 << 20))" /dev/zero | tr '\0' ',' >"$work/commas"
  /usr/bin/time -f %M -o "$work/rss" "${filter[@]}" <"$work/commas" >/dev/null &&
    cat "$work/rss"
}
if [ -z "$emulator" ]; then  # under Wine it would measure Wine
  small=$(peak_kib 1) large=$(peak_kib 16)
  check "constant memory (${small} KiB on 1 MB, ${large} KiB on 16 MB)" \
    test "$large" -le $((small + 1024))
fi

closed_pipe() {
  (trap '' PIPE && "${filter[@]}" <"$work/random" 2>"$work/err" | head -c 10 >/dev/null)
  [ "${PIPESTATUS[0]}" -ne 0 ] && [ ! -s "$work/err" ]
}
check "closed pipe ends quietly" closed_pipe
# A file cut short while the filter maps it: a failed read, not a crash.
# The filter waits on a full pipe when the file shrinks, then goes on.
cut_short() {
  for _ in $(seq 40); do cat "$work/all.sql"; done >"$work/shrinks"
  mkfifo "$work/slow"
  "${filter[@]}" <"$work/shrinks" >"$work/slow" 2>"$work/err" &
  local pid=$!
  exec 4<"$work/slow"
  wait_until grep -q pipe_write "/proc/$pid/wchan" && : >"$work/shrinks"
  cat <&4 >/dev/null
  exec 4<&-
  wait "$pid"
  [ $? -eq 1 ] && [ "$(cat "$work/err")" = "quillmore-layout: cannot read standard input: the file was cut short while it was read" ]
}
[ -n "$emulator" ] || check "a file cut short while read" cut_short
one_line_failure() {  # one_line_failure WHAT INPUT OUTPUT
  "${filter[@]}" <"$2" >"$3" 2>"$work/err"
  [ $? -eq 1 ] && [ "$(wc -l <"$work/err")" -eq 1 ] && grep -q "$1" "$work/err"
}
check "write error" one_line_failure "cannot write standard output" "$work/all.sql" /dev/full
check "read error" one_line_failure "cannot read standard input" / /dev/null
# Under any memory limit it works, reports the want of memory, or cannot be
# loaded (127); it never aborts. Sanitizer builds cannot run limited.
out_of_memory() {
  local limit reported=0 status
  for limit in $(seq 2000 250 10000); do
    (ulimit -v "$limit" && "${filter[@]}" <"$work/all.sql" >/dev/null 2>"$work/err")
    status=$?
    grep -qx "quillmore-layout: not enough memory" "$work/err" && [ "$status" -eq 1 ] && reported=1 && continue
    [ "$status" -eq 0 ] || [ "$status" -eq 127 ] || { echo "status $status under $limit KiB: $(cat "$work/err")" >&2; return 1; }
  done
  [ "$reported" -eq 1 ]
}
if [ -z "$emulator" ] && (ulimit -v 2000000 && "${filter[@]}" </dev/null) >/dev/null 2>&1; then
  check "out of memory is reported" out_of_memory
fi

check "--version" test "$("${filter[@]}" --version | tr -d '\r')" = "quillmore 1.00"
check "--help" bash -c '"$@" --help | grep -q "^usage: quillmore-layout"' - "${filter[@]}"
check "--help to a full disk fails" bash -c '! "$@" --help >/dev/full 2>/dev/null' - "${filter[@]}"
# After --help, the argument in the way is the next one.
"${filter[@]}" --help extra </dev/null >"$work/out" 2>"$work/err"
check "usage error: status 2, the argument named" test $? -eq 2 -a ! -s "$work/out" \
  -a "$(grep -cF "unexpected argument 'extra'" "$work/err")" -eq 1

finish
