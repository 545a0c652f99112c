"""python3 -m rovandel.tiles as a GIS user runs it: a georeferenced GeoTIFF with
NoData in, the same georeferencing and NoData out, the tiles' result the whole grid's;
kelvamor-host's exit statuses and error style."""

import os
import signal
import subprocess
import sys

import numpy as np
import pytest

import rovandel
import rovandel.dask as rd
from conftest import same_bits, terrain

rasterio = pytest.importorskip("rasterio")


def tiles(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "rovandel.tiles", *map(str, args)],
                          capture_output=True, text=True, errors="surrogateescape", timeout=240,
                          env=dict(os.environ),
                          cwd=cwd)


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
    # The action as a setting, and a setting of another action, as kelvamor-host takes them.
    run = tiles(path, "-o", out, "--set", "Action=1", "--set", "radius=5", "--chunk", 64,
                "--workers", 2, "--scheduler", "local")  # worker processes
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


def int16_dem(tmp_path, bands=1):
    """The commonest DEM there is: Int16 decimetres over 100 m (scale 0.1, offset 100),
    NoData -32768, with a lake larger than a tile, void rows at the edge and scattered
    voids."""
    rng = np.random.default_rng(4)
    heights = terrain(260, 300, seed=3)
    stored = np.round((heights + 100) / 0.1).astype(np.int16)
    stored[40:200, 60:220] = -32768
    stored[:3, :] = -32768
    stored.flat[rng.integers(0, stored.size, 200)] = -32768
    path = tmp_path / "dm.tif"
    profile = dict(driver="GTiff", width=300, height=260, count=bands, dtype="int16",
                   crs="EPSG:32633", nodata=-32768,
                   transform=rasterio.transform.from_origin(500000, 4000000, 30, 30))
    with rasterio.open(path, "w", **profile) as ds:
        for band in range(1, bands + 1):
            ds.write(stored, band)
        ds.scales = (0.1,) * bands
        ds.offsets = (100.0,) * bands
    return path


@pytest.mark.parametrize("action,settings", [
    ("soften", []), ("soften-more", []), ("glaciate", ["--set", "Glaciate=60"]),
    ("noise", ["--set", "Seed=3", "--set", "Coverage=70"]),
    ("noise", ["--set", "Seed=3", "--set", "water=false"]),
    # Whole steps of the input's scale, and of one metre from 0.
    ("noise", ["--set", "Seed=5", "--ot", "Int16"]),
    ("soften-more", ["--ot", "int16"]),
])
def test_the_tiles_write_the_hosts_heights(host, tmp_path, action, settings):
    """Int16 with scale, offset and voids wider than a tile: the same heights, NoData,
    coordinate system and geotransform as kelvamor-host's batch output."""
    path = int16_dem(tmp_path)
    ours, theirs = tmp_path / "tiles.tif", tmp_path / "host.tif"
    run = tiles(path.name, "-o", ours, "--action", action, *settings, "--chunk", 64,
                "--workers", 2, "-q", cwd=tmp_path)  # a relative input, workers elsewhere
    assert run.returncode == 0 and run.stderr == "", run.stderr
    env = dict(os.environ, XDG_CONFIG_HOME=str(tmp_path), QT_QPA_PLATFORM="offscreen")
    subprocess.run([host, "--batch", "--plugin", os.environ["ROVANDEL_MODULE"], "-q", str(path),
                    "-o", str(theirs), "--action", action, *settings], env=env, check=True)
    with rasterio.open(ours) as a, rasterio.open(theirs) as b:
        assert (a.crs, a.transform, a.nodata, a.dtypes) == (b.crs, b.transform, b.nodata, b.dtypes)
        assert same_bits(a.read(1), b.read(1))
    assert oct(ours.stat().st_mode & 0o777) == oct(theirs.stat().st_mode & 0o777)


def test_a_band_is_chosen_and_a_link_stays_a_link(tmp_path):
    path = int16_dem(tmp_path, bands=2)
    run = tiles(path, "-o", tmp_path / "out.tif", "--action", "soften")
    assert run.returncode == 2 and "--band" in run.stderr, run.stderr
    # One band is never written over both.
    run = tiles(path, "-o", path, "--action", "soften", "--band", 2)
    assert run.returncode == 2 and "is the input" in run.stderr, run.stderr
    with rasterio.open(path) as ds:
        assert ds.count == 2
    (tmp_path / "real.tif").write_bytes(b"old")
    (tmp_path / "link.tif").symlink_to("real.tif")
    run = tiles(path, "-o", tmp_path / "link.tif", "--action", "soften", "--band", 2,
                "--chunk", 128, "--workers", 1, "-q")
    assert run.returncode == 0, run.stderr
    assert (tmp_path / "link.tif").is_symlink()
    with rasterio.open(tmp_path / "real.tif") as ds:
        assert ds.count == 1 and ds.nodata == -32768
    # Names that are not UTF-8 are a file system's own: read, written and said back as bytes.
    odd = tmp_path / os.fsdecode(b"\xff.tif")
    odd.write_bytes(path.read_bytes()[:5000])  # cut: the error names it
    run = tiles(odd, "-o", tmp_path / os.fsdecode(b"\xfe.tif"), "--action", "soften", "--band", 1)
    assert run.returncode == 1 and "Traceback" not in run.stderr, run.stderr
    odd.write_bytes(path.read_bytes())
    run = tiles(odd, "-o", tmp_path / os.fsdecode(b"\xfe.tif"), "--action", "soften", "--band", 1)
    assert run.returncode == 0, run.stderr
    assert os.fsencode(run.stdout.strip()).endswith(b"\xfe.tif")


