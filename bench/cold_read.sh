#!/usr/bin/env bash
# Our scan on a cold disk against the device's own ceiling, side by side.
#
#   sudo bench/cold_read.sh [--keep]
#
# Builds the mixed image of bench/mixed_image.py ($SIZE_MIB MiB, default
# 4096: random, zero and document regions, so that the carving analysers
# are at work) in $BENCH_DIR (default /tmp/tamsel-cold), or takes $IMAGE.
# Then for $ROUNDS rounds (default 8) it runs, one after the other and each
# after the page cache was dropped:
#   dd bs=32M;
#   fio direct reads (1 MiB blocks, libaio) at queue depths 1, 8 and 64;
#   fio buffered reads by 2 jobs, one on each half of the image;
#   tamsel-cli scan --fs none.
# It prints the fastest and the median MB/s of each, and our ratio to dd and
# to fio's best (fastest against fastest). Single cold runs on a shared disk
# scatter widely, so the fastest of several alternating rounds is the figure
# to compare. Dropping the page cache needs root: without it the script
# says so and stops. fio is installed with apt-get when missing.
#
# Each reader is timed by its own account of its reading, as fio times
# itself: fio's job run time, dd's own summary line, and the scan time
# tamsel-cli prints ("scanned in", from the start of the scan until every
# document found is listed). None of them counts loading the program, which
# on a dropped cache is a cold read of its libraries (about 0.06 s for
# tamsel-cli's Qt and ICU, 0.4 s for fio's). Our whole process, start-up and
# output included, is timed too, on a line of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

keep=0
[ "${1:-}" = "--keep" ] && keep=1
rounds=${ROUNDS:-8}
dir=${BENCH_DIR:-/tmp/tamsel-cold}
size_mib=${SIZE_MIB:-4096}
cli=$repo/build/bin/tamsel-cli

if [ "$(id -u)" -ne 0 ]; then
    echo "cold_read: dropping the page cache needs root; run it as root (sudo bench/cold_read.sh)." >&2
    exit 1
fi
if ! sync || ! echo 3 > /proc/sys/vm/drop_caches 2>/dev/null; then
    echo "cold_read: cannot drop the page cache here (/proc/sys/vm/drop_caches is not writable); stopping." >&2
    exit 1
fi

[ -x "$cli" ] || scripts/build.sh build >/dev/null
if ! command -v fio >/dev/null; then
    echo "installing fio" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends fio >/dev/null
fi

mkdir -p "$dir"
img=${IMAGE:-$dir/mixed-${size_mib}m.img}
cleanup() {
    if [ -z "${IMAGE:-}" ] && [ "$keep" -eq 0 ]; then
        rm -f "$img"
        rmdir "$dir" 2>/dev/null || true
    fi
}
trap cleanup EXIT

if [ ! -f "$img" ]; then
    need_kib=$(( (size_mib + 256) * 1024 ))
    free_kib=$(df -Pk "$dir" | awk 'NR==2 {print $4}')
    if [ "$free_kib" -lt "$need_kib" ]; then
        echo "cold_read: need $((need_kib / 1024)) MiB free in $dir, have $((free_kib / 1024)) MiB" >&2
        exit 1
    fi
    bench/ensure_mixed_image.sh "$img" "$size_mib"
fi
bytes=$(stat -c %s "$img")
half=$(( bytes / 2 / 1048576 * 1048576 ))

drop() { sync; echo 3 > /proc/sys/vm/drop_caches; }
now() { date +%s.%N; }

# fio's own account of the bytes it read and the time it took, as MB/s.
fio_rate() {
    python3 -c 'import json, sys
d = json.load(sys.stdin)
io = sum(j["read"]["io_bytes"] for j in d["jobs"])
ms = max(j["read"]["runtime"] for j in d["jobs"])
print(io / 1e6 / (ms / 1000.0))'
}
run_fio() {
    fio --output-format=json --readonly --rw=read --bs=1M --filename="$img" "$@" | fio_rate
}

# Each prints its MB/s.

