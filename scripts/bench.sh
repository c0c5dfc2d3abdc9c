#!/usr/bin/env bash
# The benchmarks (not part of the test command): the calculators, the slices and the exp bound,
# the batch engine and pelmora-centile --csv (pelmora_calc_bench), then the Python module on a
# million rows beside a numpy peer. Release build; arguments go to pelmora_calc_bench (e.g.
# --benchmark_filter=Engine).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target pelmora_calc_bench pelmora_python >&2
build/release/bench/calc/pelmora_calc_bench "$@"
PYTHONPATH=build/release/python /usr/bin/python3 bench/python/python_bench.py
