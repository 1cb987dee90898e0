#!/usr/bin/env bash
# The tests' own compositor against the standard tools: wl-copy copies and
# wl-paste pastes through it (wlr data-control), both ways round, for each
# way of starting it that offers the wlr protocol; offering the ext protocol
# alone, wl-paste finds no data-control at all. Offering both, quillmore
# (which prefers ext) lays out what wl-copy copied and wl-paste pastes it:
# the one selection crosses the protocols both ways.
# usage: data_control_compositor_test.sh COMPOSITOR QUILLMORE
set -uo pipefail
compositor=$1 quillmore=$2
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
scratch
export XDG_RUNTIME_DIR=$work
unset DISPLAY

start() {  # start PROTOCOLS: a compositor on socket wl-PROTOCOLS
  rm -f "$work/name"
  "$compositor" --protocols="$1" --socket="wl-$1" >"$work/name" &
  pids+=($!)
  wait_until test -s "$work/name"
  export WAYLAND_DISPLAY=wl-$1
}
paste() { timeout 10 wl-paste --no-newline "$@" 2>"$work/paste.err"; }

for protocols in wlr both; do
  start "$protocols"
  check "$protocols: it says its socket" test "$(cat "$work/name")" = "wl-$protocols"
  # wl-copy stays as the owner, serving each paste, until replaced.
  printf 'select 1\nfrom t' | timeout 10 wl-copy
  check "$protocols: wl-copy's text pasted" test "$(paste)" = "$(printf 'select 1\nfrom t')"
  check "$protocols: pasted twice" test "$(paste)" = "$(printf 'select 1\nfrom t')"
  check "$protocols: its type offered" grep -qx 'text/plain;charset=utf-8' \
    <(timeout 10 wl-paste --list-types)
  # The other way round: a second copy replaces the first, then clears.
  head -c 3000000 /dev/urandom | base64 >"$work/big"
  timeout 10 wl-copy <"$work/big"
  paste >"$work/got"
  check "$protocols: 4 MB replace the first text" cmp -s "$work/big" "$work/got"
  printf 'primary' | timeout 10 wl-copy --primary
  check "$protocols: the primary selection apart" test "$(paste --primary)" = primary
  check "$protocols: the clipboard unchanged by it" cmp -s "$work/big" <(paste)
  if [ "$protocols" = both ]; then
    printf 'select a, b from t' | timeout 10 wl-copy
    DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus WAYLAND_DEBUG=1 \
      timeout 10 "$quillmore" 2>"$work/debug"
    check "both: quillmore's run succeeded" test $? -eq 0
    check "both: quillmore used ext" grep -q 'ext_data_control_device_v1' "$work/debug"
    check "both: wl-paste pastes quillmore's text" \
      test "$(paste)" = "$(printf 'select a,\n        b\n  from t')"
  fi
  timeout 10 wl-copy --clear
  paste >/dev/null
  check "$protocols: cleared, nothing to paste" test $? -ne 0
done

start ext
paste >/dev/null
check "ext alone: wl-paste, which knows only wlr, finds nothing" test $? -ne 0
finish "data_control_compositor"
