"""The Python module: the validation table, the CLI on generated rows, broadcasting, texts,
missing inputs, failures, pandas, threads."""

import csv
import math
import os
import struct
import subprocess

import numpy as np
import pytest

import pelmora

TABLE = os.environ["PELMORA_VALIDATION_TABLE"]
CLI = os.environ["PELMORA_CENTILE"]


def bits(v):
    return struct.pack("<d", v)


def number(text):
    return float(text) if text else math.nan


def same(a, b):
    return (math.isnan(a) and math.isnan(b)) or bits(a) == bits(b)


def read_table():
    with open(TABLE, newline="") as f:
        return list(csv.DictReader(f))


def test_validation_table_as_arrays_and_row_by_row():
    rows = read_table()
    assert len(rows) >= 4000
    cols = {k: np.array([number(r[k]) for r in rows]) for k in ("bwt", "gest", "wt", "ht", "sex", "eth", "par")}
    base = [r["base"] for r in rows]
    centile, error = pelmora.centile(base, **cols, errors="return")
    values = pelmora.evaluate(base, **cols, errors="return", threads=1)
    for i, r in enumerate(rows):
        assert error[i] == (int(r["error"]) if r["error"] else 0), r
        assert values["error"][i] == error[i]
        assert same(centile[i], number(r["centile"])), r
        assert same(values["centile"][i], number(r["centile"])), r
        assert same(values["z"][i], number(r["z"])), r
        assert same(values["optimal_weight"][i], number(r["optimal_weight"])), r
    # A few rows one at a time, as scalars: the same bits, failures raised with their message.
    for r in rows[:40]:
        args = [r["base"]] + [number(r[k]) for k in ("bwt", "gest", "wt", "ht", "sex", "eth", "par")]
        if r["error"]:
            with pytest.raises(pelmora.CalculationError) as e:
                pelmora.centile(*args)
            assert e.value.number == int(r["error"]) and e.value.message == r["message"]
        else:
            assert same(float(pelmora.centile(*args)), number(r["centile"]))


def test_bit_for_bit_with_the_command_line_tool_on_generated_rows(tmp_path):
    rng = np.random.default_rng(20240531)
    n = 3000
    base = rng.integers(0, 4, n)
    weeks = rng.integers(24, 44, n)
    bwt = np.round(3500 * (2.991 + weeks * (-0.3185 + weeks * (0.01094 + weeks * -0.0001055)))
                   * rng.normal(1, 0.15, n))
    gest = weeks * 7 + rng.integers(0, 7, n)
    wt = np.round(rng.uniform(35, 150, n), 1)
    ht = np.round(rng.uniform(140, 200, n), 1)
    sex = rng.integers(-1, 3, n)
    eth = rng.integers(-1, 29, n)
    par = rng.integers(-1, 7, n)
    bwt[::97] = -1e7  # z beyond 1000
    ht[::89] = 1e200  # Overflow (weight band)
    path = tmp_path / "in.csv"
    tags = [pelmora.BASES[b][1] for b in base]
    with open(path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["base", "bwt", "gest", "wt", "ht", "sex", "eth", "par"])
        for i in range(n):
            w.writerow([tags[i]] + [repr(float(c[i])) for c in (bwt, gest, wt, ht, sex, eth, par)])
    with open(path) as f:
        out = subprocess.run([CLI, "--csv"], stdin=f, capture_output=True, text=True)
    assert out.returncode == 1, out.stderr  # some rows fail
    cli = list(csv.DictReader(out.stdout.splitlines()))
    values = pelmora.evaluate(tags, bwt, gest, wt, ht, sex, eth, par, errors="return")
    assert len(cli) == n
    failed = 0
    for i, r in enumerate(cli):
        for key in ("centile", "z", "optimal_weight"):
            assert same(values[key][i], number(r[key])), (i, key, r)
        assert (values["error"][i] != 0) == bool(r["error"]), (i, r)
        failed += bool(r["error"])
    assert failed > 20


