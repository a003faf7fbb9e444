#!/usr/bin/env bash
# make-fat32-full-volume.sh IMAGE [MIB] [DOCUMENTS...]: a FAT32 volume
# (mkfs.fat, mtools, no mount) of MIB MiB (64 by default) about 80 % full
# of live files, with deleted documents between them: each document is
# written between two live files and deleted afterwards, so its clusters
# are free holes inside the filled part. DOCUMENTS default to those of
# tests/data; given more than there are slots, the list is cycled. The
# deleted documents' names go to IMAGE.deleted, one "NAME<TAB>SOURCE" a line.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
mib=${2:-64}
shift $(( $# >= 2 ? 2 : 1 ))
if [ $# -eq 0 ]; then
    set -- "$here"/tests/data/{pdf_ghostscript.pdf,docx_python-docx.docx,xlsx_xlsxwriter.xlsx,doc_tables.doc,zip_deflated.zip,pptx_lo_3slides.pptx,xls_3sheets.xls,pdf_pdfunite.pdf}
fi
export MTOOLS_SKIP_CHECK=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rm -f "$image"
truncate -s "${mib}M" "$image"
# FAT32 needs 65525 clusters at least: one sector a cluster below 260 MiB.
mkfs.fat -F 32 -s $(( mib < 260 ? 1 : 8 )) -n FULL "$image" >/dev/null

# Live files of random bytes (no document's signature at any sector start),
# 1 to 4 MiB each in a small volume, up to 32 MiB in a large one, until 80 %
# of the volume is taken; a document before each one.
python3 - "$work" "$mib" "$#" <<'PY'
import os, random, sys
work, mib, docs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(20240607)
target = mib * 1024 * 1024 * 8 // 10
largest = max(4, min(32, mib // 64)) * 1024 * 1024
made, n = 0, 0
while made < target:
    size = min(rng.randrange(1024 * 1024, largest + 1), target - made)
    with open(os.path.join(work, "live%05d.bin" % n), "wb") as f:
        f.write(rng.randbytes(size))
    made += size
    n += 1
PY
i=(-i "$image")
docs=("$@")
: > "$image.deleted"
k=0
deleted=()
limit=${DELETED:-0}
for live in "$work"/live*.bin; do
    if [ "$limit" -gt 0 ] && [ "$k" -ge "$limit" ]; then
        mcopy "${i[@]}" "$live" "::/$(basename "$live")"
        rm -f "$live"
        continue
    fi
    src=${docs[$((k % ${#docs[@]}))]}
    ext=${src##*.}
    name=$(printf 'LOST%04d.%s' "$k" "$ext")
    mcopy "${i[@]}" "$src" "::/$name"
    deleted+=("::/$name")
    printf '%s\t%s\n' "$name" "$src" >> "$image.deleted"
    mcopy "${i[@]}" "$live" "::/$(basename "$live")"
    rm -f "$live"
    k=$((k + 1))
done
mdel "${i[@]}" "${deleted[@]}"
