#!/usr/bin/env bash
# Draws README's picture of the window (docs/window.png), offscreen.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
cmake --build build --target window_screenshot
XDG_CONFIG_HOME=$(mktemp -d) QT_QPA_PLATFORM=offscreen \
  build/host/window_screenshot build/plugin/librovandel.so docs/window.png
echo docs/window.png
