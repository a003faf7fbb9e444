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
# Writing beside an image cannot change its bytes, so no override is needed;
# an OUTDIR on the image itself (a mount of it) would be refused here.
"$cli" recover "$image" "$out" >"$written" || status=$?

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