def test_a_signal_leaves_the_output_and_no_temporary(tmp_path, dem):
    path, _ = dem
    out = tmp_path / "out.tif"
    out.write_bytes(b"old")
    process = subprocess.Popen(
        [sys.executable, "-m", "rovandel.tiles", str(path), "-o", str(out), "--action", "noise",
         "--chunk", "64", "--workers", "1"], stderr=subprocess.PIPE, text=True)
    # Once a tile is written, the temporary exists: the signal lands mid-write.
    line = process.stderr.readline()
    while "tiles:" not in line and line:
        line = process.stderr.readline()
    process.send_signal(signal.SIGTERM)
    _, rest = process.communicate(timeout=60)
    assert process.returncode == 128 + signal.SIGTERM, rest
    assert "Traceback" not in rest and "unchanged" in rest
    assert out.read_bytes() == b"old"
    assert sorted(os.listdir(tmp_path)) == ["dem.tif", "out.tif"]


@pytest.mark.parametrize("args,says", [
    (["--action", "smudge"], "--action"),
    (["--action", "hill", "--set", "radius=0"], "--set: radius"),
    (["--action", "hill", "--set", "colour=red"], "unknown setting 'colour'"),
    (["--action", "soften", "--chunk", "4"], "--chunk"),
    (["--action", "soften", "--memory-limit", "abc"], "--memory-limit"),
    (["--action", "soften", "--memory-limit", "1e400"], "--memory-limit"),
    (["--action", "soften", "--band", "2"], "--band"),
    (["--action", "soften", "--threads", "0"], "--threads"),
    (["--action", "soften", "--threads", "2147483648"], "--threads takes"),
    ([], "--action"),
])
def test_refused_command_lines_exit_2_and_write_nothing(tmp_path, dem, args, says):
    path, _ = dem
    run = tiles(path, "-o", tmp_path / "out.tif", *args)
    assert run.returncode == 2 and says in run.stderr, run.stderr
    assert sorted(os.listdir(tmp_path)) == ["dem.tif"]


@pytest.mark.parametrize("ot,moved", [("Float32", np.nan), ("Int16", 32767.0)])
def test_a_height_on_the_nodata_value_moves_nodata_as_the_host_does(host, tmp_path, dem, ot,
                                                                    moved):
    path, heights = dem
    out, theirs = tmp_path / "out.tif", tmp_path / "host.tif"
    # Flattening onto the NoData value: the heights stay heights, NoData moves.
    flat = ["--action", "flatten", "--set", "FlattenHeight=-32768", "--set", "Flatten=100",
            "--ot", ot]
    run = tiles(path, "-o", out, *flat, "--chunk", 128, "--workers", 1, "-q")
    assert run.returncode == 0, run.stderr
    assert f"NoData is written as {moved:.9g}" in run.stderr
    env = dict(os.environ, XDG_CONFIG_HOME=str(tmp_path), QT_QPA_PLATFORM="offscreen")
    subprocess.run([host, "--batch", "--plugin", os.environ["ROVANDEL_MODULE"], "-q", str(path),
                    "-o", str(theirs), *flat], env=env, check=True)
    with rasterio.open(out) as a, rasterio.open(theirs) as b:
        assert same_bits(np.float64(a.nodata), np.float64(moved)) and same_bits(a.nodata, b.nodata)
        written = a.read(1)
        assert same_bits(written, b.read(1))
    voids = heights == -32768.0
    assert same_bits(written[voids], np.full(voids.sum(), moved, written.dtype))
    assert np.all(written[~voids] == -32768)


@pytest.mark.parametrize("case", ["a cut file", "heights beyond UInt16"])
def test_a_failure_exits_1_and_leaves_the_output(tmp_path, dem, case):
    path, heights = dem
    args, says = ["--action", "soften"], "broken.tif"
    if case == "a cut file":
        broken = tmp_path / "broken.tif"
        with rasterio.open(path) as ds:
            profile = dict(ds.profile, compress="deflate", tiled=True, blockxsize=64,
                           blockysize=64)
        with rasterio.open(broken, "w", **profile) as ds:
            ds.write(heights, 1)
        broken.write_bytes(broken.read_bytes()[:broken.stat().st_size // 2])  # a cut download
        path = broken
    else:
        args = ["--action", "flatten", "--set", "FlattenHeight=-50", "--set", "Flatten=100",
                "--ot", "UInt16"]
        says = "cannot hold these heights as UInt16: they come to -50 .. -50"
    out = tmp_path / "out.tif"
    out.write_bytes(b"old")
    before = sorted(os.listdir(tmp_path))
    run = tiles(path, "-o", out, *args, "--chunk", 128, "--workers", 1, "-q")
    assert run.returncode == 1 and says in run.stderr, run.stderr
    assert "Traceback" not in run.stderr
    assert out.read_bytes() == b"old"
    assert sorted(os.listdir(tmp_path)) == before
