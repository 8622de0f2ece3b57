#!/usr/bin/env bash
# The main job: sets up, builds, and runs the quorvant tool end to end through
# the library's flat exports, on a per-user store of its own (QUORVANT_HOME,
# under the build directory unless you set it).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
export QUORVANT_HOME=${QUORVANT_HOME:-$PWD/build/demo-home}
q=build/bin/quorvant

step() {
  local shown="" a
  for a in "$@"; do
    case "$a" in
      "" | *" "* | *\\*) shown+=" '$a'" ;;
      *) shown+=" $a" ;;
    esac
  done
  printf '\n$ quorvant%s\n' "$shown"
  "$q" "$@" || true
}

echo "QuorvantATL demo (data under $QUORVANT_HOME)"
echo "Every command calls the library's flat exports and ends with the result code."

echo; echo "== The component"
step version
step call GetOSName
step call GetMacAddress
step call GetUserHomePath
step call PresetPasswdLengthRange 12 4

echo; echo "== Digests of text (UTF-16 by default, the code page with --ansi) and of files"
step hash --md5 --ansi abc
step hash --sha256 "中文"
step hash-file --sha256 README.md
step hash ""

echo; echo "== Values in the per-user registry store"
step call RegWriteHKCUStr 'Software\QuorvantDemo\greeting' '你好'
step call RegWriteHKCUInt 'Software\QuorvantDemo\count' 0x2A
step call RegReadHKCU 'Software\QuorvantDemo\greeting'
step call RegReadHKCU 'Software\QuorvantDemo\count'
step reg query 'HKCU\Software\QuorvantDemo'
step call RegReadHKCU 'no-backslash'

echo; echo "== Result codes"
printf '\n$ quorvant errors | head -5\n'
"$q" errors | head -5
