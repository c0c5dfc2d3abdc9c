"""Customised birth-weight centiles for whole cohorts.

Every function takes scalars or arrays (lists, numpy arrays, pandas Series or columns) that
broadcast as numpy broadcasts, and returns float arrays (a numpy scalar for scalar inputs).
Results are the calculators' own, bit for bit: those of the control and of
``pelmora-centile`` on the same numbers.

Inputs, as for the control's calculators:

- ``base``: 0 United Kingdom, 1 Sweden, 2 New Zealand, 3 Australia, or the name or tag
  ("United Kingdom", "uk", "Sweden", "swe", "New Zealand", "nz", "Australia", "au");
- ``bwt`` grams, ``gest`` days, ``wt`` kg, ``ht`` cm;
- ``sex``: a code (1 male, any other value female) or "Male"/"Female";
- ``eth``: a code of the base's table or the base's list text ("European", "Pakistani", ...);
- ``par``: a code (0 to 3; any other value takes the "4 or more" term) or "0" ... "4 or more".

A missing input (NaN, None or an empty text) gives NaN and no error. A row whose calculation
fails raises CalculationError, naming the row and the runtime error, unless
``errors="return"``: then the function returns ``(result, error)``, NaN in the failed rows
and ``error`` the runtime error number per row (0 where none).

The engine releases the GIL and, on large arrays, uses every core (``threads=0``) or as many
threads as ``threads`` says.
"""

import numpy as _np

from . import _pelmora

__all__ = ["centile", "evaluate", "classify", "CalculationError", "QUANTITIES", "BASES"]

#: The quantities ``evaluate`` returns, in order.
QUANTITIES = tuple(_pelmora.quantities)
#: (name, tag) per base code.
BASES = tuple(tuple(b) for b in _pelmora.bases)

_BASE_CODES = {}
for _code, (_name, _tag) in enumerate(BASES):
    _BASE_CODES[_name] = _code
    _BASE_CODES[_tag] = _code
_SEX_CODES = {"Male": 1.0, "Female": 0.0}
_PARITY_CODES = {text: float(code) for code, text in enumerate(_pelmora.parity)}
_ETHNIC_CODES = {base: dict(groups) for base, groups in _pelmora.ethnic.items()}
_CLASS_TEXTS = _np.array(["", "SGA", "AGA", "LGA"])


class CalculationError(ArithmeticError):
    """A row's calculation failed: ``row`` (a flat index; ``index`` in the broadcast shape),
    ``number`` (the runtime error number) and ``message`` (e.g. "Overflow (weight band)")."""

    def __init__(self, row, index, number, message):
        super().__init__(f"row {row}: run-time error {number}: {message}")
        self.row = row
        self.index = index
        self.number = number
        self.message = message


def _missing_text(v):
    return v is None or (isinstance(v, str) and v == "") or (isinstance(v, float) and v != v)


def _codes(values, table, what, base=None):
    """Numbers pass; texts become codes by `table` (a dict, or a function of the base code
    giving one), or are read as numbers; missing texts become NaN."""
    arr = _np.asarray(values)
    if arr.dtype.kind in "biuf":
        return arr.astype(_np.float64, copy=False)
    if arr.dtype.kind not in "OUS":
        raise TypeError(f"{what}: expected numbers or texts, got {arr.dtype}")
    if arr.ndim == 0 and isinstance(arr[()], (str, bytes)):
        # One text for every row: its code once per base, then looked up by the rows' bases.
        if base is None:
            return _codes(_np.array([arr[()]], dtype=object), table, what).reshape(())
        lut = _np.full(4, _np.nan)
        for b in _np.unique(base):
            lut[b] = _codes(_np.array([arr[()]], dtype=object), table, what, _np.array([b]))[0]
        return lut[base]
    if base is not None:
        arr, base = _np.broadcast_arrays(arr, base)
    out = _np.empty(arr.shape, dtype=_np.float64)
    flat_in = arr.ravel()
    flat_base = base.ravel() if base is not None else None
    flat_out = out.ravel()
    for i, v in enumerate(flat_in):
        if isinstance(v, bytes):
            v = v.decode()
        if _missing_text(v):
            flat_out[i] = _np.nan
        elif isinstance(v, str):
            codes = table(int(flat_base[i])) if callable(table) else table
            if v in codes:
                flat_out[i] = codes[v]
            else:
                try:  # a code written as text, as numpy writes numbers in a list with texts
                    flat_out[i] = float(v)
                except ValueError:
                    raise ValueError(f"{what}: unknown text {v!r} (expected a code or one of: "
                                     f"{', '.join(codes)})") from None
        else:
            flat_out[i] = float(v)
    return out


