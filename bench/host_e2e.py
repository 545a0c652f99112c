#!/usr/bin/python3
"""What a kelvamor-host user waits for: a fresh `kelvamor-host --batch -v` process per
run, its own report of the read, apply and write times, and its peak resident memory;
beside it, in the same run, the kernels in one process (all threads) and gdal_translate
writing the same GeoTIFF. Medians of five. Then each performance goal of the host with
its figure, its baseline and whether it is met; the Preview latency comes from
preview_bench when its path is given.

    PYTHONPATH=build-bench-host/python bench/host_e2e.py \\
        build-bench-host/host/kelvamor-host [build-bench-host/bench/preview_bench]
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
KERNELS = {"soften": rovandel.soften, "soften-more": rovandel.soften_more,
           "noise": rovandel.noise, "hill": rovandel.hill, "flatten": rovandel.flatten,
           "glaciate": rovandel.glaciate, "canyonize": rovandel.canyonize}
RANGED = {"noise", "glaciate", "canyonize"}


def timed(command, home):
    """Wall seconds, peak RSS (MB) and output of one fresh process."""
    started = time.monotonic()
    run = subprocess.run(["/usr/bin/time", "-f", "RSS %M"] + command, capture_output=True,
                         text=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen",
                                             HOME=home, XDG_CONFIG_HOME=home))
    wall = time.monotonic() - started
    if run.returncode != 0:
        sys.exit(f"host_e2e: {' '.join(command)}: {run.stderr}")
    rss = int(re.search(r"RSS (\d+)", run.stderr).group(1)) / 1024
    return wall, rss, run.stdout


def seconds(pattern, text):
    return float(re.search(pattern + r".* in ([0-9.]+) s", text).group(1))


def median_time(call):
    times = []
    for _ in range(RUNS):
        started = time.monotonic()
        call()
        times.append(time.monotonic() - started)
    return statistics.median(times)


def kernel(action, grid, threads=None):
    """The kernel's own time on the grid: the range handed in, as the host records it."""
    kwargs = {"threads": threads}
    if action in RANGED:
        kwargs["height_range"] = (float(grid.min()), float(grid.max()))
    function = KERNELS[action]
    function(grid, **kwargs)  # warm: the module loaded, the threads started
    return median_time(lambda: function(grid, **kwargs))


def host_runs(host, home, source, output, action="soften"):
    rows = []
    for _ in range(RUNS):
        wall, rss, out = timed([host, "--batch", "-v", source, "--action", action,
                                "-o", output], home)
        rows.append((seconds("landscape:", out), seconds("plug-in:", out),
                     seconds("wrote", out), wall, rss))
    return [statistics.median(c) for c in zip(*rows)]


