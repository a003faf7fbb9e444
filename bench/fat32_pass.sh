#!/usr/bin/env bash
# The FAT32 file-system pass against The Sleuth Kit's `fls -r` on the same
# volume.
#
#   bench/fat32_pass.sh [--keep]
#
# Builds once (in $BENCH_DIR, default /tmp/tamsel-bench) a sparse FAT32
# volume with mkfs.fat and mtools holding 100,000 files (long names, 100
# folders of 1,000) of which every tenth folder's files are then deleted.
# Reads it once to warm the page cache, then times `fls -r` and
# build/bin/bench-filesystem-pass alternately for $ROUNDS rounds (default 5)
# and prints the median seconds of each and their ratio (ours / fls: below 1
# is faster). The volume is removed afterwards unless --keep is given.
set -euo pipefail
cd "$(dirname "$0")/.."

keep=0
[ "${1:-}" = "--keep" ] && keep=1
rounds=${ROUNDS:-5}
dir=${BENCH_DIR:-/tmp/tamsel-bench}
pass=build/bin/bench-filesystem-pass
image="$dir/fat32-100k.img"
export MTOOLS_SKIP_CHECK=1

[ -x "$pass" ] || { echo "fat32_pass: build bench-filesystem-pass first (cmake --build build --target bench-filesystem-pass)" >&2; exit 1; }
command -v fls >/dev/null || { echo "fat32_pass: fls (sleuthkit) is missing" >&2; exit 1; }
mkdir -p "$dir"

if [ ! -f "$image" ]; then
    tree=$(mktemp -d)
    trap 'rm -rf "$tree"' EXIT
    for d in $(seq -w 0 99); do
        mkdir "$tree/folder $d"
        (cd "$tree/folder $d" && for f in $(seq -w 0 999); do echo "$d $f" > "document number $f of folder $d.txt"; done)
    done
    truncate -s 1G "$image"
    mkfs.fat -F 32 -s 1 -n BENCH "$image" >/dev/null
    mcopy -i "$image" -s "$tree"/* ::/
    for d in $(seq -w 0 10 99); do
        mdel -i "$image" "::/folder $d/*"
    done
fi

cat "$image" >/dev/null
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
ours=()
theirs=()
for r in $(seq "$rounds"); do
    start=$(date +%s.%N)
    entries=$(fls -r "$image" | wc -l)
    theirs+=("$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN {print a - b}')")
    start=$(date +%s.%N)
    found=$("$pass" FAT32 "$image")
    ours+=("$(awk -v a="$(date +%s.%N)" -v b="$start" 'BEGIN {print a - b}')")
done
o=$(printf '%s\n' "${ours[@]}" | median)
t=$(printf '%s\n' "${theirs[@]}" | median)
echo "fls -r: $entries entries, median ${t}s over $rounds rounds"
echo "ours:   median ${o}s (whole process; pass alone, live and deleted records: $found)"
echo "ratio ours/fls: $(awk -v a="$o" -v b="$t" 'BEGIN {printf "%.3f", a / b}')"
[ "$keep" -eq 1 ] || rm -f "$image"
