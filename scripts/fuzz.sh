#!/usr/bin/env bash
# fuzz.sh TARGET [SECONDS [extra libFuzzer flags...]]
#
# Builds the libFuzzer targets with clang (build-fuzz/) and fuzzes TARGET
# (carver, mft_record, ntfs_scanner, fat32_scanner, details, partition_table,
# exfat_scanner, ext4_scanner) for SECONDS (default 600),
# starting from fuzz/corpus/TARGET. New interesting inputs go to
# fuzz/out/TARGET; crashes, leaks and timeouts to fuzz/out/TARGET-findings.
# Add each finding to fuzz/corpus/TARGET once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: fuzz.sh TARGET [SECONDS]}
seconds=${2:-600}
shift 2 || shift $#

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAMSEL_FUZZ=ON -DTAMSEL_BUILD_TESTS=OFF -DTAMSEL_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target "fuzz_$target" >/dev/null

out=fuzz/out/$target
findings=fuzz/out/$target-findings
mkdir -p "$out" "$findings"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
# Undefined behaviour is a finding too, not a line in the log.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
exec build-fuzz/bin/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$findings/" -print_final_stats=1 "$@" "$out" "fuzz/corpus/$target"
