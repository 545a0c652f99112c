"""The actions on NumPy arrays: bit for bit what kelvamor-host gives through the
plug-in, NumPy's conventions for dtypes, layouts and out=, and the settings' names,
defaults and ranges from the plug-in's one list."""

import ast
import inspect
import os
import pathlib
import subprocess

import numpy as np
import pytest

import rovandel
from conftest import run_host, same_bits, terrain

# Per action, settings as a user gives them; odd values on purpose (a position that
# is no short decimal, a depression, severities at their ends).
CASES = [
    ("soften", {}),
    ("soften_more", {}),
    ("noise", {"Seed": 987, "Amplitude": 35, "Coverage": 60, "Noise": 0}),
    ("noise", {"Seed": -4242, "Noise": 1, "Coverage": 100}),
    ("hill", {"xpos": 100 / 3, "ypos": 71.25, "radius": 12.5, "height": -40.5}),
    ("flatten", {"FlattenHeight": 55.5, "Flatten": 100}),
    ("glaciate", {"Glaciate": 100}),
    ("canyonize", {"Canyonize": 37}),
]


def host_args(action, settings):
    args = ["--action", action.replace("_", "-")]
    for key, value in settings.items():
        args += ["--set", f"{key}={value!r}"]
    return args


@pytest.mark.parametrize("action,settings", CASES)
def test_every_action_gives_what_the_host_gives(host, tmp_path, action, settings):
    heights = terrain(37, 53, seed=len(tmp_path.name))
    expected, _ = run_host(tmp_path, heights, host_args(action, settings))
    result, (low, high) = getattr(rovandel, action)(heights, **settings)
    assert same_bits(result, expected)
    assert low <= high
    # The module run headless from Python gives the same heights.
    plugin_result, recorded = rovandel.Plugin(os.environ["ROVANDEL_MODULE"]).run(
        heights, settings, action=action.replace("_", "-"))
    assert same_bits(plugin_result, expected)
    assert (low, high) == recorded


# Where the plug-in hands over no range, the landscape keeps the one it had, as in the host:
# one height everywhere, heights past the plug-in's starting range, every point water.
@pytest.mark.parametrize("action,heights,settings", [
    ("soften", np.full((6, 7), 7.0, np.float32), {}),
    ("soften", np.linspace(3e9, 4e9, 42, dtype=np.float32).reshape(6, 7), {}),
    ("noise", np.linspace(-9, -1, 42, dtype=np.float32).reshape(6, 7), {"water_level": 0.0}),
])
def test_a_run_that_hands_over_no_range_keeps_the_landscapes(action, heights, settings):
    _, found = getattr(rovandel, action)(heights, **settings)
    _, recorded = rovandel.Plugin(os.environ["ROVANDEL_MODULE"]).run(heights, action=action,
                                                                      **settings)
    assert found == recorded == (float(heights.min()), float(heights.max()))


def test_plugin_keeps_nodata_and_blends_through_the_mask(host, tmp_path):
    heights = terrain(30, 40, seed=5)
    heights[10:14, 5:9] = -9999.0
    mask = np.zeros_like(heights)
    mask[:, 20:] = 1.0
    mask[:, 15:20] = 0.5
    settings = {"height": 80.0, "radius": 30.0}
    result, _ = rovandel.Plugin().run(heights, settings, action="hill", mask=mask, nodata=-9999)
    assert np.all(result[10:14, 5:9] == -9999.0)  # NoData comes back as NoData
    assert same_bits(result[:, :15], heights[:, :15])  # unselected: untouched
    raised, _ = rovandel.hill(heights, **settings)
    assert np.array_equal(result[:, 20:], raised[:, 20:])
    nan_heights = np.where(heights == -9999.0, np.nan, heights).astype(np.float32)
    nan_result, _ = rovandel.Plugin().run(nan_heights, settings, action="hill", mask=mask)
    assert np.isnan(nan_result[10:14, 5:9]).all()
    assert same_bits(nan_result[~np.isnan(nan_result)], result[result != -9999.0])


def test_plugin_runs_from_any_thread_and_takes_paths_and_weights_as_given():
    from concurrent.futures import ThreadPoolExecutor
    plugin = rovandel.Plugin(os.fsencode(os.environ["ROVANDEL_MODULE"]))
    heights = terrain(30, 20, seed=7)
    expected, _ = plugin.run(heights, action="soften_more")
    with ThreadPoolExecutor(3) as pool:
        results = list(pool.map(lambda _: plugin.run(heights, action="soften-more")[0], range(6)))
    assert all(same_bits(r, expected) for r in results)
    weights = np.ones_like(heights)
    weights[3, 4] = np.nan
    selected, _ = plugin.run(heights, {"severity": 100, "flatten_height": 5.0}, action="flatten",
                             selection=weights)
    assert selected[3, 4] == heights[3, 4] and selected[5, 5] == 5.0  # NaN weighs 0