def test_broadcasting_texts_codes_and_missing_inputs():
    # One birth weight against a column of gestations and a row of bases.
    c = pelmora.centile([["uk", "Sweden", 2, "au"]], 3500, [[266], [280]], 64, 163, "Male", 1, "4 or more")
    assert c.shape == (2, 4)
    for i, gest in enumerate((266, 280)):
        for j, base in enumerate((0, 1, 2, 3)):
            assert same(c[i, j], float(pelmora.centile(base, 3500, gest, 64, 163, 1, 1, 4)))
    # Texts and codes alike, per the row's base.
    assert same(float(pelmora.centile("swe", 3200, 273, 40, 170, "Female", "Phillipino", "4 or more")),
                float(pelmora.centile(1, 3200, 273, 40, 170, 0, 7, 5)))
    by_text = pelmora.centile(["uk", "nz"], 3500, 280, 64, 163, 1, ["Pakistani", "Maori"], 0)
    by_code = pelmora.centile([0, 2], 3500, 280, 64, 163, 1, [3, 3], 0)
    assert all(same(a, b) for a, b in zip(by_text, by_code))
    # Missing inputs: NaN, None or empty text give NaN and no error.
    c, err = pelmora.centile("uk", [3500, np.nan, 3500, 3500], 280, 64, 163, [1, 1, None, 1], 1, ["0", "0", "0", ""],
                             errors="return")
    assert not math.isnan(c[0]) and np.isnan(c[1:]).all() and (err == 0).all()
    assert isinstance(pelmora.centile("uk", 3500, 280, 64, 163, 1, 1, 0), float)
    with pytest.raises(ValueError, match="Maori"):
        pelmora.centile("uk", 3500, 280, 64, 163, 1, "Maori", 0)
    with pytest.raises(ValueError, match="Mars"):
        pelmora.centile("Mars", 3500, 280, 64, 163, 1, 1, 0)
    with pytest.raises(ValueError):
        pelmora.centile([0, 1, 2], [1, 2], 280, 64, 163, 1, 1, 0)  # shapes that do not broadcast


def test_failures_raised_with_the_row_or_returned():
    ht = np.full((3, 2), 163.0)
    ht[2, 1] = 1e200
    with pytest.raises(pelmora.CalculationError) as e:
        pelmora.centile("uk", 3500, 280, 64, ht, 1, 1, 0)
    assert (e.value.row, tuple(e.value.index), e.value.number) == (5, (2, 1), 6)
    assert str(e.value) == "row 5: run-time error 6: Overflow (weight band)"
    c, err = pelmora.centile("uk", 3500, 280, 64, ht, 1, 1, 0, errors="return")
    assert math.isnan(c[2, 1]) and err[2, 1] == 6 and (err.ravel()[:5] == 0).all()


def test_evaluate_and_classify():
    v = pelmora.evaluate("swe", 3500, 280, 65, 165, 1, 1, 0)
    assert set(pelmora.QUANTITIES) | {"class"} == set(v)
    assert v["ht_after"] == -2 and v["weeks"] == 40 and v["term_weight"] == 3609.865472
    assert v["class"] == "AGA"
    assert list(pelmora.classify([9.9, 10, 90, 90.1, np.nan])) == ["SGA", "AGA", "AGA", "LGA", ""]
    assert list(pelmora.classify([4, 50, 96], sga_below=5, lga_above=95)) == ["SGA", "AGA", "LGA"]
    c = pelmora.evaluate("uk", [2000, 3500, 4800], 280, 64, 163, 1, 1, 0, sga_below=50, lga_above=99)
    assert list(c["class"]) == ["SGA", "SGA", "LGA"]
    with pytest.raises(ValueError):
        pelmora.classify(50, sga_below=60, lga_above=40)


