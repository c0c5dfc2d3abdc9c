"""add_centiles on pandas frames, and under Dask: a CSV read in partitions, add_centiles per
partition, equal to one call over the whole table bit for bit."""

import os

import numpy as np
import pandas as pd
import pytest

import pelmora

TABLE = os.environ["PELMORA_VALIDATION_TABLE"]
INPUTS = ["base", "bwt", "gest", "wt", "ht", "sex", "eth", "par"]


def test_add_centiles_appends_the_columns_of_centile_evaluate_and_classify():
    df = pd.read_csv(TABLE)
    before = df.copy()
    out = pelmora.add_centiles(df, errors="return")
    ev = pelmora.evaluate(*(df[c] for c in INPUTS), errors="return")
    # The table's own centile, z and error columns are replaced in place; class is appended.
    assert list(out.columns) == list(df.columns) + ["class"]
    for col in ("centile", "z", "class", "error"):
        assert np.array_equal(out[col].to_numpy(), ev[col], equal_nan=col in ("centile", "z")), col
    assert df.equals(before)
    renamed = pelmora.add_centiles(df.rename(columns={"bwt": "weight"}), bwt="weight", errors="return",
                                   names={"centile": "c"})
    assert np.array_equal(renamed["c"].to_numpy(), ev["centile"], equal_nan=True)
    with pytest.raises(KeyError, match="no column 'weight'"):
        pelmora.add_centiles(df, bwt="weight")
    with pytest.raises(pelmora.CalculationError):
        pelmora.add_centiles(df)


def test_dask_partitions_give_the_whole_tables_results():
    dd = pytest.importorskip("dask.dataframe")
    table = pd.read_csv(TABLE)
    whole = pelmora.add_centiles(table, errors="return")
    ddf = dd.read_csv(TABLE, blocksize=64_000, dtype=dict(table.dtypes))
    assert ddf.npartitions > 2
    meta = pelmora.add_centiles(table.iloc[:0], errors="return")  # Dask's own guess feeds made-up texts
    parts = ddf.map_partitions(pelmora.add_centiles, errors="return", meta=meta).compute(scheduler="threads")
    assert len(parts) == len(whole)
    for col in ("centile", "z", "error"):
        a = parts[col].to_numpy()
        b = whole[col].to_numpy()
        assert a.dtype == b.dtype and a.tobytes() == b.tobytes(), col
    assert (parts["class"].to_numpy() == whole["class"].to_numpy()).all()
