#!/usr/bin/env bash
# The web demo: builds the WebAssembly module and the npm package if need be, then serves the demo
# page on localhost (nothing else is fetched) and prints its address. Ctrl-C ends it.
#   scripts/web-demo.sh [PORT]     (8020 by default; 0 picks a free port)
set -euo pipefail
cd "$(dirname "$0")/.."
web/build.sh build/web >/dev/null
exec node web/serve.mjs build/web/demo "${1:-8020}"
