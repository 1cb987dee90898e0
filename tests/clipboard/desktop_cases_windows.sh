# Sourced by desktop_test.sh: the cases only Windows has.


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
  run --copy-at 3 "$(utf16 "$work/newer")" 2>"$work/stop"
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
