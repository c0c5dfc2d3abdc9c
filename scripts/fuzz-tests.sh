#!/usr/bin/env bash
# The fuzz stage of the test command: builds the libFuzzer targets (preset fuzz: clang, ASan +
# UBSan) and fuzzes each for PELMORA_FUZZ_SECONDS (default 20) from its seeds. Any finding (a
# crash, a sanitizer report, a leak, an input slower than 5 s or a huge allocation) fails the
# stage and leaves the input in build/fuzz/tests/fuzz/findings/ to replay:
#   build/fuzz/tests/fuzz/<target> <input>
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset fuzz -DPELMORA_FUZZ_SECONDS="${PELMORA_FUZZ_SECONDS:-20}" >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
status=0
ctest --preset fuzz || status=$?

# What each target did: libFuzzer's own count of runs and seconds.
awk '/^[0-9]+\/[0-9]+ Testing: / { name = $3 }
     /^Done [0-9]+ runs in / { printf "fuzz: %-18s %10d runs in %s s\n", name, $2, $5 }' \
  build/fuzz/Testing/Temporary/LastTest.log >&2
exit "$status"
