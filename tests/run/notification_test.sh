#!/usr/bin/env bash
# quillmore's failure report as a desktop notification, through a private
# dbus-daemon: the notification server of the tests' own writes down each
# Notify call, and dbus-monitor watches the same calls on the bus. quillmore
# fails for want of an X display; an Xvfb with xclip gives it a success.
# Last, a real notification server (dunst, on that Xvfb) shows the report.
# usage: notification_test.sh QUILLMORE NOTIFICATION_SERVER
set -uo pipefail
quillmore=$1 server=$2
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
scratch

wait_for_file() {  # wait_for_file PATH: until it exists and is not empty
  for _ in $(seq 200); do
    [ -s "$1" ] && return 0
    sleep 0.05
  done
  echo "gave up waiting for $1" >&2
  return 1
}

# A session bus of the test's own: no service files, so no real notification
# server on this machine can be started by a call that is meant to fail.
mkdir -p "$work/run" "$work/empty"
cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/run/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --print-address=3 \
  3>"$work/address" 2>"$work/bus.log" &
bus_pid=$!
pids+=("$bus_pid")
wait_for_file "$work/address" || { cat "$work/bus.log"; exit 1; }
address=$(head -n 1 "$work/address")

start_server() {  # start_server MODE: a fresh log, the server owns the name
  rm -f "$work/log" "$work/log.ready"
  : >"$work/log"
  DBUS_SESSION_BUS_ADDRESS=$address "$server" "$work/log" "$1" &
  server_pid=$!
  pids+=("$server_pid")
  wait_for_file "$work/log.ready"
}
stop_server() {
  kill "$server_pid" && wait "$server_pid" 2>/dev/null
  return 0
}

# run_quillmore ENV...: quillmore without an X or Wayland display and the
# given environment, stderr to $work/err; its status in $status.
run_quillmore() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS \
    -u XDG_RUNTIME_DIR "$@" "$quillmore" >"$work/out" 2>"$work/err"
  status=$?
}
one_line() { [ "$(wc -l <"$1")" -eq 1 ]; }
records() { grep -c '^--$' "$work/log"; }
field() { sed -n "s/^$1=//p" "$work/log"; }

# Without any session bus: the report on stderr and nothing else.
run_quillmore XDG_RUNTIME_DIR="$work/empty"
report=$(cat "$work/err")
check "no bus: exit status 1" test "$status" -eq 1
check "no bus: one line on stderr" one_line "$work/err"
check "no bus: the report names quillmore" grep -q '^quillmore: ' "$work/err"
check "no bus: nothing on stdout" test ! -s "$work/out"
run_quillmore DBUS_SESSION_BUS_ADDRESS="unix:path=$work/empty/bus"
check "dead bus address: exit status 1" test "$status" -eq 1
check "dead bus address: the same report" test "$(cat "$work/err")" = "$report"

# A server that takes no markup, watched by dbus-monitor.
start_server plain || exit 1
dbus-monitor --address "$address" >"$work/monitor" 2>&1 &
monitor_pid=$!
pids+=("$monitor_pid")
wait_for_file "$work/monitor"
run_quillmore DBUS_SESSION_BUS_ADDRESS="$address"
check "plain: exit status 1" test "$status" -eq 1
check "plain: the same report on stderr" test "$(cat "$work/err")" = "$report"
check "plain: one Notify call" test "$(records)" -eq 1
check "plain: app_name" test "$(field app_name)" = quillmore
check "plain: summary" test "$(field summary)" = quillmore
check "plain: body is the report" test "$(field body)" = "$report"
check "plain: app_icon" test "$(field app_icon)" = quillmore
check "plain: a new notification" test "$(field replaces_id)" = 0
check "plain: no actions" test "$(field actions)" = 0
check "plain: normal urgency" grep -qx 'hint urgency=y:1' "$work/log"
check "plain: desktop entry" grep -qx 'hint desktop-entry=s:quillmore' "$work/log"
check "plain: the server's own timeout" test "$(field expire_timeout)" = -1
kill "$monitor_pid"
wait "$monitor_pid" 2>/dev/null
# What dbus-monitor saw of the call: its arguments, in order, as it prints
# them. The hints' lines are left out; the server's record has them.
awk '/member=Notify$/ {on = 1; next} on && /^(method|signal|error)/ {exit}
     on && /^   (string|uint32|int32)/ {print}' "$work/monitor" >"$work/seen"
printf '   string "%s"\n' quillmore >"$work/expected"
printf '   uint32 0\n' >>"$work/expected"
printf '   string "%s"\n' quillmore quillmore "$report" >>"$work/expected"
printf '   int32 -1\n' >>"$work/expected"
check "dbus-monitor saw the call's arguments" diff -u "$work/expected" "$work/seen"
check "dbus-monitor saw the method on its interface" \
  grep -q 'path=/org/freedesktop/Notifications; interface=org.freedesktop.Notifications; member=Notify$' \
  "$work/monitor"

# The bus found through XDG_RUNTIME_DIR alone, as in a systemd user session.
: >"$work/log"
run_quillmore XDG_RUNTIME_DIR="$work/run"
check "runtime dir bus: exit status 1" test "$status" -eq 1
check "runtime dir bus: one Notify call" test "$(records)" -eq 1
check "runtime dir bus: body is the report" test "$(field body)" = "$report"

