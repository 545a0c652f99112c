"""Landscape Rovandel's terrain operations on NumPy arrays.

One function per action: ``soften``, ``soften_more``, ``noise``, ``hill``, ``flatten``,
``glaciate`` and ``canyonize``. Each takes a 2-D array of heights (rows north to south,
columns west to east, as kelvamor-host maps a raster) and the action's settings as
keyword arguments, named as in the plug-in's settings, and returns the new heights and
the running height range the operation recorded::

    heights, (lowest, highest) = rovandel.hill(dem, xpos=30, ypos=60, height=-40)

The results are bit for bit those of the same action run through the plug-in in
kelvamor-host. A C-contiguous float32 array is used as it is; other real dtypes and
layouts are converted to float32 once. ``out=`` takes a C-contiguous float32 array of
the same shape for the result; ``threads=`` caps the threads used (all cores by
default). :class:`Plugin` runs any plug-in module of the contract headless, as
kelvamor-host does; :mod:`rovandel.dask` runs the actions on Dask arrays of any size.
"""

import inspect as _inspect
import math as _math

import numpy as _np

from . import _rovandel

__version__ = _rovandel.__version__
PluginError = _rovandel.PluginError

__all__ = [
    "soften", "soften_more", "noise", "hill", "flatten", "glaciate", "canyonize",
    "Plugin", "PluginError", "SETTINGS", "ACTIONS", "default_plugin_path",
]

#: The plug-in's settings: key -> kind, default, minimum, maximum, meaning.
SETTINGS = {s["key"]: s for s in _rovandel.settings()}
#: The actions as command lines and :meth:`Plugin.run` name them.
ACTIONS = tuple(_rovandel.actions())

# Each function's settings, in the order the plug-in lists them; "water" is Add Noise's
# "leave water alone".
_ACTION_SETTINGS = {
    "soften": (),
    "soften_more": (),
    "noise": ("Noise", "Amplitude", "Coverage", "Seed", "water"),
    "hill": ("xpos", "ypos", "radius", "height"),
    "flatten": ("FlattenHeight", "Flatten"),
    "glaciate": ("Glaciate",),
    "canyonize": ("Canyonize",),
}
# Actions that scale by the landscape's recorded height range.
_RANGED = {"noise", "glaciate", "canyonize"}


def _allowed(s):
    low, high = s["minimum"], s["maximum"]
    if s["kind"] == "bool":
        return "True or False"
    whole = "a whole number" if s["kind"] == "int" else "a number"
    if s["above_minimum"]:
        return f"{whole} above {low:g}"
    if high >= 1.7e308:
        return f"{whole}" if low <= -1.7e308 else f"{whole} from {low:g}"
    return f"{whole} from {low:g} to {high:g}"


def _setting(action, key, value):
    """The value of a setting as the plug-in takes it, or TypeError/ValueError."""
    s = SETTINGS[key]
    if s["kind"] == "bool":
        if not isinstance(value, (bool, _np.bool_)):
            raise TypeError(f"{action}(): {key} takes True or False, not {type(value).__name__}")
        return bool(value)
    if isinstance(value, (bool, _np.bool_)) or not isinstance(value, (int, float, _np.integer, _np.floating)):
        raise TypeError(f"{action}(): {key} takes {_allowed(s)}, not {type(value).__name__}")
    number = float(value)
    if s["kind"] == "int":
        if not number.is_integer():
            raise ValueError(f"{action}(): {key} takes {_allowed(s)}, not {value!r}")
        number = int(number)
    ok = _math.isfinite(number) and s["minimum"] <= number <= s["maximum"]
    if ok and s["above_minimum"] and number == s["minimum"]:
        ok = False
    if not ok:
        raise ValueError(f"{action}(): {key} takes {_allowed(s)}, not {value!r}")
    return number


def _heights(heights, name="heights"):
    """heights as a 2-D C-contiguous float32 array: as it is when it already is one."""
    array = _np.asarray(heights)
    if array.dtype.kind not in "fiu":
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


def height_range(heights):
    """The smallest and largest finite height: the range kelvamor-host records."""
    finite = heights[_np.isfinite(heights)]
    if finite.size == 0:
        return (0.0, 0.0)
    return (float(finite.min()), float(finite.max()))


def _run(action, heights, out, threads, values, height_range_, water_level, water_mask):
    source = _heights(heights)
    result = _out(out, source)
    if _np.may_share_memory(source, result):
        source = source.copy()  # the kernels read neighbours: never in place
    if threads is not None and (not isinstance(threads, (int, _np.integer)) or threads < 1):
        raise ValueError(f"{action}(): threads takes a whole number, 1 or more")
    if action in _RANGED:
        low, high = height_range(source) if height_range_ is None else map(float, height_range_)
    kernel = getattr(_rovandel, action)
    v = values
    if action in ("soften", "soften_more"):
        found = kernel(source, result, threads)
    elif action == "flatten":
        found = kernel(source, result, threads, v["FlattenHeight"], v["Flatten"])
    elif action in ("glaciate", "canyonize"):
        found = kernel(source, result, threads, v[action.capitalize()], low, high)
    elif action == "hill":
        found = kernel(source, result, threads, v["xpos"], v["ypos"], v["radius"], v["height"])
    else:  # noise
        mask = None
        if water_mask is not None:
            mask = _np.ascontiguousarray(_np.asarray(water_mask) != 0, dtype=_np.uint8)
            if mask.shape != source.shape:
                raise ValueError(f"noise(): water_mask must have the shape of heights {source.shape}")
        level = None if water_level is None else float(water_level)
        found = kernel(source, result, threads, v["Seed"], v["Noise"], v["Amplitude"],
                       v["Coverage"], v["water"], low, high, mask, level)
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


