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

. "$(dirname "${BASH_SOURCE[0]}")/desktop_adapters.sh"

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

# The owner copies while the run lays out what it read: the copy stays. The
# same text taken again, as a clipboard manager does, is no newer copy.
case_CopyAfterRead() {  # all
  printf '%s' "$source_text" >"$work/old" && printf 'select newer' >"$work/newer"
  adapter copy_after_read "$work/old" "$work/newer"
  run
  outcome 1 'quillmore: cannot * the clipboard: the clipboard changed while the text was laid out; nothing was written (*, status 0x80070005)' 'select newer'
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

# Another program copies while the run reads: as the owner answers, and on
# X11 between two INCR pieces too. The newer copy stays.
case_CopiesWhileRead() {  # linux
  printf 'select old from t' >"$work/old" && printf 'select new from t' >"$work/new"
  for when in replace $([ "$desktop" != x11 ] || echo incr); do
    adapter copy_while_read "$when" "$work/old" "$work/new"
    run
    outcome 1 "$taken" 'select new from t'
  done
  [ "$desktop" = x11 ] || check "the old answer was whole" grep -qx 'wrote 17 of 17' "$work/peer"
}

# Owners of only some text types, each with bytes of its own, so that the
# text shows which was read: the desktop's preferred one. STRING and TEXT
# are Latin-1, read and served.
case_PreferredTextTypeAndLatin1() {  # linux
  cd "$work" || return
  local f
  for f in plain utf8 best string text; do printf "select $f from t" >"$f"; done
  printf 'select \x27caf\xe9\x27 from t' >latin1
  offer_only utf8 text/plain plain UTF8_STRING utf8 STRING string TEXT text text/html plain
  offer_only best text/plain plain 'text/plain;charset=utf-8' best STRING string TEXT text
  offer_only "$([ "$desktop" = x11 ] && echo string || echo text)" TEXT text STRING string
  local type want latin1=$'select \'caf\xe9\'\n  from t' utf8=$'select \'caf\u00e9\'\n  from t'
  # xclip -t answers every request with its one type.
  if [ "$desktop" = x11 ]; then copy latin1 STRING; else peer_owns "${desktop%-ext}-types" STRING latin1; fi
  run
  outcome 0 "" "$utf8"
  for type in UTF8_STRING 'text/plain;charset=utf-8' STRING TEXT $([ "$desktop" = x11 ] || echo text/plain); do
    [[ $type == STRING || $type == TEXT ]] && want=$latin1 || want=$utf8
    check "served as $type" test "$(adapter ask "$type")" = "$want"
  done
  # A character beyond Latin-1, in a text's last bytes, is not offered so.
  copy_text $'select name from t where name = \'x\' or name = \'\u20ac\''
  run
  outcome 0 "" $'select name\n  from t\nwhere name = \'x\'\n   or name = \'\u20ac\''
  check "no Latin-1 beyond it" eval '! offers STRING'
  [ "$desktop" = x11 ] || return 0
  copy latin1 STRING
  run
  check "its targets" test "$(types | tr '\n' ' ')" = \
    'TARGETS TIMESTAMP MULTIPLE SAVE_TARGETS UTF8_STRING text/plain;charset=utf-8 STRING TEXT '
  check "xsel pastes it" test "$(timeout 10 xsel --clipboard --output)" = "$utf8"
}
# offer_only WHICH TYPE FILE...: the peer offers only each TYPE, as FILE; the
# run reads WHICH's.
offer_only() {
  peer_owns "${desktop%-ext}-types" "${@:2}"
  run
  outcome 0 "" "select $1"$'\n  from t'
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

# The cases only one desktop has, each in a file of its own.
for cases in "$(dirname "${BASH_SOURCE[0]}")"/desktop_cases_*.sh; do . "$cases"; done

"${desktop%-ext}_start"
"case_$name"
finish "$desktop $name"