def _base_codes(base):
    arr = _np.asarray(base)
    if arr.dtype.kind in "biu" or (arr.dtype.kind == "f" and _np.all(arr == _np.floor(arr))):
        codes = arr.astype(_np.int64)
    else:
        def code(b):
            if isinstance(b, bytes):
                b = b.decode()
            if isinstance(b, str) and b in _BASE_CODES:
                return _BASE_CODES[b]
            try:  # a code, or a code written as text (as numpy writes numbers in a list with texts)
                return int(b)
            except (TypeError, ValueError):
                raise ValueError(f"base: unknown base {b!r} (expected a code 0-3 or one of: "
                                 f"{', '.join(_BASE_CODES)})") from None

        codes = _np.array([code(b) for b in arr.ravel()], dtype=_np.int64)
        codes = codes.reshape(arr.shape)
    if _np.any((codes < 0) | (codes > 3)):
        raise ValueError("base: codes are 0 (United Kingdom), 1 (Sweden), 2 (New Zealand), 3 (Australia)")
    return codes.astype(_np.uint8)


def _numbers(values, what):
    arr = _np.asarray(values)
    if arr.dtype.kind in "biuf":
        return arr.astype(_np.float64, copy=False)
    if arr.dtype.kind == "O":  # None for missing, as pandas gives
        return _np.array([_np.nan if _missing_text(v) else float(v) for v in arr.ravel()],
                         dtype=_np.float64).reshape(arr.shape)
    raise TypeError(f"{what}: expected numbers, got {arr.dtype}")


def _flat(a):
    """A 1-d view (strides kept, so a broadcast scalar costs nothing) or a contiguous copy."""
    if a.ndim == 1:
        return a
    return _np.ascontiguousarray(a).reshape(-1)


def _run(base, bwt, gest, wt, ht, sex, eth, par, wanted, errors, threads, thresholds=None):
    if errors not in ("raise", "return"):
        raise ValueError('errors must be "raise" or "return"')
    codes = _base_codes(base)
    columns = [_numbers(bwt, "bwt"), _numbers(gest, "gest"), _numbers(wt, "wt"), _numbers(ht, "ht"),
               _codes(sex, _SEX_CODES, "sex"),
               _codes(eth, lambda b: _ETHNIC_CODES[b], "eth", codes),
               _codes(par, _PARITY_CODES, "par")]
    arrays = _np.broadcast_arrays(codes, *columns)
    shape = arrays[0].shape
    flat = [_flat(a) for a in arrays]
    sga, lga = thresholds if thresholds is not None else (10.0, 90.0)
    values, error, classes, failures = _pelmora.batch(*flat, list(wanted), thresholds is not None,
                                                      float(sga), float(lga), int(threads))
    if errors == "raise" and failures:
        row, number, message = failures[0]
        raise CalculationError(row, _np.unravel_index(row, shape) if shape else (), number, message)

    def shaped(a):
        a = a.reshape(shape)
        return a[()] if a.ndim == 0 else a

    values = {k: shaped(v) for k, v in values.items()}
    return values, shaped(error), (shaped(classes) if classes is not None else None)


def centile(base, bwt, gest, wt, ht, sex, eth, par, *, errors="raise", threads=0):
    """The centile in percent per row (NaN where an input is missing); with
    ``errors="return"`` the pair (centile, error numbers)."""
    values, error, _ = _run(base, bwt, gest, wt, ht, sex, eth, par, ["centile"], errors, threads)
    return (values["centile"], error) if errors == "return" else values["centile"]


def evaluate(base, bwt, gest, wt, ht, sex, eth, par, *, errors="raise", threads=0, sga_below=10.0,
             lga_above=90.0):
    """Every quantity of the calculation as a dict of arrays: those of QUANTITIES, "class"
    (see classify) and, with ``errors="return"``, "error"."""
    values, error, classes = _run(base, bwt, gest, wt, ht, sex, eth, par, QUANTITIES, errors, threads,
                                  (sga_below, lga_above))
    values["class"] = _class_texts(classes)
    if errors == "return":
        values["error"] = error
    return values


def _class_texts(codes):
    texts = _CLASS_TEXTS[_np.asarray(codes, dtype=_np.int64)]
    return str(texts) if _np.ndim(texts) == 0 else texts


def classify(centile, sga_below=10.0, lga_above=90.0):
    """"SGA" below sga_below, "LGA" above lga_above, "AGA" otherwise, "" for NaN."""
    if not sga_below <= lga_above:
        raise ValueError("sga_below must not exceed lga_above")
    return _class_texts(_pelmora.classify(_np.asarray(centile, dtype=_np.float64), float(sga_below),
                                          float(lga_above)))
