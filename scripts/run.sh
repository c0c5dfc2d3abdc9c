#!/usr/bin/env bash
# The main job: builds, then computes a worked example with the command-line tool.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" >&2
exec build/release/apps/centile/pelmora-centile --base "United Kingdom" --bwt 3500 --gest-weeks 40 \
  --wt 64 --ht 163 --sex Male --eth European --par 0