# stderr on a terminal: the user reads it there, no notification.
: >"$work/log"
env -u DISPLAY -u WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS="$address" \
  script -qec "$quillmore" /dev/null >"$work/terminal" </dev/null
status=$?
check "terminal: exit status 1" test "$status" -eq 1
check "terminal: the report on the terminal" grep -qF "$report" "$work/terminal"
check "terminal: no Notify call" test "$(records)" -eq 0
stop_server

# A server that interprets markup gets the report's <, > and & escaped.
start_server markup || exit 1
run_quillmore DBUS_SESSION_BUS_ADDRESS="$address" DISPLAY='unix/<a&b>:97'
marked=$(cat "$work/err")
escaped=$(printf '%s' "$marked" | sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g')
check "markup: exit status 1" test "$status" -eq 1
check "markup: the report shows the display's name" grep -qF '<a&b>' "$work/err"
check "markup: body escaped" test "$(field body)" = "$escaped"
stop_server

# A bus without a notification server, and a server that never answers: the
# report is on stderr, and quillmore still ends.
run_quillmore DBUS_SESSION_BUS_ADDRESS="$address"
check "no server: exit status 1" test "$status" -eq 1
check "no server: the same report, nothing more" test "$(cat "$work/err")" = "$report"
start_server silent || exit 1
run_quillmore DBUS_SESSION_BUS_ADDRESS="$address"
check "silent server: exit status 1" test "$status" -eq 1
check "silent server: the same report, nothing more" test "$(cat "$work/err")" = "$report"
check "silent server: the call was made" test "$(records)" -eq 1
stop_server

# A frozen bus, and a bus that accepts the connection and never speaks: the
# notification gives up by its own deadline, so the failing run ends soon
# after. A run still going when we look after 10 s has failed the case.
ends_soon() {  # ends_soon ENV...: quillmore has ended within 10 s
  env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR "$@" "$quillmore" \
    >"$work/out" 2>"$work/err" &
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
check "frozen bus: the run has ended within 10 s" \
  ends_soon DBUS_SESSION_BUS_ADDRESS="$address"
check "frozen bus: exit status 1" test "$status" -eq 1
check "frozen bus: the same report" test "$(cat "$work/err")" = "$report"
kill -CONT "$bus_pid"
python3 -c '
import socket, sys, time
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1])
s.listen()
open(sys.argv[1] + ".ready", "w").close()
held = [s.accept()[0] for _ in range(100)]' "$work/mute" &
mute_pid=$!
pids+=("$mute_pid")
wait_until test -e "$work/mute.ready"
check "mute bus: the run has ended within 10 s" \
  ends_soon DBUS_SESSION_BUS_ADDRESS="unix:path=$work/mute"
check "mute bus: exit status 1" test "$status" -eq 1
check "mute bus: the same report" test "$(cat "$work/err")" = "$report"
kill "$mute_pid"

# A successful run sends nothing: an Xvfb display, its clipboard set by xclip.
start_server plain || exit 1
Xvfb -displayfd 4 -nolisten tcp 4>"$work/xdisplay" >/dev/null 2>&1 &
pids+=($!)
if wait_for_file "$work/xdisplay"; then
  display=:$(head -n 1 "$work/xdisplay")
  printf 'select a, b from t' | DISPLAY=$display xclip -selection clipboard -i
  run_quillmore DBUS_SESSION_BUS_ADDRESS="$address" DISPLAY="$display"
  check "success: exit status 0" test "$status" -eq 0
  check "success: nothing on stderr" test ! -s "$work/err"
  check "success: no Notify call" test "$(records)" -eq 0
  laid_out=$(DISPLAY=$display xclip -selection clipboard -o)
  check "success: the clipboard was laid out" \
    test "$laid_out" = "$(printf 'select a,\n        b\n  from t')"
  stop_server

  # A real notification server, dunst, on the same display and bus: it
  # takes markup, so the report's <, > and & arrive escaped, and shows it.
  XDG_CONFIG_HOME=$work/empty DISPLAY=$display DBUS_SESSION_BUS_ADDRESS=$address \
    dunst >"$work/dunst.log" 2>&1 &
  dunst_pid=$!
  pids+=("$dunst_pid")
  for _ in $(seq 100); do
    DBUS_SESSION_BUS_ADDRESS=$address dbus-send --session --print-reply \
      --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications \
      2>/dev/null | grep -q 'boolean true' && break
    sleep 0.05
  done
  run_quillmore DBUS_SESSION_BUS_ADDRESS="$address" DISPLAY='unix/<a&b>:97'
  check "dunst: exit status 1" test "$status" -eq 1
  check "dunst: the same report as before" test "$(cat "$work/err")" = "$marked"
  # Closed notifications go to dunst's history, which dunstctl reads out.
  export DBUS_SESSION_BUS_ADDRESS=$address
  dunstctl close-all
  dunstctl history >"$work/history" 2>&1
  unset DBUS_SESSION_BUS_ADDRESS
  python3 -c '
import json, sys
entries = json.load(open(sys.argv[1]))["data"][0]
for e in entries:
    print("%s|%s|%s" % (e["appname"]["data"], e["summary"]["data"],
                        e["body"]["data"]))' "$work/history" >"$work/shown" 2>&1
  check "dunst: shown once, from quillmore, with the escaped report" \
    diff -u <(printf '%s\n' "quillmore|quillmore|$escaped") "$work/shown"
  kill "$dunst_pid"
else
  check "Xvfb started" false
  stop_server
fi

finish "notification"
