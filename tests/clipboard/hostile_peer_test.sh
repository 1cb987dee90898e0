#!/usr/bin/env bash
# Each mode of the hostile peer does what it says, against the standard
# tools: wl-paste and xclip read its owners whole (a trickle only slowly), a
# flood goes on past the text's size, xclip's clipboard outlives a TARGETS
# flood, and each owner ends when another program copies.
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
unset WAYLAND_DISPLAY

# X11, on an Xvfb.
Xvfb -displayfd 3 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for "$work/display" .
export DISPLAY=:$(head -n 1 "$work/display")
xpaste() { timeout 20 xclip -selection clipboard -o -t UTF8_STRING; }

check "x11-incr-trickle: ready" owner x11-incr-trickle "$work/two"
check "x11-incr-trickle: xclip got it through INCR" test "$(xpaste)" = ab
printf x | xclip -selection clipboard -i
check "x11-incr-trickle: ends when another copies" ended "$owner_pid"

check "x11-incr-flood: ready" owner x11-incr-flood "$work/big"
# xclip keeps an INCR transfer until its end, which never comes.
xpaste >/dev/null &
reader_pid=$!
pids+=("$reader_pid")
check "x11-incr-flood: goes on past ten times the text" \
  wait_for "$work/peer.out" '^flooded ten times the text$'
check "x11-incr-flood: the reader is still reading" kill -0 "$reader_pid"
kill "$reader_pid"
printf x | xclip -selection clipboard -i
check "x11-incr-flood: ends when another copies" ended "$owner_pid"

printf 'kept' | xclip -selection clipboard -i
"$peer" x11-targets-flood 20000 >"$work/flood.out" 2>&1
check "x11-targets-flood: 20000 requests sent and answered" test $? -eq 0
check "x11-targets-flood: it says so" grep -qx 'answered 20000 of 20000' "$work/flood.out"
check "x11-targets-flood: xclip still serves its text" test "$(xpaste)" = kept
finish "hostile_peer"
