# Sourced by the shell tests: counted checks and one closing line.

passed=0 failed=0

check() {  # check NAME COMMAND...: the command must succeed
  if "${@:2}"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $1" >&2
  fi
}

finish() {  # finish [NAME]: the closing line; fails if any check did
  echo "${1:+$1: }$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

scratch() {  # $work, a private folder, and $pids, both cleaned up at exit
  work=$(mktemp -d)
  pids=()
  trap scratch_cleanup EXIT
}
scratch_cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}

wait_until() {  # wait_until COMMAND...: until it succeeds, 20 s at most
  local end=$((SECONDS + ${wait_limit:-20}))  # or $wait_limit s
  until "$@" 2>/dev/null; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.05
  done
}

xvfb() {  # xvfb [ARGS...]: a new Xvfb in $work, DISPLAY naming it, $xvfb_pid
  rm -f "$work/display"
  Xvfb -displayfd 3 -nolisten tcp -noreset "$@" 3>"$work/display" >/dev/null 2>&1 &
  xvfb_pid=$!
  pids+=("$xvfb_pid")
  wait_until grep -q . "$work/display"
  export DISPLAY=:$(head -n 1 "$work/display")
}
