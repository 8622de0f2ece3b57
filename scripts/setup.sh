#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks and builds the component.
#   scripts/setup.sh [BUILD_DIR] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake pkg-config binutils
  libicu-dev libssl-dev openssl libsqlite3-dev sqlite3 tzdata
  libgtest-dev libgmock-dev libbenchmark-dev
  clang lld libclang-rt-14-dev
  libgtk-3-dev xvfb fonts-wqy-zenhei librsvg2-common
  python3 python3-cryptography openjdk-17-jdk-headless libnss3-tools
  nlohmann-json3-dev chromium chromium-driver python3-selenium
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=${1:-build}
shift || true
# Our own builds treat warnings as errors; a packager's plain cmake does not.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVANT_WERROR=ON "$@" >/dev/null
# QUORVANT_BUILD_TARGETS: only these targets (a build that runs a few tests).
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" ${QUORVANT_BUILD_TARGETS:+--target $QUORVANT_BUILD_TARGETS}
