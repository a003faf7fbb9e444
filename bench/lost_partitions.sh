#!/usr/bin/env bash
# What the search for deleted partitions adds to a whole-disk scan, against
# the plain scan of the same disk.
#
#   bench/lost_partitions.sh [SIZE_GIB]
#
# Builds (in $BENCH_DIR, default /tmp/tamsel-lostparts) the disk of
# tests/scripts/make-lost-partition-disk.sh gpt (a FAT32 partition deleted
# from a GPT) grown to SIZE_GIB GiB (default 8; sparse, the backup table
# moved to the new end with sgdisk -e), and a copy whose table is zeroed
# (sectors 0-33 and the backup's last 33), so that the whole disk is
# searched. On each, after one read
# that puts the image in the page cache, it times for $ROUNDS rounds
# (default 3) build/bin/bench-lost-partitions (the table and the search
# alone: seconds, reads) and `tamsel-cli scan --fs none` (the plain scan:
# every byte carved, no table read), and prints the fastest of each and
# their ratio.
set -euo pipefail
cd "$(dirname "$0")/.."

size=${1:-8}
rounds=${ROUNDS:-3}
dir=${BENCH_DIR:-/tmp/tamsel-lostparts}
search=build/bin/bench-lost-partitions
cli=build/bin/tamsel-cli
[ -x "$search" ] && [ -x "$cli" ] || { echo "lost_partitions: build bench-lost-partitions and tamsel-cli first" >&2; exit 1; }
mkdir -p "$dir"
deleted="$dir/deleted-$size.img"
zeroed="$dir/zeroed-$size.img"
if [ ! -f "$deleted" ]; then
    bash tests/scripts/make-lost-partition-disk.sh "$deleted" gpt
    truncate -s "${size}G" "$deleted"
    sgdisk -e "$deleted" >/dev/null
fi
if [ ! -f "$zeroed" ]; then
    cp --sparse=always "$deleted" "$zeroed"
    dd if=/dev/zero of="$zeroed" bs=512 count=34 conv=notrunc status=none
    dd if=/dev/zero of="$zeroed" bs=512 count=33 seek=$(( $(stat -c %s "$zeroed") / 512 - 33 )) conv=notrunc status=none
fi

for image in "$deleted" "$zeroed"; do
    cat "$image" >/dev/null
    best_search=
    best_scan=
    for _ in $(seq "$rounds"); do
        read -r s reads found < <("$search" "$image")
        start=$(date +%s.%N)
        "$cli" scan "$image" --fs none >/dev/null 2>&1
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc -l)
        if [ -z "$best_search" ] || (( $(echo "$s < $best_search" | bc -l) )); then best_search=$s; fi
        if [ -z "$best_scan" ] || (( $(echo "$t < $best_scan" | bc -l) )); then best_scan=$t; fi
    done
    printf '%s (%s GiB): search %.4f s (%s reads, %s found), plain scan %.2f s, search / scan = %.5f\n' \
        "$(basename "$image")" "$size" "$best_search" "$reads" "$found" "$best_scan" \
        "$(echo "$best_search / $best_scan" | bc -l)"
done
