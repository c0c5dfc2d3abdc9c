# The compiled engine behind the pelmora package (use the package's functions).
from typing import Any, Dict, List, Optional, Tuple

import numpy as np
import numpy.typing as npt

quantities: List[str]
bases: List[Tuple[str, str]]
ethnic: Dict[int, Dict[str, int]]
parity: List[str]
sexes: Dict[str, int]
type_mismatch: str

def batch(base: npt.NDArray[np.uint8], bwt: npt.NDArray[np.float64], gest: npt.NDArray[np.float64],
          wt: npt.NDArray[np.float64], ht: npt.NDArray[np.float64], sex: npt.NDArray[np.float64],
          eth: npt.NDArray[np.float64], par: npt.NDArray[np.float64], wanted: List[str], with_error: bool,
          with_class: bool, sga_below: float, lga_above: float, threads: int,
          max_failures: int) -> Tuple[Dict[str, npt.NDArray[np.float64]], Optional[npt.NDArray[np.int32]],
                                      Optional[npt.NDArray[np.int8]], List[Tuple[int, int, str]]]: ...
def number_in_text(text: str) -> Optional[float]: ...
def classify(centile: npt.NDArray[np.float64], sga_below: float, lga_above: float) -> npt.NDArray[np.int8]: ...
def __getattr__(name: str) -> Any: ...
