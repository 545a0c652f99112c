"""python3 -m rovandel.tiles: one action over a raster of any size, tile by tile.

    python3 -m rovandel.tiles INPUT -o OUTPUT --action soften [--set NAME=VALUE ...]
        [--band N] [--ot Float32 | Int16 | UInt16] [--co NAME=VALUE ...] [--water-level HEIGHT]
        [--scheduler threads | local | tcp://HOST:8786]
        [--workers N] [--memory-limit 2GB] [--threads N] [--chunk 2048] [-q | -v]

Reads the heights of any raster GDAL reads (a VRT of tiles included) by windows, as
kelvamor-host reads them (the band's scale and offset applied, its NoData cells voids),
runs the action tile by tile on --workers threads of this process (or a local Dask
cluster of --workers processes, or the Dask scheduler given), and writes
a tiled GeoTIFF as kelvamor-host saves one (Float32, or with --ot whole steps of the
input's scale; its creation options, the input's georeferencing and NoData). The heights are those kelvamor-host writes for the same input
and settings. Each worker reads its tile with the halo the action needs, computes it and
compresses its blocks; this process only puts the compressed blocks in place, and the
output replaces OUTPUT only when complete. Exit status as kelvamor-host's: 0 done, 1
failed (OUTPUT unchanged), 2 command line refused.
"""

import argparse
import math
import os
import signal
import sys
import time

import numpy as np

PROGRAM = "rovandel.tiles"


def _window_heights(path, band, x0, y0, w, h):
    from . import _rovandel
    return _rovandel.Raster(path, band).read(x0, y0, w, h)


def _finished(core, job):
    """A tile's heights as the output stores them (voids as the fill), compressed into its
    blocks; with whether a valid height is stored as the fill, whether the tile holds a
    void, and for whole numbers its lowest and highest step and the values it uses."""
    from . import _rovandel
    fill, storage = job["fill"], job["storage"]
    voids = ~np.isfinite(core)
    whole = None
    if storage == "Float32":
        collided = not math.isnan(fill) and bool(np.any(core == np.float32(fill)))
        stored = np.ascontiguousarray(np.where(voids, np.float32(fill), core), dtype=np.float32)
    else:
        steps = _rovandel.WholeSteps(storage, job["scale_offset"])
        stored, low, high, used = steps.store(np.ascontiguousarray(core), fill)
        collided = bool(used[int(fill - steps.lowest)])
        whole = (low, high, used)
    blocks = _rovandel.compress_blocks(stored, job["block"], job["options"], job["threads"] or 0,
                                       storage)
    return blocks, collided, bool(voids.any()), whole


def _tile(job, x0, y0, w, h):
    """A worker's tile: read with the action's halo, computed, its blocks compressed."""
    import rovandel
    from . import _rovandel
    rows, columns = job["shape"]
    halo = rovandel.HALOS[job["action"]]
    reach = halo + rovandel.VOID_FILL_REACH if halo else 0
    rx0, ry0 = max(0, x0 - reach), max(0, y0 - reach)
    rx1, ry1 = min(columns, x0 + w + reach), min(rows, y0 + h + reach)
    window = _window_heights(job["path"], job["band"], rx0, ry0, rx1 - rx0, ry1 - ry0)
    settings, threads = job["settings"], job["threads"]
    if job["action"] == "hill":  # its place and size are the whole grid's
        result = np.empty_like(window)
        _rovandel.hill_window(window, result, threads, None, columns, rows, rx0, ry0,
                              settings["xpos"], settings["ypos"], settings["radius"],
                              settings["height"])
    else:
        result = rovandel._run(job["action"], window, None, threads, settings, job["range"],
                               None, None, None)[0]
    core = result[y0 - ry0: y0 - ry0 + h, x0 - rx0: x0 - rx0 + w]
    return _finished(core, job)


def _noise_strip(job, x0, w, first_flip):
    """A worker's strip of whole columns of Add Noise, placed in the sequence."""
    import rovandel
    rows, _ = job["shape"]
    heights = _window_heights(job["path"], job["band"], x0, 0, w, rows)
    result = rovandel._run("noise", heights, None, job["threads"], job["settings"], job["range"],
                           job["water_level"], None, None,
                           _sequence=(job["pieces"], job["piece_values"], first_flip))[0]
    return _finished(result, job)


