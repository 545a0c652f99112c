#!/usr/bin/python3
"""Scale of python3 -m rovandel.tiles on a generated float32 raster, each figure beside
its baseline from the same run:

- the default (--side 32768: 4 GiB, beyond the plug-in contract's 2^30 points): Soften on
  a local Dask cluster of 2 worker processes with 2 GB each, against the single-process
  kernel;
- --against-gdal (e.g. --side 8192): Soften on 2 workers against gdal_translate of the
  same input with the same creation options, and Add Noise on 2 workers against 1, whose
  outputs must hold the same heights.

    PYTHONPATH=build/python bench/tiles_scale.py [FOLDER] [--side 32768] [--against-gdal]

Needs about 2.2 times the raster's size free in FOLDER (default /tmp).
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


# The tiles command's GeoTIFF, as gdal_translate is asked to write it.
CREATION = ["TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "COMPRESS=DEFLATE", "ZLEVEL=1",
            "PREDICTOR=3", "NUM_THREADS=ALL_CPUS", "BIGTIFF=IF_SAFER"]


def timed(command):
    started = time.monotonic()
    run = subprocess.run(command, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"{command[0]}: {run.stderr}")
    return time.monotonic() - started


def tiles(source, target, action, workers, *extra):
    return timed([sys.executable, "-m", "rovandel.tiles", source, "-o", target, "--action",
                  action, "--workers", str(workers), "-q", "--set", "Seed=77", *extra])


def against_gdal(source, target, side):
    copy = target + ".gdal.tif"
    try:
        gdal = min(timed(["gdal_translate", "-q", source, copy] +
                         [a for o in CREATION for a in ("-co", o)]) for _ in range(3))
        soften = min(tiles(source, target, "soften", 2) for _ in range(3))
        print(f"| {side}² Soften, 2 workers (threads) | {soften:.2f} s | gdal_translate "
              f"{gdal:.2f} s | {soften / gdal:.2f} |")
        processes = min(tiles(source, target, "soften", 2, "--scheduler", "local")
                        for _ in range(3))
        print(f"| {side}² Soften, 2 worker processes | {processes:.2f} s | gdal_translate "
              f"{gdal:.2f} s | {processes / gdal:.2f} |")
        # A worker a thread, so that two workers are two of this machine's cores.
        one = min(tiles(source, copy, "noise", 1, "--threads", "1") for _ in range(2))
        two = min(tiles(source, target, "noise", 2, "--threads", "1") for _ in range(2))
        with rasterio.open(copy) as a, rasterio.open(target) as b:
            same = np.array_equal(a.read(1).view(np.uint32), b.read(1).view(np.uint32))
        print(f"| {side}² Add Noise, 2 workers of 1 thread | {two:.2f} s | 1 worker {one:.2f} s "
              f"| {one / two:.2f}x faster, {'the same' if same else 'DIFFERENT'} heights |")
        # What two cores give this machine's GDAL on the same compression: the ceiling the
        # workers' figure is read against.
        serial = min(timed(["gdal_translate", "-q", source, copy] +
                           [a for o in CREATION for a in ("-co", o.replace("ALL_CPUS", "1"))])
                     for _ in range(2))
        print(f"| {side}² gdal_translate, 2 threads | {gdal:.2f} s | 1 thread {serial:.2f} s "
              f"| {serial / gdal:.2f}x faster |")
    finally:
        if os.path.exists(copy):
            os.unlink(copy)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder", nargs="?", default="/tmp")
    parser.add_argument("--side", type=int, default=32768)
    parser.add_argument("--against-gdal", action="store_true")
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
        if args.against_gdal:
            against_gdal(source, target, args.side)
            return
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
