"""python3 -m rovandel.tiles as a GIS user runs it: a georeferenced GeoTIFF with
NoData in, the same georeferencing and NoData out, the tiles' result the whole grid's;
kelvamor-host's exit statuses and error style."""

import os
import subprocess
import sys

import numpy as np
import pytest

import rovandel
import rovandel.dask as rd
from conftest import same_bits, terrain

rasterio = pytest.importorskip("rasterio")


def tiles(*args):
    return subprocess.run([sys.executable, "-m", "rovandel.tiles", *map(str, args)],
                          capture_output=True, text=True, timeout=240, env=dict(os.environ))


@pytest.fixture
def dem(tmp_path):
    heights = terrain(300, 260, seed=11)
    heights[100:104, 50:53] = -32768.0
    path = tmp_path / "dem.tif"
    profile = dict(driver="GTiff", width=260, height=300, count=1, dtype="float32",
                   crs="EPSG:32632", nodata=-32768.0,
                   transform=rasterio.transform.from_origin(500000, 5200000, 30, 30))
    with rasterio.open(path, "w", **profile) as ds:
        ds.write(heights, 1)
    return path, heights


def test_tiles_keep_the_georeferencing_and_nodata(tmp_path, dem):
    path, heights = dem
    out = tmp_path / "out.tif"
    run = tiles(path, "-o", out, "--action", "soften-more", "--chunk", 64, "--workers", 2)
    assert run.returncode == 0, run.stderr
    with rasterio.open(path) as a, rasterio.open(out) as b:
        assert b.crs == a.crs and b.transform == a.transform and b.nodata == a.nodata
        written = b.read(1)
    voids = heights == -32768.0
    assert np.all(written[voids] == -32768.0)
    expected = rd.soften_more(
        __import__("dask.array").array.from_array(np.where(voids, np.nan, heights).astype(np.float32),
                                                  chunks=(300, 260))).compute()
    assert same_bits(written[~voids], expected[~voids])


@pytest.mark.parametrize("args,says", [
    (["--action", "smudge"], "--action"),
    (["--action", "hill", "--set", "radius=0"], "--set: radius"),
    (["--action", "hill", "--set", "colour=red"], "unknown setting 'colour'"),
    (["--action", "soften", "--chunk", "4"], "--chunk"),
])
def test_refused_command_lines_exit_2_and_write_nothing(tmp_path, dem, args, says):
    path, _ = dem
    run = tiles(path, "-o", tmp_path / "out.tif", *args)
    assert run.returncode == 2 and says in run.stderr, run.stderr
    assert sorted(os.listdir(tmp_path)) == ["dem.tif"]


def test_a_height_on_the_nodata_value_moves_nodata_as_the_host_does(tmp_path, dem):
    path, heights = dem
    out = tmp_path / "out.tif"
    # Flattening onto the NoData value: the heights stay heights, NoData becomes NaN.
    run = tiles(path, "-o", out, "--action", "flatten", "--set", "flatten_height=-32768",
                "--set", "Flatten=100", "--chunk", 128, "--workers", 1, "-q")
    assert run.returncode == 0, run.stderr
    assert "NoData is written as nan" in run.stderr
    with rasterio.open(out) as b:
        assert np.isnan(b.nodata)
        written = b.read(1)
    voids = heights == -32768.0
    assert np.isnan(written[voids]).all() and np.all(written[~voids] == -32768.0)


def test_a_failure_exits_1_and_leaves_the_output(tmp_path, dem):
    path, heights = dem
    broken = tmp_path / "broken.tif"
    with rasterio.open(path) as ds:
        profile = dict(ds.profile, compress="deflate", tiled=True, blockxsize=64, blockysize=64)
    with rasterio.open(broken, "w", **profile) as ds:
        ds.write(heights, 1)
    broken.write_bytes(broken.read_bytes()[:broken.stat().st_size // 2])  # a cut download
    out = tmp_path / "out.tif"
    out.write_bytes(b"old")
    run = tiles(broken, "-o", out, "--action", "soften", "--chunk", 128, "--workers", 1, "-q")
    assert run.returncode == 1 and "broken.tif" in run.stderr, run.stderr
    assert "Traceback" not in run.stderr
    assert out.read_bytes() == b"old"
    assert sorted(os.listdir(tmp_path)) == ["broken.tif", "dem.tif", "out.tif"]
