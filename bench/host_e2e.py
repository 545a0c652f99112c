#!/usr/bin/python3
"""What a kelvamor-host user waits for: a fresh `kelvamor-host --batch -v` process per
run on generated 4096² and 8192² grids (.r32 and .tif), Soften, its own report of the
read, apply and write times, and its peak resident memory; beside the kernel on the
same grid in one process (all threads) and gdal_translate writing the same GeoTIFF,
in the same run. Medians of five.

    PYTHONPATH=build-bench-host/python bench/host_e2e.py build-bench-host/host/kelvamor-host
"""

import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np
import rasterio

import rovandel

RUNS = 5
GEOTIFF = ["-co", "TILED=YES", "-co", "COMPRESS=DEFLATE", "-co", "ZLEVEL=1",
           "-co", "PREDICTOR=3", "-co", "NUM_THREADS=ALL_CPUS"]


def timed(command):
    """Wall seconds, peak RSS (MB) and output of one fresh process."""
    started = time.monotonic()
    run = subprocess.run(["/usr/bin/time", "-f", "RSS %M"] + command, capture_output=True,
                         text=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    wall = time.monotonic() - started
    if run.returncode != 0:
        sys.exit(f"host_e2e: {' '.join(command)}: {run.stderr}")
    rss = int(re.search(r"RSS (\d+)", run.stderr).group(1)) / 1024
    return wall, rss, run.stdout


def seconds(pattern, text):
    return float(re.search(pattern + r".* in ([0-9.]+) s", text).group(1))


def main():
    host = sys.argv[1]
    folder = tempfile.mkdtemp(prefix="kelvamor-bench-")
    print("| grid | file | read s | apply s | kernel s | apply / kernel | write s | "
          "gdal_translate s | write / gdal | wall s | peak RSS MB |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    try:
        for side in (4096, 8192):
            grid = np.random.default_rng(side).normal(0, 100, (side, side)).astype(np.float32)
            rovandel.soften(grid)
            kernel = statistics.median(
                (lambda t: (rovandel.soften(grid), time.monotonic() - t)[1])(time.monotonic())
                for _ in range(RUNS))
            r32 = os.path.join(folder, "in.r32")
            grid.astype("<f4").tofile(r32)
            tif = os.path.join(folder, "in.tif")
            with rasterio.open(tif, "w", driver="GTiff", width=side, height=side, count=1,
                               dtype="float32", tiled=True, compress="deflate", predictor=3,
                               crs="EPSG:32632",
                               transform=rasterio.transform.from_origin(0, side, 1, 1)) as ds:
                ds.write(grid, 1)
            for name, source in (("r32", r32), ("tif", tif)):
                output = os.path.join(folder, "out." + name)
                rows = []
                for _ in range(RUNS):
                    wall, rss, out = timed([host, "--batch", "-v", source, "--action", "soften",
                                            "-o", output])
                    rows.append((seconds("landscape:", out), seconds("plug-in:", out),
                                 seconds("wrote", out), wall, rss))
                gdal = None
                if name == "tif":
                    gdal = statistics.median(timed(["gdal_translate", "-q", *GEOTIFF, tif,
                                                    os.path.join(folder, "gdal.tif")])[0]
                                             for _ in range(RUNS))
                read, apply, write, wall, rss = (statistics.median(c) for c in zip(*rows))
                print(f"| {side}² | .{name} | {read:.3f} | {apply:.3f} | {kernel:.3f} | "
                      f"{apply / kernel:.1f} | {write:.3f} | "
                      f"{'-' if gdal is None else f'{gdal:.3f}'} | "
                      f"{'-' if gdal is None else f'{write / gdal:.2f}'} | {wall:.3f} | {rss:.0f} |")
    finally:
        for entry in os.listdir(folder):
            os.unlink(os.path.join(folder, entry))
        os.rmdir(folder)


if __name__ == "__main__":
    main()
