"""python3 -m rovandel.tiles: one action over a raster of any size, tile by tile.

    python3 -m rovandel.tiles INPUT -o OUTPUT --action soften [--set NAME=VALUE ...]
        [--scheduler tcp://HOST:8786 | local] [--workers N] [--memory-limit 2GB]
        [--chunk 4096] [-q | -v]

Reads any raster GDAL reads (a VRT of tiles included) by windows, runs the action with
rovandel.dask on a Dask cluster (a local one of --workers processes by default, or the
scheduler given), and writes a tiled GeoTIFF float32 with the input's coordinate
system, geotransform and NoData. The tiles are computed on the workers and written by
this process as they come back; the output replaces OUTPUT only when complete. Exit
status as kelvamor-host's: 0 done, 1 failed (OUTPUT unchanged), 2 command line refused.
"""

import argparse
import math
import os
import sys
import tempfile
import time

import numpy as np

PROGRAM = "rovandel.tiles"
ACTIONS = ("soften", "soften-more", "noise", "hill", "flatten", "glaciate", "canyonize")


class _Window:
    """The input's band 1 as an array Dask reads by windows; picklable (by path), so
    every worker opens the file itself."""

    def __init__(self, path):
        import rasterio
        self.path = path
        with rasterio.open(path) as ds:
            if ds.count != 1:
                raise ValueError(f"{path}: has {ds.count} bands; a heightmap has one")
            self.shape = (ds.height, ds.width)
            self.nodata = ds.nodata
        self.dtype = np.dtype(np.float32)
        self.ndim = 2

    def __getitem__(self, key):
        import rasterio
        from rasterio.windows import Window
        rows, columns = key
        y0, y1, _ = rows.indices(self.shape[0])
        x0, x1, _ = columns.indices(self.shape[1])
        with rasterio.open(self.path) as ds:
            block = ds.read(1, window=Window(x0, y0, x1 - x0, y1 - y0), masked=True)
        data = block.filled(np.nan).astype(np.float32) if np.ma.is_masked(block) else \
            np.asarray(block, dtype=np.float32)
        return data


def _peak_memory():
    """This process's peak resident memory in MB (run on each worker)."""
    import resource
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def _usage(parser, message):
    parser.print_usage(sys.stderr)
    print(f"{PROGRAM}: {message}", file=sys.stderr)
    sys.exit(2)


def _parse(argv):
    parser = argparse.ArgumentParser(prog=f"python3 -m {PROGRAM}", description=__doc__.split("\n\n")[1],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("input", help="raster to read (GeoTIFF, VRT, ...)")
    parser.add_argument("-o", "--output", required=True, help="GeoTIFF to write")
    parser.add_argument("--action", required=True, choices=ACTIONS)
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                        help="a setting of the action (repeatable)")
    parser.add_argument("--scheduler", default="local",
                        help="a Dask scheduler's address (tcp://host:8786), or local")
    parser.add_argument("--workers", type=int, default=2, help="local workers (default 2)")
    parser.add_argument("--memory-limit", default="2GB", help="per local worker (default 2GB)")
    parser.add_argument("--chunk", type=int, default=4096, help="tile side in cells (default 4096)")
    parser.add_argument("-q", "--quiet", action="store_true", help="print nothing but errors")
    parser.add_argument("-v", "--verbose", action="store_true",
                        help="also print the time, the throughput and each worker's peak memory")
    args = parser.parse_args(argv)
    import rovandel
    settings = {}
    for item in args.set:
        name, eq, text = item.partition("=")
        if not eq or name not in rovandel.SETTINGS:
            _usage(parser, f"--set: unknown setting {name!r} (known: {', '.join(rovandel.SETTINGS)})")
        kind = rovandel.SETTINGS[name]["kind"]
        try:
            value = {"bool": lambda t: {"true": True, "false": False}[t.lower()],
                     "int": int, "float": float}[kind](text)
            rovandel._setting(args.action, name, value)
        except (KeyError, ValueError, TypeError) as e:
            _usage(parser, f"--set: {name}: {e}")
        settings[name] = value
    if args.chunk < 16:
        _usage(parser, "--chunk takes a tile side of 16 cells or more")
    if args.workers < 1:
        _usage(parser, "--workers takes 1 or more")
    if not os.path.isfile(args.input):
        _usage(parser, f"{args.input}: no such file")
    folder = os.path.dirname(os.path.abspath(args.output))
    if not os.path.isdir(folder):
        _usage(parser, f"-o: the folder {folder} does not exist")
    if not args.output.lower().endswith((".tif", ".tiff")):
        _usage(parser, "-o: the output is a GeoTIFF (.tif)")
    return args, settings


