# Signatures of the rovandel package for editors and type checkers. The names,
# defaults and ranges are the plug-in's settings (tests/python checks them against it).
from typing import Mapping, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str
SETTINGS: Mapping[str, Mapping[str, object]]
ACTIONS: Tuple[str, ...]

class PluginError(RuntimeError): ...

Heights = npt.ArrayLike
Result = Tuple[npt.NDArray[np.float32], Tuple[float, float]]
Range = Optional[Tuple[float, float]]

def soften(heights: Heights, /, *, out: Optional[npt.NDArray[np.float32]] = None,
           threads: Optional[int] = None) -> Result: ...
def soften_more(heights: Heights, /, *, out: Optional[npt.NDArray[np.float32]] = None,
                threads: Optional[int] = None) -> Result: ...
def noise(heights: Heights, /, *, Noise: int = 0, Amplitude: int = 20, Coverage: int = 20,
          Seed: int = 12345, water: bool = True, height_range: Range = None,
          water_level: Optional[float] = None, water_mask: Optional[npt.ArrayLike] = None,
          out: Optional[npt.NDArray[np.float32]] = None,
          threads: Optional[int] = None) -> Result: ...
def hill(heights: Heights, /, *, xpos: float = 50.0, ypos: float = 50.0, radius: float = 10.0,
         height: float = 10.0, out: Optional[npt.NDArray[np.float32]] = None,
         threads: Optional[int] = None) -> Result: ...
def flatten(heights: Heights, /, *, FlattenHeight: float = 0.0, Flatten: int = 50,
            out: Optional[npt.NDArray[np.float32]] = None,
            threads: Optional[int] = None) -> Result: ...
def glaciate(heights: Heights, /, *, Glaciate: int = 10, height_range: Range = None,
             out: Optional[npt.NDArray[np.float32]] = None,
             threads: Optional[int] = None) -> Result: ...
def canyonize(heights: Heights, /, *, Canyonize: int = 10, height_range: Range = None,
              out: Optional[npt.NDArray[np.float32]] = None,
              threads: Optional[int] = None) -> Result: ...
def height_range(heights: npt.ArrayLike) -> Tuple[float, float]: ...
def default_plugin_path() -> str: ...

class Plugin:
    def __init__(self, path: Optional[str] = None) -> None: ...
    @property
    def name(self) -> str: ...
    @property
    def path(self) -> str: ...
    def run(self, heights: Heights, settings: Optional[Mapping[str, Union[int, float, bool]]] = None,
            *, action: Optional[str] = None, water: Optional[float] = None,
            mask: Optional[npt.ArrayLike] = None, nodata: Optional[float] = None) -> Result: ...
