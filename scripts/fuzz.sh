#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time (default 45 s)
# from a copy of its seed corpus in tests/fuzz/corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-45}
scripts/ensure-packages.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DROVANDEL_FUZZ=ON -DROVANDEL_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz_conversions fuzz_settings fuzz_heightmap fuzz_noise_gen
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for target in conversions settings heightmap noise_gen; do
  mkdir -p "$work/$target"
  cp tests/fuzz/corpus/$target/* "$work/$target/"
  echo "fuzz_$target: ${seconds} s"
  build-fuzz/tests/fuzz/fuzz_$target "$work/$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 2>&1 | grep -E "stat::number_of_executed_units|ERROR|SUMMARY|crash|Done" || true
  # libFuzzer's exit status is lost in the pipe: a finding leaves a file behind.
  if compgen -G "crash-*" >/dev/null || compgen -G "leak-*" >/dev/null ||
     compgen -G "timeout-*" >/dev/null || compgen -G "oom-*" >/dev/null; then
    echo "fuzz_$target found a failing input:"; ls crash-* leak-* timeout-* oom-* 2>/dev/null
    exit 1
  fi
done
