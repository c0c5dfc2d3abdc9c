"""The Python module on a million numeric rows on every core, beside a numpy peer: the same
calculation written with numpy alone (the United Kingdom base, each row's slices added one
after the other in slice order, all rows at once). The peer is a yardstick for what a careful
numpy version costs, not a second home of the model; it reports how many of its centiles have
the module's bits. Run with Debian's python3 and PYTHONPATH=<build>/python.
"""

import time

import numpy as np

import pelmora


def generated_rows(n, seed=1):
    """Plausible rows: 33 to 42 weeks, birth weights spread around the typical weight."""
    rng = np.random.default_rng(seed)
    weeks = rng.integers(33, 43, n).astype(np.float64)
    typical = 3500 * (2.991 + weeks * (-0.3185 + weeks * (0.01094 + weeks * -0.0001055)))
    spread = (rng.integers(0, 1000, (3, n)).sum(axis=0) / 1500 - 1) * 0.3
    return {
        "bwt": np.round(typical * (1 + spread)),
        "gest": weeks * 7 + rng.integers(0, 7, n),
        "wt": rng.integers(45, 110, n) + rng.integers(0, 10, n) / 10,
        "ht": rng.integers(150, 186, n).astype(np.float64),
        "sex": rng.integers(0, 2, n).astype(np.float64),
        "eth": rng.integers(1, 12, n).astype(np.float64),
        "par": rng.integers(0, 6, n).astype(np.float64),
    }


def fastest(f, rounds):
    """The fastest of `rounds` runs in wall-clock seconds, the least CPU time (every thread of
    the process) a run took, and the last result."""
    best = cpu = float("inf")
    for _ in range(rounds):
        t0, c0 = time.perf_counter(), time.process_time()
        result = f()
        best = min(best, time.perf_counter() - t0)
        cpu = min(cpu, time.process_time() - c0)
    return best, cpu, result


# The United Kingdom base's terms, as the peer needs them.
UK_ETHNIC = {1: 0.0, 2: -149.4, 3: -187.3, 4: -79.3, 5: -129.9, 6: -218.5, 7: -89.9, 8: -0.3, 9: 56.4}
UK_PARITY = [0.0, 101.9, 133.7, 140.2]
UK_PARITY_OTHER = 162.7


def numpy_peer(r):
    """The centile in percent per row, United Kingdom base, with numpy alone."""
    ht = r["ht"]
    w = np.minimum(np.maximum(r["wt"], 19.96 * (ht * ht) / 10000.0), 29.9 * (ht * ht) / 10000.0)
    x = w - 64.0
    weight_term = ((-0.001 * x - 0.151) * x + 9.1733) * x
    height_term = 6.7 * (ht - 163.0)
    sex_term = np.where(r["sex"] == 1, 48.9, -48.9)
    ethnic_term = np.zeros_like(ht)
    for code, term in UK_ETHNIC.items():
        ethnic_term = np.where(r["eth"] == code, term, ethnic_term)
    parity_term = np.full_like(ht, UK_PARITY_OTHER)
    for code, term in enumerate(UK_PARITY):
        parity_term = np.where(r["par"] == code, term, parity_term)
    term_weight = ((((weight_term + 3455.6) + height_term) + sex_term) + ethnic_term) + parity_term
    g = r["gest"] / 7.0
    proportion = 2.991 + g * (-0.3185 + g * (0.01094 + g * -0.0001055))
    optimal = proportion * term_weight
    z = (r["bwt"] - optimal) / (optimal * 0.1093)

    mirrored = z < 0
    h = np.minimum(np.abs(z), 1000.0) / 1000.0
    half = h / 2.0
    s = np.zeros_like(h)
    for i in range(1, 1002):
        m = i * h - half
        s = (np.exp(-m * m / 2.0) / 2.506628) * h + s
    p = s + 0.5
    p = np.where(mirrored, 1.0 - p, p)
    return p * 100.0


def main():
    n = 1_000_000
    r = generated_rows(n)
    base = np.arange(n) % 4
    seconds, cpu, _ = fastest(lambda: pelmora.centile(base, r["bwt"], r["gest"], r["wt"], r["ht"], r["sex"],
                                                      r["eth"], r["par"], threads=0), 3)
    print(f"python module, {n} rows, every core: {n / seconds:,.0f} rows/s ({n / cpu:,.0f} rows per CPU second)")

    peer_rows = 100_000
    small = {k: v[:peer_rows] for k, v in r.items()}
    seconds, cpu, peer = fastest(lambda: numpy_peer(small), 2)
    module = pelmora.centile(0, small["bwt"], small["gest"], small["wt"], small["ht"], small["sex"], small["eth"],
                             small["par"], threads=1)
    same = int(np.sum(peer.view(np.uint64) == module.view(np.uint64)))
    module_seconds, module_cpu, _ = fastest(lambda: pelmora.centile(0, small["bwt"], small["gest"], small["wt"], small["ht"],
                                                        small["sex"], small["eth"], small["par"], threads=1), 3)
    print(f"numpy peer, {peer_rows} rows, one core: {peer_rows / seconds:,.0f} rows/s "
          f"({peer_rows / cpu:,.0f} per CPU second); the module on the same rows, one thread: "
          f"{peer_rows / module_seconds:,.0f} rows/s ({peer_rows / module_cpu:,.0f} per CPU second); "
          f"{same} of {peer_rows} centiles with the module's bits")


if __name__ == "__main__":
    main()
