#!/usr/bin/env bash
# The main job: installs what is missing, builds, and shows the control in the demo host. With a
# display it opens the window; without one it renders the placed form off screen into
# build/pelmora-form.png and prints the centile the form shows.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target pelmora pelmora-host pelmora-centile >&2

host=build/release/apps/host/pelmora-host
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$host"
fi
exec "$host" --screenshot build/pelmora-form.png
