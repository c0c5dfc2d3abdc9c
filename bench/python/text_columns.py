"""The cost of ethnic groups (and sexes) given as a pandas column of texts rather than codes,
on a million rows: centile() with each, the best of three, on every core. Not a test.
    PYTHONPATH=build/release/python /usr/bin/python3 bench/python/text_columns.py [rows]"""

import sys
import time

import numpy as np
import pandas as pd

import pelmora

n = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
rng = np.random.default_rng(19)
eth_codes = rng.integers(1, 5, n).astype(np.float64)
texts = np.array([g for g, _ in sorted(pelmora._pelmora.ethnic[0].items(), key=lambda t: t[1])], dtype=object)
df = pd.DataFrame({"bwt": rng.normal(3400, 500, n).round(), "gest": rng.integers(259, 295, n).astype(float),
                   "wt": rng.normal(67, 12, n).round(1), "ht": rng.normal(165, 7, n).round(),
                   "sex": rng.integers(0, 2, n).astype(float), "eth": eth_codes,
                   "eth_text": texts[eth_codes.astype(int) - 1], "par": rng.integers(0, 5, n).astype(float)})


def best(eth):
    times = []
    for _ in range(3):
        t0 = time.perf_counter()
        c = pelmora.centile(0, df.bwt, df.gest, df.wt, df.ht, df.sex, eth, df.par)
        times.append(time.perf_counter() - t0)
    return min(times), c


t_codes, c_codes = best(df.eth)
t_texts, c_texts = best(df.eth_text)
assert np.array_equal(c_codes, c_texts, equal_nan=True)
print(f"codes: {t_codes:.3f} s ({n / t_codes:,.0f} rows/s); texts: {t_texts:.3f} s ({n / t_texts:,.0f} rows/s); "
      f"texts cost {t_texts / t_codes:.2f} times codes")
