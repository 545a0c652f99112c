"""One answer: kelvamor-host's batch output, the NumPy functions, Plugin.run and the
actions on Dask arrays at any chunking give the same heights, whatever the voids; on a
cluster of two worker processes too."""

import dask.array as da
import numpy as np
import pytest

import rovandel
import rovandel.dask as rd
from conftest import run_host, same_bits, terrain

# Settings by the store's names (kelvamor-host's --set); the functions take them too.
SETTINGS = {
    "soften": {},
    "soften_more": {},
    "flatten": {"FlattenHeight": 12.25, "Flatten": 70},
    "glaciate": {"Glaciate": 45},
    "canyonize": {"Canyonize": 80},
    "hill": {"xpos": 30.0, "ypos": 65.5, "radius": 20.0, "height": 55.0},
    "noise": {"Seed": 31, "Coverage": 70, "water": True},
}

VOIDS = ("none", "scattered", "lake", "edges", "rows and columns")


def with_voids(heights, kind, rng):
    """heights with voids (NaN or infinite) of one kind, drawn at random."""
    rows, columns = heights.shape
    h = heights.copy()
    if kind == "scattered":
        h.flat[rng.integers(0, h.size, max(1, h.size // 50))] = np.nan
    elif kind == "lake":  # larger than several chunks, one corner of it on valid land
        h[rows // 5: rows - rows // 4, columns // 6: columns - columns // 5] = np.nan
    elif kind == "edges":
        h[:2, :] = np.inf
        h[:, -3:] = np.nan
    elif kind == "rows and columns":
        h[int(rng.integers(0, rows)), :] = np.nan
        h[:, int(rng.integers(0, columns))] = -np.inf
    if not np.isfinite(h).any():
        h[0, 0] = 1.0
    return h


def cases():
    """Every action on random grids, each kind of void, and chunkings down to 1 x N and
    chunks below the halo."""
    rng = np.random.default_rng(2026)
    for action in SETTINGS:
        for case, kind in enumerate(VOIDS):
            rows, columns = (int(v) for v in rng.integers(6, 70, size=2))
            chunkings = [(1, columns), (rows, 1), (2, 3), (7, 5),
                         (int(rng.integers(1, rows + 1)), int(rng.integers(1, columns + 1)))]
            pair = [chunkings[(case + len(action)) % 5], chunkings[(case + 2) % 5]]
            yield pytest.param(action, rows, columns, kind, pair, case, id=f"{action}-{kind}")


def same_heights(a, b):
    """The same voids, and the same bits in every other cell."""
    a, b = np.asarray(a, np.float32), np.asarray(b, np.float32)
    voids = np.isnan(a)
    return np.array_equal(voids, np.isnan(b)) and same_bits(a[~voids], b[~voids])


@pytest.mark.parametrize("action,rows,columns,kind,chunkings,seed", cases())
def test_every_path_gives_the_hosts_heights(host, tmp_path, monkeypatch, action, rows, columns,
                                            kind, chunkings, seed):
    # Add Noise in strips of a few columns, on a sequence surveyed in small pieces, so
    # that strips and pieces start anywhere in the walk.
    monkeypatch.setattr(rd, "_NOISE_PIECE_VALUES", 29 + 7 * seed)
    monkeypatch.setattr(rd, "_NOISE_STRIP_POINTS", rows * (1 + seed % 3))
    heights = with_voids(terrain(rows, columns, seed), kind, np.random.default_rng(seed))
    settings = SETTINGS[action]
    args = ["--action", action] + [f"--set={k}={v!r}" for k, v in settings.items()]
    expected, _ = run_host(tmp_path, heights, args)
    result, _ = getattr(rovandel, action)(heights, **settings)
    assert same_heights(result, expected), "NumPy"
    plugin_result, _ = rovandel.Plugin().run(heights, settings, action=action)
    assert same_heights(plugin_result, expected), "Plugin.run"
    for chunks in chunkings:
        lazy = getattr(rd, action)(da.from_array(heights, chunks=chunks), **settings)
        computed = lazy.compute(scheduler="threads")
        assert computed.dtype == np.float32 and computed.shape == heights.shape
        assert same_heights(computed, expected), f"dask, chunks {chunks}"


def test_a_void_is_water_and_nodata_masks_and_arrays_keep_their_kind(host, tmp_path):
    heights = terrain(40, 50, seed=9)
    heights[5:25, 10:30] = -32768.0
    settings = {"Seed": 5, "Coverage": 80, "water": True}
    args = ["--action", "noise", "--water-level", "-50"] + [f"--set={k}={v!r}" for k, v in settings.items()]
    expected, _ = run_host(tmp_path, np.where(heights == -32768, np.nan, heights), args)
    # nodata=, NaN, a masked array and an integer array are the same voids.
    by_value, _ = rovandel.noise(heights, seed=5, coverage=80, water_level=-50, nodata=-32768)
    assert np.all(by_value[heights == -32768] == -32768)
    by_value[heights == -32768] = np.nan
    assert same_heights(by_value, expected)
    masked = np.ma.masked_equal(heights, -32768)
    by_mask, _ = rovandel.noise(masked, Seed=5, Coverage=80, water_level=-50)
    assert isinstance(by_mask, np.ma.MaskedArray)
    assert np.array_equal(by_mask.mask, heights == -32768)
    assert same_heights(by_mask.filled(np.nan), expected)
    whole = np.round(heights).astype(np.int16)
    expected_whole, _ = run_host(tmp_path, np.where(whole == -32768, np.nan, whole).astype(np.float32),
                                 ["--action", "soften"])
    soft, _ = rovandel.soften(whole, nodata=-32768)
    assert same_heights(np.where(soft == -32768, np.nan, soft), expected_whole)
    # Without leave_water, a void draws as a height does: the fill cannot show anyway.
    dry, _ = rovandel.noise(heights, nodata=-32768, leave_water=False, seed=5)
    run_dry, _ = run_host(tmp_path, np.where(heights == -32768, np.nan, heights),
                          ["--action", "noise", "--set", "water=false", "--set", "Seed=5"])
    assert same_heights(np.where(dry == -32768, np.nan, dry), run_dry)


def test_dask_arguments_are_checked():
    with pytest.raises(TypeError, match="dask array"):
        rd.soften(np.zeros((3, 3)))
    with pytest.raises(ValueError, match="radius takes a number above 0"):
        rd.hill(da.zeros((3, 3)), radius=0)
    with pytest.raises(TypeError, match="unexpected keyword"):
        rd.flatten(da.zeros((3, 3)), Glaciate=3)
    with pytest.raises(ValueError, match="height_range"):
        rd.glaciate(da.zeros((3, 3)), height_range=(100, 0))
    with pytest.raises(TypeError, match="void_reach"):
        rd.soften(da.zeros((3, 3)), void_reach=-3)
    # Chunks of unknown size: a halo, the hill's place and the noise's walk need them.
    unknown = da.zeros((4, 4), chunks=2).map_blocks(lambda b: b, chunks=((np.nan,) * 2, (2, 2)))
    for action in (rd.soften, rd.soften_more, rd.hill, rd.noise):
        with pytest.raises(ValueError, match="compute_chunk_sizes"):
            action(unknown)


def test_a_cluster_of_two_workers_gives_the_whole_grids_result():
    distributed = pytest.importorskip("distributed")
    heights = terrain(4096, 4096, seed=8)
    expected, _ = rovandel.soften(heights)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        result = rd.soften(da.from_array(heights, chunks=(512, 512))).compute()
        assert len(client.scheduler_info()["workers"]) == 2
    assert same_bits(result, expected)
