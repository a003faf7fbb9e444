#!/usr/bin/env bash
# Installs what is missing, builds, and runs Tamsel: the window when there is
# a display; otherwise the command-line tool on a demo disk image.
set -euo pipefail
cd "$(dirname "$0")"
export LC_ALL=C.UTF-8

scripts/install-deps.sh
scripts/build.sh build

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/bin/tamsel "$@"
fi

echo "No display found: running tamsel-cli on a demo disk image instead of the window." >&2
mkdir -p build/demo
scripts/make-demo-image.sh build/demo/demo-fat32.img >&2
exec scripts/run-demo.sh build/demo/demo-fat32.img recovered
