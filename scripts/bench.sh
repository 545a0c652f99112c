#!/usr/bin/env bash
# Builds the benchmarks and prints our kernels beside OpenCV / NumPy on one grid.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/ensure-packages.sh python3-opencv python3-scipy python3-numpy
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DROVANDEL_BENCH=ON -DROVANDEL_APPS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target kernels_bench
/usr/bin/python3 bench/peers.py build-bench/bench/kernels_bench
# Opening an SRTM-like tile with 90% voids (the NoData fill), against the same read
# without voids and GDAL's own fill, in the same run.
cmake -S . -B build-bench-host -DCMAKE_BUILD_TYPE=Release -DROVANDEL_BENCH=ON >/dev/null
cmake --build build-bench-host -j "$(nproc)" --target nodata_fill_bench
build-bench-host/bench/nodata_fill_bench
# What a host user waits for: fresh processes on 4096² and 8192² grids, against the
# kernels and gdal_translate in the same run, and the window's Preview under Xvfb against
# the kernel and the shading; then each goal with its figure and baseline.
scripts/ensure-packages.sh gdal-bin time xvfb xauth
cmake --build build-bench-host -j "$(nproc)" --target kelvamor-host rovandel _rovandel preview_bench \
  history_bench
# A step of the window's history against the whole copy it replaced, in the same run.
build-bench-host/bench/history_bench
PYTHONPATH=build-bench-host/python xvfb-run -a -s "-screen 0 1600x1200x24" \
  /usr/bin/python3 bench/host_e2e.py build-bench-host/host/kelvamor-host \
  build-bench-host/bench/preview_bench