def test_plugin_errors_are_python_exceptions(tmp_path, monkeypatch):
    # The module's own message, as its message box says it.
    monkeypatch.setenv("ROVANDEL_FAULT_INJECTION", "noise")
    with pytest.raises(rovandel.PluginError, match="Add Noise could not be applied"):
        rovandel.Plugin().run(terrain(8, 8, 2), action="noise")
    monkeypatch.delenv("ROVANDEL_FAULT_INJECTION")
    with pytest.raises(RuntimeError, match="not-a-module"):
        rovandel.Plugin(tmp_path / "not-a-module.so")
    with pytest.raises(ValueError, match="unknown setting 'colour'"):
        rovandel.Plugin().run(terrain(4, 4, 1), {"colour": 1})
    with pytest.raises(ValueError, match="no valid height"):
        rovandel.Plugin().run(np.full((4, 4), np.nan, np.float32))


@pytest.mark.parametrize("make", [
    lambda h: h.astype(np.float64),          # another dtype: converted once
    lambda h: np.asfortranarray(h),          # another layout
    lambda h: np.repeat(h, 2, axis=1)[:, ::2],  # a strided view
    lambda h: h.tolist(),                     # a plain list
])
def test_other_dtypes_and_layouts_give_the_same_result(make):
    heights = terrain(21, 17, seed=3)
    expected, _ = rovandel.soften_more(heights)
    result, _ = rovandel.soften_more(make(heights))
    assert same_bits(result, expected)


def test_out_receives_the_result_even_over_its_own_input():
    heights = terrain(16, 16, seed=4)
    expected, _ = rovandel.soften(heights)
    out = np.empty_like(heights)
    result, _ = rovandel.soften(heights, out=out)
    assert result is out and same_bits(out, expected)
    in_place = heights.copy()
    rovandel.soften(in_place, out=in_place)  # reads neighbours: must not see its own writes
    assert same_bits(in_place, expected)


@pytest.mark.parametrize("call,error,says", [
    (lambda: rovandel.soften(np.zeros((3, 3), complex)), TypeError, "real numbers"),
    (lambda: rovandel.soften(np.zeros((3, 3, 3), np.float32)), ValueError, "two dimensions"),
    (lambda: rovandel.soften(np.zeros((0, 3), np.float32)), ValueError, "empty"),
    (lambda: rovandel.soften(np.zeros((3, 3)), out=np.zeros((3, 3))), TypeError, "out must be float32"),
    (lambda: rovandel.soften(np.zeros((3, 3)), out=np.zeros((3, 4), np.float32)), ValueError, "shape"),
    (lambda: rovandel.hill(np.zeros((3, 3)), radius=0), ValueError, "radius takes a number above 0"),
    (lambda: rovandel.hill(np.zeros((3, 3)), xpos=101), ValueError, "xpos takes a number from 0 to 100"),
    (lambda: rovandel.flatten(np.zeros((3, 3)), Flatten=2.5), ValueError, "Flatten takes a whole number"),
    (lambda: rovandel.noise(np.zeros((3, 3)), leave_water="yes"), TypeError, "leave_water takes True or False"),
    (lambda: rovandel.noise(np.zeros((3, 3)), Seed=2**31), ValueError, "Seed takes"),
    (lambda: rovandel.glaciate(np.zeros((3, 3)), radius=5), TypeError, "glaciate()"),
    (lambda: rovandel.soften(np.zeros((3, 3)), threads=0), ValueError, "threads"),
    (lambda: rovandel.soften(np.zeros((3, 3)), threads=2**31), ValueError, "threads takes"),
])
def test_bad_arguments_are_named(call, error, says):
    with pytest.raises(error, match=says.replace("(", r"\(").replace(")", r"\)")):
        call()


