# Type information for the pelmora package (see its docstrings for the inputs' meaning).
from typing import Any, Dict, Literal, Optional, Sequence, Tuple, TypeVar, Union, overload

import numpy as np
import numpy.typing as npt

# A scalar, a sequence or an array (a pandas Series too): numbers, texts, None or NaN.
Input = Any
Float = Union[float, np.floating[Any], npt.NDArray[np.float64]]
Errors = npt.NDArray[np.int32]
Texts = Union[str, npt.NDArray[np.str_]]
_Frame = TypeVar("_Frame")

QUANTITIES: Tuple[str, ...]
BASES: Tuple[Tuple[str, str], ...]

class CalculationError(ArithmeticError):
    row: int
    index: Tuple[int, ...]
    number: int
    message: str
    def __init__(self, row: int, index: Tuple[int, ...], number: int, message: str) -> None: ...

@overload
def centile(base: Input, bwt: Input, gest: Input, wt: Input, ht: Input, sex: Input, eth: Input, par: Input, *,
            errors: Literal["raise"] = ..., threads: int = ...) -> Float: ...
@overload
def centile(base: Input, bwt: Input, gest: Input, wt: Input, ht: Input, sex: Input, eth: Input, par: Input, *,
            errors: Literal["return"], threads: int = ...) -> Tuple[Float, Errors]: ...
def evaluate(base: Input, bwt: Input, gest: Input, wt: Input, ht: Input, sex: Input, eth: Input, par: Input, *,
             errors: Literal["raise", "return"] = ..., threads: int = ..., sga_below: float = ...,
             lga_above: float = ...) -> Dict[str, Any]: ...
def classify(centile: Input, sga_below: float = ..., lga_above: float = ...) -> Texts: ...
@overload
def weight_at_centile(base: Input, centile: Input, gest: Input, wt: Input, ht: Input, sex: Input, eth: Input,
                      par: Input, *, errors: Literal["raise"] = ...) -> Float: ...
@overload
def weight_at_centile(base: Input, centile: Input, gest: Input, wt: Input, ht: Input, sex: Input, eth: Input,
                      par: Input, *, errors: Literal["return"]) -> Tuple[Float, Errors]: ...
def centile_column(centile: float) -> str: ...
def curves(base: Input, wt: Input, ht: Input, sex: Input, eth: Input, par: Input,
           centiles: Sequence[float] = ..., first: int = ..., last: int = ..., *,
           frame: Optional[bool] = ...) -> Any: ...
def chart_svg(base: Input, wt: Input, ht: Input, sex: Input, eth: Input, par: Input,
              points: Sequence[Sequence[Any]] = ..., centiles: Sequence[float] = ..., first: int = ...,
              last: int = ..., edd: Optional[Any] = ...) -> str: ...
def add_centiles(df: _Frame, base: str = ..., bwt: str = ..., gest: str = ..., wt: str = ..., ht: str = ...,
                 sex: str = ..., eth: str = ..., par: str = ..., *, errors: Literal["raise", "return"] = ...,
                 threads: int = ..., sga_below: float = ..., lga_above: float = ...,
                 names: Optional[Dict[str, str]] = ...) -> _Frame: ...
