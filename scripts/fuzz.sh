#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time (default 45 s)
# from a copy of its seed corpus in tests/fuzz/corpus; then the tiles command's options
# from mutated command lines for as long.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-45}
scripts/ensure-packages.sh clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DROVANDEL_FUZZ=ON -DROVANDEL_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz_conversions fuzz_settings fuzz_heightmap fuzz_noise_gen \
  fuzz_command_line
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# What a target finds is kept in the build folder, never in the source tree.
findings=build-fuzz/findings
rm -rf "$findings" && mkdir -p "$findings"
for target in conversions settings heightmap noise_gen command_line; do
  mkdir -p "$work/$target"
  cp tests/fuzz/corpus/$target/* "$work/$target/"
  echo "fuzz_$target: ${seconds} s"
  build-fuzz/tests/fuzz/fuzz_$target "$work/$target" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" 2>&1 | grep -E "stat::number_of_executed_units|ERROR|SUMMARY|crash|Done" || true
  # libFuzzer's exit status is lost in the pipe: a finding leaves a file behind.
  if [ -n "$(ls -A "$findings")" ]; then
    echo "fuzz_$target found a failing input:"; ls "$findings"
    exit 1
  fi
done
# The tiles command's options, in Python: the package of the main build.
[ -d build/python/rovandel ] || scripts/build.sh build >/dev/null
echo "fuzz_tiles_options: ${seconds} s"
PYTHONPATH=build/python /usr/bin/python3 -W ignore tests/fuzz/fuzz_tiles_options.py "$seconds" "$findings"
