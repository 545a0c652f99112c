"""Landscape Rovandel's actions on Dask arrays of any size, chunk by chunk.

Each function takes a 2-D ``dask.array.Array`` of heights (or an xarray DataArray
backed by one) and the same keyword arguments as the function of the same name in
:mod:`rovandel`, and returns a lazy float32 array whose every value is the one the
whole-grid function gives, whatever the chunking and whatever the size of the voids:

- ``soften`` and ``soften_more`` work on each chunk with a halo of their reach (1 and 2
  cells) plus the reach of the void rule's stand-ins (``rovandel.VOID_FILL_REACH``), so
  every stand-in a valid result reads is made from the same cells as on the whole grid;
  the grid's own edge rule applies at the grid's edges only.
- ``flatten``, ``glaciate``, ``canyonize`` and ``hill`` work point by point; the hill's
  position and size refer to the whole grid. Glaciate and Canyonize (and Noise) scale by
  the recorded height range: give ``height_range=(low, high)``, or it is computed lazily
  from the valid heights.
- ``noise`` walks the grid column by column from one random sequence: it works on strips
  of whole columns, each placed in the sequence by a survey of the sequence in pieces,
  all on tasks of their own, so a grid larger than one worker's memory gets noise.

Voids are NaN, infinite or ``nodata=`` cells, and come back as NaN (or ``nodata``).
"""

import inspect as _inspect
import math as _math

import dask.array as _da
import numpy as _np

import rovandel as _rv
from . import _rovandel

__all__ = list(_rv.ACTIONS)


def _dask_heights(array):
    if not isinstance(array, _da.Array):
        raise TypeError(f"heights must be a dask array, not {type(array).__name__}")
    if array.ndim != 2:
        raise ValueError(f"heights must have two dimensions, not {array.ndim}")
    if array.dtype.kind not in "fiub":
        raise TypeError(f"heights must hold real numbers, not {array.dtype}")
    if 0 in array.shape:
        raise ValueError(f"heights is empty ({array.shape[0]} x {array.shape[1]})")
    return array.astype(_np.float32) if array.dtype != _np.float32 else array


def _block_range(block, nodata):
    found = _rovandel.valid_range(_np.ascontiguousarray(block, dtype=_np.float32), nodata)
    return _np.array([[_np.inf, -_np.inf]] if found is None else [list(found)])


def _recorded_range(array, height_range, nodata, action):
    """The range as (1, 1) arrays, lazily from the valid heights unless given."""
    if height_range is not None:
        low, high = _rv._checked_range(action, height_range)
        return _da.from_array(_np.array([[low]])), _da.from_array(_np.array([[high]]))
    ends = _da.map_blocks(_block_range, array, nodata, dtype=float, chunks=(1, 2))
    low, high = ends[:, 0::2].min(), ends[:, 1::2].max()  # a (1, 2) block per chunk
    # No valid height at all: the range kelvamor-host records then, 0 .. 0.
    empty = low > high
    return (_da.where(empty, 0.0, low).reshape(1, 1), _da.where(empty, 0.0, high).reshape(1, 1))


def _chunked(action, array, settings, threads, nodata, height_range, water_level):
    """The lazy result of `action` on `array` (settings by the store's keys)."""
    row = _rv._ROWS[action]
    function = getattr(_rv, action)
    names = {key: _rv.SETTINGS[key]["python_name"] for key in row["settings"]}
    given = {names[k]: v for k, v in settings.items()}
    extra = {"threads": threads, "nodata": nodata}
    if action == "noise":
        extra["water_level"] = water_level

    def run(block, **more):
        return function(block, **given, **extra, **more)[0]

    halo = _rv.HALOS[action]
    if halo != 0 or action == "hill":
        # A halo, the hill's place and the noise's walk need to know where each chunk lies.
        if any(_math.isnan(size) for axis in array.chunks for size in axis):
            raise ValueError(f"{action}(): heights has chunks of unknown size; call "
                             "heights.compute_chunk_sizes() first")
    if halo is None:
        return _noise(array, settings, threads, nodata, height_range, water_level)
    if halo > 0:
        reach = halo + _rv.VOID_FILL_REACH
        # No deeper than an axis is long: a halo that covers the axis already sees it whole.
        depth = {axis: min(reach, max(0, size - 1)) for axis, size in enumerate(array.shape)}
        return array.map_overlap(run, depth=depth, boundary="none", trim=True,
                                 dtype=_np.float32)
    if action == "hill":
        rows, columns = array.shape

        def hill_block(b, block_info=None):
            (y0, _), (x0, _) = block_info[0]["array-location"]
            source = _np.ascontiguousarray(b, dtype=_np.float32)
            out = _np.empty_like(source)
            _rovandel.hill_window(source, out, threads, nodata, columns, rows, x0, y0,
                                  settings["xpos"], settings["ypos"], settings["radius"],
                                  settings["height"])
            return out

        return array.map_blocks(hill_block, dtype=_np.float32)
    if row["uses_range"]:
        low, high = _recorded_range(array, height_range, nodata, action)
        return _da.map_blocks(
            lambda b, lo, hi: run(b, height_range=(float(lo[0, 0]), float(hi[0, 0]))),
            array, low, high, dtype=_np.float32)
    return array.map_blocks(run, dtype=_np.float32)


