#!/usr/bin/env bash
# quillmore's failure report as a desktop notification, through a private
# dbus-daemon: dunst on an Xvfb is the notification server, dbus-monitor
# shows the Notify call. quillmore fails for want of a display; on the Xvfb,
# after an xclip copy, it succeeds.
# usage: notification_test.sh QUILLMORE
set -uo pipefail
quillmore=$1
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"

wait_for() { for _ in $(seq 200); do "$@" && return 0; sleep 0.05; done; return 1; }
# run_quillmore ENV...: with only the given display and bus; the exit
# status in $status, stderr in $work/err.
run_quillmore() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
    -u XDG_RUNTIME_DIR "$@" "$quillmore" >"$work/out" 2>"$work/err" </dev/null
  status=$?
}
notifies() { grep -c 'member=Notify$' "$work/monitor"; }

# A bus with no service files: no notification server of this machine's
# is started by a call meant to fail.
cat >"$work/bus.conf" <<CONF
<busconfig>
  <type>session</type> <listen>unix:path=$work/bus</listen> <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/> <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
dbus-daemon --config-file="$work/bus.conf" --nofork 2>"$work/bus.log" &
bus_pid=$!
pids+=($bus_pid)
Xvfb -displayfd 4 -nolisten tcp 4>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for test -S "$work/bus" && wait_for test -s "$work/display" || exit 1
display=:$(head -n 1 "$work/display")
dbus-monitor "interface='org.freedesktop.Notifications'" >"$work/monitor" 2>&1 &
pids+=($!)

run_quillmore XDG_RUNTIME_DIR="$work/none"
report=$(cat "$work/err")
check "no bus: exit status 1, one line on stderr, nothing on stdout" \
  test "$status" -eq 1 -a "$(wc -l <"$work/err")" -eq 1 -a ! -s "$work/out"
check "no bus: the report says why" test "$report" = "quillmore: cannot read \
the clipboard: no X display to use (DISPLAY is not set) (GetText, status 0x80004005)"

XDG_CONFIG_HOME=$work/none DISPLAY=$display dunst >"$work/dunst.log" 2>&1 &
dunst=$!
pids+=("$dunst")
wait_for dunstctl is-paused >/dev/null 2>&1 || exit 1
# The bus found through XDG_RUNTIME_DIR alone, as in a systemd user
# session; a display name with <, > and & in the report, which dunst would
# take for markup unless escaped.
run_quillmore XDG_RUNTIME_DIR="$work" DISPLAY='unix/<a&b>:97'
check "dunst: exit status 1" test "$status" -eq 1
check "dunst: the report says why" test "$(cat "$work/err")" = "quillmore: cannot \
read the clipboard: cannot connect to the X display \"unix/<a&b>:97\" (GetText, \
status 0x80004005)"
wait_for test "$(notifies)" -eq 1
# What dbus-monitor saw of the call: app_name, replaces_id, app_icon,
# summary, body, then the hints and expire_timeout.
awk '/member=Notify$/ {on = 1; next} on && /^[a-z]/ {exit} on' "$work/monitor" >"$work/call"
escaped=$(sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g' "$work/err")
check "dunst: the call's arguments" diff -u \
  <(printf '   string "%s"\n   uint32 0\n' quillmore
    printf '   string "%s"\n' quillmore quillmore "$escaped") \
  <(grep -E '^   (string|uint32)' "$work/call")
check "dunst: the server's own timeout" grep -qx '   int32 -1' "$work/call"
check "dunst: urgency and desktop entry" test "$(grep -cE \
  'string "(urgency|desktop-entry)"' "$work/call")" -eq 2
dunstctl close-all
check "dunst: showed it" grep -qF 'unix/&lt;a&amp;b&gt;:97' <(dunstctl history)

# stderr on a terminal: the user reads it there, and no notification.
env -u WAYLAND_DISPLAY DISPLAY= script -qec "$quillmore" /dev/null >"$work/terminal" </dev/null
check "terminal: the report there" grep -qF "$report" "$work/terminal"
check "terminal: no notification" test "$(notifies)" -eq 1

# A server that never answers: the report on stderr, and quillmore ends.
kill -STOP "$dunst"
run_quillmore DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS"
kill -CONT "$dunst"
check "stopped server: the same report" test "$(cat "$work/err")" = "$report"

# A frozen bus, and a socket that accepts the connection and never speaks:
# the notification gives up by its own deadline, so the failing run ends
# soon after. A run still going when we look after 10 s fails the case.
ends_soon() {  # ends_soon ENV...: quillmore has ended within 10 s
  env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR "$@" "$quillmore" \
    >"$work/out" 2>"$work/err" </dev/null &
  local pid=$! ended=false
  for _ in $(seq 100); do
    sleep 0.1
    kill -0 "$pid" 2>/dev/null || { ended=true; break; }
  done
  $ended || kill -9 "$pid"
  wait "$pid"
  status=$?
  $ended
}
kill -STOP "$bus_pid"
check "frozen bus: ended within 10 s, status 1, the same report" \
  ends_soon DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS"
check "frozen bus: status 1, the same report" \
  test "$status" -eq 1 -a "$(cat "$work/err")" = "$report"
kill -CONT "$bus_pid"
/usr/bin/python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1])
s.listen()
open(sys.argv[1] + ".ready", "w").close()
held = [s.accept()[0] for _ in range(100)]' "$work/mute" &
pids+=($!)
wait_for test -e "$work/mute.ready"
check "mute bus: ended within 10 s" \
  ends_soon DBUS_SESSION_BUS_ADDRESS="unix:path=$work/mute"
check "mute bus: status 1, the same report" \
  test "$status" -eq 1 -a "$(cat "$work/err")" = "$report"

# A successful run sends nothing.
printf 'select a, b from t' | DISPLAY=$display xclip -selection clipboard -i
wait_for test -n "$(DISPLAY=$display xclip -selection clipboard -o 2>/dev/null)"
sent=$(notifies)
run_quillmore DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" DISPLAY="$display"
check "success: exit status 0, nothing said, no notification" \
  test "$status" -eq 0 -a ! -s "$work/err" -a "$(notifies)" -eq "$sent"
check "success: laid out" test "$(DISPLAY=$display xclip -selection clipboard -o)" \
  = "$(printf 'select a,\n        b\n  from t')"

finish notification
