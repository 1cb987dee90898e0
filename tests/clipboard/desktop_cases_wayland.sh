# Sourced by desktop_test.sh: the cases only Wayland has.

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
  peer_owns wayland-types "$text_type" "$work/large"
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
