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
  printf '\n$ quorvant %s\n' "$*"
  "$q" "$@" || true
}

echo "QuorvantATL demo (data under $QUORVANT_HOME)"
step version
step call GetDllVersion
step call GetErrorCode
step call PresetPasswdLengthRange 12 4
step call SetDefaultPfxFileName demo
step call GetUserHomePath
step call GetPortEx
step call Hash "" 0
step call GetErrorMsg
printf '\n$ quorvant errors | head -5\n'
"$q" errors | head -5
