#!/usr/bin/env bash
# The Windows part of the test command: cross-builds pelmora.dll and pelmora-host.exe for x86-64
# and i686 with mingw-w64 (presets mingw64 and mingw32), then runs every check on both
# architectures under Wine, each in a private prefix of its own architecture: the DLLs as files,
# registration, the registry, the type library, the host-side, calculator and CSV suites, the demo
# host's script test, unregistration (tests/wine/run-checks.sh); then the forms backend, the
# ActiveX face, the control in a real ActiveX container, its screenshot and a VBScript client
# (tests/activex/run.sh). Prints what each part took; exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
for preset in mingw64 mingw32; do
  echo "=== $preset ===" >&2
  begun=$SECONDS
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: built in $((SECONDS - begun)) s ===" >&2
done

status=0
echo "=== wine: component, win64 and win32 ===" >&2
tests/wine/run-checks.sh build/mingw64 build/mingw32 || status=1
for preset in mingw64 mingw32; do
  echo "=== wine: ActiveX container and script client ($preset) ===" >&2
  tests/activex/run.sh "build/$preset" || status=1
done
tests/release/run.sh || status=1  # the zip and the MSIs: listing, examples, registration-free, install and removal
exit $status
