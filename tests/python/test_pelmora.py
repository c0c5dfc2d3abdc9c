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
