#!/usr/bin/env bash
# run-demo.sh IMAGE OUTDIR: scans the demo image and lists what it finds.
set -euo pipefail
cd "$(dirname "$0")/.."
image=$1
out=$2
echo "Scanning $image (a FAT32 volume on which some documents were deleted):" >&2
build/bin/tamsel-cli scan "$image"
