#!/usr/bin/env bash
# run-demo.sh IMAGE OUTDIR: scans the demo image, recovers what it lists into
# OUTDIR and shows the files this run wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
image=$1
out=$2
cli=build/bin/tamsel-cli

echo "Scanning $image (a FAT32 volume on which some documents were deleted):" >&2
"$cli" scan "$image"

echo >&2
echo "Recovering them into $out:" >&2
written=$(mktemp)
trap 'rm -f "$written"' EXIT
status=0
# The demo image is a scratch copy made a moment ago, so writing beside it on
# the same file system is safe; a real source would be refused here.
"$cli" recover --allow-same-volume "$image" "$out" >"$written" || status=$?

echo >&2
if [ -s "$written" ]; then
    echo "Recovered files (name, bytes, what they hold):"
    while IFS= read -r path; do
        printf '  %-40s %10s  %s\n' "$path" "$(stat -c %s "$path")" "$(file -b "$path" 2>/dev/null | cut -c1-60 || true)"
    done <"$written"
else
    echo "No files were recovered from $image."
fi
exit "$status"
