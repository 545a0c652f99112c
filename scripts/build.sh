#!/usr/bin/env bash
# Configures and builds into the folder given (default: build). Extra arguments go to cmake.
# Warnings are errors only when ROVANDEL_WERROR=ON (as CI sets it).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DROVANDEL_WERROR="${ROVANDEL_WERROR:-OFF}" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
