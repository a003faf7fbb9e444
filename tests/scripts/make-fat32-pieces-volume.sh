#!/usr/bin/env bash
# make-fat32-pieces-volume.sh IMAGE: builds a FAT32 volume with mkfs.fat and
# mtools (no mount; 1 KiB clusters) holding deleted documents in pieces,
# each written into the first free clusters around files that were there:
#   /around-live/*: around live files, into the holes of small files deleted
#     before (their entries survive, claiming clusters the document took);
#   /around-deleted/*: around a file deleted afterwards and a live file;
#   /control-copies/*: the same documents written whole, then deleted.
# Every document is deleted at the end. mtools allocates from the file
# system's hint of where free clusters begin (FSInfo, sector 1, byte 492):
# it is cleared before each document is written so that it takes the first
# free clusters from the start.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
data="$here/tests/data"
export MTOOLS_SKIP_CHECK=1

rm -f "$image"
truncate -s 80M "$image"
mkfs.fat -F 32 -s 2 -n PIECES "$image" >/dev/null

i=(-i "$image")
mmd "${i[@]}" ::/around-live ::/around-deleted ::/control-copies ::/keep ::/tmp
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
filler() { # NAME KIB
    head -c $(($2 * 1024)) /dev/urandom >"$tmp/filler"
    mcopy "${i[@]}" "$tmp/filler" "::/$1"
}
from_start() {
    printf '\xff\xff\xff\xff' | dd of="$image" bs=1 seek=$((512 + 492)) conv=notrunc status=none
}

n=0
for doc in pdf_pdfunite.pdf docx_python-docx.docx doc_tables.doc xlsx_xlsxwriter.xlsx; do
    n=$((n + 1))
    # hole, live, hole, live: the document takes both holes and goes on
    # past the second live file. The holes' entries stay in a folder of
    # their own, claiming what the document took.
    mmd "${i[@]}" "::/tmp/$n"
    filler "tmp/$n/a.txt" 3
    filler "keep/a$n-1.txt" 2
    filler "tmp/$n/b.txt" 4
    filler "keep/a$n-2.txt" 1
    mdel "${i[@]}" "::/tmp/$n/a.txt" "::/tmp/$n/b.txt"
    from_start
    mcopy "${i[@]}" "$data/$doc" "::/around-live/$doc"
done
for doc in pdf_lo_writer_text.pdf pptx_pptxgenjs.pptx xls_3sheets.xls docx_cjk_core.docx; do
    n=$((n + 1))
    # hole, a file deleted after the document was written, hole, live.
    mmd "${i[@]}" "::/tmp/$n"
    filler "tmp/$n/c.txt" 3
    filler "tmp/$n/later.txt" 5
    filler "tmp/$n/d.txt" 2
    filler "keep/b$n.txt" 1
    mdel "${i[@]}" "::/tmp/$n/c.txt" "::/tmp/$n/d.txt"
    from_start
    mcopy "${i[@]}" "$data/$doc" "::/around-deleted/$doc"
done
for doc in pdf_pdfunite.pdf docx_python-docx.docx doc_tables.doc xlsx_xlsxwriter.xlsx \
    pdf_lo_writer_text.pdf pptx_pptxgenjs.pptx xls_3sheets.xls docx_cjk_core.docx; do
    mcopy "${i[@]}" "$data/$doc" "::/control-copies/$doc"
done
for k in 5 6 7 8; do mdel "${i[@]}" "::/tmp/$k/later.txt"; done
mdeltree "${i[@]}" ::/around-live ::/around-deleted ::/control-copies
