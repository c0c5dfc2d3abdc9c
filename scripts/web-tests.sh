#!/usr/bin/env bash
# The web face: builds the WebAssembly module and the npm package (web/build.sh), installs the
# tests' npm packages from web/package-lock.json, then runs the Node tests (the module's API, the
# validation table, its exp against this machine's, the packed tarball installed offline, the
# curves and charts against the native tool's) and the Chromium tests (the elements, against the
# native demo host and chart writer of the release build).
#   scripts/web-tests.sh     (after the release build: build/release/apps/host/pelmora-host and
#                             build/release/apps/centile/pelmora-centile)
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/web

tarball=$(web/build.sh "$out")
g++ -std=c++20 -O2 -ffp-contract=off web/tests/exp_reference.cpp -o "$out/exp_reference"
"$out/exp_reference" > "$out/exp_reference.txt"
(cd web && npm ci --no-audit --no-fund --loglevel=error)

# Both modules of the package: the one for every engine, and the one with relaxed SIMD's fused
# multiply-add, which Node has by default from version 22 and behind a V8 flag before.
relaxed_flag=()
if node --v8-options | grep -q -e '--experimental-wasm-relaxed-simd'; then
  relaxed_flag=(--experimental-wasm-relaxed-simd)
fi
for wasm in pelmora-core.wasm pelmora-core-relaxed.wasm; do
  flags=()
  [ "$wasm" = pelmora-core.wasm ] || flags=("${relaxed_flag[@]}")
  echo "web: the module tests on $wasm"
  PELMORA_WASM="$wasm" PELMORA_EXP_REFERENCE="$out/exp_reference.txt" PELMORA_TARBALL="$tarball" \
    PELMORA_CENTILE="${PELMORA_CENTILE:-build/release/apps/centile/pelmora-centile}" \
    node "${flags[@]}" --test web/tests/module.test.mjs
done
if [ -e web/tests/browser.test.mjs ]; then
  PELMORA_HOST="${PELMORA_HOST:-build/release/apps/host/pelmora-host}" \
  PELMORA_CENTILE="${PELMORA_CENTILE:-build/release/apps/centile/pelmora-centile}" node --test web/tests/browser.test.mjs
fi