def test_pandas_columns_and_threads():
    pd = pytest.importorskip("pandas")
    df = pd.DataFrame({"base": ["uk", "swe", "nz", "au"] * 5000,
                       "bwt": np.linspace(2000, 4500, 20000), "gest": 280, "eth": "European"})
    df.loc[3, "bwt"] = None
    df.loc[1::4, "eth"] = "Scandinavian"
    one = pelmora.centile(df["base"], df.bwt, df.gest, 64, 163, "Female", df["eth"], 1, threads=1)
    two = pelmora.centile(df["base"], df.bwt, df.gest, 64, 163, "Female", df["eth"], 1, threads=2)
    assert one.tobytes() == two.tobytes()
    assert math.isnan(one[3]) and not np.isnan(np.delete(one, 3)).any()


UK_ROW = ("uk", 3500, 280, 64, 163, 1, 1, 0)


def call_with(position, value, **kwargs):
    args = list(UK_ROW)
    args[position] = value
    return pelmora.centile(*args, **kwargs)


@pytest.mark.parametrize("position, value, error, match", [
    # A base is a code 0-3 by value, or a name or tag; nothing else names one.
    (0, np.array([0, 1.7]), ValueError, "base: 1.7 is no base"),
    (0, -0.9, ValueError, "base: -0.9 is no base"),
    (0, 0.5, ValueError, "base"),
    (0, True, TypeError, "base"),
    (0, 1 + 0j, TypeError, "base"),
    (0, " 1", ValueError, "base: ' 1' is no base"),
    (0, "\u0663", ValueError, "base"),
    (0, [0, None], ValueError, "base: None is no base"),
    (0, 4, ValueError, "base: 4 is no base"),
    # Text is read as the calculators and the CSV face read it.
    (5, "nan", ValueError, r"sex: Type mismatch \(sex\): 'nan'"),
    (5, "inf", ValueError, r"sex: Type mismatch \(sex\)"),
    (7, "1_0", ValueError, r"par: Type mismatch \(par\): '1_0'"),
    (6, "\uff11", ValueError, r"eth: Type mismatch \(eth\)"),
    (1, ["3500", "abc"], ValueError, r"bwt: Type mismatch \(bwt\): 'abc'"),
    (1, np.array([b"\xff"], dtype=object), ValueError, "bwt: b'\\\\xff' is not UTF-8"),
    (2, np.array(["2024-01-01"], dtype="datetime64[D]"), TypeError, "gest"),
    (3, 10**400, ValueError, "wt: 1000.* is beyond the largest number"),
    (4, "1e999", ValueError, r"ht: Overflow \(ht\): '1e999'"),
    (5, "\ud800", ValueError, "sex: .* is not UTF-8 text"),
])
def test_arguments_that_are_refused(position, value, error, match):
    with pytest.raises(error, match=match):
        call_with(position, value)


@pytest.mark.parametrize("kwargs, error, match", [
    (dict(threads=-1), ValueError, "threads: -1 is out of range"),
    (dict(threads=2**32), ValueError, "threads"),
    (dict(threads="x"), TypeError, "threads"),
    (dict(threads=1.7), TypeError, "threads"),
    (dict(threads=True), TypeError, "threads"),
])
def test_thread_counts_that_are_refused(kwargs, error, match):
    with pytest.raises(error, match=match):
        pelmora.centile(*UK_ROW, **kwargs)


def test_thresholds_are_checked_in_every_function():
    for sga, lga in ((90, 10), (np.nan, 90), (10, np.nan)):
        with pytest.raises(ValueError, match="sga_below"):
            pelmora.evaluate(*UK_ROW, sga_below=sga, lga_above=lga)
        with pytest.raises(ValueError, match="sga_below"):
            pelmora.classify(50, sga_below=sga, lga_above=lga)
    with pytest.raises(TypeError, match="centile"):
        pelmora.classify(np.array(["2024-01-01"], dtype="datetime64[D]"))


