#!/usr/bin/env bash
# screenshot.sh [OUTDIR]: builds, then runs every page, state and dialog of
# the window under Xvfb and saves a PNG of each (default build/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
scripts/build.sh build >/dev/null
mkdir -p "$out"
rm -f "$out"/*.png
unset QT_QPA_PLATFORM
xvfb-run -a -s "-screen 0 1000x650x24" build/bin/tamsel-screenshots "$out"
