#!/usr/bin/env bash
# Every test: installs what is missing, then builds and runs the suite twice (optimised with
# warnings as errors, then under ASan+UBSan), builds and checks the R package,
# builds the Python wheel and tests it in a fresh virtual environment, fuzzes each fuzz
# target for a bounded time, then the Windows builds and their checks under Wine. The web face
# (WebAssembly, npm package, element) is tested after the release build, whose demo host it is
# compared with.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
for preset in release asan; do
  echo "=== $preset ===" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  QT_QPA_PLATFORM=offscreen ctest --preset "$preset" -j "$jobs"
done

echo "=== web ===" >&2
scripts/web-tests.sh

echo "=== R package ===" >&2
scripts/r-tests.sh

echo "=== Python wheel ===" >&2
scripts/python-wheel-tests.sh

echo "=== fuzz ===" >&2
scripts/fuzz-tests.sh

if [ -x scripts/windows-tests.sh ]; then
  echo "=== windows ===" >&2
  scripts/windows-tests.sh
fi
echo "all tests passed" >&2
