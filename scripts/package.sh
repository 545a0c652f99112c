#!/usr/bin/env bash
# Builds the Debian package kelvamor-host_<version>_<arch>.deb into out/, installed
# under /usr: the host, the module in lib/<multiarch>/kelvamor/plugins, man page,
# desktop entry, icon, README and licence.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DROVANDEL_TESTS=OFF -DROVANDEL_WERROR="${ROVANDEL_WERROR:-OFF}" >/dev/null
cmake --build build-package -j "$(nproc)"
(cd build-package && cpack -G DEB >/dev/null)
mkdir -p out
cp build-package/kelvamor-host_*.deb out/
ls out/kelvamor-host_*.deb