def test_names_defaults_and_ranges_come_from_the_plugins_settings():
    assert rovandel.__version__ == os.environ["ROVANDEL_VERSION"]
    stub = ast.parse(pathlib.Path(rovandel.__file__).with_suffix(".pyi").read_text())
    stubs = {f.name: f for f in stub.body if isinstance(f, ast.FunctionDef)}
    for action in ("soften", "soften_more", "noise", "hill", "flatten", "glaciate", "canyonize"):
        function = getattr(rovandel, action)
        live = {name: p.default for name, p in inspect.signature(function).parameters.items()
                if p.kind is p.KEYWORD_ONLY}
        stubbed = {a.arg: ast.literal_eval(d) for a, d in
                   zip(stubs[action].args.kwonlyargs, stubs[action].args.kw_defaults)}
        assert stubbed == live, action
        taken = {s["python_name"]: s for s in rovandel.SETTINGS.values()
                 if s["key"] in rovandel._ROWS[action]["settings"]}
        assert set(taken) <= set(live), action
        for name, setting in taken.items():
            default = setting["default"]
            if setting["key"] == "Noise":
                default = rovandel.NOISE_TYPES[int(default)]
            assert live[name] == default, name
            assert setting["meaning"] in function.__doc__
    assert "from 0 to 100" in rovandel.hill.__doc__
    assert rovandel.ACTIONS == ("soften", "soften_more", "noise", "hill", "flatten",
                                "glaciate", "canyonize")


# Float heights, and 16-bit steps that the band's scale and offset make heights (read
# unscaled, as rioxarray does by default): each door gives what kelvamor-host gives for
# the file, in heights, not in steps.
@pytest.mark.parametrize("stored,action,settings", [
    ("float32", "soften_more", {}),
    ("int16", "hill", {"height": -40.5, "radius": 30}),
])
def test_an_xarray_dem_keeps_its_coordinates_crs_and_nodata(host, tmp_path, stored, action,
                                                             settings):
    pytest.importorskip("xarray")
    rioxarray = pytest.importorskip("rioxarray")
    rasterio = pytest.importorskip("rasterio")
    import rovandel.dask
    heights = terrain(80, 90, seed=6)
    nodata = -9999.0 if stored == "float32" else -32768
    stored_values = heights if stored == "float32" else np.round((heights - 100) / 0.1)
    stored_values = stored_values.astype(stored)
    stored_values[10:50, 20:60] = nodata
    path = tmp_path / "dem.tif"
    with rasterio.open(path, "w", driver="GTiff", width=90, height=80, count=1,
                       dtype=stored, crs="EPSG:32632", nodata=nodata,
                       transform=rasterio.transform.from_origin(400000, 5000000, 10, 10)) as ds:
        ds.write(stored_values, 1)
        if stored == "int16":
            ds.scales, ds.offsets = (0.1,), (100.0,)
    out = tmp_path / "host.tif"
    env = dict(os.environ, XDG_CONFIG_HOME=str(tmp_path), QT_QPA_PLATFORM="offscreen")
    subprocess.run([host, "--batch", "--plugin", os.environ["ROVANDEL_MODULE"], "-q", str(path),
                    "-o", str(out)] + host_args(action, settings), env=env, check=True)
    with rasterio.open(out) as ds:
        expected = ds.read(1, masked=True)
    voids = np.ma.getmaskarray(expected)
    assert voids[10:50, 20:60].all() and not voids[:10].any()

    def same_as_the_host(result):
        result = np.asarray(result)
        assert same_bits(result[~voids], expected.data[~voids])
        assert np.all((result[voids] == nodata) | np.isnan(result[voids]))

    dem = rioxarray.open_rasterio(path).squeeze("band", drop=True)
    result, _ = getattr(rovandel, action)(dem, **settings)
    assert result.dims == dem.dims and result.rio.crs == dem.rio.crs
    assert result.rio.transform() == dem.rio.transform()
    assert result.dtype == np.float32
    same_as_the_host(result.values)
    if stored == "int16":  # heights now, stored as the file stores them
        assert "scale_factor" not in result.attrs and result.encoding["scale_factor"] == 0.1
        assert result.rio.encoded_nodata == nodata
    else:
        assert result.rio.nodata == nodata
    plugin_result, _ = rovandel.Plugin(os.environ["ROVANDEL_MODULE"]).run(
        dem, settings, action=action.replace("_", "-"))
    assert plugin_result.dims == dem.dims
    same_as_the_host(plugin_result.values)
    lazy = rioxarray.open_rasterio(path, chunks=(1, 32, 40)).squeeze("band", drop=True)
    chunked = getattr(rovandel.dask, action)(lazy, **settings)
    assert chunked.rio.crs == dem.rio.crs and chunked.chunks is not None
    same_as_the_host(chunked.compute().values)
