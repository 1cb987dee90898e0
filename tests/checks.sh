# Sourced by the shell tests: each check is a command that must succeed,
# counted, and the test ends with one closing line of the counts.

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
