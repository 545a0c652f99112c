#!/usr/bin/env bash
# Main job: installs the dependencies, builds, and runs kelvamor-host. Without a display
# it runs in batch mode on the default landscape (or on the heightmap given as first
# argument) with the stored or default action, writing out/landscape.tif and the
# shaded picture out/landscape.png; with one it opens the window. Further arguments go
# to kelvamor-host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] || [[ " $* " == *" --batch "* ]]; then
  mkdir -p out
  exec build/host/kelvamor-host --batch -o out/landscape.tif --picture out/landscape.png "$@"
fi
exec build/host/kelvamor-host "$@"
