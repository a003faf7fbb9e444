#!/usr/bin/env bash
# make-demo-image.sh IMAGE: builds a FAT32 volume with mkfs.fat and mtools
# (no mount needed), copies sample documents onto it and deletes some of
# them, so that the volume holds both live and deleted documents.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
image=$1
data="$here/tests/data"

rm -f "$image"
# 4 KiB clusters need at least 65525 of them on FAT32: 300 MiB, sparse.
truncate -s 300M "$image"
mkfs.fat -F 32 -s 8 -n DEMO "$image" >/dev/null
export MTOOLS_SKIP_CHECK=1

mmd -i "$image" ::/Documents ::/Documents/Work
mcopy -i "$image" "$data/pdf_lo_writer_text.pdf" ::/Documents/report.pdf
mcopy -i "$image" "$data/docx_lo_short.docx" ::/Documents/letter.docx
mcopy -i "$image" "$data/xls_small.xls" ::/Documents/Work/budget.xls
mcopy -i "$image" "$data/pptx_lo_3slides.pptx" ::/Documents/Work/talk.pptx
mcopy -i "$image" "$data/zip_deflated.zip" ::/Documents/notes.zip
mcopy -i "$image" "$data/pdf_ghostscript.pdf" ::/Documents/Work/thesis.pdf
mcopy -i "$image" "$data/doc_tables.doc" ::/Documents/Work/tables.doc
mcopy -i "$image" "$data/xlsx_xlsxwriter.xlsx" ::/Documents/sheet.xlsx

# The deleted ones: their bytes stay on the volume, their entries are gone.
mdel -i "$image" ::/Documents/Work/thesis.pdf ::/Documents/Work/tables.doc ::/Documents/sheet.xlsx ::/Documents/notes.zip
echo "demo image: $image (8 documents copied, 4 of them deleted: thesis.pdf, tables.doc, sheet.xlsx, notes.zip)"
