#!/usr/bin/python3
"""Runs the kernel benchmark and the same computations in OpenCV / NumPy on the same
grid, in one go, each at one thread and at its default (every core); prints each
kernel's time per point, its ratios to the copy baseline of the same run and thread
count, its speed-up from one thread to all, and ours / peer at both."""
import argparse
import json
import os
import subprocess
import sys
import time

os.environ.setdefault("OMP_NUM_THREADS", "1")
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import cv2  # noqa: E402
import numpy as np  # noqa: E402

SIZE = (4096, 4096)


def ours(binary, width, height, repetitions):
    """{(name, threads): seconds}; threads 0 stands for all."""
    # The median of several repetitions: the machine this runs on may be shared.
    out = subprocess.run(
        [binary, f"--benchmark_filter=/{width}/{height}/", "--benchmark_format=json",
         "--benchmark_min_time=0.5", f"--benchmark_repetitions={repetitions}",
         "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True).stdout
    result = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name", "median") != "median":
            continue
        parts = b["run_name"].split("/")
        name = parts[0].removeprefix("BM_")
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        result[(name, int(parts[3]))] = b["real_time"] * scale
    return result


def best_of(fn, repeats=5):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        times.append(time.perf_counter() - start)
    return min(times)


def peers(width, height, threads):
    """OpenCV at `threads` (0: its default, every core); NumPy runs on one thread."""
    cv2.setNumThreads(1 if threads == 1 else cv2.getNumberOfCPUs())
    rng = np.random.default_rng(11)
    src = rng.uniform(-200.0, 1800.0, (height, width)).astype(np.float32)
    ones = np.ones_like(src)
    k3 = np.array([[1, 2, 1], [2, 3, 2], [1, 2, 1]], np.float32)
    k5 = np.array([[1 + (2 - abs(dx)) + (2 - abs(dy)) for dx in range(-2, 3)]
                   for dy in range(-2, 3)], np.float32)

    def smooth(kernel):
        # Normalised weighted mean with a zero border.
        s = cv2.filter2D(src, -1, kernel, borderType=cv2.BORDER_CONSTANT)
        d = cv2.filter2D(ones, -1, kernel, borderType=cv2.BORDER_CONSTANT)
        return s / d

    lo, hi, k = -200.0, 1800.0, 3.0
    h64 = None

    def profile(glaciate):
        h = src.astype(np.float64)
        n = (h - lo) / (hi - lo)
        v = np.exp((n - 1) * k) * h if glaciate else (1 - np.exp(-k * n)) * h
        return v.astype(np.float32)

    def hill():
        y = ((np.arange(height) + 0.5) / height - 0.6) ** 2
        x = ((np.arange(width) + 0.5) / width - 0.4) ** 2
        g = np.exp(-(x[None, :] + y[:, None]) / 0.04)
        h = src.astype(np.float64) + 250.0 * g
        h[h <= -1001.0] = -1000.0
        return h.astype(np.float32)

    def noise():
        r = rng.random((height, width), dtype=np.float32)
        off = rng.random((height, width), dtype=np.float32) * 800 - 400
        return np.where(r <= 0.5, src + off, src)

    del h64
    return {
        "Copy": best_of(lambda: np.copyto(ones, src)),
        "Soften": best_of(lambda: smooth(k3)),
        "SoftenMore": best_of(lambda: smooth(k5)),
        "Flatten": best_of(lambda: (100.0 + (src.astype(np.float64) - 100.0) * 0.6)
                           .astype(np.float32)),
        "Glaciate": best_of(lambda: profile(True)),
        "Canyonize": best_of(lambda: profile(False)),
        "Hill": best_of(hill),
        "Noise": best_of(noise),
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary", help="the kernels_bench executable")
    parser.add_argument("--repetitions", type=int, default=5,
                        help="runs of each of our kernels; the median is reported")
    args = parser.parse_args()
    width, height = SIZE
    points = width * height
    mine = ours(args.binary, width, height, args.repetitions)
    theirs = {threads: peers(width, height, threads) for threads in (1, 0)}
    cores = os.cpu_count()
    ns = lambda t: f"{t / points * 1e9:.2f}"  # noqa: E731
    print(f"grid {width} x {height}, {cores} cores; ratios against the copy of the same run "
          "and thread count; speed-up = 1 thread / all threads")
    print("| kernel | 1 thread ns/pt | ratio to copy | all threads ns/pt | ratio to copy "
          "| speed-up | peer 1 thread ns/pt | ours / peer | peer default ns/pt | ours / peer |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    for name in ["Copy", "Sum", "Soften", "SoftenMore", "Flatten", "Glaciate", "Canyonize",
                 "Hill", "Noise"]:
        one, every = mine[(name, 1)], mine[(name, 0)]
        row = [name, ns(one), f"{one / mine[('Copy', 1)]:.2f}", ns(every),
               f"{every / mine[('Copy', 0)]:.2f}", f"{one / every:.2f}"]
        for threads, t in ((1, one), (0, every)):
            peer = theirs[threads].get(name)
            row += [ns(peer), f"{t / peer:.2f}"] if peer else ["-", "-"]
        print("| " + " | ".join(row) + " |")
    print("(the OpenCV peers are the smoothing and the copy; the rest are NumPy, one thread)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
