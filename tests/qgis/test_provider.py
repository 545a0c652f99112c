"""The QGIS provider as GIS users reach it: qgis_process lists it, processing.run gives
kelvamor-host's heights bit for bit on a georeferenced Int16 DEM with NoData and a scale,
a polygon mask confines the change, Cancel leaves nothing, and failures are Processing
errors. QGIS's own Python (Qt 5) only: nothing of the module's Qt 6 loads here."""

import os
import subprocess
import sys

import numpy as np
import pytest
from osgeo import gdal, osr

from qgis.core import (QgsApplication, QgsProcessingException, QgsProcessingFeedback,
                       QgsVectorLayer)

PLUGINS = os.environ["QGIS_PLUGINPATH"]
HOST = os.environ["KELVAMOR_HOST"]
gdal.UseExceptions()

QgsApplication.setPrefixPath("/usr", True)
APP = QgsApplication([], False)
APP.initQgis()
sys.path[:0] = ["/usr/share/qgis/python/plugins", PLUGINS]
from processing.core.Processing import Processing  # noqa: E402  (needs the application)
import processing  # noqa: E402
from landscape_rovandel.algorithms import SCHEMA  # noqa: E402
from landscape_rovandel.provider import RovandelProvider  # noqa: E402

Processing.initialize()
PROVIDER = RovandelProvider()
QgsApplication.processingRegistry().addProvider(PROVIDER)

W, H = 90, 70
TRANSFORM = (500000.0, 30.0, 0.0, 4000000.0, 0.0, -30.0)


def int16_dem(path, width=W, height=H):
    """Decimetres over 100 m (scale 0.1, offset 100), NoData -32768, a lake of voids."""
    y, x = np.mgrid[0:height, 0:width]
    stored = np.round(3000 + 800 * np.sin(x / 9.0) * np.cos(y / 7.0) + (x * 37 % 11)).astype(np.int16)
    stored[20:30, 40:60] = -32768
    ds = gdal.GetDriverByName("GTiff").Create(str(path), width, height, 1, gdal.GDT_Int16)
    ds.SetGeoTransform(TRANSFORM)
    srs = osr.SpatialReference()
    srs.ImportFromEPSG(32633)
    ds.SetProjection(srs.ExportToWkt())
    band = ds.GetRasterBand(1)
    band.SetNoDataValue(-32768)
    band.SetScale(0.1)
    band.SetOffset(100.0)
    band.WriteArray(stored)
    ds = None
    return path


def described(path):
    ds = gdal.Open(str(path))
    band = ds.GetRasterBand(1)
    # No scale and a scale of 1 say the same; formats differ in which they report.
    return (ds.GetGeoTransform(), ds.GetProjection(), band.GetNoDataValue(), band.DataType,
            band.GetScale() or 1.0, band.GetOffset() or 0.0, band.ReadAsArray().tobytes())


def host(tmp_path, *args):
    env = dict(os.environ, XDG_CONFIG_HOME=str(tmp_path / "config"), QT_QPA_PLATFORM="offscreen")
    subprocess.run([HOST, "--batch", "-q", *map(str, args)], env=env, check=True)


# Settings away from the defaults, as Processing parameters and as kelvamor-host's --set.
CHANGED = {"Seed": ("SEED", 5), "Coverage": ("COVERAGE", 70), "water": ("LEAVE_WATER", False),
           "radius": ("RADIUS", 25.5), "height": ("HEIGHT", -40.25),
           "FlattenHeight": ("FLATTEN_HEIGHT", 310.5), "Glaciate": ("SEVERITY", 60),
           "Canyonize": ("SEVERITY", 35), "Noise": ("NOISE_TYPE", 1)}


def test_qgis_process_lists_every_algorithm(tmp_path):
    # Debian's qgis_process wrapper passes an option its program does not know; the
    # program itself is what the wrapper runs.
    env = dict(os.environ, HOME=str(tmp_path), QT_QPA_PLATFORM="offscreen")
    subprocess.run(["qgis_process.bin", "plugins", "enable", "landscape_rovandel"], env=env,
                   check=True, capture_output=True)
    listed = subprocess.run(["qgis_process.bin", "list"], env=env, check=True,
                            capture_output=True, text=True).stdout
    for action in SCHEMA["actions"]:
        assert f"rovandel:{action['python_name']}\t{action['title']}" in listed
    assert "rovandel:module" in listed


