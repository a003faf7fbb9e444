#!/usr/bin/env bash
# build.sh [BUILD_DIR [extra cmake arguments...]]: configures and builds.
# The compiler's output goes to BUILD_DIR/build.log; it is shown when the
# build fails (or always with VERBOSE=1).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
jobs=$(nproc 2>/dev/null || echo 2)
mkdir -p "$dir"
log="$dir/build.log"
echo "building into $dir/ ..." >&2
if [ "${VERBOSE:-0}" = 1 ]; then
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" | tee "$log"
    cmake --build "$dir" -j "$jobs" 2>&1 | tee -a "$log"
    exit "${PIPESTATUS[0]}"
fi
if ! { cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" && cmake --build "$dir" -j "$jobs"; } >"$log" 2>&1; then
    grep -E -B2 -A6 'error|Error' "$log" | tail -60 >&2 || tail -60 "$log" >&2
    echo "build failed; the whole log is $log" >&2
    exit 1
fi
grep -E 'warning:' "$log" >&2 || true
