"""Landscape Rovandel's terrain operations on NumPy arrays.

One function per action: ``soften``, ``soften_more``, ``noise``, ``hill``, ``flatten``,
``glaciate`` and ``canyonize``. Each takes a 2-D array of heights (rows north to south,
columns west to east, as kelvamor-host maps a raster) and the action's settings as
keyword arguments, and returns the new heights and the height range the landscape
records after it::

    heights, (lowest, highest) = rovandel.hill(dem, xpos=30, ypos=60, height=-40)
    heights, _ = rovandel.canyonize(dem, severity=60, nodata=-32768)

The results are bit for bit those of the same action run through the plug-in in
kelvamor-host. Voids (NaN, infinite, ``nodata=`` or masked cells) are filled for the
work by the host's one rule and are voids again in the result. A C-contiguous float32
array is used as it is; other real dtypes and layouts are converted to float32 once; a
masked array gives a masked array and an xarray DataArray a DataArray with its
coordinates and attributes (stored steps with ``scale_factor`` and ``add_offset``
attributes made heights first, by the host's rule). ``out=`` takes a C-contiguous
float32 array of the same shape for the result; ``threads=`` caps the threads used
(all cores by default).
:class:`Plugin` runs any plug-in module of the contract headless, as kelvamor-host does;
:mod:`rovandel.dask` runs the actions on Dask arrays of any size.
"""

import atexit as _atexit
import inspect as _inspect
import math as _math
import os as _os
import weakref as _weakref

import numpy as _np

from . import _rovandel

__version__ = _rovandel.__version__
PluginError = _rovandel.PluginError

__all__ = [
    "Plugin", "PluginError", "SETTINGS", "ACTIONS", "HALOS", "VOID_FILL_REACH", "NOISE_TYPES",
    "action_name", "height_range", "default_plugin_path",
]

#: The plug-in's settings by the store's key: kind, default, minimum, maximum, meaning
#: and the name Python gives it (``python_name``).
SETTINGS = {s["key"]: s for s in _rovandel.settings()}
_ROWS = {a["python_name"]: a for a in _rovandel.actions()}
#: The actions, as the functions, :meth:`Plugin.run` and the tiles command name them
#: (each also takes the command line's spelling, ``soften-more``).
ACTIONS = tuple(_ROWS)
#: How far one result reads around it (cells); None: the whole grid, in walk order.
HALOS = {name: (None if row["halo"] < 0 else row["halo"]) for name, row in _ROWS.items()}
#: How far a void's stand-in reads around it: a tile needs HALOS + this to be exact.
VOID_FILL_REACH = _rovandel.VOID_FILL_REACH
NOISE_TYPES = tuple(_rovandel.NOISE_TYPES)


def action_name(name):
    """An action's Python name from either spelling; ValueError naming the known ones."""
    if isinstance(name, str):
        python = name.replace("-", "_")
        if python in _ROWS:
            return python
    raise ValueError(f"unknown action {name!r} (one of {', '.join(ACTIONS)})")


def _allowed(s):
    low, high = s["minimum"], s["maximum"]
    if s["kind"] == "bool":
        return "True or False"
    if s["key"] == "Noise":
        return " or ".join(repr(t) for t in NOISE_TYPES)
    whole = "a whole number" if s["kind"] == "int" else "a number"
    if s["above_minimum"]:
        return f"{whole} above {low:g}"
    if high >= 1.7e308:
        return f"{whole}" if low <= -1.7e308 else f"{whole} from {low:g}"
    return f"{whole} from {low:g} to {high:g}"


