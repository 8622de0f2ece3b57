#!/usr/bin/env bash
# The quorvant tool end to end: calls through the exports by name, integer
# parsing (decimal and hex), result and code lines, usage errors.
set -uo pipefail
q=$1
pass=0
fail=0
expect() {  # expect NAME EXPECTED_OUTPUT EXPECTED_STATUS -- COMMAND...
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

expect version $'4.2.0.0\nresult: 0 成功(0)' 0 -- "$q" version
expect "call GetDllVersion" $'4.2.0.0\nresult: 0 成功(0)' 0 -- "$q" call GetDllVersion
expect "GetPortEx" $'65537\nresult: 0 成功(0)' 0 -- "$q" call GetPortEx
expect "password range" $'0\nresult: 0 成功(0)' 0 -- "$q" call PresetPasswdLengthRange 0xC -4
expect "unknown export" "quorvant: no export named NoSuchExport" 64 -- "$q" call NoSuchExport
expect "wrong arity" "quorvant: Hash expects 2 argument(s): text (text, int)" 64 -- "$q" call Hash abc
expect "bad integer" "quorvant: Hash an integer argument is not a 32-bit number: text (text, int)" 64 -- "$q" call Hash abc 0x1FFFFFFFF
expect "default message" $'0\nresult: 0 成功(0)' 0 -- "$q" call SetDefaultPfxFileName ""

errors=$("$q" errors)
lines=$(printf '%s\n' "$errors" | wc -l)
if [ "$lines" == 139 ] && printf '%s\n' "$errors" | grep -qx $'5005\t錯誤的參數(%d)' &&
   printf '%s\n' "$errors" | tail -n 1 | grep -qx $'default\t錯誤碼未定義(%d) '; then
  pass=$((pass + 1))
else
  fail=$((fail + 1))
  echo "FAILED: errors table ($lines lines)"
fi

echo "$pass passed, $fail failed"
[ "$fail" == 0 ]
