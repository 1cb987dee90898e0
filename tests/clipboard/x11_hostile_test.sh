#!/usr/bin/env bash
# quillmore on X11 against hostile programs and a hostile X server, one case
# per function below, each on an Xvfb of its own: xclip, xsel,
# kill -STOP and Xvfb's own limits make the cases where they can; x11_peer
# (a clipboard manager) and hostile_peer (a trickling or flooding owner, a
# TARGETS flood) where no standard tool misbehaves that way.
# usage: x11_hostile_test.sh QUILLMORE X11_PEER HOSTILE_PEER [ROUNDS]
# ROUNDS (default 5) is how often the races are run.
set -uo pipefail
quillmore=$(realpath "$1") x11_peer=$(realpath "$2")
hostile_peer=$(realpath "$3") rounds=${4:-5}
. "$(dirname "${BASH_SOURCE[0]}")/../checks.sh"
scratch
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
tag="QUILLMORE_TEST_TAG=hostile-$$"  # tells this test's servers from others'

paste() { timeout 10 xclip -selection clipboard -o -t UTF8_STRING 2>/dev/null; }
pastes() { test "$(paste)" = "$1"; }  # pastes TEXT: a paste gives TEXT
copy() {  # copy TEXT: xclip owns it, in the background, as $owner
  printf '%s' "$1" >"$work/copied"
  xclip -quiet -selection clipboard -i "$work/copied" >/dev/null 2>&1 &
  owner=$!
  pids+=("$owner")
  wait_until pastes "$1"
}
run() {  # run: quillmore as a hotkey starts it; $status and $said
  said=$(env "$tag" timeout 20 "$quillmore" 2>&1 </dev/null)
  status=$?
}
no_server() {  # none of this test's quillmore servers lives (a zombie has
  # no environment)
  local p
  for p in $(pgrep -x quillmore); do
    grep -qzx "$tag" "/proc/$p/environ" 2>/dev/null && return 1
  done
  return 0
}
ended() { ! kill -0 "$1" 2>/dev/null; }
source_text='select a, b from t'
laid_out=$'select a,\n        b\n  from t'

case_relative_xauthority() {
  # The cookie file, named relative to the folder quillmore starts in, has
  # one entry for any address and display (family 0xffff, no number), since
  # the display number is Xvfb's choice.
  { printf '\377\377\0\0\0\0\0\022MIT-MAGIC-COOKIE-1\0\020'
    head -c 16 /dev/urandom; } >"$work/auth"
  xvfb -auth "$work/auth"
  cd "$work" && export XAUTHORITY=auth
  copy "$source_text"
  run
  check "relative XAUTHORITY: the run works" test "$status $said$(paste)" = "0 $laid_out"
  XAUTHORITY=missing run
  check "refused: status 1, the server's reason and XAUTHORITY" grep -q \
    '^1 .*refused the connection (Authorization required.*XAUTHORITY names "missing", which cannot be read' <<<"$status $said"
  check "refused: the clipboard is as it was" test "$(paste)" = "$laid_out"
  unset XAUTHORITY
  cd - >/dev/null
}

case_stopped_x_server() {
  xvfb
  copy "$source_text"
  kill -STOP "$xvfb_pid"
  run
  kill -CONT "$xvfb_pid"
  check "stopped X server: status 1, one line saying so" test "$status $(grep -c . \
    <<<"$said") $(grep -c 'did not answer within 2 s' <<<"$said")" = "1 1 1"
  check "stopped X server: the clipboard is as it was" test "$(paste)" = "$source_text"
}

case_no_client_slot_left() {
  # PRIMARY's owner is stopped, so each reader of it holds a client slot;
  # readers are added until the server refuses one, then one is ended: the
  # run gets the last slot.
  xvfb -maxclients 64
  copy "$source_text"
  printf x | xclip -quiet -selection primary -i >/dev/null 2>&1 &
  local primary=$! readers=() reader
  pids+=("$primary")
  sleep 0.2
  kill -STOP "$primary"
  for _ in $(seq 80); do
    timeout 60 xclip -selection primary -o >/dev/null 2>&1 &
    reader=$!
    sleep 0.05
    ended "$reader" && break
    readers+=("$reader")
  done
  kill "${readers[0]}"
  run
  check "last client slot: the run works" test "$status $said" = "0 "
  kill "${readers[@]:1}" 2>/dev/null
  kill -KILL "$primary"
  check "last client slot: the text is kept" wait_until pastes "$laid_out"
}

