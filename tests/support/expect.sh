# The shell tests' one check, sourced by each:
#   expect NAME EXPECTED_OUTPUT EXPECTED_STATUS -- COMMAND...
# runs COMMAND with standard error joined to its output and counts a pass
# when both the output and the exit status are as expected; otherwise it
# prints both. The caller prints "$pass passed, $fail failed" at the end.
pass=0
fail=0
expect() {
  local name=$1 want=$2 want_status=$3
  shift 4
  local got status
  got=$("$@" 2>&1)
  status=$?
  if [ "$got" == "$want" ] && [ "$status" == "$want_status" ]; then
    pass=$((pass + 1))
  else
    fail=$((fail + 1))
    printf 'FAILED: %s\n--- want (status %s)\n%s\n--- got (status %s)\n%s\n' \
      "$name" "$want_status" "$want" "$status" "$got"
  fi
}