def _setting(action, key, value, name=None):
    """The value of a setting as the plug-in takes it, or TypeError/ValueError naming it."""
    s = SETTINGS[key]
    name = name or key
    if key == "Noise" and isinstance(value, str):
        if value.lower() in NOISE_TYPES:
            return NOISE_TYPES.index(value.lower())
        raise ValueError(f"{action}(): {name} takes {_allowed(s)}, not {value!r}")
    if s["kind"] == "bool":
        if not isinstance(value, (bool, _np.bool_)):
            raise TypeError(f"{action}(): {name} takes True or False, not {type(value).__name__}")
        return bool(value)
    if isinstance(value, (bool, _np.bool_)) or not isinstance(value, (int, float, _np.integer, _np.floating)):
        raise TypeError(f"{action}(): {name} takes {_allowed(s)}, not {type(value).__name__}")
    try:
        number = float(value)
    except OverflowError:
        raise ValueError(f"{action}(): {name} takes {_allowed(s)}, not {value!r}") from None
    if s["kind"] == "int":
        if not number.is_integer():
            raise ValueError(f"{action}(): {name} takes {_allowed(s)}, not {value!r}")
        number = int(number)
    ok = _math.isfinite(number) and s["minimum"] <= number <= s["maximum"]
    if ok and s["above_minimum"] and number == s["minimum"]:
        ok = False
    if not ok:
        raise ValueError(f"{action}(): {name} takes {_allowed(s)}, not {value!r}")
    return number


def _heights(heights, name="heights"):
    """heights as a 2-D C-contiguous float32 array: as it is when it already is one; a
    masked array's masked cells NaN (voids)."""
    if _np.ma.isMaskedArray(heights):
        heights = _np.ma.filled(heights.astype(_np.float32), _np.nan)
    array = _np.asarray(heights)
    if array.dtype.kind not in "fiub":
        raise TypeError(f"{name} must hold real numbers, not {array.dtype}")
    if array.ndim != 2:
        raise ValueError(f"{name} must have two dimensions (rows, columns), not {array.ndim}")
    if 0 in array.shape:
        raise ValueError(f"{name} is empty ({array.shape[0]} x {array.shape[1]})")
    return _np.ascontiguousarray(array, dtype=_np.float32)


def _out(out, heights):
    if out is None:
        return _np.empty_like(heights)
    if not isinstance(out, _np.ndarray):
        raise TypeError(f"out must be a numpy array, not {type(out).__name__}")
    if out.dtype != _np.float32:
        raise TypeError(f"out must be float32, not {out.dtype}")
    if out.shape != heights.shape:
        raise ValueError(f"out must have the shape of heights {heights.shape}, not {out.shape}")
    if not out.flags.c_contiguous or not out.flags.writeable:
        raise ValueError("out must be C-contiguous and writeable")
    return out


def _nodata(nodata):
    if nodata is None:
        return None
    if isinstance(nodata, (bool, _np.bool_)) or not isinstance(
            nodata, (int, float, _np.integer, _np.floating)):
        raise TypeError(f"nodata must be a number, not {type(nodata).__name__}")
    return float(nodata)


def _water_level(action, level):
    """The water level as a float, or None; NaN is no level."""
    if level is None:
        return None
    level = float(level)
    if _math.isnan(level):
        raise ValueError(f"{action}(): water_level takes a number, not nan")
    return level


def height_range(heights, nodata=None):
    """The smallest and largest height of the valid cells (not NaN, infinite, masked or
    nodata): the range kelvamor-host records; (0.0, 0.0) when there is none."""
    found = _rovandel.valid_range(_heights(heights), _nodata(nodata))
    return (0.0, 0.0) if found is None else (float(found[0]), float(found[1]))


def _checked_range(action, given):
    try:
        low, high = (float(v) for v in given)
    except (TypeError, ValueError):
        raise TypeError(f"{action}(): height_range takes two numbers (low, high)") from None
    if not (_math.isfinite(low) and _math.isfinite(high)) or low > high:
        raise ValueError(f"{action}(): height_range takes finite (low, high) with low <= high, "
                         f"not {tuple(given)!r}")
    return low, high


def _is_xarray(value):
    return type(value).__module__.split(".")[0] == "xarray" and hasattr(value, "dims")


