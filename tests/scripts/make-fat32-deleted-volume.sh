#!/usr/bin/env bash
# make-fat32-deleted-volume.sh IMAGE: builds a FAT32 volume with mkfs.fat and
# mtools (no mount) whose deleted files test the reading of deleted entries:
# documents deleted in nested folders with long non-ASCII names, a deleted
# folder that held documents, a deleted document under another name, and a
# deleted document whose first clusters a later file took. Live documents
# stay beside them. The image is sparse.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
data="$here/tests/data"
export MTOOLS_SKIP_CHECK=1

rm -f "$image"
truncate -s 272M "$image"
mkfs.fat -F 32 -s 8 -n DELETED "$image" >/dev/null

i=(-i "$image")
mmd "${i[@]}" "::/论文" "::/论文/2024" ::/Archiv ::/Old ::/Old/Inner
mcopy "${i[@]}" "$data/pdf_lo_writer_text.pdf" "::/论文/开题报告.pdf"
mcopy "${i[@]}" "$data/docx_python-docx.docx" "::/论文/2024/毕业论文终稿.docx"
mcopy "${i[@]}" "$data/xlsx_xlsxwriter.xlsx" "::/Archiv/Übersicht der Zahlen.xlsx"
mcopy "${i[@]}" "$data/ppt_2slides.ppt" "::/Archiv/slides.ppt"
mcopy "${i[@]}" "$data/pdf_pdfunite.pdf" ::/Old/report.pdf
mcopy "${i[@]}" "$data/doc_tables.doc" ::/Old/Inner/tables.doc
mcopy "${i[@]}" "$data/docx_lo_short.docx" ::/backup.bak
mcopy "${i[@]}" "$data/MANIFEST.tsv" ::/notes.txt
mcopy "${i[@]}" "$data/pdf_qpdf_linearized.pdf" ::/reused.pdf
mcopy "${i[@]}" "$data/MANIFEST.tsv" ::/tail.txt
# reused.pdf goes first, and the file system's hint of where free clusters
# begin (FSInfo, sector 1, byte 492) is cleared, so the next file written
# takes the first free clusters from the start: those reused.pdf began with.
mdel "${i[@]}" ::/reused.pdf
printf '\xff\xff\xff\xff' | dd of="$image" bs=1 seek=$((512 + 492)) conv=notrunc status=none
mcopy "${i[@]}" "$data/zip_stored.zip" ::/Archiv/later.zip
mdel "${i[@]}" "::/论文/2024/毕业论文终稿.docx" "::/Archiv/Übersicht der Zahlen.xlsx" ::/backup.bak ::/notes.txt
mdeltree "${i[@]}" ::/Old
