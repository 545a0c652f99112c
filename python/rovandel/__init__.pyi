# Signatures of the rovandel package for editors and type checkers. The names,
# defaults and ranges are the plug-in's settings (tests/python checks them against it).
from typing import Any, Mapping, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str
SETTINGS: Mapping[str, Mapping[str, object]]
ACTIONS: Tuple[str, ...]
HALOS: Mapping[str, Optional[int]]
VOID_FILL_REACH: int
NOISE_TYPES: Tuple[str, ...]

class PluginError(RuntimeError): ...

Heights = Union[npt.ArrayLike, Any]  # also a masked array or an xarray DataArray
Result = Tuple[Any, Optional[Tuple[float, float]]]
Range = Optional[Tuple[float, float]]
Out = Optional[npt.NDArray[np.float32]]

def soften(heights: Heights, /, *, nodata: Optional[float] = None, out: Out = None,
           threads: Optional[int] = None) -> Result: ...
def soften_more(heights: Heights, /, *, nodata: Optional[float] = None, out: Out = None,
                threads: Optional[int] = None) -> Result: ...
def noise(heights: Heights, /, *, noise_type: str = 'random', amplitude: int = 20,
          coverage: int = 20, seed: int = 12345, leave_water: bool = True,
          height_range: Range = None, water_level: Optional[float] = None,
          water_mask: Optional[npt.ArrayLike] = None, nodata: Optional[float] = None,
          out: Out = None, threads: Optional[int] = None) -> Result: ...
def hill(heights: Heights, /, *, xpos: float = 50.0, ypos: float = 50.0, radius: float = 10.0,
         height: float = 10.0, nodata: Optional[float] = None, out: Out = None,
         threads: Optional[int] = None) -> Result: ...
def flatten(heights: Heights, /, *, flatten_height: float = 0.0, severity: int = 50,
            nodata: Optional[float] = None, out: Out = None,
            threads: Optional[int] = None) -> Result: ...
def glaciate(heights: Heights, /, *, severity: int = 10, height_range: Range = None,
             nodata: Optional[float] = None, out: Out = None,
             threads: Optional[int] = None) -> Result: ...
def canyonize(heights: Heights, /, *, severity: int = 10, height_range: Range = None,
              nodata: Optional[float] = None, out: Out = None,
              threads: Optional[int] = None) -> Result: ...
def height_range(heights: npt.ArrayLike, nodata: Optional[float] = None) -> Tuple[float, float]: ...
def action_name(name: str) -> str: ...
def default_plugin_path() -> str: ...

class Plugin:
    def __init__(self, path: Optional[Union[str, bytes, Any]] = None) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def path(self) -> str: ...
    def run(self, heights: Heights, settings: Optional[Mapping[str, Union[int, float, bool, str]]] = None,
            *, action: Optional[str] = None, water_level: Optional[float] = None,
            selection: Optional[npt.ArrayLike] = None, nodata: Optional[float] = None,
            water: Optional[float] = None, mask: Optional[npt.ArrayLike] = None) -> Result: ...
