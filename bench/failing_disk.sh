#!/usr/bin/env bash
# A failing disk against the same disk healthy, side by side.
#
#   bench/failing_disk.sh
#
# Serves one FAT32 volume with deleted documents (tests/scripts/
# make-fat32-deleted-volume.sh, grown to $SIZE_MIB, default 1024) through
# the FUSE harness tests/disk/failing_disk.py three ways, and times
# `tamsel-cli scan --tsv` of each:
#   healthy    every read answered;
#   bad        $BAD (default 1000) scattered bad sectors, each read that
#              touches one failing after $DELAY_MS (default 50) ms;
#   vanishing  every read failing (after $DELAY_MS ms) once $FAIL_AFTER
#              (default 1500) reads were answered, as a disk unplugged.
# Prints the bad scan's time against the healthy one (the goal: under 1.5 x
# plus the last pass's budget), split into the first pass and the last pass
# (which reads again what the first skipped and narrows it to the bad
# sectors), the unreadable bytes it counted against the bad sectors (equal
# once the last pass is done), and for the vanishing
# disk the time from its first failed read to the end of the scan (the
# goal: under 10 s). Needs root (FUSE with allow_other) and python3-fuse.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${BENCH_DIR:-/tmp/tamsel-bench}/failing-disk
cli=$PWD/build/bin/tamsel-cli
harness=$PWD/tests/disk/failing_disk.py
size_mib=${SIZE_MIB:-1024}
bad_count=${BAD:-1000}
delay=${DELAY_MS:-50}
fail_after=${FAIL_AFTER:-1500}

[ -x "$cli" ] || scripts/build.sh build >/dev/null
mkdir -p "$dir"
image=$dir/volume.img
mnt=$dir/mnt
pid=
cleanup() {
    fusermount3 -u -z "$mnt" 2>/dev/null || true
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

if [ ! -f "$image" ]; then
    tests/scripts/make-fat32-deleted-volume.sh "$image"
    truncate -s "${size_mib}M" "$image"
fi
sectors=$(( $(stat -c %s "$image") / 512 ))
# Scattered over the second half of the volume, where only free space is.
bad=$(/usr/bin/python3 -c "
import random
random.seed(27)
n, total = $bad_count, $sectors
print(','.join(str(s) for s in sorted(random.sample(range(total // 2, total), n))))")

mount_with() {
    mkdir -p "$mnt"
    rm -f "$dir/failures.log"
    /usr/bin/python3 "$harness" "$image" "$mnt" --log "$dir/failures.log" "$@" &
    pid=$!
    for _ in $(seq 100); do [ -e "$mnt/disk.img" ] && return 0; sleep 0.1; done
    echo "failing_disk: the harness did not mount" >&2
    exit 1
}
unmount() {
    fusermount3 -u "$mnt"
    wait "$pid" 2>/dev/null || true
    pid=
}
# Seconds a scan of the mounted volume takes; its error output in $dir/scan.err.
time_scan() {
    local start end
    start=$(date +%s.%N)
    "$cli" scan "$mnt/disk.img" --tsv >"$dir/scan.out" 2>"$dir/scan.err" || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}

mount_with
healthy=$(time_scan)
unmount

mount_with --bad "$bad" --delay "$delay"
bad_start=$(date +%s.%N)
failing=$(time_scan)
bad_end=$(echo "$bad_start + $failing" | bc -l)
unreadable=$(grep -o 'Warning: [0-9]* byte' "$dir/scan.err" | grep -o '[0-9]*' || echo 0)
failed_reads=$(wc -l <"$dir/failures.log")
cp "$dir/failures.log" "$dir/bad-failures.log"
# The last pass reads chunks of 64 KiB and sectors in the stretches
# the first reads skipped: its part of the time runs from its first
# failed read to the end of the scan.
read -r first_pass_failures last_pass_start < <(awk -v end="$bad_end" '
    $3 <= 65536 { if (!s) s = $1; n++ } END { printf "%d %s\n", NR - n, s ? s : end }' "$dir/failures.log")
last_pass=$(echo "$bad_end - $last_pass_start" | bc -l)
unmount

mount_with --fail-after "$fail_after" --delay "$delay"
vanish_start=$(date +%s.%N)
vanishing=$(time_scan)
vanish_end=$(echo "$vanish_start + $vanishing" | bc -l)
first_failure=$(head -1 "$dir/failures.log" | cut -d' ' -f1)
message=$(grep -c "can no longer be read" "$dir/scan.err" || true)
unmount

printf 'volume %s MiB through FUSE; %s bad sectors, %s ms per failed read\n' "$size_mib" "$bad_count" "$delay"
printf 'healthy scan      %8.2f s\n' "$healthy"
printf 'bad-sector scan   %8.2f s  (%.2f x healthy; %s failed reads; %s bytes unreadable, %s expected)\n' \
    "$failing" "$(echo "$failing / $healthy" | bc -l)" "$failed_reads" "$unreadable" "$((bad_count * 512))"
printf '  of which        %8.2f s first pass (%.2f x healthy; %s failed reads), %.2f s last pass\n' \
    "$(echo "$failing - $last_pass" | bc -l)" "$(echo "($failing - $last_pass) / $healthy" | bc -l)" \
    "$first_pass_failures" "$last_pass"
if [ -n "$first_failure" ]; then
    printf 'vanishing disk    %8.2f s from the first failed read to the end of the scan (message given: %s)\n' \
        "$(echo "$vanish_end - $first_failure" | bc -l)" "$message"
else
    echo "vanishing disk: no read failed (the scan took fewer than $fail_after reads)"
fi
