#!/usr/bin/env bash
# The Windows part of the test command: cross-builds pelmora.dll for x86-64 and i686 with
# mingw-w64 (presets mingw64 and mingw32), then checks both DLLs and runs the 64-bit one under
# Wine: registration, the host-side suite through CoCreateInstance, the registered type library,
# unregistration (tests/wine/run-checks.sh), then the control in a real ActiveX container and a
# VBScript client (tests/activex/run.sh). Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
for preset in mingw64 mingw32; do
  echo "=== $preset ===" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

status=0
echo "=== wine: component ===" >&2
tests/wine/run-checks.sh build/mingw64 build/mingw32 || status=1
echo "=== wine: ActiveX container and script client ===" >&2
tests/activex/run.sh build/mingw64 || status=1
exit $status