def test_missing_values_of_every_kind():
    pd = pytest.importorskip("pandas")
    one = float(pelmora.centile(*UK_ROW))
    rows = [
        (1, pd.array([3500, None], dtype="Int64")),
        (1, pd.array([3500.0, None], dtype="Float64")),
        (5, pd.array(["Male", None], dtype="string")),
        (5, pd.array([True, None], dtype="boolean")),
        (1, np.array([3500, pd.NaT], dtype=object)),
        (1, np.ma.masked_array([3500.0, 1e200], mask=[False, True])),
        (7, np.ma.masked_array(["0", "junk"], mask=[False, True])),
    ]
    for position, value in rows:
        c = call_with(position, value)
        assert same(c[0], one) and math.isnan(c[1]), (position, value)


def test_broadcasts_read_their_inputs_in_place():
    # A column against a row: every input is read through its strides, and each result cell is
    # the single row's own.
    gest = np.array([[266.0], [280.0], [287.0]])
    bwt = np.array([[3000.0, 3500.0]])
    c, err = pelmora.centile(np.array([[0], [1], [3]]), bwt, gest, 64, 163, 1, 1, 0, errors="return")
    assert c.shape == (3, 2) and (err == 0).all()
    for i in range(3):
        for j in range(2):
            assert same(c[i, j], float(pelmora.centile([0, 1, 3][i], bwt[0, j], gest[i, 0], 64, 163, 1, 1, 0)))
    # A column that is not aligned in memory is read as it is aligned.
    raw = np.frombuffer(b"\0" + np.array([3000.0, 3500.0]).tobytes(), dtype=np.float64, offset=1)
    assert not raw.flags.aligned
    want = pelmora.centile("uk", np.array([3000.0, 3500.0]), 280, 64, 163, 1, 1, 0)
    assert pelmora.centile("uk", raw, 280, 64, 163, 1, 1, 0).tobytes() == want.tobytes()
    # Non-contiguous and reversed views, and a 3-d broadcast.
    ht = np.arange(150.0, 190.0)[::-3]
    flat = pelmora.centile("uk", 3500, 280, 64, ht, 1, 1, 0)
    assert all(same(a, float(pelmora.centile("uk", 3500, 280, 64, h, 1, 1, 0))) for a, h in zip(flat, ht))
    cube = pelmora.centile("uk", 3500, np.array([266.0, 280.0]).reshape(2, 1, 1), 64, ht.reshape(1, -1, 1), 1,
                           np.array([1, 3]), 0)
    assert cube.shape == (2, len(ht), 2)
    assert same(cube[1, 2, 1], float(pelmora.centile("uk", 3500, 280, 64, ht[2], 1, 3, 0)))
    # A broadcast costs about its output: no input is copied to the broadcast shape.
    import tracemalloc
    tracemalloc.start()
    try:
        out = pelmora.centile(np.zeros((2000, 1), dtype=np.int64), np.full((1, 2000), np.nan), 280, 64, 163, 1, 1, 0)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert out.shape == (2000, 2000) and np.isnan(out).all()
    assert peak < 2 * out.nbytes, peak


def test_every_argument_wrong_in_every_way():
    # Whatever an argument holds, the call answers, or refuses with an error naming the argument
    # (or raises CalculationError for a row): no other exception escapes the conversion.
    import datetime
    import decimal
    import fractions
    values = [10**400, -(2**70), decimal.Decimal("1.5"), fractions.Fraction(1, 3), "\ud800", b"", b"\x80", [],
              {}, object(), np.float16(3), np.complex64(1), np.datetime64("NaT"), datetime.date(2024, 1, 1),
              np.array([], dtype=float), "", None, float("nan"), float("inf"), np.int8(-1), np.uint64(2**64 - 1),
              "4 or more", "Male", "1e999", " 2 ", np.array(["uk", None], dtype=object), -0.0]
    names = ["base", "bwt", "gest", "wt", "ht", "sex", "eth", "par"]
    for position, name in enumerate(names):
        for value in values:
            try:
                call_with(position, value)
            except (ValueError, TypeError) as e:
                assert str(e).startswith(name) or "broadcast" in str(e), (name, value, e)
            except pelmora.CalculationError:
                pass
    for threads in (None, -1, 2**64, "3", 3.0, [1]):
        with pytest.raises((ValueError, TypeError), match="threads"):
            pelmora.centile(*UK_ROW, threads=threads)
    for kwargs in (dict(sga_below="x"), dict(lga_above=None), dict(sga_below=10**400)):
        with pytest.raises((ValueError, TypeError), match="sga_below|lga_above"):
            pelmora.evaluate(*UK_ROW, **kwargs)


