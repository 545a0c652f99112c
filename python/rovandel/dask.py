"""Landscape Rovandel's actions on Dask arrays of any size, chunk by chunk.

Each function takes a 2-D ``dask.array.Array`` of heights and the action's settings as
keyword arguments, named as in :mod:`rovandel`, and returns a lazy float32 array whose
every value is the one the whole-grid function gives, whatever the chunking:

- ``soften`` and ``soften_more`` work on each chunk with a halo of 1 and 2 cells
  (``map_overlap``), and the grid's own edge rule applies at the grid's edges only.
- ``flatten``, ``glaciate``, ``canyonize`` and ``hill`` work point by point; the hill's
  position and size refer to the whole grid. Glaciate and Canyonize (and Noise) scale by
  the recorded height range: give ``height_range=(low, high)``, or it is computed lazily
  from the finite heights.
- ``noise`` walks the whole grid in one order that no chunking can split yet: it runs as
  one task over the whole grid (which must fit one worker's memory).

NoData is NaN (infinite values count as NaN). Each void is filled from its rim for the
work (:func:`rovandel.fill_voids_locally`) and is NaN again in the result. A chunk is
given ``void_reach`` more cells of halo for this: the result equals the whole grid's
(filled the same way) exactly when every void with its rim lies within that reach of
the chunk it touches.
"""

import dask.array as _da
import numpy as _np

import rovandel as _rv
from . import _rovandel

__all__ = ["soften", "soften_more", "noise", "hill", "flatten", "glaciate", "canyonize",
           "fill_voids_locally"]

_HALO = {"soften": 1, "soften_more": 2}


def fill_voids_locally(heights):
    """NaN/infinite cells of a NumPy array filled from their rims (a new float32 array)."""
    filled = _np.array(heights, dtype=_np.float32, order="C", copy=True)
    filled[~_np.isfinite(filled)] = _np.nan
    _rovandel.fill_voids_locally(filled)
    return filled


def _dask_heights(array):
    if not isinstance(array, _da.Array):
        raise TypeError(f"heights must be a dask array, not {type(array).__name__}")
    if array.ndim != 2:
        raise ValueError(f"heights must have two dimensions, not {array.ndim}")
    if array.dtype.kind not in "fiu":
        raise TypeError(f"heights must hold real numbers, not {array.dtype}")
    return array.astype(_np.float32) if array.dtype != _np.float32 else array


def _values(action, keys, given):
    unknown = set(given) - set(keys)
    if unknown:
        raise TypeError(f"{action}() got unexpected keyword arguments: {', '.join(sorted(unknown))}")
    return {k: given[k] for k in keys if k in given}


def _with_voids(block, work):
    """work(filled block) with the block's voids filled from their rims, NaN again after."""
    block = _np.ascontiguousarray(block, dtype=_np.float32)
    voids = ~_np.isfinite(block)
    if voids.any():
        block = fill_voids_locally(block)
    result = work(block)
    result[voids] = _np.nan
    return result


def _local(action, array, threads, void_reach):
    array = _dask_heights(array)
    function = getattr(_rv, action)
    # No deeper than an axis is long: a halo that covers the axis already sees it whole.
    reach = _HALO[action] + int(void_reach)
    depth = {axis: min(reach, max(0, size - 1)) for axis, size in enumerate(array.shape)}
    return array.map_overlap(
        lambda b: _with_voids(b, lambda f: function(f, threads=threads)[0]),
        depth=depth, boundary="none", trim=True, dtype=_np.float32)


def soften(heights, *, threads=None, void_reach=16):
    """rovandel.soften on a dask array, chunk by chunk with a halo of 1."""
    return _local("soften", heights, threads, void_reach)


def soften_more(heights, *, threads=None, void_reach=16):
    """rovandel.soften_more on a dask array, chunk by chunk with a halo of 2."""
    return _local("soften_more", heights, threads, void_reach)