# dd's summary: "N bytes (...) copied, S s, ...".
run_dd() {
    dd if="$img" of=/dev/null bs=32M 2>&1 | awk '/copied/ {for (i = 1; i <= NF; i++) if ($i == "s,") print $1 / 1000000 / $(i - 1)}'
}
# Ours by its own account; the wall time of the same run, start-up and
# output included, goes to $wall_file.
run_ours() {
    local t0 t1 summary
    t0=$(now)
    summary=$("$cli" scan --fs none "$img" 2>&1 >/dev/null | grep -o 'scanned in [0-9.]* s ([0-9.]* MB/s)' || true)
    t1=$(now)
    awk -v n="$bytes" -v a="$t0" -v b="$t1" 'BEGIN {print n / 1000000 / (b - a)}' > "$wall_file"
    echo "$summary" | sed 's/.*(\([0-9.]*\) MB\/s)/\1/'
}
wall_file=$(mktemp)
trap 'rm -f "$wall_file"; cleanup' EXIT
run_fio_qd1() { run_fio --name=qd1 --direct=1 --ioengine=libaio --iodepth=1 --size="$bytes"; }
run_fio_qd8() { run_fio --name=qd8 --direct=1 --ioengine=libaio --iodepth=8 --size="$bytes"; }
run_fio_qd64() { run_fio --name=qd64 --direct=1 --ioengine=libaio --iodepth=64 --size="$bytes"; }
run_fio_halves() {
    run_fio --name=halves --direct=0 --ioengine=psync --numjobs=2 --size="$half" --offset_increment="$half"
}

tools=(dd fio_qd1 fio_qd8 fio_qd64 fio_halves ours)
declare -A rates
loads=()
for round in $(seq "$rounds"); do
    loads+=("$(cut -d' ' -f1 /proc/loadavg)")
    for tool in "${tools[@]}"; do
        drop
        rates[$tool]+=" $("run_$tool")"
        if [ "$tool" = ours ]; then
            rates[ours_wall]+=" $(cat "$wall_file")"
        fi
    done
    echo "round $round of $rounds done, load $(cut -d' ' -f1 /proc/loadavg)" >&2
done

fastest() { printf '%s\n' "$@" | sort -g | tail -1; }
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
label() {
    case $1 in
        dd) echo "dd bs=32M" ;;
        fio_qd1) echo "fio direct, depth 1" ;;
        fio_qd8) echo "fio direct, depth 8" ;;
        fio_qd64) echo "fio direct, depth 64" ;;
        fio_halves) echo "fio buffered, 2 halves" ;;
        ours) echo "tamsel-cli scan --fs none" ;;
        ours_wall) echo "  the same, whole process" ;;
    esac
}

echo
dev=$(df -P "$img" | awk 'NR==2 {print $1}')
echo "$((bytes / 1048576)) MiB mixed image on $dev, page cache dropped before every run, $(nproc) cores"
echo "load average at the start of each round: ${loads[*]}"
printf '%-28s %14s %14s\n' "reader" "fastest MB/s" "median MB/s"
declare -A best
for tool in "${tools[@]}" ours_wall; do
    # shellcheck disable=SC2086
    best[$tool]=$(fastest ${rates[$tool]})
    # shellcheck disable=SC2086
    printf '%-28s %14.1f %14.1f\n' "$(label "$tool")" "${best[$tool]}" "$(median ${rates[$tool]})"
done
fio_best=$(fastest "${best[fio_qd1]}" "${best[fio_qd8]}" "${best[fio_qd64]}" "${best[fio_halves]}")
echo "ours / dd (fastest): $(awk -v a="${best[ours]}" -v b="${best[dd]}" 'BEGIN {printf "%.3f", a / b}')"
echo "ours / fio's best (fastest): $(awk -v a="${best[ours]}" -v b="$fio_best" 'BEGIN {printf "%.3f", a / b}')"
echo "ours, whole process / fio's best (fastest): $(awk -v a="${best[ours_wall]}" -v b="$fio_best" 'BEGIN {printf "%.3f", a / b}')"
