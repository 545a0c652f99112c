#!/usr/bin/env bash
# Builds the benchmarks and prints our kernels beside OpenCV / NumPy on one grid.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
missing=()
for p in python3-opencv python3-scipy python3-numpy; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DROVANDEL_BENCH=ON -DROVANDEL_APPS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" --target kernels_bench
/usr/bin/python3 bench/peers.py build-bench/bench/kernels_bench
