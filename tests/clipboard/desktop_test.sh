#!/usr/bin/env bash
# The desktop scenarios, each a case_ function run through a desktop's
# adapter: x11, wayland (sway), wayland-ext (the tests' own compositor) or
# windows (Wine). CMake reads the comment after a case's name for where it
# runs: all, linux, x11, wayland (both compositors), sway, ext or windows.
# usage: desktop_test.sh DESKTOP CASE QUILLMORE TOOLS_DIR [EMULATOR]
set -uo pipefail
desktop=$1 name=$2 quillmore=$3 tools=$4 emulator=${5:-}
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
scratch
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent  # no notifications
tag="QUILLMORE_TEST_TAG=$desktop-$name-$$"  # tells this test's servers apart
peer=$tools/hostile_peer
copies=0
copy_at=()

# --- The adapters: start, ask TYPE, types, copy FILE TYPE, pause, freeze SIG,
# copy_after_read OLD NEWER (NEWER copied once a reader has had OLD whole).

x11_start() { xvfb; unset WAYLAND_DISPLAY; text_type=UTF8_STRING image_type=image/png; }
x11_ask() { timeout 10 xclip -o -selection clipboard -t "$1" 2>/dev/null; }
x11_types() { x11_ask TARGETS; }
x11_copy() { owned_by "$2" xclip -quiet -selection clipboard -t "$2" -i "$1"; }
# The peer outlives the X error that answering a run that gave up draws;
# xclip would end on it.
x11_pause() { peer_owns x11-types UTF8_STRING "$copied" && kill -STOP "$owner"; }
x11_freeze() { kill -"$1" "$xvfb_pid"; }
x11_copy_after_read() { peer_owns x11-copy-while-read retake "$@"; }

wayland_start() {
  unset DISPLAY
  text_type='text/plain;charset=utf-8' image_type=image/png
  chmod 711 "$work"
  local dir=$work/desktop as=()
  mkdir "$dir" && echo 'xwayland disable' >"$dir/config"
  if [ "$(id -u)" = 0 ]; then  # sway refuses root
    chown nobody "$dir"
    as=(setpriv --reuid=nobody --regid=nogroup --clear-groups --pdeathsig=KILL)
  fi
  export XDG_RUNTIME_DIR=$dir WAYLAND_DISPLAY=wayland-1
  if [ "$desktop" = wayland-ext ]; then
    mkfifo "$dir/control"
    "$tools/data_control_compositor" --socket=wayland-1 <>"$dir/control" >"$dir/log" &
  else
    env HOME="$dir" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
      WLR_RENDERER=pixman "${as[@]}" sway -c "$dir/config" >"$dir/log" 2>&1 &
  fi
  desktop_pid=$!
  pids+=("$desktop_pid")
  wait_until test -S "$dir/wayland-1" || { cat "$dir/log"; exit 1; }
}
wayland_ask() { timeout 10 wl-paste --no-newline --type "$1" 2>/dev/null; }
wayland_types() { timeout 10 wl-paste --list-types 2>/dev/null; }
wayland_copy() { owned_by "$2" wl-copy --foreground --type "$2"; }
wayland_pause() { kill -STOP "$owner"; }
wayland_copy_after_read() { peer_owns wayland-copy-after-read "$@"; }
wayland_freeze() { kill -"$1" "$desktop_pid"; }

windows_clip() { "$emulator" "$tools/windows_clip.exe" "$@"; }
windows_start() { text_type=CF_UNICODETEXT image_type=CF_BITMAP; windows_clip clear; }
windows_ask() { windows_clip paste; }
windows_types() { windows_clip types | tr -d '\r'; }
windows_copy() {
  if [ "$2" = "$image_type" ]; then windows_clip copy-image; else windows_clip copy "Z:$1"; fi
}
# The paused owner renders its text only when asked, as an application does.
# Wine may start the owner through start.exe, whose pid $owner then is: the
# owner itself is the windows_clip.exe process that start.exe is not.
windows_pause() {
  windows_promise "$copied" || return 1
  local p
  for p in $(pgrep -f 'windows_clip\.exe.promise'); do
    [[ $(tr '\0' ' ' <"/proc/$p/cmdline") == start.exe* ]] || owner=$p
  done
  kill -STOP "$owner"
}
windows_promise() { owns "$emulator" "$tools/windows_clip.exe" promise "Z:$1" ${2:-}; }
# The time between the run's read and its write lies inside the run, where
# no owner hears of it: windows_clip, as the run's debugger, copies NEWER
# just before the run opens the clipboard again after its read.
windows_copy_after_read() { windows_clip copy "Z:$1" && copy_at=(--copy-at 2 "Z:$2"); }