def main():
    host = sys.argv[1]
    preview = sys.argv[2] if len(sys.argv) > 2 else None
    folder = tempfile.mkdtemp(prefix="kelvamor-bench-")
    home = os.path.join(folder, "home")
    os.mkdir(home)
    goals = []
    try:
        grids = {side: np.random.default_rng(side).normal(0, 100, (side, side))
                 .astype(np.float32) for side in (4096, 8192)}

        print("Every action at 4096², .r32: the host's \"applied in\" against the kernel.\n")
        print("| action | applied s | kernel s | applied / kernel |")
        print("|---|---|---|---|")
        grid = grids[4096]
        r32 = os.path.join(folder, "in4096.r32")
        grid.astype("<f4").tofile(r32)
        for action in KERNELS:
            applied = host_runs(host, home, r32, os.path.join(folder, "out.r32"), action)[1]
            alone = kernel(action, grid)
            print(f"| {action} | {applied:.3f} | {alone:.4f} | {applied / alone:.1f} |")
            goals.append((f"applied ≤ 3× kernel, {action}, 4096²", f"{applied:.3f} s",
                          f"kernel {alone:.4f} s", applied <= 3 * alone))

        print("\nSoften, read to write, beside gdal_translate writing the same GeoTIFF.\n")
        print("| grid | file | read s | apply s | kernel s | apply / kernel | write s | "
              "gdal_translate s | write / gdal | wall s | peak RSS MB |")
        print("|---|---|---|---|---|---|---|---|---|---|---|")
        for side, grid in grids.items():
            alone = kernel("soften", grid)
            r32 = os.path.join(folder, f"in{side}.r32")
            grid.astype("<f4").tofile(r32)
            tif = os.path.join(folder, f"in{side}.tif")
            with rasterio.open(tif, "w", driver="GTiff", width=side, height=side, count=1,
                               dtype="float32", tiled=True, compress="deflate", predictor=3,
                               crs="EPSG:32632",
                               transform=rasterio.transform.from_origin(0, side, 1, 1)) as ds:
                ds.write(grid, 1)
            for name, source in (("r32", r32), ("tif", tif)):
                read, apply, write, wall, rss = host_runs(
                    host, home, source, os.path.join(folder, "out." + name))
                gdal = None
                if name == "tif":
                    gdal = statistics.median(
                        timed(["gdal_translate", "-q", *GEOTIFF, tif,
                               os.path.join(folder, "gdal.tif")], home)[0]
                        for _ in range(RUNS))
                print(f"| {side}² | .{name} | {read:.3f} | {apply:.3f} | {alone:.4f} | "
                      f"{apply / alone:.1f} | {write:.3f} | "
                      f"{'-' if gdal is None else f'{gdal:.3f}'} | "
                      f"{'-' if gdal is None else f'{write / gdal:.2f}'} | {wall:.3f} | "
                      f"{rss:.0f} |")
                if side == 8192 and name == "r32":
                    goals.append(("8192² .r32 open + Soften + save ≤ 1.0 s", f"{wall:.3f} s",
                                  "-", wall <= 1.0))
                    bound = 3 * side * side * 4 / 2**20 + 64
                    goals.append(("peak RSS 8192² ≤ 3 grids + 64 MB", f"{rss:.0f} MB",
                                  f"{bound:.0f} MB", rss <= bound))
                if side == 8192 and name == "tif":
                    goals.append((".tif save ≤ 1.2× gdal_translate, 8192²", f"{write:.3f} s",
                                  f"gdal_translate {gdal:.3f} s", write <= 1.2 * gdal))

        one = kernel("noise", grids[4096], threads=1)
        two = kernel("noise", grids[4096], threads=2)
        goals.append(("Noise ≥ 1.6× on 2 threads, 4096²", f"{one / two:.2f}×",
                      f"1 thread {one:.4f} s, 2 threads {two:.4f} s", one / two >= 1.6))

        if preview:
            for side in (4096, 16384):
                run = subprocess.run([preview, str(side)], capture_output=True, text=True,
                                     env=dict(os.environ, HOME=home, XDG_CONFIG_HOME=home))
                if run.returncode != 0:
                    sys.exit(f"host_e2e: {preview}: {run.stderr}")
                print(f"\npreview_bench {side}:\n{run.stdout}")
                f = {k: float(v) for k, v in re.findall(r"([\w ]+?) ([0-9.]+) s", run.stdout)}
                f = {k.strip(): v for k, v in f.items()}
                base = f"kernel {f['kernel']:.4f} s + copy {f['copy']:.4f} s"
                at = f"{side}²"
                goals.append((f"Preview, press to repaint ≤ 1.3× (kernel + copy), {at}",
                              f"{f['latency']:.3f} s", base, f["latency"] <= 1.3 * f["baseline"]))
                goals.append((f"OK after a preview, press to repaint ≤ 1.3× (kernel + copy), {at}",
                              f"{f['ok']:.3f} s", base, f["ok"] <= 1.3 * f["baseline"]))
                goals.append((f"OK with no preview, press to repaint ≤ 1.3× (kernel + copy), {at}",
                              f"{f['ok unpreviewed']:.3f} s", base,
                              f["ok unpreviewed"] <= 1.3 * f["baseline"]))
                goals.append((f"pan and zoom ≤ 16 ms a frame, {at}",
                              f"{f['pan'] * 1e3:.1f} / {f['zoom'] * 1e3:.1f} ms",
                              f"1:1 to 1:2 until sharp {f['sharp'] * 1e3:.1f} ms",
                              max(f["pan"], f["zoom"]) <= 0.016))
                goals.append((f"a sculpt dab, radius 64, ≤ 16 ms to repaint, {at}",
                              f"{f['dab'] * 1e3:.1f} ms", f"the stroke's first {f['first dab']:.3f} s",
                              f["dab"] <= 0.016))
                goals.append((f"open a .r32, picture shown ≤ 1.5× reading its bytes, {at}",
                              f"{f['open']:.3f} s", f"read {f['read']:.4f} s (page cache warm)",
                              f["open"] <= 1.5 * f["read"]))
                goals.append((f"switch to 3D ≤ 0.5 s, {at}", f"{f['switch3d']:.3f} s",
                              f"a frame moving {f['moving3d']:.3f} s, at rest {f['frame3d']:.3f} s",
                              f["switch3d"] <= 0.5))

        print("\nGoals, each against its baseline from this run.\n")
        print("| goal | measured | baseline | met |")
        print("|---|---|---|---|")
        for goal, measured, baseline, met in goals:
            print(f"| {goal} | {measured} | {baseline} | {'yes' if met else 'no'} |")
    finally:
        for root, dirs, files in os.walk(folder, topdown=False):
            for entry in files:
                os.unlink(os.path.join(root, entry))
            for entry in dirs:
                os.rmdir(os.path.join(root, entry))
        os.rmdir(folder)


if __name__ == "__main__":
    main()
