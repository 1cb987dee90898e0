#!/usr/bin/env bash
# quillmore takes no arguments: any argument is refused with one usage line
# on stderr and exit status 2, and the clipboard of a real Xvfb, set by
# xclip, is left as it was. Without arguments the same run lays it out.
# usage: arguments_test.sh QUILLMORE
set -uo pipefail
quillmore=$1
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
scratch

Xvfb -displayfd 3 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_until test -s "$work/display"
export DISPLAY=:$(head -n 1 "$work/display")
unset WAYLAND_DISPLAY
# A failure must not reach the desktop of whoever runs the tests.
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus
query='select a, b from t'
clipboard() { xclip -selection clipboard -o 2>/dev/null; }

for args in x --help -h '' 'a b'; do
  printf '%s' "$query" | xclip -selection clipboard -i
  if [ -z "$args" ]; then set -- ''; else set -- $args; fi
  "$quillmore" "$@" >"$work/out" 2>"$work/err"
  status=$?
  check "'$*': exit status 2" test "$status" -eq 2
  check "'$*': one usage line" test "$(wc -l <"$work/err")" -eq 1
  check "'$*': it says usage" grep -q '^usage: quillmore' "$work/err"
  check "'$*': nothing on stdout" test ! -s "$work/out"
  check "'$*': the clipboard unchanged" test "$(clipboard)" = "$query"
done

# The same clipboard, no argument: laid out, so the refusals above were not
# a failure to reach the clipboard at all.
"$quillmore" >"$work/out" 2>"$work/err"
check "no argument: exit status 0" test $? -eq 0
check "no argument: laid out" \
  test "$(clipboard)" = "$(printf 'select a,\n        b\n  from t')"
finish "arguments"
