"""The actions on Dask arrays: the whole grid's result whatever the chunking, voids
included, on a cluster of two worker processes too."""

import dask.array as da
import numpy as np
import pytest

import rovandel
import rovandel.dask as rd
from conftest import same_bits, terrain

SETTINGS = {
    "soften": {},
    "soften_more": {},
    "flatten": {"FlattenHeight": 12.25, "Flatten": 70},
    "glaciate": {"Glaciate": 45},
    "canyonize": {"Canyonize": 80},
    "hill": {"xpos": 30.0, "ypos": 65.5, "radius": 20.0, "height": 55.0},
    "noise": {"Seed": 31, "Coverage": 70},
}


def whole_grid(action, heights, settings):
    """The reference: voids filled from their rims, the action, voids NaN again."""
    voids = ~np.isfinite(heights)
    filled = rd.fill_voids_locally(heights)
    extra = {}
    if action in ("glaciate", "canyonize", "noise"):
        extra["height_range"] = rovandel.height_range(heights)
    result, _ = getattr(rovandel, action)(filled, **settings, **extra)
    result[voids] = np.nan
    return result


def cases():
    """Random grids and chunkings, down to 1 x N chunks and chunks below the halo."""
    rng = np.random.default_rng(2026)
    for action in SETTINGS:
        for case in range(3):
            rows, columns = (int(v) for v in rng.integers(5, 60, size=2))
            chunks = [(1, columns), (rows, 1), (1, 2), (3, 7),
                      (int(rng.integers(1, rows + 1)), int(rng.integers(1, columns + 1)))][
                (case * 2 + len(action)) % 5]
            yield pytest.param(action, rows, columns, chunks, case, id=f"{action}-{case}")


@pytest.mark.parametrize("action,rows,columns,chunks,seed", cases())
def test_any_chunking_gives_the_whole_grids_result(action, rows, columns, chunks, seed):
    heights = terrain(rows, columns, seed)
    heights[rows // 2, columns // 3] = np.nan  # a void well within the reach
    if rows > 4 and columns > 4:
        heights[1:3, -3:-1] = np.inf
    result = getattr(rd, action)(da.from_array(heights, chunks=chunks), **SETTINGS[action])
    computed = result.compute(scheduler="threads")
    assert computed.dtype == np.float32 and computed.shape == heights.shape
    assert same_bits(computed, whole_grid(action, heights, SETTINGS[action]))


def test_dask_arguments_are_checked():
    with pytest.raises(TypeError, match="dask array"):
        rd.soften(np.zeros((3, 3)))
    with pytest.raises(ValueError, match="radius takes a number above 0"):
        rd.hill(da.zeros((3, 3)), radius=0)
    with pytest.raises(TypeError, match="unexpected keyword"):
        rd.flatten(da.zeros((3, 3)), Glaciate=3)


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