def _survey(job, x0, y0, w, h):
    """A window's valid range (inf, -inf when none) and its points Add Noise draws for."""
    from . import _rovandel
    heights = _window_heights(job["path"], job["band"], x0, y0, w, h)
    found = _rovandel.valid_range(heights, None)
    ends = (math.inf, -math.inf) if found is None else (float(found[0]), float(found[1]))
    dry = 0
    if job["action"] == "noise":
        level = job["water_level"]
        dry = int(_rovandel.dry_points(heights, None, job["settings"]["water"], None, level))
    return ends, dry


def _peak_memory():
    """This process's peak resident memory in MB (run on each worker)."""
    import resource
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


class _Usage(Exception):
    pass


def _storage_name(text):
    for name in ("Float32", "Int16", "UInt16"):
        if text.lower() == name.lower():
            return name
    raise argparse.ArgumentTypeError(f"{text!r}: takes Float32, Int16 or UInt16")


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
    parser.add_argument("--ot", default="Float32", type=_storage_name,
                        help="data type of the output: Float32 (the default), Int16 or UInt16; "
                             "heights are rounded to whole units (of the input's scale when it "
                             "has one), as kelvamor-host writes them")
    parser.add_argument("--co", action="append", default=[], metavar="NAME=VALUE",
                        help="a GeoTIFF creation option over the defaults (repeatable)")
    parser.add_argument("--scheduler", default="threads",
                        help="threads (workers in this process, the default), local (worker "
                             "processes on this machine) or a Dask scheduler's address "
                             "(tcp://host:8786)")
    parser.add_argument("--water-level", type=float, metavar="HEIGHT",
                        help="points at or below this height are water (Add Noise)")
    parser.add_argument("--workers", type=int, default=2,
                        help="workers on this machine (default 2)")
    parser.add_argument("--memory-limit", default=None,
                        help="per worker process (--scheduler local; default 2GB)")
    parser.add_argument("--threads", type=int,
                        help="threads a worker's operation uses (default: a local worker's "
                             "share of this machine's cores, else all of its machine's)")
    parser.add_argument("--chunk", type=int, default=2048, help="tile side in cells (default 2048)")
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
    if args.chunk < 16 or args.chunk % 16:
        usage("--chunk takes a tile side of 16 cells or more, a multiple of 16")
    if args.water_level is not None and not math.isfinite(args.water_level):
        usage("--water-level takes a finite height")
    if args.workers < 1:
        usage("--workers takes 1 or more")
    if args.threads is not None and not 1 <= args.threads <= rovandel._MOST_THREADS:
        usage(f"--threads takes 1 to {rovandel._MOST_THREADS}")
    limit = 2 << 30
    if args.memory_limit is None:
        args.memory_limit = "2GB"
    else:  # dask only when asked: its import is a tenth of a second of every run
        try:
            from dask.utils import parse_bytes
            limit = parse_bytes(args.memory_limit)
        except (ValueError, TypeError, OverflowError):
            usage(f"--memory-limit: {args.memory_limit!r} is no size (2GB, 512MB, ...)")
    # A task holds its tile with the halo, the result and the compressed blocks, beside
    # what a worker holds before any task (about 200 MB): a limit below that stalls.
    need = 3 * 4 * (args.chunk + 8) ** 2 + (200 << 20)
    if args.scheduler == "local" and limit and limit < need:
        usage(f"--memory-limit: {args.memory_limit} is too little for --chunk {args.chunk} "
              f"(about {need >> 20} MB a worker); give a smaller --chunk or a larger limit")
    for option in args.co:
        if "=" not in option:
            usage(f"--co: {option!r} is no NAME=VALUE")
    if not os.path.isfile(args.input):
        usage(f"{args.input}: no such file" if not os.path.exists(args.input)
              else f"{args.input}: not a regular file")
    from . import _rovandel
    bands = _rovandel.raster_band_count(os.fsencode(args.input))
    if bands is not None and bands != 1 and args.band is None:
        usage(f"{args.input}: has {bands} bands; choose one with --band")
    if args.band is not None and (bands is None or not 1 <= args.band <= bands):
        usage(f"--band: {args.input} has no band {args.band} (it has {bands or 0})")
    # The result is one band: written over its input, it would take the others along.
    if bands is not None and bands > 1 and os.path.exists(args.output) \
            and os.path.samefile(args.input, args.output):
        usage(f"-o: {args.output} is the input, a raster of {bands} bands; the result has one, "
              "and the others would be lost (write it to another file)")
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


class _Stopped(Exception):
    pass


def _stop(signum, frame):
    raise _Stopped(signal.Signals(signum).name)


