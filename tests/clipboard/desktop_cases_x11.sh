# Sourced by desktop_test.sh: the cases only X11 has.

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
  lays_out "$source_text" "$laid_out"
  check "lazy manager: answered" wait_until grep -qx acknowledged "$work/peer"
  check "lazy manager: the text stays" pastes "$laid_out"
  check "lazy manager: the server serves on" test "$(servers)" -eq 1
  copy_text 'copied after'
  check "lazy manager: a copy ends the server" servers_are 0
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
  lays_out "$source_text" "$laid_out"
  peer_owns x11-targets-flood && local flood=$owner
  copy_text 'copied during a flood'
  check "the server ended amid the flood" servers_are 0
  kill "$flood"
}