@pytest.mark.parametrize("action", SCHEMA["actions"], ids=lambda a: a["python_name"])
def test_every_action_writes_the_hosts_heights(tmp_path, action):
    dem = int16_dem(tmp_path / "dem.tif")
    parameters = {"INPUT": str(dem), "OUTPUT": str(tmp_path / "qgis.tif"), "WATER_LEVEL": 380.5}
    sets = []
    for key in action["settings"]:
        if key in CHANGED:
            name, value = CHANGED[key]
            parameters[name] = value
            sets += ["--set", f"{key}={str(value).lower() if isinstance(value, bool) else value}"]
    result = processing.run(f"rovandel:{action['python_name']}", parameters)
    assert result["OUTPUT"] == str(tmp_path / "qgis.tif")
    host(tmp_path, dem, "-o", tmp_path / "host.tif", "--action", action["name"],
         "--water-level", 380.5, *sets)
    assert described(tmp_path / "qgis.tif") == described(tmp_path / "host.tif")


def test_another_gdal_format_holds_the_hosts_heights(tmp_path):
    dem = int16_dem(tmp_path / "dem.tif")
    processing.run("rovandel:soften", {"INPUT": str(dem), "OUTPUT": str(tmp_path / "out.img")})
    host(tmp_path, dem, "-o", tmp_path / "host.tif", "--action", "soften")
    ours, theirs = described(tmp_path / "out.img"), described(tmp_path / "host.tif")
    assert ours[0] == theirs[0] and ours[2:] == theirs[2:]  # all but the WKT's spelling
    assert osr.SpatialReference(ours[1]).IsSame(osr.SpatialReference(theirs[1]))
    assert sorted(p.name for p in tmp_path.iterdir() if p.suffix == ".tif") == ["dem.tif",
                                                                                "host.tif"]


def test_any_module_runs_with_its_stored_settings(tmp_path):
    dem = int16_dem(tmp_path / "dem.tif")
    processing.run("rovandel:module", {"INPUT": str(dem), "MODULE": os.environ["ROVANDEL_MODULE"],
                                       "OUTPUT": str(tmp_path / "qgis.asc")})
    host(tmp_path, dem, "--plugin", os.environ["ROVANDEL_MODULE"], "-o", tmp_path / "host.asc")
    assert (tmp_path / "qgis.asc").read_bytes() == (tmp_path / "host.asc").read_bytes()


def test_a_polygon_mask_confines_the_change(tmp_path):
    dem = int16_dem(tmp_path / "dem.tif")
    # The western half of the grid, in the grid's own coordinates.
    x0, y0 = TRANSFORM[0], TRANSFORM[3]
    half = x0 + 30.0 * W / 2
    layer = QgsVectorLayer("Polygon?crs=EPSG:32633", "west", "memory")
    from qgis.core import QgsFeature, QgsGeometry
    feature = QgsFeature()
    feature.setGeometry(QgsGeometry.fromWkt(
        f"POLYGON(({x0} {y0}, {half} {y0}, {half} {y0 - 30 * H}, {x0} {y0 - 30 * H}, {x0} {y0}))"))
    layer.dataProvider().addFeatures([feature])
    processing.run("rovandel:flatten", {"INPUT": str(dem), "MASK": layer, "SEVERITY": 100,
                                        "FLATTEN_HEIGHT": 400, "OUTPUT": str(tmp_path / "out.tif")})
    before, after = (gdal.Open(str(p)).ReadAsArray() for p in (dem, tmp_path / "out.tif"))
    valid = before != -32768
    heights = before * 0.1 + 100.0
    west = np.zeros_like(valid)
    west[:, :W // 2] = True
    assert np.all(after[valid & west] == 400)
    assert np.array_equal(after[valid & ~west], heights[valid & ~west].astype(np.float32))


class CancelOnceRunning(QgsProcessingFeedback):
    def setProgress(self, progress):  # noqa: N802
        super().setProgress(progress)
        if progress > 0:
            self.cancel()


def test_cancel_leaves_no_output_and_no_temporary(tmp_path):
    dem = int16_dem(tmp_path / "dem.tif", 3000, 2500)
    out = tmp_path / "out.tif"
    out.write_bytes(b"old")
    with pytest.raises(QgsProcessingException):
        processing.run("rovandel:soften_more", {"INPUT": str(dem), "OUTPUT": str(out)},
                       feedback=CancelOnceRunning())
    assert out.read_bytes() == b"old"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["dem.tif", "out.tif"]


@pytest.mark.parametrize("case", ["missing module", "bad parameter", "unreadable raster"])
def test_failures_are_processing_errors(tmp_path, case, capsys):
    dem = int16_dem(tmp_path / "dem.tif")
    out = tmp_path / "out.tif"
    if case == "missing module":
        algorithm, parameters = "rovandel:module", {"MODULE": str(tmp_path / "none.so")}
    elif case == "bad parameter":
        algorithm, parameters = "rovandel:hill", {"RADIUS": 0}
    else:
        dem = tmp_path / "cut.tif"
        dem.write_bytes(int16_dem(tmp_path / "whole.tif").read_bytes()[:900])
        algorithm, parameters = "rovandel:soften", {}
    with pytest.raises(QgsProcessingException):
        processing.run(algorithm, {"INPUT": str(dem), "OUTPUT": str(out), **parameters})
    assert not out.exists()
