"""python3 -m rovandel.tiles: one action over a raster of any size, tile by tile.

    python3 -m rovandel.tiles INPUT -o OUTPUT --action soften [--set NAME=VALUE ...]
        [--band N] [--co NAME=VALUE ...] [--scheduler tcp://HOST:8786 | local]
        [--workers N] [--memory-limit 2GB] [--threads N] [--chunk 4096] [-q | -v]

Reads the heights of any raster GDAL reads (a VRT of tiles included) by windows, as
kelvamor-host reads them (the band's scale and offset applied, its NoData cells voids),
runs the action with rovandel.dask on a Dask cluster (a local one of --workers processes
by default, or the scheduler given), and writes a tiled GeoTIFF float32 with the input's
coordinate system, geotransform and NoData. The heights are those kelvamor-host writes
for the same input and settings. The tiles are computed on the workers and written by
this process as they come back; the output replaces OUTPUT only when complete. Exit
status as kelvamor-host's: 0 done, 1 failed (OUTPUT unchanged), 2 command line refused.
"""

import argparse
import math
import os
import signal
import sys
import time

import numpy as np

PROGRAM = "rovandel.tiles"


class _Window:
    """A band of the input as an array Dask reads by windows, through the host's reader;
    picklable (by absolute path), so every worker opens the file itself."""

    def __init__(self, path, band):
        from . import _rovandel
        self.path = os.path.abspath(path)
        self.band = band
        raster = _rovandel.Raster(self.path, band)
        self.shape = (raster.height, raster.width)
        self.nodata = raster.nodata
        self.dtype = np.dtype(np.float32)
        self.ndim = 2

    def __getitem__(self, key):
        from . import _rovandel
        rows, columns = key
        y0, y1, _ = rows.indices(self.shape[0])
        x0, x1, _ = columns.indices(self.shape[1])
        return _rovandel.Raster(self.path, self.band).read(x0, y0, x1 - x0, y1 - y0)


def _peak_memory():
    """This process's peak resident memory in MB (run on each worker)."""
    import resource
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


class _Usage(Exception):
    pass


def _parse(argv):
    import rovandel
    parser = argparse.ArgumentParser(prog=f"python3 -m {PROGRAM}", description=__doc__.split("\n\n")[1],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("input", help="raster to read (GeoTIFF, VRT, ...)")
    parser.add_argument("-o", "--output", required=True, help="GeoTIFF to write")
    parser.add_argument("--action", help="one of " + ", ".join(rovandel.ACTIONS) +
                        " (or as kelvamor-host spells it, soften-more)")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                        help="a setting, by kelvamor-host's name or Python's (repeatable)")
    parser.add_argument("--band", type=int, help="the band of a raster with several (from 1)")
    parser.add_argument("--co", action="append", default=[], metavar="NAME=VALUE",
                        help="a GeoTIFF creation option over the defaults (repeatable)")
    parser.add_argument("--scheduler", default="local",
                        help="a Dask scheduler's address (tcp://host:8786), or local")
    parser.add_argument("--workers", type=int, default=2, help="local workers (default 2)")
    parser.add_argument("--memory-limit", default="2GB", help="per local worker (default 2GB)")
    parser.add_argument("--threads", type=int,
                        help="threads a worker's operation uses (default: a local worker's "
                             "share of this machine's cores, else all of its machine's)")
    parser.add_argument("--chunk", type=int, default=4096, help="tile side in cells (default 4096)")
    parser.add_argument("-q", "--quiet", action="store_true", help="print nothing but errors")
    parser.add_argument("-v", "--verbose", action="store_true",
                        help="also print the time, the throughput and each worker's peak memory")
    args = parser.parse_args(argv)

    def usage(message):
        parser.print_usage(sys.stderr)
        raise _Usage(message)

    settings = {}
    for item in args.set:
        name, eq, text = item.partition("=")
        try:
            key = rovandel._store_key(name)
        except ValueError:
            usage(f"--set: unknown setting {name!r} (known: {', '.join(rovandel.SETTINGS)})")
        kind = rovandel.SETTINGS[key]["kind"]
        if not eq:
            usage(f"--set: {name} takes NAME=VALUE")
        try:
            if key == "Noise" and text.lower() in rovandel.NOISE_TYPES:
                value = text.lower()
            else:
                value = {"bool": lambda t: {"true": True, "false": False}[t.lower()],
                         "int": int, "float": float}[kind](text)
            settings[key] = rovandel._setting("--set", key, value, name)
        except (KeyError, ValueError, TypeError, OverflowError) as e:
            usage(f"--set: {name}: {str(e).split('(): ', 1)[-1]}")
    action = args.action
    if action is None and "Action" in settings:
        action = rovandel.ACTIONS[int(settings["Action"])]
    if action is None:
        usage("--action: choose one of " + ", ".join(rovandel.ACTIONS))
    try:
        args.action = rovandel.action_name(action)
    except ValueError as e:
        usage(f"--action: {e}")
    # Settings another action takes are kept by the host and change nothing here.
    settings = {k: v for k, v in settings.items() if k in rovandel._ROWS[args.action]["settings"]}
    if args.chunk < 16:
        usage("--chunk takes a tile side of 16 cells or more")
    if args.workers < 1:
        usage("--workers takes 1 or more")
    if args.threads is not None and args.threads < 1:
        usage("--threads takes 1 or more")
    try:
        from dask.utils import parse_bytes
        parse_bytes(args.memory_limit)
    except (ValueError, TypeError):
        usage(f"--memory-limit: {args.memory_limit!r} is no size (2GB, 512MB, ...)")
    for option in args.co:
        if "=" not in option:
            usage(f"--co: {option!r} is no NAME=VALUE")
    if not os.path.isfile(args.input):
        usage(f"{args.input}: no such file" if not os.path.exists(args.input)
              else f"{args.input}: not a regular file")
    from . import _rovandel
    bands = _rovandel.raster_band_count(args.input)
    if bands is not None and bands != 1 and args.band is None:
        usage(f"{args.input}: has {bands} bands; choose one with --band")
    if args.band is not None and (bands is None or not 1 <= args.band <= bands):
        usage(f"--band: {args.input} has no band {args.band} (it has {bands or 0})")
    folder = os.path.dirname(os.path.abspath(args.output))
    if not os.path.isdir(folder):
        usage(f"-o: the folder {folder} does not exist")
    if not args.output.lower().endswith((".tif", ".tiff")):
        usage("-o: the output is a GeoTIFF (.tif)")
    if os.path.exists(args.output) and not os.path.isfile(args.output):
        usage(f"-o: {args.output} is not a regular file")
    return args, settings


