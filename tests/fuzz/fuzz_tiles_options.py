#!/usr/bin/python3
"""The tiles command's options from mutated command lines, for a bounded time: each is
taken (the checked options), refused as a usage error (exit 2, the option named), or
answered by --help; anything else is a finding, kept in FINDINGS and fatal.

    PYTHONPATH=build/python tests/fuzz/fuzz_tiles_options.py SECONDS FINDINGS
"""

import os
import random
import sys
import tempfile
import time
import traceback

import numpy as np

from rovandel import tiles

WORDS = ["-o", "--action", "--set", "--band", "--ot", "--co", "--scheduler", "--water-level",
         "--workers", "--memory-limit", "--threads", "--chunk", "-q", "-v", "--help",
         "soften", "soften-more", "noise", "hill", "flatten", "Int16", "uint16", "Float32",
         "Seed=3", "radius=0", "Action=9", "Noise=gaussian", "water=maybe", "flatten_height=nan",
         "COMPRESS=LZW", "=", "", "0", "-1", "1", "16", "2048", "1e400", "nan", "inf", "-inf",
         "2GB", "0B", "abc", "local", "threads", "tcp://127.0.0.1:1", "out.tif", "out.png",
         "dem.tif", "/", "/dev/null", ".", "\udcff", "é", "x" * 300, "--", "-"]


def mutate(argv, rng):
    argv = list(argv)
    for _ in range(rng.randint(1, 4)):
        choice = rng.random()
        at = rng.randint(0, len(argv))
        if choice < 0.3 and argv:
            del argv[min(at, len(argv) - 1)]
        elif choice < 0.6:
            argv.insert(at, rng.choice(WORDS))
        elif choice < 0.85 and argv:
            argv[min(at, len(argv) - 1)] = rng.choice(WORDS)
        else:
            word = "".join(chr(rng.randint(1, 0x2FF)) for _ in range(rng.randint(0, 12)))
            argv.insert(at, word)
    return argv


def main():
    seconds, findings = float(sys.argv[1]), sys.argv[2]
    rng = random.Random(os.getpid())
    folder = tempfile.mkdtemp(prefix="rovandel-fuzz-tiles-")
    os.chdir(folder)
    import rasterio
    with rasterio.open("dem.tif", "w", driver="GTiff", width=8, height=8, count=2,
                       dtype="float32") as ds:
        ds.write(np.ones((2, 8, 8), np.float32))
    seeds = [["dem.tif", "-o", "out.tif", "--action", "soften", "--band", "1"],
             ["dem.tif", "-o", "out.tif", "--set", "Action=2", "--set", "Seed=5", "--band", "2",
              "--ot", "Int16", "--co", "COMPRESS=LZW", "--chunk", "64", "--workers", "1"],
             ["dem.tif", "-o", "out.tif", "--action", "hill", "--band", "1", "--scheduler",
              "local", "--memory-limit", "1GB", "--threads", "1", "-q"]]
    runs, started = 0, time.monotonic()
    devnull = open(os.devnull, "w", errors="surrogateescape")  # as run() sets its streams
    while time.monotonic() - started < seconds:
        argv = mutate(rng.choice(seeds), rng)
        runs += 1
        stdout, stderr = sys.stdout, sys.stderr
        sys.stdout = sys.stderr = devnull
        try:
            tiles._parse(argv)
        except tiles._Usage:
            pass
        except SystemExit as e:
            if e.code not in (0, 2):
                raise
        except Exception:
            sys.stdout, sys.stderr = stdout, stderr
            os.makedirs(findings, exist_ok=True)
            with open(os.path.join(findings, f"tiles-options-{runs}.txt"), "w") as f:
                f.write(repr(argv) + "\n" + traceback.format_exc())
            print(f"fuzz_tiles_options: {argv!r} raised:\n{traceback.format_exc()}")
            return 1
        finally:
            sys.stdout, sys.stderr = stdout, stderr
    print(f"fuzz_tiles_options: {runs} command lines in {seconds:.0f} s, no finding")
    return 0


if __name__ == "__main__":
    sys.exit(main())