adapter() { "${desktop%-ext}_$1" "${@:2}"; }
paste() { adapter ask "$text_type"; }
types() { adapter types; }
copy() {  # copy FILE [TYPE]: the bytes of FILE, under the text type by default
  copied=$1
  adapter copy "$1" "${2:-$text_type}"
}
copy_text() { printf '%s' "$1" >"$work/copied-$((++copies))" && copy "$work/copied-$copies"; }
# owned_by TYPE COMMAND...: COMMAND, reading $copied, owns the clipboard
# as $owner; it returns once TYPE gives $copied's bytes.
owned_by() {
  local type=$1
  "${@:2}" <"$copied" >"$work/owner.out" 2>&1 &
  owner=$! && pids+=("$owner")
  wait_until eval 'cmp -s <(adapter ask "$type") "$copied"' ||
    { echo "$2 never took the clipboard: $(cat "$work/owner.out")"; return 1; }
}
owns() {  # owns COMMAND...: COMMAND owns the clipboard as $owner once it says ready
  rm -f "$work/peer"  # a ready of the last owner must not count
  "$@" >"$work/peer" &
  owner=$! && pids+=("$owner")
  wait_until grep -q '^ready' "$work/peer"
}
peer_owns() { owns "$peer" "$@"; }
run() {  # run [ARGS]: quillmore as a hotkey starts it; $status and $said
  if [ "$desktop" = windows ]; then
    said=$(windows_clip run "${copy_at[@]}" "$@" </dev/null | tr -d '\r')
  else
    said=$(env "$tag" timeout 20 "$quillmore" "$@" 2>&1 </dev/null)
  fi
  status=$?
}
server_pids() {  # this test's live quillmore servers
  for p in $(pgrep -x quillmore); do grep -qzx "$tag" "/proc/$p/environ" 2>/dev/null && echo "$p"; done
}
servers() { server_pids | wc -l; }
servers_are() { [ "$desktop" = windows ] || wait_until test "$(servers)" -eq "$1"; }
# pastes TEXT: a paste gives TEXT, its line breaks the desktop's own.
pastes() {
  paste >"$work/pasted" && cmp -s "$work/pasted" \
    <(printf '%s' "$1" | perl -pe "$([ "$desktop" != windows ] || echo 's/\n/\r\n/g')")
}
offers() { types | grep -qxF "$1"; }
# outcome STATUS SAID [AFTER]: the run ended with STATUS saying SAID (one
# line, a glob), a paste gives AFTER; a run that wrote leaves one server.
outcome() {
  check "status $1 (was $status: $said)" test "$status" = "$1"
  check "it said: $2" said_is "$2"
  [ $# -lt 3 ] || check "a paste gives: ${3:0:60}" pastes "$3"
  [ "$1" != 0 ] || check "its text type offered" offers "$text_type"
  check "$((1 - ($1 != 0))) servers left" servers_are $((1 - ($1 != 0)))
}
said_is() { [[ $said == $1 && $said != *$'\n'* ]]; }  # one line, a glob
large() { perl -e 'print join(" ", ($ARGV[0]) x 50000)' "$1"; }  # 3 MB

worked='select a, b from t where x = 1 and y = 2 or z = 3 order by a'
worked_out=$'select a,\n        b\n  from t\nwhere x = 1\n  and y = 2\n   or z = 3\norder by a'
source_text='select a, b from t'
laid_out=$'select a,\n        b\n  from t'
taken='quillmore: cannot read the clipboard: another program took the clipboard while it was being read (GetText, status 0x80004005)'

# --- The cases every desktop has.

lays_out() { copy_text "$1"; run; outcome 0 "" "$2"; }  # lays_out TEXT LAID_OUT

# No text, then an image only: the run leaves empty text.
case_NoText() {  # all
  check "nothing to paste before" eval '! paste >/dev/null'
  run
  outcome 0 "" ""
  printf '\x89PNG\r\n\x1a\n\0\0\0\rIHDR' >"$work/image"
  copy "$work/image" "$image_type"
  check "the image offered" offers "$image_type"
  run
  outcome 0 "" ""
  check "the image gone" eval '! offers "$image_type"'
}

# More than X11 sends in one piece, not UTF-8 (lone surrogates on Windows),
# and the first run's result read again.
case_Texts() {  # all
  lays_out "$worked" "$worked_out"
  lays_out $'SELECT *\r\nFROM orders o\r\nWHERE o.id IN (1,2)\r\n  AND o.state = \'open\'\r\nORDER BY o.id' \
    $'SELECT *\n  FROM\norders o\nWHERE o.id IN (1,\n       2)\n  AND o.state = \'open\'\nORDER BY o.id'
  lays_out $'select \'caf\u00e9 \u20ac\U0001F600\', \u8868 from t where x = \'\xed\xa0\x80\' or y = \'\xed\xb0\x80\'' \
    $'select \'caf\u00e9 \u20ac\U0001F600\',\n        \u8868\n  from t\nwhere x = \'\xed\xa0\x80\'\n   or y = \'\xed\xb0\x80\''
  lays_out "$(large "$worked ß")" "$(large "$worked_out ß")"
  copy_text 'select a,b from t'  # the second run gives the comma eight spaces
  run && run
  outcome 0 "" "$laid_out"
  copy_text "$source_text"
  run --help x
  outcome 2 'usage: quillmore (takes no arguments; lays out the SQL on the clipboard)' "$source_text"
  [ "$desktop" = windows ] || return 0
  printf 'select c, d from u' >"$work/ansi" && windows_clip copy-ansi "Z:$work/ansi"  # CF_TEXT
  run
  outcome 0 "" $'select c,\n        d\n  from u'
}

# The owner copies while the run lays out what it read: the copy stays.
case_CopyAfterRead() {  # all
  printf '%s' "$source_text" >"$work/old" && printf 'select newer' >"$work/newer"
  adapter copy_after_read "$work/old" "$work/newer"
  run
  outcome 1 'quillmore: cannot * the clipboard: the clipboard changed while the text was laid out; nothing was written (*, status 0x80070005)' 'select newer'
}

# As a clipboard manager does, the owner takes the clipboard again with the
# text it just gave: not a newer copy.
case_SameTextRetaken() {  # all
  printf '%s' "$source_text" >"$work/old"
  adapter copy_after_read "$work/old" "$work/old"
  run
  outcome 0 "" "$laid_out"
}

case_PausedOwner() {  # all
  copy_text "$source_text"
  adapter pause
  run
  kill -CONT "$owner"
  outcome 1 'quillmore: cannot read the clipboard: the owning program did not answer within 2 s (GetText, status 0x800705B4)' "$source_text"
}

# --- Linux: a server serves the text, and owners and desktops misbehave.

case_ServedUntilNextCopy() {  # linux
  lays_out "$source_text" "$laid_out"
  local pasted=0
  for _ in $(seq 99); do pastes "$laid_out" && pasted=$((pasted + 1)); done
  check "99 more pastes ($pasted)" test "$pasted" -eq 99
  copy_text 'the next copy'
  check "the server ended" servers_are 0
  check "the copy stays" pastes 'the next copy'
}

# Asked for its text, the owner first copies newer text, then answers as
# the owner it was. (X11: CopiesWhileRead.)
case_OwnerReplacedWhileAsked() {  # wayland
  printf 'select old from t' >"$work/old" && printf 'select new from t' >"$work/new"
  peer_owns wayland-copy-when-asked "$work/old" "$work/new"
  run
  outcome 1 "$taken" 'select new from t'
  check "the old answer was whole" grep -qx 'wrote 17 of 17' "$work/peer"
}

# A double key press: whichever run fails, the text is never lost.
case_DoublePress() {  # linux
  local lost=0 runs
  for round in 1 2 3 4 5; do
    copy_text "$source_text where x = $round"
    runs=()
    for _ in 1 2; do env "$tag" "$quillmore" 2>/dev/null </dev/null & runs+=($!); done
    wait "${runs[@]}"
    paste >"$work/pasted"
    grep -qx "where x = $round" "$work/pasted" || lost=$((lost + 1))
  done
  check "5 double presses, the text lost $lost times" test "$lost" -eq 0
}

# A byte every 1.5 s, each within the wait for the next: only the whole
# read's deadline ends it.
case_TricklingOwner() {  # linux
  printf 'select 1 from t' >"$work/small"
  peer_owns "${desktop%-ext}-$([ "$desktop" = x11 ] && echo incr-)trickle" "$work/small"
  run
  outcome 1 'quillmore: cannot read the clipboard: the owning program sent*'
  check "the owner kept the clipboard" kill -0 "$owner"
}

# Ctrl+C, SIGTERM or a hang-up sent to the run's process group: while it
# reads, the clipboard stays as it was; the moment of most danger is while
# the server, which alone holds the text, is still in the run's group
# (strace holds it there for 2 s). bench/copy_races counts random moments.
case_GroupSignal() {  # linux
  copy_text "$source_text"
  adapter pause
  "${own_group[@]}" "$quillmore" </dev/null >/dev/null 2>&1 &
  local run=$! sig
  wait_until grep -qx quillmore "/proc/$run/comm"
  kill -INT -- -"$run"
  wait "$run"
  status=$?
  kill -CONT "$owner"
  check "Ctrl+C while it reads ends the run ($status)" test "$status" = 130
  check "Ctrl+C while it reads: the clipboard as it was" pastes "$source_text"
  for sig in INT TERM HUP; do
    copy_text "$source_text where $sig"
    strace -f -qq --seccomp-bpf -o /dev/null -e trace=setsid \
      -e inject=setsid:delay_enter=2000000 \
      env "$tag" "${own_group[@]}" "$quillmore" </dev/null >/dev/null 2>&1 &
    pids+=($!)
    check "SIG$sig: the server held in the run's group" wait_until in_run_group
    kill -s "$sig" -- -"$group"
    check "SIG$sig to the group: the text laid out stays" \
      pastes "$laid_out"$'\n'"where $sig"
  done
}
# As a terminal's shell starts a command: in a group of its own, taking
# Ctrl+C, which a background command of a script ignores.
own_group=(perl -e '$SIG{$_} = "DEFAULT" for qw(INT QUIT); setpgrp; exec @ARGV')
in_run_group() {  # a server of this test not yet in a group of its own, as $group
  local p
  for p in $(server_pids); do
    group=$(awk '{print $5}' "/proc/$p/stat") || continue
    [ "$group" != "$p" ] && return 0
  done
  return 1
}

case_FrozenDesktop() {  # linux
  copy_text "$source_text"
  adapter freeze STOP
  run
  adapter freeze CONT
  outcome 1 'quillmore: cannot read the clipboard: *did not answer within 2 s*' "$source_text"
}

# --- X11 only.

# served_as TEXT TYPE...: each TYPE gives TEXT; STRING and TEXT, Latin-1.
served_as() {
  local type
  for type in "${@:2}"; do check "$type" test "$(adapter ask "$type")" = "$1"; done
  for type in STRING TEXT; do
    check "$type in Latin-1" test "$(adapter ask $type)" = $'select \'caf\xe9\'\n  from t'
  done
}

case_TextTargetsAndLatin1() {  # x11
  printf 'select \x27caf\xe9\x27 from t' >"$work/latin1"
  copy "$work/latin1" STRING  # Latin-1 by definition
  run
  outcome 0 "" $'select \'caf\u00e9\'\n  from t'
  check "its targets" test "$(types | tr '\n' ' ')" = \
    'TARGETS TIMESTAMP MULTIPLE SAVE_TARGETS UTF8_STRING text/plain;charset=utf-8 STRING TEXT '
  served_as "$(paste)" 'text/plain;charset=utf-8'
  check "xsel pastes it" test "$(timeout 10 xsel --clipboard --output)" = "$(paste)"
  # Owners without UTF8_STRING, each target with bytes of its own: the
  # UTF-8 one, else STRING before TEXT.
  printf 'select utf8 from t' >"$work/utf8"
  printf 'select string from t' >"$work/string"
  printf 'select text from t' >"$work/text"
  peer_owns x11-types STRING "$work/string" TEXT "$work/text" \
    'text/plain;charset=utf-8' "$work/utf8"
  run
  outcome 0 "" $'select utf8\n  from t'
  peer_owns x11-types TEXT "$work/text" STRING "$work/string"
  run
  outcome 0 "" $'select string\n  from t'
}

case_RelativeXauthority() {  # x11
  # A cookie for any address and display (family 0xffff, no number).
  { printf '\377\377\0\0\0\0\0\022MIT-MAGIC-COOKIE-1\0\020'
    head -c 16 /dev/urandom; } >"$work/auth"
  xvfb -auth "$work/auth"
  cd "$work" && export XAUTHORITY=auth
  lays_out "$source_text" "$laid_out"
  XAUTHORITY=missing run
  check "refused: status 1, the server's reason and XAUTHORITY" grep -q \
    '^1 .*refused the connection (Authorization required.*XAUTHORITY names "missing", which cannot be read' <<<"$status $said"
  check "refused: the clipboard as it was" pastes "$laid_out"
}

# xprops hold connections until the server refuses one; one ends, and the
# run gets its slot, the run's server none.
case_NoClientSlotLeft() {  # x11
  xvfb -maxclients 64
  copy_text "$source_text"
  xprop -root -f QUILLMORE_TEST 8s -set QUILLMORE_TEST x
  local holders=() holder out before
  for i in $(seq 80); do
    out=$work/holder-$i
    xprop -root -spy QUILLMORE_TEST >"$out" 2>&1 &
    holder=$! && pids+=("$holder")
    wait_until eval "test -s $out || ! kill -0 $holder"
    grep -q '^QUILLMORE_TEST' "$out" || break
    holders+=("$holder")
  done
  check "the server refused a client" eval "! grep -q '^QUILLMORE_TEST' $out"
  before=$(connections)
  kill "${holders[0]}"
  check "its connection closed ($before, then $(connections))" wait_until eval 'test "$(connections)" -lt "$before"'
  run
  check "the run works ($status $said)" test "$status $said" = "0 "
  kill "${holders[@]:1}"
  check "the text is kept" wait_until pastes "$laid_out"
}
connections() { grep -c "X11-unix/X${DISPLAY#:}\$" /proc/net/unix; }  # the X server's ends, and its sockets

manager() { peer_owns x11-manager "$work/saved" && manager=$owner; }  # as $manager

case_Managers() {  # x11
  # One that owns CLIPBOARD_MANAGER and never answers SAVE_TARGETS.
  manager
  kill -STOP "$manager"
  lays_out "$source_text" "$laid_out"
  copy_text 'copied right after'
  check "silent manager: the server ends" servers_are 0
  kill -KILL "$manager"
  # One that answers: it takes the text, and the server ends.
  manager
  copy_text "$source_text"
  run
  check "manager: the run works" test "$status $said" = "0 "
  printf '%s' "$laid_out" >"$work/want"
  check "manager: takes the laid-out text" wait_until cmp -s "$work/saved" "$work/want"
  check "manager: the server ends" servers_are 0
  kill "$manager"
  # One that says yes without fetching the text (weston's): the server
  # serves on until another program copies.
  peer_owns x11-lazy-manager
  local lazy=$owner
  lays_out "$source_text" "$laid_out"
  check "lazy manager: asked" wait_until grep -qx asked "$work/peer"
  kill -USR1 "$lazy"
  check "lazy manager: answered" wait_until grep -qx acknowledged "$work/peer"
  check "lazy manager: the text stays" pastes "$laid_out"
  check "lazy manager: the server serves on" test "$(servers)" -eq 1
  copy_text 'copied after'
  check "lazy manager: a copy ends the server" servers_are 0
}

# Another window copies while the run reads: just before the old owner's
# answer arrives, and between two INCR pieces. The newer copy stays.
case_CopiesWhileRead() {  # x11
  printf 'select old from t' >"$work/old" && printf 'select new from t' >"$work/new"
  for when in replace incr; do
    peer_owns x11-copy-while-read $when "$work/old" "$work/new"
    run
    outcome 1 "$taken" 'select new from t'
  done
}

# INCR readers that stall or vanish before their first piece: the server
# drops them, and a copy then ends it at once.
case_IncrReadersThatStallOrVanish() {  # x11
  copy_text "$(large "$source_text")"
  run
  outcome 0 ""
  check "a stalled reader dropped" test "$("$peer" x11-incr-reader stall)" = dropped
  check "a reader vanished" test "$("$peer" x11-incr-reader vanish)" = vanished
  check "still served" pastes "$(large "$laid_out")"
  copy_text 'the next copy'
  # A transfer kept for the vanished reader would hold the server for the
  # 5 s it finishes transfers in; 4 s leaves a loaded machine room.
  check "a copy ends the server before that reader could hold it" eval 'wait_limit=4 servers_are 0'
}

# 256 MiB and one byte in 64 KiB chunks, announced as 256 MiB: the read
# stops at its size limit, holding no more than about that much.
case_IncrFlood() {  # x11
  head -c 1048576 /dev/zero | tr '\0' x >"$work/big"
  peer_owns x11-incr-flood "$work/big" $((256 * 1048576 + 1))
  said=$(env "$tag" /usr/bin/time -f %M -o "$work/peak" timeout 60 "$quillmore" 2>&1 </dev/null)
  status=$?
  outcome 1 'quillmore: cannot read the clipboard: *larger than 256 MiB*'
  check "the owner kept the clipboard" kill -0 "$owner"
  grep -qa __asan_init "$quillmore" && return  # whose memory is its own
  check "held at most 288 MiB ($(tail -n 1 "$work/peak") KiB)" test "$(tail -n 1 "$work/peak")" -le $((288 * 1024))
}

# A requestor keeps asking for TARGETS while another program copies: the
# server must see the copy amid the requests, and end while they go on.
case_TargetsFloodThenCopy() {  # x11
  local left=0 flood
  for _ in 1 2 3; do
    copy_text "$source_text"
    run
    peer_owns x11-targets-flood && flood=$owner
    copy_text 'copied during a flood'
    servers_are 0 || left=$((left + 1))
    kill "$flood"
  done
  check "TARGETS flood and a copy: 3 rounds, $left servers left" test "$left" -eq 0
}

# --- Wayland only.

# wl_types TYPE FILE PAIRS...: the peer offers only the PAIRS' types, each
# with its own bytes, so the text shows which was read; TYPE gives FILE.
wl_types() { copied=$2 && owned_by "$1" "$peer" wayland-types "${@:3}"; }
case_PreferredTextTypeAndLatin1() {  # wayland
  local plain=$work/plain utf8=$work/utf8 best=$work/best latin1=$work/latin1
  for f in plain utf8 best; do printf "select $f from t" >"$work/$f"; done
  printf 'select \x27caf\xe9\x27 from t' >"$latin1"
  wl_types UTF8_STRING "$utf8" text/plain "$plain" UTF8_STRING "$utf8" STRING "$latin1" \
    text/html "$plain"
  run
  outcome 0 "" $'select utf8\n  from t'
  wl_types 'text/plain;charset=utf-8' "$best" text/plain "$plain" 'text/plain;charset=utf-8' "$best"
  run
  outcome 0 "" $'select best\n  from t'
  wl_types STRING "$latin1" STRING "$latin1"
  run
  outcome 0 "" $'select \'caf\u00e9\'\n  from t'
  served_as "$(paste)" UTF8_STRING text/plain
}

# A wl-paste nobody reads stops reading the server's pipe: others are
# served, and one gone mid-text costs nothing.
case_ReadersThatStallOrVanish() {  # wayland
  lays_out "$(large "$source_text")" "$(large "$laid_out")"
  wl-paste | sleep 60 &
  local stuck=$! server
  server=$(server_pids)
  # Nothing else happens: only the stalled reader's expiry wakes the server.
  feeding() { ls -l "/proc/$server/fd" | grep -q pipe:; }
  check "a stalled reader fed" wait_until feeding
  check "a stalled reader dropped" wait_until eval '! feeding'
  wl-paste | sleep 60 &
  stuck="$stuck $!"
  check "served while one stalls" pastes "$(large "$laid_out")"
  kill $stuck
  check "served after it vanished" pastes "$(large "$laid_out")"
  check "the same server" test "$(servers)" -eq 1
}

# The peer writes with a plain loop on the end it is given: that end must
# block, or the text arrives cut short.
case_BlockingWriter() {  # wayland
  large "$source_text" >"$work/large"
  copied=$work/large
  owned_by "$text_type" "$peer" wayland-blocking "$work/large"
  run
  outcome 0 "" "$(large "$laid_out")"
}

case_CompositorVanishes() {  # wayland
  lays_out "$source_text" "$laid_out"
  kill "$desktop_pid"
  check "the server ended with its compositor" servers_are 0
}

case_WaylandWhereNamedX11Otherwise() {  # sway
  copy_text 'select a, b from w'
  local wayland=$WAYLAND_DISPLAY
  WAYLAND_DISPLAY=wayland-gone run
  outcome 1 'quillmore: cannot read the clipboard: no X display to use (DISPLAY is not set); the Wayland clipboard cannot be used either: cannot connect to the Wayland compositor "wayland-gone" (GetText, status 0x80004005)'
  xvfb
  printf 'select c, d from x' | xclip -selection clipboard -i
  WAYLAND_DISPLAY=wayland-gone run
  check "no compositor: X11" test "$status $(x11_ask UTF8_STRING)" = $'0 select c,\n        d\n  from x'
  run
  check "both: Wayland" pastes $'select a,\n        b\n  from w'
  check "both: the X11 clipboard as it was" test "$(x11_ask UTF8_STRING)" = $'select c,\n        d\n  from x'
}

# compositor COMMAND: the tests' own compositor plays COMMAND from now on.
compositor() { echo "$1" >"$XDG_RUNTIME_DIR/control" && wait_until grep -qx "$1" "$XDG_RUNTIME_DIR/log"; }
held_copy() {  # held_copy TEXT: wl-copy copies TEXT, and the compositor holds it back
  printf '%s' "$1" >"$work/held"
  wl-copy --foreground <"$work/held" >/dev/null 2>&1 &
  pids+=($!)
  wait_until grep -qx held "$XDG_RUNTIME_DIR/log"
}

# The owner's answer ends as another program copies, the end of the pipe
# and the new selection coming in one go: the read must not pass for whole.
case_CopyAsTheAnswerEnds() {  # ext
  copy_text "$source_text"
  compositor hold-until-read-ends
  held_copy 'select newer'
  run
  outcome 1 "$taken" 'select newer'
}

# The compositor refuses the run's copy; another program copies right after
# the run: not the run's failure, and that copy stays.
case_RefusedOrReplacedAtOnce() {  # ext
  copy_text "$source_text"
  compositor refuse
  run
  outcome 1 'quillmore: cannot write the clipboard: the Wayland compositor refused the text (SetText, status 0x80070005)' "$source_text"
  compositor hold-after-next
  held_copy 'select newer'
  run
  check "replaced at once: status 0, silent ($status $said)" test "$status $said" = "0 "
  check "replaced at once: the newer copy stays" pastes 'select newer'
  check "replaced at once: no server" servers_are 0
}

case_SpeaksExtWhereOffered() {  # ext
  copy_text "$source_text"
  WAYLAND_DEBUG=1 run
  check "through ext-data-control" grep -q 'ext_data_control_device_v1' <<<"$said"
  check "laid out" pastes "$laid_out"
}

# --- Windows only.

# An application holds the clipboard open with a window of its own: each
# step fails and says so in a box, and, let go, each gives the clipboard back.
case_HeldOpen() {  # windows
  copy_text "$source_text"
  run --hold
  local steps=${said#*$'\n'}
  said=${said%%$'\n'*}
  outcome 1 'quillmore: cannot read the clipboard: another program has the clipboard open (GetText, status 0x80070005)'
  check "held, each write step fails; let go, each gives it back" test "$steps" = \
    $'Clear failed: Clear 0x80070005\nSetText failed: SetText 0x80070005\nGetText gave it back\nClear gave it back\nSetText gave it back'
}

# The copy lands between the run's Clear and its write: it stays. The Clear
# gave the clipboard an owner, the run's window, as Windows wants.
case_CopyAfterClear() {  # windows
  copy_text "$source_text"
  printf 'select newer' >"$work/newer"
  run --copy-at 3 "Z:$work/newer" 2>"$work/stop"
  check "owned by the run after its Clear" grep -q '^owner: quillmore' "$work/stop"
  outcome 1 'quillmore: cannot write the clipboard: the clipboard changed while the text was laid out; nothing was written (SetText, status 0x80070005)' 'select newer'
}

# An owner that renders its text late, though within the wait for it.
case_SlowOwner() {  # windows
  printf '%s' "$source_text" >"$work/old"
  windows_promise "$work/old" 400
  run
  outcome 0 "" "$laid_out"
}

"${desktop%-ext}_start"
"case_$name"
finish "$desktop $name"