def test_curves_and_weights_at_centiles_agree_with_the_tool_and_feed_back():
    mother = dict(base="swe", wt=71, ht=158, sex="Male", eth="Somali", par="4 or more")
    out = subprocess.run([CLI, "curves", "--base", "swe", "--wt", "71", "--ht", "158", "--sex", "Male", "--eth",
                          "Somali", "--par", "4 or more", "--centiles", "2.5,10,50,90", "--from", "150",
                          "--to", "300"], check=True, capture_output=True, text=True).stdout
    rows = list(csv.DictReader(out.splitlines()))
    for frame in (False, True):
        c = pelmora.curves(**mother, centiles=[2.5, 10, 50, 90], first=150, last=300, frame=frame)
        assert list(c.keys()) == ["gest", "weeks", "p2.5", "p10", "p50", "p90"]
        for k in c.keys():
            assert [str(v) for v in c[k]] == [r[k] for r in rows] or all(
                same(float(r[k]), float(v)) for r, v in zip(rows, c[k])), k
    c = pelmora.curves(**mother, centiles=[2.5, 10, 50, 90], first=150, last=300, frame=False)
    p = np.array([2.5, 10, 50, 90])[:, None]
    w = pelmora.weight_at_centile(mother["base"], p, c["gest"][None, :], 71, 158, 1, "Somali", 4)
    assert w.shape == (4, 151)
    assert np.array_equal(w, np.stack([c[pelmora.centile_column(x)] for x in p[:, 0]]))
    back = pelmora.centile("swe", w, c["gest"][None, :], 71, 158, 1, 19, 4)
    assert np.max(np.abs(back - p)) <= 1e-9
    assert np.isnan(pelmora.weight_at_centile("uk", 50, 280, None, 163, 1, 1, 0))
    w, error = pelmora.weight_at_centile("uk", [10, 0, 50], 280, 64, [163, 163, 1e200], 1, 1, 0, errors="return")
    assert list(error) == [0, 5, 6] and not np.isnan(w[0]) and np.isnan(w[1:]).all()
    bad = [lambda: pelmora.curves(**mother, first=300, last=200),
           lambda: pelmora.curves(**mother, centiles=[10, 100]),
           lambda: pelmora.curves(**{**mother, "eth": "Martian"}),
           lambda: pelmora.curves(**{**mother, "base": "Mars"}),
           lambda: pelmora.weight_at_centile("uk", float("nan"), 280, 64, 163, 1, 1, 0)]
    for call in bad:
        with pytest.raises(ValueError):
            call()
    with pytest.raises(pelmora.CalculationError):
        pelmora.curves("uk", 64, 1e200, 1, 1, 0)


def test_chart_svg_is_the_tools_chart(tmp_path):
    out = tmp_path / "c.svg"
    subprocess.run([CLI, "chart", "--base", "au", "--wt", "66", "--ht", "170", "--sex", "1", "--eth", "African",
                    "--par", "2", "--point", "33+0:1800:EFW", "--point", "280:3300:birth", "--edd", "2027-01-05",
                    "--centiles", "3,10,50,90,97", "-o", str(out)], check=True)
    svg = pelmora.chart_svg("Australia", 66, 170, "Male", "African", 2, points=[("33+0", 1800, "EFW"), (280, 3300, "birth")],
                            centiles=(3, 10, 50, 90, 97), edd="2027-01-05")
    assert svg == out.read_text()
    with pytest.raises(ValueError):
        pelmora.chart_svg("au", 66, 170, 1, 1, 2, points=[(231, -1)])
