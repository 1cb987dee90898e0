#!/usr/bin/env bash
# Each Wayland mode of the hostile peer does what it says, against the
# standard tools: wl-paste reads its owners whole (a trickle only slowly),
# and each owner ends when another program copies. The X11 modes need no
# such check: x11_hostile_test.sh fails unless each misbehaves as it says.
# usage: hostile_peer_test.sh HOSTILE_PEER COMPOSITOR
set -uo pipefail
peer=$1 compositor=$2
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
scratch

wait_for() { wait_until grep -q "$2" "$1"; }  # wait_for FILE PATTERN
owner() {  # owner MODE FILE [ext]: the peer in the background, until ready
  "$peer" "$@" >"$work/peer.out" 2>&1 &
  owner_pid=$!
  pids+=("$owner_pid")
  wait_for "$work/peer.out" '^ready$'
}
gone() { ! kill -0 "$1" 2>/dev/null; }
ended() { wait_until gone "$1"; }  # ended PID: it has ended within 20 s
head -c 300000 /dev/urandom | base64 -w 76 >"$work/big"
printf 'ab' >"$work/two"

# Wayland, on a compositor of our own with both protocols: wl-paste reads
# through wlr what the peer offers through either.
export XDG_RUNTIME_DIR=$work
"$compositor" --socket=wl-peer >"$work/name" &
pids+=($!)
wait_for "$work/name" wl-peer
export WAYLAND_DISPLAY=wl-peer
check "wayland-blocking: ready" owner wayland-blocking "$work/big"
timeout 20 wl-paste --no-newline >"$work/got"
check "wayland-blocking: wl-paste got it whole" cmp -s "$work/big" "$work/got"
check "wayland-blocking: it says it wrote it all" \
  grep -qx "wrote $(stat -c %s "$work/big") of $(stat -c %s "$work/big")" "$work/peer.out"
printf x | timeout 10 wl-copy
check "wayland-blocking: ends when another copies" ended "$owner_pid"

check "wayland-blocking ext: ready" owner wayland-blocking "$work/big" ext
timeout 20 wl-paste --no-newline >"$work/got"
check "wayland-blocking ext: wl-paste got it whole" cmp -s "$work/big" "$work/got"
printf x | timeout 10 wl-copy
check "wayland-blocking ext: ends when another copies" ended "$owner_pid"

check "wayland-trickle: ready" owner wayland-trickle "$work/two"
check "wayland-trickle: wl-paste got it, slowly" \
  test "$(timeout 20 wl-paste --no-newline)" = ab
check "wayland-trickle: one byte at a time, all of them" \
  wait_for "$work/peer.out" '^wrote 2 of 2$'
printf x | timeout 10 wl-copy
check "wayland-trickle: ends when another copies" ended "$owner_pid"
finish "hostile_peer"
