#!/usr/bin/env bash
# The details pass against the scan's own carving time, in the same run.
#
#   bench/details_pass.sh [--keep]
#
# Uses the 2 GiB mixed image of bench/scan_throughput.sh ($BENCH_DIR,
# default /tmp/tamsel-bench; built here the same way when missing: random,
# zero and document regions, a few thousand copies of tests/data). Reads it
# once to warm the page cache, then build/bin/bench-details-pass scans it
# ($ROUNDS rounds, default 3) and reads the details of every listed
# document one after another, and prints the fastest of each and their
# ratio. The image is removed afterwards unless --keep is given.
set -euo pipefail
cd "$(dirname "$0")/.."

keep=0
[ "${1:-}" = "--keep" ] && keep=1
rounds=${ROUNDS:-3}
dir=${BENCH_DIR:-/tmp/tamsel-bench}
bench=build/bin/bench-details-pass
size_mib=2048

[ -x "$bench" ] || cmake --build build --target bench-details-pass >/dev/null
mkdir -p "$dir"
mixed_img="$dir/mixed-2g.img"
cleanup() {
    if [ "$keep" -eq 0 ]; then
        rm -f "$mixed_img"
    fi
}
trap cleanup EXIT

if [ ! -f "$mixed_img" ] || [ "$(stat -c %s "$mixed_img")" -ne $((size_mib * 1024 * 1024)) ]; then
    free_kib=$(df -Pk "$dir" | awk 'NR==2 {print $4}')
    if [ "$free_kib" -lt $(( (size_mib + 128) * 1024 )) ]; then
        echo "details_pass: need $((size_mib + 128)) MiB free in $dir" >&2
        exit 1
    fi
    bench/ensure_mixed_image.sh "$mixed_img" "$size_mib"
fi

cat "$mixed_img" > /dev/null
# The scan's journal goes to a scratch place, not the user's.
XDG_DATA_HOME=$(mktemp -d)
export XDG_DATA_HOME
trap 'rm -rf "$XDG_DATA_HOME"; cleanup' EXIT
echo "load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores" >&2
"$bench" "$mixed_img" "$rounds"