manager() {  # manager: x11_peer as the clipboard manager, as $manager
  rm -f "$work/saved" "$work/manager"
  "$x11_peer" manager "$work/saved" >"$work/manager" &
  manager=$!
  pids+=("$manager")
  wait_until grep -qx ready "$work/saved" "$work/manager"
}

saved_is() { test "$(cat "$work/saved")" = "$1"; }

case_managers() {
  # One that owns CLIPBOARD_MANAGER and never answers SAVE_TARGETS.
  xvfb
  manager
  kill -STOP "$manager"
  copy "$source_text"
  run
  check "silent manager: the run works, the server serves" \
    test "$status $said$(paste)" = "0 $laid_out"
  copy 'copied right after'
  check "silent manager: the server ends" wait_until no_server
  sleep 6  # longer than any hand-over ever waited
  check "silent manager: the copy is never overwritten" test "$(paste)" = 'copied right after'
  kill -KILL "$manager"
  wait "$manager" 2>/dev/null
  # One that answers: it asks the server for the text, and the server ends.
  manager
  copy "$source_text"
  run
  check "manager: the run works" test "$status $said" = "0 "
  check "manager: takes the laid-out text" wait_until saved_is "$laid_out"
  check "manager: the server ends" wait_until no_server
}

case_owner_changes_during_read() {
  xvfb
  copy "$source_text"
  kill -STOP "$owner"  # the run's request waits in its queue
  env "$tag" timeout 20 "$quillmore" >"$work/said" 2>&1 &
  local reader=$!
  sleep 0.3
  printf 'new' | xsel --clipboard --input
  wait_until pastes new
  kill -CONT "$owner"  # it answers the old request, as the owner it was
  wait "$reader"
  check "owner changed: status 1, it says so" test "$? $(cat "$work/said")" = \
    '1 quillmore: cannot read the clipboard: another program took the clipboard while it was being read (GetText, status 0x80004005)'
  check "owner changed: the new text stays" test "$(paste)" = new
}

case_double_press() {
  xvfb
  local empty=0 other=0 a b
  for _ in $(seq "$rounds"); do
    copy "$source_text"
    env "$tag" "$quillmore" 2>/dev/null &
    a=$!
    env "$tag" "$quillmore" 2>/dev/null &
    b=$!
    wait "$a" "$b"
    case "$(paste)" in
      "") empty=$((empty + 1)) ;;
      "$laid_out" | "$source_text") ;;
      *) other=$((other + 1)) ;;
    esac
  done
  echo "double press: $rounds rounds, $empty empty, $other other"
  check "double press: never the empty text" test "$empty" -eq 0 -a "$other" -eq 0
}

case_trickle_and_flood() {
  # Each owner sends the text through INCR; a run must fail with its reason
  # and leave the owner be.
  xvfb
  printf 'select a, b from t where x = 1' >"$work/small"
  head -c 1000000 /dev/zero | tr '\0' x >"$work/big"
  local mode file why
  while read -r mode file why; do
    "$hostile_peer" "$mode" "$work/$file" >"$work/peer" &
    owner=$!
    pids+=("$owner")
    wait_until grep -qx ready "$work/peer"
    run
    check "$mode: status 1, because $why" grep -q "^1 .*$why" <<<"$status $said"
    check "$mode: the clipboard is untouched" kill -0 "$owner"
  done <<'EOF'
x11-incr-trickle small sent the text too slowly
x11-incr-flood big larger than 256 MiB
EOF
}

case_targets_flood_then_copy() {
  xvfb
  local left=0
  for _ in $(seq "$rounds"); do
    copy "$source_text"
    run
    "$hostile_peer" x11-targets-flood >/dev/null 2>&1 &
    local flood=$!
    copy 'copied during a flood'
    # A flood that ended before the copy would leave this case nothing to do.
    kill "$flood" && wait_until no_server || left=$((left + 1))
  done
  echo "TARGETS flood and a copy: $rounds rounds, $left servers left"
  check "TARGETS flood and a copy: every server ends" test "$left" -eq 0
}

for c in ${CASES:-relative_xauthority stopped_x_server no_client_slot_left \
  managers owner_changes_during_read double_press \
  trickle_and_flood targets_flood_then_copy}; do
  start=$SECONDS
  "case_$c"
  echo "$c: $((SECONDS - start)) s"
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  pids=()
done
finish x11_hostile
