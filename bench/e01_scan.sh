#!/usr/bin/env bash
# The scan of an E01 image against the scan of the raw image it was acquired
# from, side by side.
#
#   bench/e01_scan.sh [SIZE_MIB]
#
# Builds (once, in $BENCH_DIR, default /tmp/tamsel-bench) the mixed image of
# bench/ensure_mixed_image.sh (SIZE_MIB MiB, default 512: random, zero and
# document regions) and its E01 (tests/scripts/make-e01-image.sh: deflate,
# fast). Then, with the page cache warm, times `tamsel-cli scan --fs none`
# of each, alternately for $ROUNDS rounds (default 3), and prints the
# fastest of each and their ratio, and whether both list the same documents.
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-512}
rounds=${ROUNDS:-3}
dir=${BENCH_DIR:-/tmp/tamsel-bench}
cli=build/bin/tamsel-cli
[ -x "$cli" ] || scripts/build.sh build >/dev/null
mkdir -p "$dir"
raw="$dir/mixed-$size_mib.img"
bench/ensure_mixed_image.sh "$raw" "$size_mib"
target="$dir/mixed-$size_mib"
if [ ! -f "$target.E01" ] || [ "$target.E01" -ot "$raw" ]; then
    echo "acquiring $target.E01" >&2
    tests/scripts/make-e01-image.sh "$raw" "$target"
fi
export XDG_DATA_HOME="$dir/xdg"
best() { sort -n | head -1; }
time_scan() {
    local start end
    start=$(date +%s.%N)
    "$cli" scan "$1" --fs none --tsv >"$2" 2>/dev/null
    end=$(date +%s.%N)
    echo "$end - $start" | bc
}
cat "$raw" "$target".E?? >/dev/null
raw_times=()
ewf_times=()
for _ in $(seq "$rounds"); do
    raw_times+=("$(time_scan "$raw" "$dir/raw.tsv")")
    ewf_times+=("$(time_scan "$target.E01" "$dir/ewf.tsv")")
done
raw_best=$(printf '%s\n' "${raw_times[@]}" | best)
ewf_best=$(printf '%s\n' "${ewf_times[@]}" | best)
same=no
cmp -s "$dir/raw.tsv" "$dir/ewf.tsv" && same=yes
printf 'raw image  %s MiB: %.2f s\n' "$size_mib" "$raw_best"
printf 'E01 image  %s bytes: %.2f s\n' "$(cat "$target".E?? | wc -c)" "$ewf_best"
printf 'E01 / raw: %.2f\n' "$(echo "$ewf_best / $raw_best" | bc -l)"
echo "same list: $same ($(wc -l <"$dir/raw.tsv") documents)"
