#!/usr/bin/env bash
# The library's dynamic symbol table holds the interface and nothing else.
set -euo pipefail
lib=$1
expected=$2
actual=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ {print $3}' | LC_ALL=C sort)
if ! diff -u "$expected" <(printf '%s\n' "$actual"); then
  echo "exported symbols differ from the interface (- expected, + actual)"
  exit 1
fi
soname=$(objdump -p "$lib" | awk '$1 == "SONAME" {print $2}')
if [ "$soname" != "libQuorvantATL.so.4" ]; then
  echo "SONAME is '$soname', expected libQuorvantATL.so.4"
  exit 1
fi
echo "1 passed, 0 failed"
