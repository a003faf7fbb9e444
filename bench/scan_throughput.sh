#!/usr/bin/env bash
# Scan throughput against dd on the same image, side by side.
#
#   bench/scan_throughput.sh [--keep]
#
# Builds two 2 GiB images once (in $BENCH_DIR, default /tmp/tamsel-bench):
# one of random bytes, and one in which random regions, zero regions and a
# few thousand documents of all eight types (copies of tests/data, by
# bench/mixed_image.py) alternate, so that the carving analysers are at
# work. For each image it reads it once to warm the page cache, then times
# `dd bs=32M` and `tamsel-cli scan --fs none` alternately for $ROUNDS rounds
# (default 3) and prints the fastest and the median MB/s of each and their
# ratios; the mixed image is measured again with --json, whose listing waits
# for every document's details (titles, times, integrity), and the details'
# own time is given against the scan's. The images are removed afterwards
# unless --keep is given.
set -euo pipefail
cd "$(dirname "$0")/.."

keep=0
[ "${1:-}" = "--keep" ] && keep=1
rounds=${ROUNDS:-3}
dir=${BENCH_DIR:-/tmp/tamsel-bench}
cli=build/bin/tamsel-cli
size_mib=2048

[ -x "$cli" ] || scripts/build.sh build >/dev/null
mkdir -p "$dir"

need_kib=$(( (2 * size_mib + 256) * 1024 ))
free_kib=$(df -Pk "$dir" | awk 'NR==2 {print $4}')
random_img="$dir/random-2g.img"
mixed_img="$dir/mixed-2g.img"
if [ ! -f "$random_img" ] && [ "$free_kib" -lt "$need_kib" ]; then
    echo "scan_throughput: need $((need_kib / 1024)) MiB free in $dir, have $((free_kib / 1024)) MiB" >&2
    exit 1
fi

cleanup() {
    if [ "$keep" -eq 0 ]; then
        rm -f "$random_img" "$mixed_img"
    fi
}
trap cleanup EXIT

if [ ! -f "$random_img" ] || [ "$(stat -c %s "$random_img")" -ne $((size_mib * 1024 * 1024)) ]; then
    echo "building $random_img ($size_mib MiB of random bytes)" >&2
    head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$random_img"
fi

bench/ensure_mixed_image.sh "$mixed_img" "$size_mib"

now() { date +%s.%N; }

# seconds_of COMMAND...: wall time of one run, output discarded.
seconds_of() {
    local t0 t1
    t0=$(now)
    "$@" >/dev/null 2>&1
    t1=$(now)
    awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}'
}

rate() { awk -v n="$1" -v s="$2" 'BEGIN {print n / 1000000 / s}'; }

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

fastest() { printf '%s\n' "$@" | sort -g | tail -1; }

# measure IMAGE LABEL [SCAN OPTIONS...]: prints one line of the table.
measure() {
    local img=$1 label=$2 bytes dd_rates=() our_rates=() s
    shift 2
    bytes=$(stat -c %s "$img")
    cat "$img" > /dev/null
    for _ in $(seq "$rounds"); do
        s=$(seconds_of dd if="$img" of=/dev/null bs=32M)
        dd_rates+=("$(rate "$bytes" "$s")")
        s=$(seconds_of "$cli" scan --fs none "$@" "$img")
        our_rates+=("$(rate "$bytes" "$s")")
    done
    local dd_med our_med dd_top our_top
    dd_med=$(median "${dd_rates[@]}")
    our_med=$(median "${our_rates[@]}")
    dd_top=$(fastest "${dd_rates[@]}")
    our_top=$(fastest "${our_rates[@]}")
    printf '%-34s dd %7.1f / %7.1f MB/s   tamsel-cli %7.1f / %7.1f MB/s   ratio %.3f / %.3f\n' \
        "$label" "$dd_top" "$dd_med" "$our_top" "$our_med" \
        "$(awk -v a="$our_top" -v b="$dd_top" 'BEGIN {print a / b}')" \
        "$(awk -v a="$our_med" -v b="$dd_med" 'BEGIN {print a / b}')"
}

# details_share IMAGE: the details pass's own time against the scan's, as
# tamsel-cli scan --json reports them for the same run (fastest scan of
# $ROUNDS, with its details time).
details_share() {
    local img=$1 line best=""
    for _ in $(seq "$rounds"); do
        line=$("$cli" scan --fs none --json "$img" 2>&1 >/dev/null |
            awk '/scanned in/ {for (i = 1; i <= NF; i++) if ($i == "in") s = $(i + 1)}
                 /read in .* s more/ {for (i = 1; i <= NF; i++) if ($i == "in") d = $(i + 1)}
                 END {print s, d}')
        if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN {exit !(a < b)}'; then
            best=$line
        fi
    done
    set -- $best
    printf '%-34s scan %.2f s, details %.2f s more (%.2f of the scan'"'"'s own time)\n' \
        "mixed 2 GiB, --json details" "$1" "$2" "$(awk -v s="$1" -v d="$2" 'BEGIN {print d / s}')"
}

echo "fastest / median of $rounds alternating rounds, page cache warm, $(nproc) cores, load $(cut -d' ' -f1 /proc/loadavg)"
measure "$random_img" "random 2 GiB"
measure "$mixed_img" "mixed 2 GiB with documents"
measure "$mixed_img" "mixed 2 GiB, --json (with details)" --json
details_share "$mixed_img"