def _xarray_nodata(array):
    rio = getattr(array, "rio", None)  # with rioxarray
    if rio is not None and rio.nodata is not None:
        return rio.nodata
    return array.attrs.get("_FillValue", array.encoding.get("_FillValue"))


def _xarray_steps(array):
    """(scale, offset) when a DataArray holds stored steps that its scale_factor and
    add_offset attributes make heights of, as rioxarray reads a file unscaled; else None."""
    try:
        scale = float(array.attrs.get("scale_factor", 1.0))
        offset = float(array.attrs.get("add_offset", 0.0))
    except (TypeError, ValueError):
        raise TypeError("heights' scale_factor and add_offset attributes must be numbers") from None
    return None if (scale, offset) == (1.0, 0.0) else (scale, offset)


def _heights_of_steps(steps, nodata, scale, offset):
    return _rovandel.heights_of_steps(_np.ascontiguousarray(steps, dtype=_np.float32), nodata,
                                      scale, offset)


def _xarray_heights(array, nodata):
    """A 2-D DataArray of stored steps as heights by kelvamor-host's rule (voids NaN), its
    encoding saying how to store them again, as rioxarray's mask_and_scale gives them;
    any other DataArray as it is."""
    steps = _xarray_steps(array)
    if steps is None:
        return array
    data = array.data
    if getattr(data, "dask", None) is not None:
        data = data.map_blocks(_heights_of_steps, nodata, *steps, dtype=_np.float32)
    else:
        data = _heights_of_steps(data, nodata, *steps)
    heights = array.copy(data=data)
    heights.attrs = {k: v for k, v in array.attrs.items()
                     if k not in ("scale_factor", "add_offset", "_FillValue")}
    heights.encoding = dict(array.encoding, dtype=array.dtype, scale_factor=steps[0],
                            add_offset=steps[1])
    if nodata is not None:
        heights.encoding["_FillValue"] = nodata
    return heights


def _xarray_input(heights, nodata):
    """A DataArray's heights and NoData value: its own NoData unless one is given; stored
    steps made heights, their voids NaN."""
    if nodata is None:
        nodata = _nodata(_xarray_nodata(heights))
    if heights.ndim != 2:
        raise ValueError(f"heights must have two dimensions (rows, columns), not {heights.ndim}")
    decoded = _xarray_heights(heights, nodata)
    return (heights, nodata) if decoded is heights else (decoded, _np.nan)


def _run(action, heights, out, threads, values, given_range, water_level, water_mask, nodata,
         _sequence=(None, 0, 0)):
    """The action on heights; for Add Noise on a run of columns of a larger grid,
    _sequence is (the surveyed pieces, their size, the run's first flip)."""
    row = _ROWS[action]
    nodata = _nodata(nodata)
    if _is_xarray(heights):
        heights, nodata = _xarray_input(heights, nodata)
        if getattr(heights.data, "dask", None) is not None:
            from . import dask as _dask
            kwargs = dict(values, threads=threads, nodata=nodata)
            if row["uses_range"]:
                kwargs["height_range"] = given_range
            if action == "noise":
                kwargs.update(water_level=water_level)
            return heights.copy(data=getattr(_dask, action)(heights.data, **kwargs)), None
        result, found = _run(action, heights.values, out, threads, values, given_range,
                             water_level, water_mask, nodata)
        return heights.copy(data=result), found
    masked = _np.ma.isMaskedArray(heights)
    source = _heights(heights)
    result = _out(out, source)
    if _np.may_share_memory(source, result):
        source = source.copy()  # the kernels read neighbours: never in place
    threads = _threads(action, threads)
    low = high = 0.0
    if row["uses_range"]:
        low, high = height_range(source, nodata) if given_range is None else \
            _checked_range(action, given_range)
    mask = level = None
    if action == "noise":
        if water_mask is not None:
            mask = _np.ascontiguousarray(_np.asarray(water_mask) != 0, dtype=_np.uint8)
            if mask.shape != source.shape:
                raise ValueError(f"noise(): water_mask must have the shape of heights {source.shape}")
        level = _water_level("noise", water_level)
    found = _rovandel.run(action, source, result, threads, nodata, values, low, high, mask, level,
                          *_sequence)
    if found is None:
        # The plug-in hands over no range (it wrote no height, or one height only): the
        # landscape keeps the one it had.
        found = (low, high) if row["uses_range"] else height_range(source, nodata)
    if masked:
        result = _np.ma.masked_invalid(result, copy=False)
    return result, (float(found[0]), float(found[1]))