def _make(action):
    keys = _ACTION_SETTINGS[action]
    P = _inspect.Parameter
    parameters = [P("heights", P.POSITIONAL_ONLY)]
    for key in keys:
        s = SETTINGS[key]
        default = bool(s["default"]) if s["kind"] == "bool" else (
            int(s["default"]) if s["kind"] == "int" else float(s["default"]))
        parameters.append(P(key, P.KEYWORD_ONLY, default=default))
    if action in _RANGED:
        parameters.append(P("height_range", P.KEYWORD_ONLY, default=None))
    if action == "noise":
        parameters.append(P("water_level", P.KEYWORD_ONLY, default=None))
        parameters.append(P("water_mask", P.KEYWORD_ONLY, default=None))
    parameters.append(P("out", P.KEYWORD_ONLY, default=None))
    parameters.append(P("threads", P.KEYWORD_ONLY, default=None))
    signature = _inspect.Signature(parameters)

    def function(*args, **kwargs):
        try:
            bound = signature.bind(*args, **kwargs)
        except TypeError as e:
            raise TypeError(f"{action}(): {e}") from None
        bound.apply_defaults()
        a = bound.arguments
        values = {key: _setting(action, key, a[key]) for key in keys}
        return _run(action, a["heights"], a["out"], a["threads"], values,
                    a.get("height_range"), a.get("water_level"), a.get("water_mask"))

    lines = [_ACTION_DOCS[action], "", "Parameters", "----------",
             "heights : array_like, 2-D", "    Rows north to south, columns west to east."]
    for key in keys:
        s = SETTINGS[key]
        lines += [f"{key} : {s['kind']}, default {parameters[1 + keys.index(key)].default!r}",
                  f"    {s['meaning']}; {_allowed(s)}."]
    if action in _RANGED:
        lines += ["height_range : (float, float), optional",
                  "    The landscape's recorded range; by default the finite heights' range."]
    if action == "noise":
        lines += ["water_level : float, optional",
                  "    Points at or below it are water (left alone while ``water`` is True).",
                  "water_mask : array_like of bool, optional",
                  "    Water given point by point instead."]
    lines += ["out : ndarray of float32, optional", "    Where the result goes.",
              "threads : int, optional", "    The most threads used; all cores by default.",
              "", "Returns", "-------", "(ndarray of float32, (float, float))",
              "    The heights and the running range the operation recorded."]
    function.__name__ = function.__qualname__ = action
    function.__doc__ = "\n".join(lines)
    function.__signature__ = signature
    function.__module__ = __name__
    return function


soften = _make("soften")
soften_more = _make("soften_more")
noise = _make("noise")
hill = _make("hill")
flatten = _make("flatten")
glaciate = _make("glaciate")
canyonize = _make("canyonize")


def default_plugin_path():
    """The Landscape Rovandel module installed with this package (or built beside it)."""
    import os
    installed = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                             _rovandel.PLUGIN_FROM_PACKAGE)
    for path in (os.path.normpath(installed), _rovandel.BUILD_PLUGIN):
        if os.path.exists(path):
            return path
    raise FileNotFoundError("no Landscape Rovandel module installed; give Plugin a path")


class Plugin:
    """A plug-in module of the contract, run headless as kelvamor-host runs it in batch.

    ``Plugin()`` loads Landscape Rovandel; ``Plugin(path)`` any module of the contract.
    Its dialog is answered with OK; its settings start from the defaults and take what
    :meth:`run` gives, private to each run (the user's own stay untouched).
    """

    def __init__(self, path=None):
        self._plugin = _rovandel.Plugin(str(path) if path is not None else default_plugin_path())

    @property
    def name(self):
        """The name the module gives itself."""
        return self._plugin.name

    @property
    def path(self):
        return self._plugin.path

    def run(self, heights, settings=None, *, action=None, water=None, mask=None, nodata=None):
        """Runs the plug-in on heights; the new heights and the range it recorded.

        settings: {name: value} of the plug-in's settings (see SETTINGS); action: one of
        ACTIONS (else settings' "Action", else the default); water: the water level
        (points at or below it are water); mask: weights 0..1 of heights' shape, the
        selection the plug-in's result is blended through; nodata: the value of NoData
        cells (NaN and infinite cells always are). NoData cells are filled from their
        surroundings for the plug-in and come back as NoData. Raises PluginError with
        the module's message when it does not apply its action.
        """
        source = _heights(heights)
        pairs = []
        for key, value in (settings or {}).items():
            if key not in SETTINGS:
                raise ValueError(f"run(): unknown setting {key!r} (known: {', '.join(SETTINGS)})")
            value = _setting("run", key, value)
            pairs.append((key, ("true" if value else "false") if isinstance(value, bool) else repr(value)))
        if action is not None and action not in ACTIONS:
            raise ValueError(f"run(): unknown action {action!r} (one of {', '.join(ACTIONS)})")
        weights = None if mask is None else _np.clip(_heights(mask, "mask"), 0.0, 1.0)
        if weights is not None and weights.shape != source.shape:
            raise ValueError(f"run(): mask must have the shape of heights {source.shape}")
        level = None if water is None else float(water)
        result, found = self._plugin.run(source, action, pairs, level, weights,
                                         None if nodata is None else float(nodata))
        return result, (float(found[0]), float(found[1]))
