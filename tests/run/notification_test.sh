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
# run_quillmore ENV...: with only the given environment's display and bus;
# the exit status in $status, stderr in $work/err.
run_quillmore() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
    -u XDG_RUNTIME_DIR "$@" "$quillmore" >"$work/out" 2>"$work/err" </dev/null
  status=$?
}
notifies() { grep -c 'member=Notify$' "$work/monitor"; }

# A bus with no service files, so no real notification server on this
# machine is started by a call that is meant to fail.
mkdir -p "$work/none"
cat >"$work/bus.conf" <<CONF
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
bus=unix:path=$work/bus
dbus-daemon --config-file="$work/bus.conf" --nofork 2>"$work/bus.log" &
pids+=($!)
Xvfb -displayfd 4 -nolisten tcp 4>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for test -S "$work/bus" && wait_for test -s "$work/display" || exit 1
display=:$(head -n 1 "$work/display")
dbus-monitor --address "$bus" "interface='org.freedesktop.Notifications'" \
  >"$work/monitor" 2>&1 &
pids+=($!)

run_quillmore XDG_RUNTIME_DIR="$work/none"
report=$(cat "$work/err")
check "no bus: exit status 1" test "$status" -eq 1
check "no bus: one line on stderr, nothing on stdout" \
  test "$(wc -l <"$work/err")" -eq 1 -a ! -s "$work/out"
run_quillmore DBUS_SESSION_BUS_ADDRESS="$bus"
check "no server: the same report, and an end" test "$(cat "$work/err")" = "$report"

XDG_CONFIG_HOME=$work/none DISPLAY=$display DBUS_SESSION_BUS_ADDRESS=$bus \
  dunst >"$work/dunst.log" 2>&1 &
dunst=$!
pids+=("$dunst")
export DBUS_SESSION_BUS_ADDRESS=$bus
wait_for dunstctl is-paused >/dev/null 2>&1 || exit 1
# The bus found through XDG_RUNTIME_DIR alone, as in a systemd user
# session; a display name with <, > and & in the report, which dunst would
# read as markup unless escaped.
seen=$(notifies)
run_quillmore XDG_RUNTIME_DIR="$work" DISPLAY='unix/<a&b>:97'
check "dunst: exit status 1" test "$status" -eq 1
check "dunst: the report names the display" grep -qF 'unix/<a&b>:97' "$work/err"
wait_for test "$(notifies)" -eq $((seen + 1))
# What dbus-monitor saw of the call: app_name, replaces_id, app_icon,
# summary and body, then the hints and expire_timeout.
awk -v n=$((seen + 1)) '/member=Notify$/ {on = ++calls == n; next} on && /^(method|signal|error)/ {exit}
     on {print}' "$work/monitor" >"$work/call"
escaped=$(sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g' "$work/err")
printf '   string "%s"\n' quillmore >"$work/expected"
printf '   uint32 0\n' >>"$work/expected"
printf '   string "%s"\n' quillmore quillmore "$escaped" >>"$work/expected"
check "dunst: the call's arguments" \
  diff -u "$work/expected" <(grep -E '^   (string|uint32)' "$work/call")
check "dunst: the server's own timeout" grep -qx '   int32 -1' "$work/call"
check "dunst: urgency normal" grep -qA1 'string "urgency"' "$work/call"
check "dunst: desktop entry" grep -qA1 'string "desktop-entry"' "$work/call"
dunstctl close-all
check "dunst: showed the report" grep -qF 'unix/&lt;a&amp;b&gt;:97' <(dunstctl history)

# stderr on a terminal: the user reads it there, and no notification.
env -u WAYLAND_DISPLAY DISPLAY= script -qec "$quillmore" /dev/null >"$work/terminal" </dev/null
check "terminal: the report there" grep -qF "$report" "$work/terminal"
check "terminal: no notification" test "$(notifies)" -eq $((seen + 1))

# A server that never answers: the report on stderr, and quillmore ends.
kill -STOP "$dunst"
run_quillmore DBUS_SESSION_BUS_ADDRESS="$bus"
kill -CONT "$dunst"
check "stopped server: the same report" test "$(cat "$work/err")" = "$report"

# A successful run sends nothing.
printf 'select a, b from t' | DISPLAY=$display xclip -selection clipboard -i
wait_for test -n "$(DISPLAY=$display xclip -selection clipboard -o 2>/dev/null)"
run_quillmore DBUS_SESSION_BUS_ADDRESS="$bus" DISPLAY="$display"
check "success: exit status 0, nothing said" test "$status" -eq 0 -a ! -s "$work/err"
check "success: no notification" test "$(notifies)" -eq $((seen + 2))
check "success: laid out" test "$(DISPLAY=$display xclip -selection clipboard -o)" \
  = "$(printf 'select a,\n        b\n  from t')"

finish notification