_ACTION_DOCS = {
    "soften": "3 x 3 weighted mean of each height (weights 1-2-1 / 2-3-2 / 1-2-1), cut off at the edges.",
    "soften_more": "5 x 5 weighted mean of each height, cut off at the edges.",
    "noise": "Seeded random offsets on a share of the points, walked column by column.",
    "hill": "Adds a Gaussian hill (or, with a negative height, a depression).",
    "flatten": "Pulls every height toward a target height.",
    "glaciate": "Rounds valleys into U shapes: height times exp((n - 1) k), n its place in the range.",
    "canyonize": "Cuts valleys into V shapes: height times 1 - exp(-k n).",
}


def _bind(action, signature, args, kwargs):
    """The call's arguments by name, and the action's settings by the store's key, checked.
    The settings store's names ("Canyonize", "FlattenHeight") are taken too."""
    keys = _ROWS[action]["settings"]
    names = {key: SETTINGS[key]["python_name"] for key in keys}
    spelled = {}  # the name the caller gave a setting, for messages
    for key in keys:
        if key in kwargs and key != names[key]:
            if names[key] in kwargs:
                raise TypeError(f"{action}(): {key} and {names[key]} are one setting")
            kwargs[names[key]] = kwargs.pop(key)
            spelled[names[key]] = key
    try:
        bound = signature.bind(*args, **kwargs)
    except TypeError as e:
        raise TypeError(f"{action}(): {e}") from None
    bound.apply_defaults()
    a = bound.arguments
    return a, {key: _setting(action, key, a[names[key]], spelled.get(names[key], names[key]))
               for key in keys}


# The most threads a run may be asked for, as kelvamor-host's --threads: the module's
# whole number (it never takes more than the machine has).
_MOST_THREADS = 2**31 - 1


def _threads(action, threads):
    """threads as a whole number from 1 to _MOST_THREADS, or None (every core)."""
    if threads is not None and (isinstance(threads, (bool, _np.bool_)) or
                                not isinstance(threads, (int, _np.integer)) or
                                not 1 <= threads <= _MOST_THREADS):
        raise ValueError(f"{action}(): threads takes a whole number from 1 to {_MOST_THREADS}")
    return None if threads is None else int(threads)


def _default(key):
    s = SETTINGS[key]
    if key == "Noise":
        return NOISE_TYPES[int(s["default"])]
    return bool(s["default"]) if s["kind"] == "bool" else (
        int(s["default"]) if s["kind"] == "int" else float(s["default"]))


