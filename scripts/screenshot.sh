#!/usr/bin/env bash
# Draws README's pictures of the window (docs/window.png, docs/window-3d.png) and of the
# QGIS provider (docs/qgis-toolbox.png, docs/qgis-algorithm.png) under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build
cmake --build build --target window_screenshot
XDG_CONFIG_HOME=$(mktemp -d) QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x1024x24" \
  build/host/window_screenshot build/plugin/librovandel.so docs/window.png docs/window-3d.png
echo docs/window.png docs/window-3d.png
dem=$(mktemp --suffix=.tif)
build/host/kelvamor-host --batch -q -o "$dem"
QGIS_PLUGINPATH=build/qgis xvfb-run -a -s "-screen 0 1280x1024x24" \
  /usr/bin/python3 docs/qgis_screenshot.py "$dem" docs
rm -f "$dem"
