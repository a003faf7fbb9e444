#!/usr/bin/env bash
# Makes IMAGE, the mixed image of bench/mixed_image.py (SIZE_MIB MiB in
# which random regions, zero regions and copies of the documents of
# tests/data alternate), unless a file of that size is there already.
#
#   bench/ensure_mixed_image.sh IMAGE SIZE_MIB
set -euo pipefail
img=$1
size_mib=$2
cd "$(dirname "$0")/.."
if [ -f "$img" ] && [ "$(stat -c %s "$img")" -eq $((size_mib * 1024 * 1024)) ]; then
    exit 0
fi
echo "building $img ($size_mib MiB of random, zero and document regions)" >&2
docs=$(python3 bench/mixed_image.py "$img" "$size_mib" tests/data/*.pdf tests/data/*.doc tests/data/*.xls \
    tests/data/*.ppt tests/data/*.docx tests/data/*.xlsx tests/data/*.pptx tests/data/*.zip)
echo "$docs documents placed" >&2