# Values of Add Noise's sequence a survey task reads (see rovandel.noise_survey).
_NOISE_PIECE_VALUES = _rv.NOISE_PIECE_VALUES
# Points of a strip of whole columns Add Noise works on in one task (as many as a chunk
# of 4096 x 4096).
_NOISE_STRIP_POINTS = 1 << 24


def _dry_points(block, settings, nodata, water_level):
    return _rovandel.dry_points(_np.ascontiguousarray(block, dtype=_np.float32), nodata,
                                settings["water"], None,
                                None if water_level is None else float(water_level))


def _noise_strip(block, sequence, index, low, high, settings, threads, nodata, water_level,
                 piece_values):
    pieces, firsts = sequence
    source = _np.ascontiguousarray(block, dtype=_np.float32)
    return _rv._run("noise", source, None, threads, settings,
                    (float(_np.asarray(low).flat[0]), float(_np.asarray(high).flat[0])),
                    water_level, None, nodata,
                    _sequence=(pieces, piece_values, firsts[index]))[0]


def _noise(array, settings, threads, nodata, height_range, water_level):
    """Add Noise in strips of whole columns, each on its own task, placed in the walk's
    sequence by a survey of the sequence in pieces (also on their own tasks): the whole
    walk's heights at any chunking."""
    from dask import delayed
    rows, columns = array.shape
    width = max(1, min(columns, _NOISE_STRIP_POINTS // rows))
    strips = array.rechunk({0: rows, 1: width})
    low, high = (a.to_delayed().flatten()[0]
                 for a in _recorded_range(array, height_range, nodata, "noise"))
    blocks = strips.to_delayed().flatten()
    dry = [delayed(_dry_points)(b, settings, nodata, water_level) for b in blocks]
    piece_values = _NOISE_PIECE_VALUES
    pieces = [delayed(_rv._noise_piece)(settings["Seed"], settings["Coverage"], j, piece_values)
              for j in range(_rv._noise_pieces(rows * columns, settings, piece_values))]
    sequence = delayed(_rv._noise_sequence)(pieces, dry, settings, piece_values)
    parts = [_da.from_delayed(
        delayed(_noise_strip)(b, sequence, i, low, high, settings, threads, nodata,
                              water_level, piece_values),
        shape=(rows, strips.chunks[1][i]), dtype=_np.float32) for i, b in enumerate(blocks)]
    return _da.concatenate(parts, axis=1).rechunk(array.chunks)


def _make(action):
    numpy_function = getattr(_rv, action)
    parameters = [p for p in _inspect.signature(numpy_function).parameters.values()
                  if p.name not in ("out", "water_mask")]
    signature = _inspect.Signature(parameters)

    def function(*args, **kwargs):
        a, settings = _rv._bind(action, signature, args, kwargs)
        heights = a["heights"]
        threads, nodata = _rv._threads(action, a["threads"]), _rv._nodata(a["nodata"])
        if a.get("height_range") is not None:
            _rv._checked_range(action, a["height_range"])
        if _rv._is_xarray(heights):
            heights, nodata = _rv._xarray_input(heights, nodata)
            result = _chunked(action, _dask_heights(heights.data), settings, threads, nodata,
                              a.get("height_range"), a.get("water_level"))
            return heights.copy(data=result)
        return _chunked(action, _dask_heights(heights), settings, threads, nodata,
                        a.get("height_range"), a.get("water_level"))

    function.__name__ = function.__qualname__ = action
    function.__doc__ = (f"rovandel.{action} on a dask array, chunk by chunk; the lazy "
                        "float32 result.\n\n" + numpy_function.__doc__)
    function.__signature__ = signature
    function.__module__ = __name__
    return function


for _name in _rv.ACTIONS:
    globals()[_name] = _make(_name)
