#!/usr/bin/env bash
# Runs the README's examples as a new user would, in a fresh directory with
# a fresh data home: the openssl lines make the files, then every quorvant
# line must succeed and end with its result line (help excepted, which
# reaches no component).
#   readme_test.sh QUORVANT README.md
set -uo pipefail
q=$1
readme=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUORVANT_HOME=$work/home QUORVANT_DIALOGS=none
cd "$work" || exit 1
pass=0
fail=0
# The lines of the code blocks in "Using it", without their comments.
examples=$(awk '/^## Using it/ {on = 1; next} /^## / {on = 0}
                on && /^```/ {block = !block; next}
                on && block' "$readme" | sed -E 's/[[:space:]]+# .*$//')
[ -n "$examples" ] || { echo "FAILED: no examples found in $readme"; exit 1; }
while IFS= read -r line; do
  case $line in
    openssl\ *)
      if ! eval "$line" >/dev/null 2>&1; then
        fail=$((fail + 1)); echo "FAILED: $line"
      fi ;;
    build/bin/quorvant\ *)
      command=${line#build/bin/quorvant }
      out=$(eval "\"$q\" $command" 2>&1)
      status=$?
      last=$(printf '%s\n' "$out" | grep -v '^system error:' | tail -n 1)
      if [ "$status" != 0 ] || { [[ $command != help* ]] && [[ $last != "result: 0 "* ]]; }; then
        fail=$((fail + 1))
        printf 'FAILED: %s (status %s)\n%s\n' "$line" "$status" "$out"
      else
        pass=$((pass + 1))
      fi ;;
    *) ;;
  esac
done <<< "$examples"
echo "$pass passed, $fail failed"
[ "$fail" == 0 ]
