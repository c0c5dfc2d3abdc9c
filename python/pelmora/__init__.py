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

A missing input (NaN, None, pandas' NA, NaT, a masked value or an empty text) gives NaN and no
error. Other text is read as the calculators read a text argument: text that is no number is a
ValueError naming the column ("Type mismatch"). A row whose calculation
fails raises CalculationError, naming the row and the runtime error, unless
``errors="return"``: then the function returns ``(result, error)``, NaN in the failed rows
and ``error`` the runtime error number per row (0 where none).

The engine releases the GIL and, on large arrays, uses every core (``threads=0``) or as many
threads as ``threads`` says.
"""

import operator as _operator

import numpy as _np

from . import _pelmora

__all__ = ["centile", "evaluate", "classify", "add_centiles", "weight_at_centile", "curves", "chart_svg",
           "CalculationError", "QUANTITIES",
           "BASES"]

#: The quantities ``evaluate`` returns, in order.
QUANTITIES = tuple(_pelmora.quantities)
#: (name, tag) per base code.
BASES = tuple(tuple(b) for b in _pelmora.bases)

_BASE_CODES = {}
for _code, (_name, _tag) in enumerate(BASES):
    _BASE_CODES[_name] = _code
    _BASE_CODES[_tag] = _code
_SEX_CODES = {text: float(code) for text, code in _pelmora.sexes.items()}
_PARITY_CODES = {text: float(code) for code, text in enumerate(_pelmora.parity)}
_ETHNIC_CODES = {base: dict(groups) for base, groups in _pelmora.ethnic.items()}
_CLASS_TEXTS = _np.array(_pelmora.classes)  # index = class code
_MAX_THREADS = 2**32 - 1


class CalculationError(ArithmeticError):
    """A row's calculation failed: ``row`` (a flat index; ``index`` in the broadcast shape),
    ``number`` (the runtime error number) and ``message`` (e.g. "Overflow (weight band)")."""

    def __init__(self, row, index, number, message):
        super().__init__(f"row {row}: run-time error {number}: {message}")
        self.row = row
        self.index = index
        self.number = number
        self.message = message


def _is_missing(v):
    """None, NaN, NaT, pandas' NA or an empty text: a missing input."""
    if v is None:
        return True
    if isinstance(v, (str, bytes)):
        return len(v) == 0
    if type(v).__name__ == "NAType" and type(v).__module__.startswith("pandas"):
        return True  # pandas' NA is neither equal nor unequal to itself
    try:
        return bool(v != v)  # NaN and NaT
    except (TypeError, ValueError):
        return False


def _text(v, what):
    if isinstance(v, bytes):
        try:
            return v.decode("utf-8")
        except UnicodeDecodeError:
            raise ValueError(f"{what}: {v!r} is not UTF-8 text") from None
    return v


def _number(v, what, known=()):
    """One value as the calculators read an argument: a real number, or text through the one
    reader of numbers in text (as the CSV face reads a field)."""
    v = _text(v, what)
    if isinstance(v, str):
        try:
            v.encode("utf-8")
        except UnicodeEncodeError:
            raise ValueError(f"{what}: {v!r} is not UTF-8 text") from None
        x = _pelmora.number_in_text(v)
        if x is None:
            also = f" or one of: {', '.join(known)}" if known else ""
            raise ValueError(f"{what}: {_pelmora.type_mismatch} ({what}): {v!r} is not a number{also}")
        if x in (_np.inf, -_np.inf):
            raise ValueError(f"{what}: {_pelmora.overflow} ({what}): {v!r} is beyond the largest number")
        return x
    if not isinstance(v, (int, float, _np.integer, _np.floating, _np.bool_)):
        raise TypeError(f"{what}: expected numbers or texts, got {type(v).__name__} {v!r}")
    try:
        return float(v)
    except OverflowError:
        raise ValueError(f"{what}: {v} is beyond the largest number") from None


def _array(values, what):
    """`values` as an array, and its mask when it is a masked array (masked values are missing)."""
    if isinstance(values, _np.ma.MaskedArray):
        mask = _np.ma.getmaskarray(values)
        data = _np.ma.getdata(values)
        if not mask.any():
            return data
        if data.dtype.kind in "biuf":
            return _np.where(mask, _np.nan, data.astype(_np.float64))
        data = data.astype(object)
        data[mask] = None
        return data
    return _np.asarray(values)


def _distinct(arr):
    """The distinct values of a text or object array and each element's index into them, found
    without a Python loop per element (numpy.unique for texts, pandas.factorize for objects when
    pandas is there; missing values become None); None where neither applies."""
    flat = arr.reshape(-1)
    if arr.dtype.kind in "US":
        uniq, inv = _np.unique(flat, return_inverse=True)
        return uniq.tolist(), inv
    try:
        import pandas
    except ImportError:
        return None
    try:
        inv, uniq = pandas.factorize(flat)
    except TypeError:  # unhashable values: read one by one, which names the culprit
        return None
    uniq = list(_np.asarray(uniq, dtype=object)) + [None]
    return uniq, _np.where(inv < 0, len(uniq) - 1, inv)


def _convert(arr, what, one, base=None):
    """Object or text arrays through `one(value, base code or None)`, once per distinct value
    (per distinct value and base with `base`); missing -> NaN."""
    d = _distinct(arr) if arr.size > 1 else None
    if d is None:
        out = _np.empty(arr.shape, dtype=_np.float64)
        flat_out = out.reshape(-1)
        flat_base = base.reshape(-1) if base is not None else None
        for i, v in enumerate(arr.reshape(-1)):
            flat_out[i] = _np.nan if _is_missing(v) else one(v, None if base is None else int(flat_base[i]))
        return out
    uniq, inv = d
    missing = [_is_missing(v) for v in uniq]
    if base is None:
        lut = _np.array([_np.nan if m else one(v, None) for v, m in zip(uniq, missing)], dtype=_np.float64)
        return lut[inv].reshape(arr.shape)
    flat_base = base.reshape(-1).astype(_np.intp)
    lut = _np.full((len(uniq), 4), _np.nan)
    for pair in _np.unique(inv * 4 + flat_base):  # only the pairs of text and base that occur
        u, b = divmod(int(pair), 4)
        if not missing[u]:
            lut[u, b] = one(uniq[u], b)
    return lut[inv, flat_base].reshape(arr.shape)


def _codes(values, table, what, base=None):
    """Numbers pass; texts become codes by `table` (a dict, or a function of the base code
    giving one), or are read as numbers; missing values become NaN."""
    arr = _array(values, what)
    if arr.dtype.kind in "biuf":
        return _np.require(arr.astype(_np.float64, copy=False), requirements="A")  # aligned for the engine
    if arr.dtype.kind not in "OUS":
        raise TypeError(f"{what}: expected numbers or texts, got {arr.dtype}")
    if arr.ndim == 0 and isinstance(arr[()], (str, bytes)):
        # One text for every row: its code once per base, then looked up by the rows' bases.
        if base is None:
            return _codes(_np.array([arr[()]], dtype=object), table, what).reshape(())
        lut = _np.full(len(BASES), _np.nan)
        for b in _np.unique(base):
            lut[b] = _codes(_np.array([arr[()]], dtype=object), table, what, _np.array([b]))[0]
        return lut[base]
    if base is not None:
        arr, base = _np.broadcast_arrays(arr, base)

    def one(v, b):
        v = _text(v, what)
        codes = table(b) if callable(table) else table
        if isinstance(v, str) and v in codes:
            return codes[v]
        return _number(v, what, codes)  # a code written as text, as numpy writes numbers among texts

    return _convert(arr, what, one, base)


def _base_codes(base):
    arr = _array(base, "base")
    names = ", ".join(_BASE_CODES)

    def refuse(b):
        raise ValueError(f"base: {b!r} is no base (expected a code 0 (United Kingdom), 1 (Sweden), "
                         f"2 (New Zealand), 3 (Australia) or one of: {names})")

    if arr.dtype.kind in "iu":
        codes = arr
    elif arr.dtype.kind == "f":
        bad = ~(arr == _np.floor(arr))  # a code is compared by value: 2.5 is no code, nor is NaN
        if bad.any():
            refuse(arr[bad].reshape(-1)[0])
        codes = arr
    elif arr.dtype.kind in "OUS":
        def code(b):
            b = _text(b, "base")
            if isinstance(b, str):
                if b in _BASE_CODES:
                    return _BASE_CODES[b]
                if b in ("0", "1", "2", "3"):  # a code written as text, as numpy writes numbers among texts
                    return int(b)
            elif isinstance(b, (int, _np.integer, float, _np.floating)) and not isinstance(b, (bool, _np.bool_)):
                if b in (0, 1, 2, 3):  # by value: 2.0 is code 2, 2.5 no code
                    return int(b)
            refuse(b)

        codes = _np.array([code(b) for b in arr.reshape(-1)], dtype=_np.int64).reshape(arr.shape)
    else:
        raise TypeError(f"base: expected codes 0-3 or names, got {arr.dtype}")
    bad = (codes < 0) | (codes > 3)
    if _np.any(bad):
        refuse(_np.asarray(codes)[bad].reshape(-1)[0])
    return codes.astype(_np.uint8)


def _numbers(values, what):
    arr = _array(values, what)
    if arr.dtype.kind in "biuf":
        return _np.require(arr.astype(_np.float64, copy=False), requirements="A")  # aligned for the engine
    if arr.dtype.kind in "OUS":  # None and pandas' NA for missing, texts as the calculators read them
        return _convert(arr, what, lambda v, b: _number(v, what))
    raise TypeError(f"{what}: expected numbers, got {arr.dtype}")


def _threads(threads):
    if isinstance(threads, (bool, _np.bool_)):
        raise TypeError(f"threads: expected a whole number, got {threads!r}")
    try:
        n = _operator.index(threads)
    except TypeError:
        raise TypeError(f"threads: expected a whole number, got {type(threads).__name__} {threads!r}") from None
    if not 0 <= n <= _MAX_THREADS:
        raise ValueError(f"threads: {n} is out of range (0 for every core, or 1 to {_MAX_THREADS})")
    return n


def _thresholds(sga_below, lga_above):
    sga, lga = _number(sga_below, "sga_below"), _number(lga_above, "lga_above")
    if not sga <= lga:  # NaN too
        raise ValueError("sga_below must not exceed lga_above (nor be NaN)")
    return sga, lga


def _run(base, bwt, gest, wt, ht, sex, eth, par, wanted, errors, threads, thresholds=None):
    if errors not in ("raise", "return"):
        raise ValueError('errors must be "raise" or "return"')
    threads = _threads(threads)
    sga, lga = _thresholds(*thresholds) if thresholds is not None else (10.0, 90.0)
    codes = _base_codes(base)
    columns = [_numbers(bwt, "bwt"), _numbers(gest, "gest"), _numbers(wt, "wt"), _numbers(ht, "ht"),
               _codes(sex, _SEX_CODES, "sex"),
               _codes(eth, lambda b: _ETHNIC_CODES[b], "eth", codes),
               _codes(par, _PARITY_CODES, "par")]
    arrays = _np.broadcast_arrays(codes, *columns)  # views: a repeated value is never copied
    shape = arrays[0].shape
    values, error, classes, failures = _pelmora.batch(*arrays, list(wanted), errors == "return",
                                                      thresholds is not None, sga, lga, threads,
                                                      1 if errors == "raise" else 0)
    if failures:
        row, number, message = failures[0]
        raise CalculationError(row, _np.unravel_index(row, shape) if shape else (), number, message)

    def shaped(a):
        return a[()] if a.ndim == 0 else a

    values = {k: shaped(v) for k, v in values.items()}
    return values, (shaped(error) if error is not None else None), (shaped(classes) if classes is not None else None)


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
    sga, lga = _thresholds(sga_below, lga_above)
    return _class_texts(_pelmora.classify(_numbers(centile, "centile"), sga, lga))


# The run-time error number of an argument the calculation refuses (a centile out of range, a
# gestation range that is empty or inverted).
_INVALID_ARGUMENT = 5


def _raise_failure(row, index, number, message):
    if number == _INVALID_ARGUMENT:
        raise ValueError(message)
    raise CalculationError(row, index, number, message)


def weight_at_centile(base, centile, gest, wt, ht, sex, eth, par, *, errors="raise"):
    """The birth weight in grams whose centile is ``centile`` for a baby of ``gest`` days (other
    inputs as for ``centile``): fed back as ``bwt`` it gives ``centile`` within 1e-9 centile
    points. A centile must lie strictly between 0 and 100. NaN where an input is missing.
    Raises ValueError for a centile out of range or NaN and CalculationError where the
    calculators would fail, unless ``errors="return"``: then the pair (weight, error numbers)."""
    if errors not in ("raise", "return"):
        raise ValueError('errors must be "raise" or "return"')
    codes = _base_codes(base)
    columns = [_numbers(centile, "centile"), _numbers(gest, "gest"), _numbers(wt, "wt"), _numbers(ht, "ht"),
               _codes(sex, _SEX_CODES, "sex"),
               _codes(eth, lambda b: _ETHNIC_CODES[b], "eth", codes),
               _codes(par, _PARITY_CODES, "par")]
    arrays = _np.broadcast_arrays(codes, *columns)
    shape = arrays[0].shape
    flat = [_np.ascontiguousarray(a).reshape(-1) for a in arrays]
    weight, error, failures = _pelmora.weights_at_centile(*flat)
    if errors == "raise" and failures:
        row, number, message = failures[0]
        _raise_failure(row, _np.unravel_index(row, shape) if shape else (), number, message)

    def shaped(a):
        a = a.reshape(shape)
        return a[()] if a.ndim == 0 else a

    return (shaped(weight), shaped(error)) if errors == "return" else shaped(weight)


def centile_column(centile):
    """The name of a centile's column in ``curves``: "p10", "p2.5"."""
    return f"p{float(centile):.15g}"


def curves(base, wt, ht, sex, eth, par, centiles=(10, 50, 90), first=168, last=294, *, frame=None):
    """One pregnancy's centile curves: for each day of gestation from ``first`` to ``last``
    (inclusive, 0 to 350; the usual 168 to 294 is 24+0 to 42+0 weeks) the weight at each of
    ``centiles``, as ``weight_at_centile`` gives it. The mother's inputs are single values, as
    for ``centile``.

    Returns the columns "gest" (days), "weeks" ("24+0", ...) and one per centile ("p10", ...):
    a pandas DataFrame when pandas is there (``frame=None``) or asked for (``frame=True``),
    otherwise a dict of numpy arrays. Missing inputs give NaN weights. Raises ValueError for an
    empty or inverted range, no centile or one out of range, an unknown base or text, and
    CalculationError where the calculators would fail for this mother."""
    code = int(_base_codes(base))
    sex_code = float(_codes(sex, _SEX_CODES, "sex"))
    eth_code = float(_codes(eth, lambda b: _ETHNIC_CODES[b], "eth", _np.array(code, dtype=_np.uint8)))
    par_code = float(_codes(par, _PARITY_CODES, "par"))
    wanted = [float(c) for c in _np.atleast_1d(_np.asarray(centiles, dtype=_np.float64))]
    if int(first) != first or int(last) != last:
        raise ValueError("first and last are whole days")
    weights, number, message = _pelmora.curves(code, float(_numbers(wt, "wt")), float(_numbers(ht, "ht")),
                                               sex_code, eth_code, par_code, wanted, int(first), int(last))
    if number:
        _raise_failure(0, (), number, message)
    days = _np.arange(int(first), int(last) + 1)
    columns = {"gest": days, "weeks": _np.array([f"{d // 7}+{d % 7}" for d in days])}
    for k, c in enumerate(wanted):
        columns[centile_column(c)] = weights[k]
    if frame is False:
        return columns
    try:
        import pandas
    except ImportError:
        if frame:
            raise
        return columns
    return pandas.DataFrame(columns)


def add_centiles(df, base="base", bwt="bwt", gest="gest", wt="wt", ht="ht", sex="sex", eth="eth", par="par", *,
                 errors="raise", threads=0, sga_below=10.0, lga_above=90.0, names=None):
    """A copy of the pandas DataFrame ``df`` with the columns "centile", "z" and "class" (see
    classify) appended, computed from the columns that ``base`` ... ``par`` name; with
    ``errors="return"`` also "error" (the run-time error number per row, 0 where none).
    ``names`` renames the added columns ({"centile": "c", ...}); a column of that name already
    in ``df`` is replaced. Works per partition under Dask: ``ddf.map_partitions(add_centiles)``."""
    names = {"centile": "centile", "z": "z", "class": "class", "error": "error", **(names or {})}
    columns = [base, bwt, gest, wt, ht, sex, eth, par]
    absent = [c for c in columns if c not in df.columns]
    if absent:
        raise KeyError(f"no column {', '.join(map(repr, absent))} in the data frame")
    values, error, classes = _run(*(df[c].to_numpy() for c in columns), ["centile", "z"], errors, threads,
                                  (sga_below, lga_above))
    added = {names["centile"]: _np.atleast_1d(values["centile"]), names["z"]: _np.atleast_1d(values["z"]),
             names["class"]: _np.atleast_1d(_class_texts(classes))}
    if errors == "return":
        added[names["error"]] = _np.atleast_1d(error)
    return df.assign(**added)


def chart_svg(base, wt, ht, sex, eth, par, points=(), centiles=(10, 50, 90), first=168, last=294, edd=None):
    """One pregnancy's customised growth chart as SVG text (A4 landscape): the curves of
    ``curves`` (the 10th and 90th solid, the 50th dashed, the band between shaded, others
    dotted) and the measured ``points``, each ``(gest, grams)`` or ``(gest, grams, label)`` with
    gest in days or as "33+0"; the label "birth" marks the birth weight. ``edd`` ("YYYY-MM-DD"
    or a date) adds a row of calendar dates. Raises ValueError for bad input (as ``curves``; a
    point outside 0 to 350 days or not above 0 and up to 10000 g; a bad date) and
    CalculationError where the calculators fail for this mother."""
    code = int(_base_codes(base))
    sex_code = float(_codes(sex, _SEX_CODES, "sex"))
    eth_code = float(_codes(eth, lambda b: _ETHNIC_CODES[b], "eth", _np.array(code, dtype=_np.uint8)))
    par_code = float(_codes(par, _PARITY_CODES, "par"))
    wanted = [float(c) for c in _np.atleast_1d(_np.asarray(centiles, dtype=_np.float64))]
    pts = []
    for p in points:
        if not 2 <= len(p) <= 3:
            raise ValueError(f"point {p!r}: expected (gest, grams) or (gest, grams, label)")
        gest = p[0]
        if isinstance(gest, str):
            weeks, plus, days = gest.partition("+")
            if not plus or not weeks.isdigit() or not days.isdigit() or int(days) > 6:
                raise ValueError(f"point {p!r}: the gestation is days or weeks+days (33+0)")
            gest = int(weeks) * 7 + int(days)
        if int(gest) != gest:
            raise ValueError(f"point {p!r}: the gestation is a whole number of days")
        pts.append((int(gest), float(p[1]), str(p[2]) if len(p) == 3 else ""))
    if int(first) != first or int(last) != last:
        raise ValueError("first and last are whole days")
    svg, number, message = _pelmora.chart_svg(code, float(_numbers(wt, "wt")), float(_numbers(ht, "ht")), sex_code,
                                              eth_code, par_code, wanted, int(first), int(last), pts,
                                              "" if edd is None else str(edd))
    if number:
        _raise_failure(0, (), number, message)
    return svg