def _recorded_range(array, height_range):
    """The range as (1, 1) arrays, lazily from the finite heights unless given."""
    if height_range is not None:
        low, high = (float(v) for v in height_range)
        return _da.from_array(_np.array([[low]])), _da.from_array(_np.array([[high]]))
    finite = _da.isfinite(array)
    low = _da.where(finite, array, _np.inf).min()
    high = _da.where(finite, array, -_np.inf).max()
    # No finite height at all: the range kelvamor-host records then, 0 .. 0.
    low = _da.where(_da.isfinite(low), low, 0.0)
    high = _da.where(_da.isfinite(high), high, 0.0)
    return low.reshape(1, 1), high.reshape(1, 1)


def _pointwise(action, array, threads, settings, height_range=None):
    array = _dask_heights(array)
    function = getattr(_rv, action)
    if action in ("glaciate", "canyonize"):
        low, high = _recorded_range(array, height_range)

        def block(b, lo, hi):
            return _with_voids(b, lambda f: function(
                f, height_range=(float(lo[0, 0]), float(hi[0, 0])), threads=threads,
                **settings)[0])

        return _da.map_blocks(block, array, low, high, dtype=_np.float32)
    return array.map_blocks(
        lambda b: _with_voids(b, lambda f: function(f, threads=threads, **settings)[0]),
        dtype=_np.float32)


def flatten(heights, *, threads=None, **settings):
    """rovandel.flatten on a dask array, point by point (FlattenHeight, Flatten)."""
    settings = _values("flatten", ("FlattenHeight", "Flatten"), settings)
    _rv.flatten(_np.zeros((1, 1), _np.float32), **settings)  # checks the settings now
    return _pointwise("flatten", heights, threads, settings)


def glaciate(heights, *, height_range=None, threads=None, **settings):
    """rovandel.glaciate on a dask array, point by point (Glaciate)."""
    settings = _values("glaciate", ("Glaciate",), settings)
    _rv.glaciate(_np.zeros((1, 1), _np.float32), **settings)
    return _pointwise("glaciate", heights, threads, settings, height_range)


def canyonize(heights, *, height_range=None, threads=None, **settings):
    """rovandel.canyonize on a dask array, point by point (Canyonize)."""
    settings = _values("canyonize", ("Canyonize",), settings)
    _rv.canyonize(_np.zeros((1, 1), _np.float32), **settings)
    return _pointwise("canyonize", heights, threads, settings, height_range)


def hill(heights, *, threads=None, **settings):
    """rovandel.hill on a dask array: each chunk computes its own points of the hill of
    the whole grid (xpos, ypos, radius, height refer to the whole grid)."""
    settings = _values("hill", ("xpos", "ypos", "radius", "height"), settings)
    _rv.hill(_np.zeros((1, 1), _np.float32), **settings)  # checks the settings now
    full = {k: _rv._setting("hill", k, settings.get(k, _rv.SETTINGS[k]["default"]))
            for k in ("xpos", "ypos", "radius", "height")}
    array = _dask_heights(heights)
    rows, columns = array.shape

    def block(b, block_info=None):
        (y0, _), (x0, _) = block_info[0]["array-location"]

        def work(f):
            out = _np.empty_like(f)
            _rovandel.hill_window(f, out, threads, columns, rows, x0, y0, full["xpos"],
                                  full["ypos"], full["radius"], full["height"])
            return out

        return _with_voids(b, work)

    return array.map_blocks(block, dtype=_np.float32)


def noise(heights, *, height_range=None, water_level=None, threads=None, **settings):
    """rovandel.noise on a dask array. The walk runs over the whole grid in one task
    (the grid must fit one worker's memory); the result has the input's chunks."""
    settings = _values("noise", ("Noise", "Amplitude", "Coverage", "Seed", "water"), settings)
    _rv.noise(_np.zeros((1, 1), _np.float32), **settings)
    array = _dask_heights(heights)
    low, high = _recorded_range(array, height_range)
    whole = array.rechunk(array.shape)

    def block(b, lo, hi):
        return _with_voids(b, lambda f: _rv.noise(
            f, height_range=(float(lo[0, 0]), float(hi[0, 0])), water_level=water_level,
            threads=threads, **settings)[0])

    return _da.map_blocks(block, whole, low, high, dtype=_np.float32).rechunk(array.chunks)
