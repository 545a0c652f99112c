#!/usr/bin/python3
"""Scale of python3 -m rovandel.tiles: a generated 32768 x 32768 float32 raster (4 GiB,
beyond the plug-in contract's 2^30 points) softened on a local Dask cluster of 2
worker processes with 2 GB each, against the single-process kernel in the same run.

    PYTHONPATH=build/python bench/tiles_scale.py [FOLDER] [--side 32768]

Needs about 9 GB free in FOLDER (default /tmp): the input and the output.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time

import numpy as np
import rasterio
from rasterio.windows import Window

import rovandel


def generate(path, side):
    profile = dict(driver="GTiff", width=side, height=side, count=1, dtype="float32",
                   tiled=True, blockxsize=512, blockysize=512, bigtiff="YES",
                   crs="EPSG:32632", nodata=-32768.0,
                   transform=rasterio.transform.from_origin(500000, 5200000, 1, 1))
    rng = np.random.default_rng(1)
    x = np.arange(side, dtype=np.float32)
    with rasterio.open(path, "w", **profile) as ds:
        for y0 in range(0, side, 1024):
            rows = min(1024, side - y0)
            y = np.arange(y0, y0 + rows, dtype=np.float32)[:, None]
            band = 400 * np.sin(x / 900.0) * np.cos(y / 700.0) + rng.normal(0, 5, (rows, side))
            ds.write(band.astype(np.float32), 1, window=Window(0, y0, side, rows))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder", nargs="?", default="/tmp")
    parser.add_argument("--side", type=int, default=32768)
    args = parser.parse_args()
    need = 2.2 * args.side * args.side * 4
    if shutil.disk_usage(args.folder).free < need:
        sys.exit(f"tiles_scale: {args.folder} has less than {need / 2**30:.1f} GiB free")
    source = os.path.join(args.folder, "rovandel-scale-in.tif")
    target = os.path.join(args.folder, "rovandel-scale-out.tif")
    try:
        started = time.monotonic()
        generate(source, args.side)
        print(f"generated {args.side} x {args.side} in {time.monotonic() - started:.0f} s")
        # The baseline: the kernel on one 8192 x 8192 grid in this process, all threads.
        grid = np.random.default_rng(2).normal(0, 100, (8192, 8192)).astype(np.float32)
        rovandel.soften(grid)
        started = time.monotonic()
        rovandel.soften(grid)
        kernel = grid.size / (time.monotonic() - started) / 1e6
        print(f"kernel (one process, all threads): {kernel:.0f} Mpoints/s")
        started = time.monotonic()
        run = subprocess.run([sys.executable, "-m", "rovandel.tiles", source, "-o", target,
                              "--action", "soften", "--workers", "2", "--memory-limit", "2GB",
                              "--chunk", "4096", "-v"], capture_output=True, text=True)
        wall = time.monotonic() - started
        if run.returncode != 0:
            sys.exit(run.stderr)
        points = args.side * args.side
        print(run.stdout.strip())
        print(f"tiles command: {wall:.0f} s wall for {points / 1e9:.2f} G points, "
              f"{points / wall / 1e6:.1f} Mpoints/s end to end, "
              f"{points / wall / 1e6 / kernel:.3f} of the kernel's rate")
    finally:
        for path in (source, target):
            if os.path.exists(path):
                os.unlink(path)


if __name__ == "__main__":
    main()
