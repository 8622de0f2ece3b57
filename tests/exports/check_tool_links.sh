#!/usr/bin/env bash
# The quorvant tool holds no code of the component: it links the shared
# library and the C and C++ runtimes only, and defines nothing of the
# component's namespace but its own commands and the base's header-only
# descriptor owner (a compiler may emit its inline destructor out of line).
set -euo pipefail
tool=$1
needed=$(objdump -p "$tool" | awk '$1 == "NEEDED" {print $2}' | grep -v -E '^(libQuorvantATL\.so\.4|libstdc\+\+\.so\.6|libgcc_s\.so\.1|libc\.so\.6|libm\.so\.6|lib(a|ub|t)san\.so\.[0-9]+)$' || true)
if [ -n "$needed" ]; then
  echo "FAILED: the tool links more than the library: $needed"
  exit 1
fi
own=$(nm -C --defined-only "$tool" | awk '$2 ~ /^[TtWw]$/' | grep 'quorvant::' |
  grep -v -e 'quorvant::cli::' -e 'quorvant::UniqueFd::' || true)
if [ -n "$own" ]; then
  echo "FAILED: the tool defines component code:"
  printf '%s\n' "$own" | head -20
  exit 1
fi
echo "1 passed, 0 failed"
