#!/usr/bin/env bash
# Installs what the project needs to build, test and run, on Debian 12 as root.
# Does nothing when everything is there already.
set -euo pipefail
"$(dirname "$0")/ensure-packages.sh" cmake g++ make pkg-config libgtest-dev libbenchmark-dev \
  qt6-base-dev libqt6opengl6-dev libgdal-dev libtbb-dev libzstd-dev libxxhash-dev \
  fonts-dejavu-core python3 python3-dev pybind11-dev python3-numpy python3-pytest python3-dask python3-distributed \
  python3-rasterio python3-xarray python3-rioxarray desktop-file-utils shared-mime-info \
  xvfb xauth libgl1-mesa-dri libx11-dev qgis python3-qgis python3-gdal
