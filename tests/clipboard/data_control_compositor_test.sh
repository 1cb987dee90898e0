#!/usr/bin/env bash
# The tests' own compositor against the standard tools: wl-copy copies and
# wl-paste pastes through it (wlr data-control), both ways round, for each
# way of starting it that offers the wlr protocol; offering the ext protocol
# alone, wl-paste finds no data-control at all. quillmore lays out what
# wl-copy copied and wl-paste pastes it, through wlr alone and, offered both,
# through ext (which it prefers): the one selection crosses the protocols
# both ways. With ext alone, which no standard tool speaks, the hostile
# peer's ordinary owner copies, and a second run reads the first one's
# server.
# usage: data_control_compositor_test.sh COMPOSITOR QUILLMORE HOSTILE_PEER
set -uo pipefail
compositor=$1 quillmore=$2 peer=$3
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
run() {  # run: quillmore, its protocol traffic in $work/debug
  DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-bus WAYLAND_DEBUG=1 \
    timeout 10 "$quillmore" 2>"$work/debug"
}

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
  printf 'select a, b from t' | timeout 10 wl-copy
  check "$protocols: quillmore's run succeeded" run
  device=zwlr_data_control_device_v1
  [ "$protocols" = both ] && device=ext_data_control_device_v1
  check "$protocols: quillmore used $device" grep -q "$device" "$work/debug"
  check "$protocols: wl-paste pastes quillmore's text" \
    test "$(paste)" = "$(printf 'select a,\n        b\n  from t')"
  timeout 10 wl-copy --clear
  paste >/dev/null
  check "$protocols: cleared, nothing to paste" test $? -ne 0
done

start ext
paste >/dev/null
check "ext alone: wl-paste, which knows only wlr, finds nothing" test $? -ne 0
printf 'select a,b from t' >"$work/query"
"$peer" wayland-blocking "$work/query" ext >"$work/peer.out" &
peer_pid=$!
pids+=("$peer_pid")
wait_until grep -q '^ready$' "$work/peer.out"
check "ext alone: quillmore's run succeeded" run
check "ext alone: it read the text whole" grep -qx 'wrote 17 of 17' "$work/peer.out"
gone() { ! kill -0 "$peer_pid" 2>/dev/null; }
check "ext alone: it took the clipboard" wait_until gone
check "ext alone: a second run reads the first one's server" run
check "ext alone: through ext" grep -q 'ext_data_control_offer_v1.*receive' "$work/debug"
finish "data_control_compositor"
