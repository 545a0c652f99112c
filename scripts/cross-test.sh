#!/usr/bin/env bash
# Builds the core (random/, terrain/ and their tests) for aarch64 with Debian's cross
# compiler and runs its tests under qemu-user.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh cmake make g++-aarch64-linux-gnu qemu-user libtbb-dev:arm64 \
  libgtest-dev:arm64
cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DROVANDEL_APPS=OFF -DROVANDEL_WERROR="${ROVANDEL_WERROR:-OFF}" >/dev/null
cmake --build build-aarch64 -j "$(nproc)"
ctest --test-dir build-aarch64 --output-on-failure -j "$(nproc)" --timeout 600