class _Workers:
    """Where the tasks run: a Dask cluster (worker processes here, or a scheduler's), or a
    pool of threads in this process (the work releases the GIL)."""

    def __init__(self, args):
        self.cluster = self.client = self.pool = None
        if args.scheduler == "threads":
            from concurrent.futures import ThreadPoolExecutor
            self.pool = ThreadPoolExecutor(args.workers)
            return
        import logging

        from distributed import Client, LocalCluster
        if args.scheduler == "local":
            # Worker processes listen on this machine's loopback only.
            self.cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1,
                                        processes=True, memory_limit=args.memory_limit,
                                        host="127.0.0.1", dashboard_address=None,
                                        silence_logs=logging.CRITICAL)
            self.client = Client(self.cluster)
        else:
            self.client = Client(args.scheduler)

    @property
    def local(self):
        return self.client is None or self.cluster is not None

    def submit(self, function, *args):
        if self.pool is not None:
            return self.pool.submit(function, *args)
        return self.client.submit(function, *args, pure=False)

    def gather(self, futures):
        return [f.result() for f in futures] if self.pool is not None else \
            self.client.gather(futures)

    def as_completed(self, futures):
        """(future, result) as each is done."""
        if self.pool is not None:
            import concurrent.futures
            for future in concurrent.futures.as_completed(futures):
                yield future, future.result()
        else:
            from distributed import as_completed
            yield from as_completed(futures, with_results=True)

    def peak_memory(self):
        if self.pool is not None:
            return [_peak_memory()]
        return list(self.client.run(_peak_memory).values())

    def close(self):
        if self.pool is not None:
            self.pool.shutdown(wait=True, cancel_futures=True)
        if self.client is not None:
            self.client.close()
        if self.cluster is not None:
            self.cluster.close()


def _windows(rows, columns, chunk):
    for y0 in range(0, rows, chunk):
        for x0 in range(0, columns, chunk):
            yield x0, y0, min(chunk, columns - x0), min(chunk, rows - y0)


