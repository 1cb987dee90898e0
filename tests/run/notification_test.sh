#!/usr/bin/env bash
# The failure report as a desktop notification, through a private
# dbus-daemon, to dunst on an Xvfb; dbus-monitor shows the Notify call.
# usage: notification_test.sh QUILLMORE
set -uo pipefail
quillmore=$1
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
scratch

run_quillmore() {  # run_quillmore ENV...: only that display and bus; $status
  env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
    -u XDG_RUNTIME_DIR "$@" timeout -s KILL 10 "$quillmore" >"$work/out" \
    2>"$work/err" </dev/null
  status=$?
}
notifies() { grep -c 'member=Notify$' "$work/monitor"; }

# No service files: the machine's own notification server is never started.
cat >"$work/bus.conf" <<CONF
<busconfig><type>session</type><listen>unix:path=$work/bus</listen><auth>EXTERNAL</auth>
  <policy context="default"><allow send_destination="*" eavesdrop="true"/>
  <allow eavesdrop="true"/><allow own="*"/></policy></busconfig>
CONF
bus=unix:path=$work/bus
export DBUS_SESSION_BUS_ADDRESS=$bus
dbus-daemon --config-file="$work/bus.conf" --nofork 2>"$work/bus.log" &
bus_pid=$! && pids+=($bus_pid)
xvfb
display=$DISPLAY
unset DISPLAY
wait_until test -S "$work/bus" || exit 1
dbus-monitor "interface='org.freedesktop.Notifications'" >"$work/monitor" 2>&1 &
pids+=($!)

run_quillmore XDG_RUNTIME_DIR="$work/none"
report=$(cat "$work/err")
check "no bus: exit status 1, the report on stderr, nothing on stdout" \
  test "$status $report" = "1 quillmore: cannot read the clipboard: no X \
display to use (DISPLAY is not set) (GetText, status 0x80004005)" -a ! -s "$work/out"

XDG_CONFIG_HOME=$work/none DISPLAY=$display dunst >"$work/dunst.log" 2>&1 &
dunst=$! && pids+=("$dunst")
wait_until dunstctl is-paused >/dev/null || exit 1
# The bus found through XDG_RUNTIME_DIR alone, as in a systemd user session;
# <, > and & in the report, which dunst takes for markup unless escaped.
run_quillmore XDG_RUNTIME_DIR="$work" DISPLAY='unix/<a&b>:97'
check "dunst: exit status 1, the report says why" test "$status $(cat "$work/err")" = \
  "1 quillmore: cannot read the clipboard: cannot connect to the X display \
\"unix/<a&b>:97\" (GetText, status 0x80004005)"
wait_until test "$(notifies)" -eq 1
# app_name, replaces_id, app_icon, summary, body; hints, expire_timeout.
awk '/member=Notify$/ {on = 1; next} on && /^[a-z]/ {exit} on' "$work/monitor" >"$work/call"
escaped=$(sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g' "$work/err")
check "dunst: the call's arguments" diff -u \
  <(printf '   string "%s"\n   uint32 0\n' quillmore
    printf '   string "%s"\n' quillmore quillmore "$escaped") \
  <(grep -E '^   (string|uint32)' "$work/call")
check "dunst: the server's own timeout, urgency and desktop entry" test "$(grep -cE \
  '^   int32 -1$|string "(urgency|desktop-entry)"' "$work/call")" -eq 3
dunstctl close-all
check "dunst: showed it" grep -qF 'unix/&lt;a&amp;b&gt;:97' <(dunstctl history)

# On a terminal the user reads the report there.
env -u WAYLAND_DISPLAY DISPLAY= script -qec "$quillmore" /dev/null >"$work/terminal" </dev/null
check "terminal: the report there, no notification" \
  test "$(grep -cF "$report" "$work/terminal") $(notifies)" = "1 1"

# A stopped server, and a frozen bus, whose socket takes the connection and
# never speaks: the notification gives up in time.
while read -r name stopped; do
  kill -STOP "$stopped"
  run_quillmore DBUS_SESSION_BUS_ADDRESS="$bus"
  kill -CONT "$stopped"
  check "$name: ended, status 1, the same report" \
    test "$status $(cat "$work/err")" = "1 $report"
done <<ROWS
stopped-server $dunst
frozen-bus $bus_pid
ROWS

printf 'select a, b from t' | DISPLAY=$display xclip -selection clipboard -i
wait_until test -n "$(DISPLAY=$display xclip -selection clipboard -o)"
sent=$(notifies)
run_quillmore DBUS_SESSION_BUS_ADDRESS="$bus" DISPLAY="$display"
check "success: exit status 0, nothing said, no notification" \
  test "$status" -eq 0 -a ! -s "$work/err" -a "$(notifies)" -eq "$sent"

finish notification
