#!/usr/bin/env bash
# The R package: builds the source tarball (r/build.sh: calc's sources copied in, the project's
# version), then `R CMD check --no-manual` on it, offline, which installs it, runs the examples,
# the testthat suite (the validation table bit for bit) and rebuilds the vignette. Fails on any
# ERROR or WARNING; NOTEs are printed. The check compiles with a user Makevars that asks for
# fast-math and FMA contraction, as a user's ~/.R/Makevars may: the package's own flags must
# win, or the validation table's bits would not come out.
#   scripts/r-tests.sh [output folder, default build/r]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(mkdir -p "${1:-build/r}" && cd "${1:-build/r}" && pwd)
tarball=$(r/build.sh "$out")

export _R_CHECK_CRAN_INCOMING_=false _R_CHECK_CRAN_INCOMING_REMOTE_=false
export _R_CHECK_FORCE_SUGGESTS_=true _R_CHECK_SYSTEM_CLOCK_=false
# Two threads at most in the examples and tests, as a shared machine asks.
export OMP_THREAD_LIMIT=2 _R_CHECK_EXAMPLE_TIMING_THRESHOLD_=60
cd "$out"
cat >hostile-Makevars <<'MK'
CXX20FLAGS = -O3 -ffast-math -ffp-contract=fast
MK
export R_MAKEVARS_USER=$out/hostile-Makevars
rm -rf pelmora.Rcheck
status=0
R CMD check --no-manual "$tarball" || status=$?
log=pelmora.Rcheck/00check.log
if [ ! -f "$log" ]; then
  echo "r-tests: R CMD check left no log" >&2
  exit 1
fi
summary=$(grep '^Status:' "$log" || true)
grep -E -B2 -A12 '\.\.\. (NOTE|WARNING|ERROR)$' "$log" >&2 || true
echo "r-tests: $summary" >&2
if [ "$status" -ne 0 ] || [ -z "$summary" ] || grep -qE 'WARNING|ERROR' <<<"$summary"; then
  echo "r-tests: R CMD check failed (see $out/$log)" >&2
  exit 1
fi