def _strips(rows, columns, chunk, block):
    """Strips of whole columns, as wide as a tile holds points, whole blocks wide."""
    width = max(block, (chunk * chunk // rows) // block * block)
    return [(x0, min(width, columns - x0)) for x0 in range(0, columns, width)]


def _assemble(client, job, tasks, replacement, raster, quiet):
    """Puts the blocks of every task in place as they come: whether a valid height is
    stored as the fill, whether any cell is a void, and for whole numbers the lowest and
    highest step and the values used over all tiles."""
    from . import _rovandel
    fill = job["fill"]
    # The input's NoData value (or the one that stands for it) is the file's from the
    # start; one only the voids need is said once they are found.
    assembly = _rovandel.BlockAssembly(replacement.temporary_path, raster,
                                       None if raster.nodata is None or math.isnan(fill) else fill,
                                       job["block"], job["options"], job["storage"])
    futures = {}
    for (function, x0, y0, w, h, *more) in tasks:
        futures[client.submit(function, job, *more)] = (x0, y0, w)
    collided, voids, whole = False, False, None
    block = job["block"]
    for done, (future, (blocks, hits, any_voids, steps)) in enumerate(
            client.as_completed(futures), 1):
        x0, y0, w = futures[future]
        across = -(-w // block)
        for k, data in enumerate(blocks):
            assembly.put(x0 // block + k % across, y0 // block + k // across, data)
        collided = collided or hits
        voids = voids or any_voids
        if steps is not None:
            low, high, used = steps
            whole = (low, high, used) if whole is None else \
                (min(whole[0], low), max(whole[1], high), whole[2] | used)
        _progress(done, len(futures), quiet)
    if not assembly.complete:
        raise RuntimeError(f"{job['output']}: blocks are missing")
    return collided, voids, whole


def run(argv=None):
    # A file name is said back as the bytes it was given in, whatever the locale.
    for stream in (sys.stdout, sys.stderr):
        if hasattr(stream, "reconfigure"):
            stream.reconfigure(errors="surrogateescape")
    try:
        args, settings = _parse(sys.argv[1:] if argv is None else argv)
    except _Usage as e:
        print(f"{PROGRAM}: {e}", file=sys.stderr)
        return 2
    import logging
    import warnings

    import rovandel
    from . import _rovandel

    # Warnings that matter are said in this tool's words; the libraries' own are noise.
    warnings.simplefilter("ignore")
    logging.getLogger("distributed").setLevel(logging.CRITICAL)
    for name in ("SIGTERM", "SIGHUP"):
        signal.signal(getattr(signal, name), _stop)

    replacement, client = None, None
    try:
        # File names go to the host as their bytes: a name need not be UTF-8.
        path = os.fsencode(os.path.abspath(args.input))
        raster = _rovandel.Raster(path, args.band or 0)
        rows, columns = raster.height, raster.width
        nodata = raster.nodata
        if args.ot == "Float32":
            # The file's NoData value stays where a float holds it and no height equals it
            # (see _assemble); else NaN, as kelvamor-host writes a GeoTIFF.
            fill = nodata if nodata is not None and _rovandel.float_holds_nodata(nodata) \
                else math.nan
            steps = None
        else:
            # The file's value when it is one of the type's, else the type's lowest; another
            # once every tile has said which values its heights use.
            steps = _rovandel.WholeSteps(args.ot, raster.scale_offset)
            fill = steps.free_value(np.zeros(65536, dtype=bool), nodata)
        block = min(256, args.chunk)
        chunk = -(-args.chunk // block) * block
        client = _Workers(args)
        started = time.monotonic()
        threads = args.threads
        if threads is None and client.local:
            threads = max(1, len(os.sched_getaffinity(0)) // args.workers)
        values = {key: settings[key] if key in settings else
                  rovandel._setting(args.action, key, rovandel._default(key))
                  for key in rovandel._ROWS[args.action]["settings"]}
        job = dict(path=path, band=args.band or 0, shape=(rows, columns), action=args.action,
                   settings=values, threads=threads, range=None, fill=fill, block=block,
                   options=list(args.co), water_level=args.water_level, output=args.output,
                   storage=args.ot, scale_offset=raster.scale_offset)
        noise = args.action == "noise"
        strips = _strips(rows, columns, chunk, block) if noise else None
        piece_values = rovandel.NOISE_PIECE_VALUES
        if noise:
            # The sequence's pieces are surveyed beside the windows: neither waits for the
            # other.
            piece_tasks = [
                client.submit(rovandel._noise_piece, values["Seed"], values["Coverage"], j,
                              piece_values)
                for j in range(rovandel._noise_pieces(rows * columns, values, piece_values))]
        if rovandel._ROWS[args.action]["uses_range"]:
            # The recorded range (and Add Noise's dry points) first, from every window.
            windows = [(x0, 0, w, rows) for x0, w in strips] if noise else \
                list(_windows(rows, columns, chunk))
            surveys = client.gather([client.submit(_survey, job, *w) for w in windows])
            low = min(e[0][0] for e in surveys)
            high = max(e[0][1] for e in surveys)
            job["range"] = (low, high) if low <= high else (0.0, 0.0)
        if noise:
            dry = [d for _, d in surveys]
            surveyed = client.gather(piece_tasks)
            pieces, firsts = rovandel._noise_sequence(surveyed, dry, values, piece_values)
            job.update(pieces=pieces, piece_values=piece_values)
            tasks = [(_noise_strip, x0, 0, w, rows, x0, w, int(f))
                     for (x0, w), f in zip(strips, firsts)]
        else:
            tasks = [(_tile, *w, *w) for w in _windows(rows, columns, chunk)]
        replacement = _rovandel.FileReplacement(os.fsencode(args.output))
        collided, voids, whole = _assemble(client, job, tasks, replacement, raster, args.quiet)
        if whole is not None:
            steps.check_fits(whole[0], whole[1])
        if collided:
            # A valid height is stored as the NoData value: it must not read back as a void.
            fill = math.nan if steps is None else steps.free_value(whole[2], nodata)
            print(f"{PROGRAM}: warning: {args.output}: a height equals the NoData value "
                  f"{job['fill']:.9g}; NoData is written as {fill:.9g} so that no height "
                  f"becomes a void", file=sys.stderr)
            replacement.discard()
            replacement = _rovandel.FileReplacement(os.fsencode(args.output))
            job["fill"] = fill
            collided, voids, whole = _assemble(client, job, tasks, replacement, raster, True)
        if (voids or nodata is not None) and (nodata is None or math.isnan(job["fill"])):
            _rovandel.set_nodata(replacement.temporary_path, job["fill"])
        if args.verbose:
            seconds = time.monotonic() - started
            points = rows * columns
            print(f"{points} points in {seconds:.1f} s, {points / seconds / 1e6:.1f} Mpoints/s; "
                  f"peak memory per worker: "
                  + ", ".join(f"{mb:.0f} MB" for mb in sorted(client.peak_memory())))
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


if __name__ == "__main__":
    sys.exit(run())