def _make(action):
    row = _ROWS[action]
    keys = tuple(row["settings"])
    names = {key: SETTINGS[key]["python_name"] for key in keys}
    P = _inspect.Parameter
    parameters = [P("heights", P.POSITIONAL_ONLY)]
    for key in keys:
        parameters.append(P(names[key], P.KEYWORD_ONLY, default=_default(key)))
    if row["uses_range"]:
        parameters.append(P("height_range", P.KEYWORD_ONLY, default=None))
    if action == "noise":
        parameters.append(P("water_level", P.KEYWORD_ONLY, default=None))
        parameters.append(P("water_mask", P.KEYWORD_ONLY, default=None))
    parameters += [P("nodata", P.KEYWORD_ONLY, default=None),
                   P("out", P.KEYWORD_ONLY, default=None),
                   P("threads", P.KEYWORD_ONLY, default=None)]
    signature = _inspect.Signature(parameters)

    def function(*args, **kwargs):
        a, values = _bind(action, signature, args, kwargs)
        return _run(action, a["heights"], a["out"], a["threads"], values,
                    a.get("height_range"), a.get("water_level"), a.get("water_mask"),
                    a["nodata"])

    lines = [_ACTION_DOCS[action], "", "Parameters", "----------",
             "heights : array_like, masked array or xarray.DataArray, 2-D",
             "    Rows north to south, columns west to east."]
    for key in keys:
        s = SETTINGS[key]
        lines += [f"{names[key]} : {'str' if key == 'Noise' else s['kind']}, "
                  f"default {_default(key)!r}",
                  f"    {s['meaning']}; {_allowed(s)} (the setting {key})."]
    if row["uses_range"]:
        lines += ["height_range : (float, float), optional",
                  "    The landscape's recorded range; by default the valid heights' range."]
    if action == "noise":
        lines += ["water_level : float, optional",
                  "    Points at or below it are water (left alone while ``leave_water``).",
                  "water_mask : array_like of bool, optional",
                  "    Water given point by point instead. Voids are always water."]
    lines += ["nodata : float, optional",
              "    The value of void cells besides NaN and infinity; voids come back as it.",
              "out : ndarray of float32, optional", "    Where the result goes.",
              "threads : int, optional", "    The most threads used; all cores by default.",
              "", "Returns", "-------", "(ndarray of float32, (float, float))",
              "    The heights and the range the landscape records after the action."]
    function.__name__ = function.__qualname__ = action
    function.__doc__ = "\n".join(lines)
    function.__signature__ = signature
    function.__module__ = __name__
    return function


# One function an action of the registry (see __init__.pyi for their signatures).
for _name in ACTIONS:
    globals()[_name] = _make(_name)
__all__ += list(ACTIONS)


# Add Noise split over workers: the values of its random sequence one survey task reads
# (about a twentieth of a second's work), and the helpers rovandel.dask and the tiles
# command share to place strips of whole columns in the sequence.
NOISE_PIECE_VALUES = 1 << 24


def _noise_piece(seed, coverage, piece, piece_values):
    """How many of a piece's values are coin flips, for either start (a task's work)."""
    return _rovandel.noise_piece(seed, coverage, piece, piece_values)