def _progress(done, total, quiet):
    if quiet:
        return
    tenth = math.floor(10 * done / total)
    print(f"\rtiles: {done}/{total} ({10 * tenth}%)", end="\n" if done == total else "",
          file=sys.stderr, flush=True)


def run(argv=None):
    args, settings = _parse(sys.argv[1:] if argv is None else argv)
    import dask.array as da
    import rasterio
    from distributed import Client, LocalCluster, as_completed
    from rasterio.windows import Window

    import rovandel.dask as rd

    temporary = None
    try:
        source = _Window(args.input)
        with rasterio.open(args.input) as ds:
            profile = ds.profile
        heights = da.from_array(source, chunks=(args.chunk, args.chunk), asarray=True, fancy=False)
        function = getattr(rd, args.action.replace("-", "_"))
        result = function(heights, **settings)
        nodata = source.nodata
        # DEFLATE at its fastest level, on every core of this machine: one process writes
        # what all the workers compute.
        profile.update(driver="GTiff", dtype="float32", count=1, tiled=True, blockxsize=256,
                       blockysize=256, compress="deflate", zlevel=1, predictor=3,
                       num_threads="all_cpus", bigtiff="IF_SAFER", nodata=nodata)
        cluster = None
        if args.scheduler == "local":
            cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, processes=True,
                                   memory_limit=args.memory_limit, host="127.0.0.1",
                                   dashboard_address=None)
            client = Client(cluster)
        else:
            client = Client(args.scheduler)
        started = time.monotonic()
        try:
            blocks = result.to_delayed()
            starts = [np.cumsum((0,) + c[:-1]) for c in result.chunks]
            futures, where = [], {}
            for (i, j), block in np.ndenumerate(blocks):
                future = client.compute(block)
                futures.append(future)
                where[future.key] = (int(starts[0][i]), int(starts[1][j]))
            fd, temporary = tempfile.mkstemp(prefix=".rovandel-", suffix=".tif",
                                             dir=os.path.dirname(os.path.abspath(args.output)))
            os.close(fd)
            collided = 0
            with rasterio.open(temporary, "w", **profile) as out:
                for done, (future, block) in enumerate(as_completed(futures, with_results=True), 1):
                    y0, x0 = where[future.key]
                    if nodata is not None and not math.isnan(nodata):
                        valid = np.isfinite(block)
                        collided += int(np.count_nonzero(block[valid] == np.float32(nodata)))
                        block = np.where(valid, block, np.float32(nodata))
                    out.write(block.astype(np.float32), 1,
                              window=Window(x0, y0, block.shape[1], block.shape[0]))
                    _progress(done, len(futures), args.quiet)
            if args.verbose:
                seconds = time.monotonic() - started
                points = result.shape[0] * result.shape[1]
                peaks = client.run(_peak_memory)
                print(f"{points} points in {seconds:.1f} s, {points / seconds / 1e6:.1f} Mpoints/s; "
                      f"peak memory per worker: "
                      + ", ".join(f"{mb:.0f} MB" for mb in sorted(peaks.values())))
            if collided:
                raise RuntimeError(f"{collided} heights equal the NoData value {nodata:g}; they "
                                   "would read back as voids (set the input's NoData to nan)")
        finally:
            client.close()
            if cluster is not None:
                cluster.close()
        mode = os.stat(args.output).st_mode & 0o7777 if os.path.exists(args.output) else None
        if mode is not None:
            os.chmod(temporary, mode)
        os.replace(temporary, args.output)
        temporary = None
        if not args.quiet:
            print(f"wrote {args.output}")
        return 0
    except (OSError, ValueError, RuntimeError, rasterio.errors.RasterioError) as e:
        print(f"{PROGRAM}: {e}", file=sys.stderr)
        return 1
    finally:
        if temporary is not None and os.path.exists(temporary):
            os.unlink(temporary)


if __name__ == "__main__":
    sys.exit(run())