def _progress(done, total, quiet):
    if quiet:
        return
    tenth = math.floor(10 * done / total)
    print(f"\rtiles: {done}/{total} ({10 * tenth}%)", end="\n" if done == total else "",
          file=sys.stderr, flush=True)


def _block_range(block, nodata):
    """The valid heights' lowest and highest in a block, (inf, -inf) when none."""
    valid = np.isfinite(block)
    if nodata is not None and not math.isnan(nodata):
        valid &= block != np.float32(nodata)
    if not valid.any():
        return np.array([[np.inf, -np.inf]])
    chosen = block[valid]
    return np.array([[float(chosen.min()), float(chosen.max())]])


def _valid_range(client, heights, nodata):
    """The recorded range of the whole input, as the host records it, computed first
    so that no tile carries the whole grid's reduction with it."""
    import dask.array as da
    ends = da.map_blocks(_block_range, heights, nodata, dtype=float, chunks=(1, 2))
    ends = client.compute(ends).result().reshape(-1, 2)
    low, high = float(ends[:, 0].min()), float(ends[:, 1].max())
    return (low, high) if low <= high else (0.0, 0.0)


class _Stopped(Exception):
    pass


def _stop(signum, frame):
    raise _Stopped(signal.Signals(signum).name)


def run(argv=None):
    try:
        args, settings = _parse(sys.argv[1:] if argv is None else argv)
    except _Usage as e:
        print(f"{PROGRAM}: {e}", file=sys.stderr)
        return 2
    import logging
    import warnings

    import dask.array as da
    import rasterio
    from distributed import Client, LocalCluster, as_completed
    from rasterio.windows import Window

    import rovandel
    import rovandel.dask as rd
    from . import _rovandel

    # Warnings that matter are said in this tool's words; the libraries' own are noise.
    warnings.simplefilter("ignore")
    logging.getLogger("distributed").setLevel(logging.CRITICAL)
    logging.getLogger("rasterio").setLevel(logging.ERROR)
    for name in ("SIGTERM", "SIGHUP"):
        signal.signal(getattr(signal, name), _stop)

    replacement, client, cluster = None, None, None
    try:
        source = _Window(args.input, args.band or 0)
        with rasterio.open(source.path) as ds:
            profile = ds.profile
        heights = da.from_array(source, chunks=(args.chunk, args.chunk), asarray=True, fancy=False)
        nodata = source.nodata
        # The file's NoData value stays where a float holds it and no height equals it;
        # else NaN, as kelvamor-host writes a GeoTIFF (see below).
        written_nodata = nodata if nodata is not None and (
            math.isnan(nodata) or float(np.float32(nodata)) == nodata) else None
        profile.update(driver="GTiff", dtype="float32", count=1, tiled=True, blockxsize=256,
                       blockysize=256, compress="deflate", zlevel=1, predictor=3,
                       num_threads="all_cpus", bigtiff="IF_SAFER")
        profile.pop("nodata", None)
        for option in args.co:
            name, _, value = option.partition("=")
            profile[name.lower()] = value
        if args.scheduler == "local":
            cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                                   memory_limit=args.memory_limit, host="127.0.0.1",
                                   dashboard_address=None, silence_logs=logging.CRITICAL)
            client = Client(cluster)
        else:
            client = Client(args.scheduler)
        started = time.monotonic()
        extra = {}
        if rovandel._ROWS[args.action]["uses_range"]:
            extra["height_range"] = _valid_range(client, heights, None)
        python = {rovandel.SETTINGS[k]["python_name"]: v for k, v in settings.items()}
        threads = args.threads
        if threads is None and cluster is not None:
            threads = max(1, len(os.sched_getaffinity(0)) // args.workers)
        result = getattr(rd, args.action)(heights, **python, **extra, threads=threads)
        blocks = result.to_delayed()
        starts = [np.cumsum((0,) + c[:-1]) for c in result.chunks]
        futures, where = [], {}
        for (i, j), block in np.ndenumerate(blocks):
            future = client.compute(block)
            futures.append(future)
            where[future.key] = (int(starts[0][i]), int(starts[1][j]))
        replacement = _rovandel.FileReplacement(args.output)
        temporary = replacement.temporary_path
        collided, voided, any_voids = 0, {}, False
        fill = np.float32(np.nan if written_nodata is None else written_nodata)
        with rasterio.open(temporary, "w+", **profile) as out:
            for done, (future, block) in enumerate(as_completed(futures, with_results=True), 1):
                y0, x0 = where[future.key]
                voids = ~np.isfinite(block)
                any_voids = any_voids or bool(voids.any())
                if not math.isnan(fill):
                    collided += int(np.count_nonzero(block == fill))
                    if voids.any():
                        voided[(y0, x0)] = (block.shape, np.packbits(voids))
                        block = np.where(voids, fill, block)
                out.write(block.astype(np.float32, copy=False), 1,
                          window=Window(x0, y0, block.shape[1], block.shape[0]))
                _progress(done, len(futures), args.quiet)
            if collided:
                # A valid height equals the NoData value: it must not read back as a void.
                for (y0, x0), (shape, bits) in voided.items():
                    window = Window(x0, y0, shape[1], shape[0])
                    voids = np.unpackbits(bits, count=shape[0] * shape[1]).reshape(shape) != 0
                    block = out.read(1, window=window)
                    block[voids] = np.nan
                    out.write(block, 1, window=window)
                print(f"{PROGRAM}: warning: {args.output}: a height equals the NoData value "
                      f"{written_nodata:.9g}; NoData is written as nan so that no height "
                      "becomes a void", file=sys.stderr)
                fill = np.float32(np.nan)
            if written_nodata is not None or any_voids or nodata is not None:
                out.nodata = float(fill)
        if args.verbose:
            seconds = time.monotonic() - started
            points = result.shape[0] * result.shape[1]
            peaks = client.run(_peak_memory)
            print(f"{points} points in {seconds:.1f} s, {points / seconds / 1e6:.1f} Mpoints/s; "
                  f"peak memory per worker: "
                  + ", ".join(f"{mb:.0f} MB" for mb in sorted(peaks.values())))
        replacement.commit()
        replacement = None
        if not args.quiet:
            print(f"wrote {args.output}")
        return 0
    except (_Stopped, KeyboardInterrupt) as e:
        print(f"{PROGRAM}: stopped by {e or 'SIGINT'}; {args.output} is unchanged",
              file=sys.stderr)
        return 128 + (signal.SIGINT if isinstance(e, KeyboardInterrupt) else
                      signal.Signals[str(e)])
    except Exception as e:  # a worker's failure comes back as whatever it raised
        text = str(e) or type(e).__name__
        print(f"{PROGRAM}: {text}", file=sys.stderr)
        return 1
    finally:
        if replacement is not None:
            replacement.discard()
        if client is not None:
            client.close()
        if cluster is not None:
            cluster.close()


if __name__ == "__main__":
    sys.exit(run())