def _noise_pieces(points, settings, piece_values):
    """Pieces enough for the flips of every point, by the coverage's expectation (a flip
    that takes uses up one more value); _noise_sequence adds any that are missing."""
    return int(points * (1 + settings["Coverage"] / 100) * 1.01 // piece_values) + 1


def _noise_sequence(pieces, dry, settings, piece_values):
    """The surveyed pieces, completed here in the rare case they hold fewer flips than
    there are dry points, and each strip's first flip (dry: each strip's dry points)."""
    pieces = list(pieces)
    seed, coverage = settings["Seed"], settings["Coverage"]
    while _rovandel.noise_flips(seed, coverage, piece_values, pieces) < int(sum(dry)):
        pieces.append(_rovandel.noise_piece(seed, coverage, len(pieces), piece_values))
    firsts = _np.concatenate(([0], _np.cumsum(_np.asarray(dry, dtype=_np.uint64))[:-1]))
    return pieces, [int(f) for f in firsts]


def default_plugin_path():
    """The Landscape Rovandel module installed with this package (or built beside it)."""
    installed = _os.path.join(_os.path.dirname(_os.path.abspath(__file__)),
                              _rovandel.PLUGIN_FROM_PACKAGE)
    for path in (_os.path.normpath(installed), _rovandel.BUILD_PLUGIN):
        if _os.path.exists(path):
            return path
    raise FileNotFoundError("no Landscape Rovandel module installed; give Plugin a path")


class Plugin:
    """A plug-in module of the contract, run headless as kelvamor-host runs it in batch.

    ``Plugin()`` loads Landscape Rovandel; ``Plugin(path)`` any module of the contract.
    Its dialog is answered with OK; its settings start from the defaults and take what
    :meth:`run` gives, private to each run (the user's own stay untouched).
    """

    def __init__(self, path=None):
        if path is None:
            path = default_plugin_path()
        self._plugin = _rovandel.Plugin(_os.fsdecode(_os.fspath(path)))
        _loaded.add(self)

    @property
    def name(self):
        """The name the module gives itself."""
        return self._plugin.name

    @property
    def path(self):
        return self._plugin.path

    def run(self, heights, settings=None, *, action=None, water_level=None, selection=None,
            nodata=None, water=None, mask=None):
        """Runs the plug-in on heights (an array, masked array or xarray DataArray, as
        the functions take them); the new heights and the range it recorded.

        settings: {name: value} of the plug-in's settings, by the store's name or the
        Python one (see SETTINGS); action: one of ACTIONS (else settings' "Action", else
        the default); water_level: points at or below it are water; selection: weights
        0..1 of heights' shape (NaN weighs 0), the selection the plug-in's result is
        blended through; nodata: the value of void cells (NaN, infinite and masked cells
        always are). Voids are filled for the plug-in by the host's one rule and come back
        as voids. ``water=`` and ``mask=`` are older names of water_level and selection.
        Raises PluginError with the module's message when it does not apply its action.
        """
        if water is not None:
            water_level = water if water_level is None else water_level
        if mask is not None:
            selection = mask if selection is None else selection
        if _is_xarray(heights):  # as the functions take one
            heights, nodata = _xarray_input(heights, _nodata(nodata))
            result, found = self.run(heights.values, settings, action=action,
                                     water_level=water_level, selection=selection, nodata=nodata)
            return heights.copy(data=result), found
        masked = _np.ma.isMaskedArray(heights)
        source = _heights(heights)
        if action is not None:
            action = action_name(action)
        pairs = []
        for key, value in (settings or {}).items():
            key = _store_key(key, action)
            value = _setting("run", key, value)
            pairs.append((key, ("true" if value else "false") if isinstance(value, bool) else repr(value)))
        weights = None
        if selection is not None:
            weights = _heights(selection, "selection")
            if weights.shape != source.shape:
                raise ValueError(f"run(): selection must have the shape of heights {source.shape}")
            weights = _np.where(_np.isnan(weights), _np.float32(0), _np.clip(weights, 0, 1))
            weights = _np.ascontiguousarray(weights, dtype=_np.float32)
        level = _water_level("run", water_level)
        result, found = self._plugin.run(source, action, pairs, level, weights, _nodata(nodata))
        if masked:
            result = _np.ma.masked_invalid(result, copy=False)
        return result, (float(found[0]), float(found[1]))


# Modules still loaded when the interpreter ends are unloaded first, on the thread they
# run on: their Qt objects are not to be destroyed from another.
_loaded = _weakref.WeakSet()


@_atexit.register
def _unload_plugins():
    for plugin in list(_loaded):
        plugin._plugin = None
    _rovandel.shutdown()


def _store_key(name, action=None):
    """The store's key of a setting named either way (a Python name that several actions
    share, "severity", is resolved by the action)."""
    if name in SETTINGS:
        return name
    candidates = _ROWS[action]["settings"] if action else SETTINGS
    matches = [k for k in candidates if SETTINGS[k]["python_name"] == name]
    if len(matches) == 1:
        return matches[0]
    if matches:
        raise ValueError(f"run(): {name!r} is a setting of several actions; give action= "
                         f"or the store's name ({', '.join(matches)})")
    raise ValueError(f"run(): unknown setting {name!r} (known: {', '.join(SETTINGS)})")
