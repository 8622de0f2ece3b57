#!/usr/bin/env bash
# Installs the build into a fresh prefix, then builds a C program of another
# project against it twice, found once through pkg-config and once through
# find_package(QuorvantATL), and runs both: each prints the version.
#   install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libQuorvantATL.so' | head -1)")
for f in libQuorvantATL.so libQuorvantATL.so.4; do
  [ -L "$libdir/$f" ] || { echo "FAILED: $f is not a link in $libdir"; exit 1; }
done
[ -x "$prefix/bin/quorvant" ] || { echo "FAILED: bin/quorvant not installed"; exit 1; }

export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
cc -std=c11 -o "$work/by-pkg-config" "$here/consumer/consumer.c" $(pkg-config --cflags --libs QuorvantATL)
got=$(LD_LIBRARY_PATH=$libdir "$work/by-pkg-config")
[ "$got" = "4.2.0.0" ] || { echo "FAILED: pkg-config consumer printed '$got'"; exit 1; }

cmake -S "$here/consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer-build" >/dev/null
got=$(LD_LIBRARY_PATH=$libdir "$work/consumer-build/consumer")
[ "$got" = "4.2.0.0" ] || { echo "FAILED: find_package consumer printed '$got'"; exit 1; }

got=$("$prefix/bin/quorvant" version | head -1)
[ "$got" = "4.2.0.0" ] || { echo "FAILED: installed quorvant printed '$got'"; exit 1; }
echo "3 passed, 0 failed"
