#!/usr/bin/env bash
# The Python module as pip builds it: `pip wheel` of the source tree (offline, Debian's
# setuptools and pybind11, no build isolation), installed into a fresh virtual environment
# (Debian's numpy, pandas and pytest through its system site packages), where tests/python runs
# against it: the validation table bit for bit, and the command-line tool of the release build.
#   scripts/python-wheel-tests.sh [output folder, default build/wheel]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$(mkdir -p "${1:-build/wheel}" && cd "${1:-build/wheel}" && pwd)
cli=$root/build/release/apps/centile/pelmora-centile
[ -x "$cli" ] || { echo "python-wheel-tests: build the release preset first ($cli)" >&2; exit 1; }

rm -rf "$out/dist" "$out/venv"
/usr/bin/python3 -m pip wheel --no-build-isolation --no-deps --no-index -w "$out/dist" . >&2
wheel=$(ls "$out"/dist/pelmora-*.whl)
/usr/bin/python3 -m venv --system-site-packages "$out/venv"
"$out/venv/bin/python" -m pip install --no-index --no-deps "$wheel" >&2
# From outside the tree, so that only the installed package can be imported.
cd "$out"
PELMORA_CENTILE=$cli PELMORA_VALIDATION_TABLE=$root/validation/centiles.csv \
  "$out/venv/bin/python" -m pytest -q -p no:cacheprovider "$root/tests/python"
echo "python-wheel-tests: $(basename "$wheel") passed in a fresh environment" >&2
