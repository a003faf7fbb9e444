#!/usr/bin/env bash
# screenshot.sh [OUTDIR]: builds, then runs every page, state and dialog of
# the window under Xvfb and saves a PNG of each, in Chinese into OUTDIR/zh
# and in English into OUTDIR/en (default build/screenshots).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/screenshots}
scripts/build.sh build >/dev/null
unset QT_QPA_PLATFORM
for lang in zh en; do
    mkdir -p "$out/$lang"
    rm -f "$out/$lang"/*.png
    TAMSEL_LANG=$lang xvfb-run -a -s "-screen 0 1000x650x24" build/bin/tamsel-screenshots "$out/$lang"
done
