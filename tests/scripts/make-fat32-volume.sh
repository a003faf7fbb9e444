#!/usr/bin/env bash
# make-fat32-volume.sh IMAGE [SECTOR_SIZE|unaligned]: builds a FAT32 volume
# with mkfs.fat and mtools (no mount), 4096-byte clusters, holding live
# documents three directories deep, a container under another name, files of
# no interest, live documents behind other attribute bits (read-only, hidden
# with the archive bit cleared, inside a hidden system directory), a live
# .txt that holds a PDF, and documents that were copied and then deleted.
# SECTOR_SIZE is 512 (default) or 4096; "unaligned" lays the volume out as
# formatters that do not align the data area do (37 reserved sectors, so
# every cluster starts off the 4 KiB grid). The image is sparse: FAT32 needs
# 65525 clusters, but only the few written ones take room.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
sector=${2:-512}
data="$here/tests/data"
export MTOOLS_SKIP_CHECK=1

rm -f "$image"
truncate -s 272M "$image"
if [ "$sector" = unaligned ]; then
    mkfs.fat -F 32 -s 8 -a -R 37 -n TAMSEL "$image" >/dev/null
elif [ "$sector" = 512 ]; then
    mkfs.fat -F 32 -s 8 -n TAMSEL "$image" >/dev/null
else
    mkfs.fat -F 32 -S "$sector" -s $((4096 / sector)) -n TAMSEL "$image" >/dev/null
fi

i=(-i "$image")
mmd "${i[@]}" ::/Docs ::/Docs/Work ::/Docs/Work/Deep ::/Misc
# Live documents; REPORT.PDF and BUDGET.XLS have short names only, the
# others long names too.
mcopy "${i[@]}" "$data/pdf_lo_writer_text.pdf" ::/Docs/REPORT.PDF
mcopy "${i[@]}" "$data/docx_python-docx.docx" ::/Docs/letter.docx
mcopy "${i[@]}" "$data/xls_3sheets.xls" ::/Docs/Work/BUDGET.XLS
mcopy "${i[@]}" "$data/pptx_lo_3slides.pptx" ::/Docs/Work/talk.pptx
mcopy "${i[@]}" "$data/xlsx_xlsxwriter.xlsx" "::/Docs/Work/Deep/Quarterly Figures 2026.xlsx"
mcopy "${i[@]}" "$data/doc_tables.doc" ::/Docs/Work/Deep/minutes.doc
mcopy "${i[@]}" "$data/zip_stored.zip" ::/ARCHIVE.ZIP
mcopy "${i[@]}" "$data/pdf_pdfunite.pdf" "::/Misc/Jahresbericht für das Jahr 2026.pdf"
mcopy "${i[@]}" "$data/ppt_2slides.ppt" ::/Misc/slides.ppt
# A ZIP under another name, and files of no interest.
mcopy "${i[@]}" "$data/zip_deflated.zip" ::/Misc/book.odt
mcopy "${i[@]}" "$data/MANIFEST.tsv" ::/Misc/notes.txt
mcopy "${i[@]}" "$data/MANIFEST.tsv" ::/Misc/noext
# Attribute bits other than the archive bit alone.
mcopy "${i[@]}" "$data/doc_short.doc" ::/Docs/FINAL.DOC
mattrib "${i[@]}" +r ::/Docs/FINAL.DOC
mcopy "${i[@]}" "$data/pdf_ghostscript.pdf" ::/hidden.pdf
mattrib "${i[@]}" -a +h ::/hidden.pdf
mmd "${i[@]}" ::/Private
mcopy "${i[@]}" "$data/docx_lo_short.docx" ::/Private/plan.docx
mattrib "${i[@]}" +h +s ::/Private
# A live file whose name hides a PDF.
mcopy "${i[@]}" "$data/pdf_lo_writer_text.pdf" ::/Misc/readme.txt
# Deleted documents.
mcopy "${i[@]}" "$data/pdf_qpdf_linearized.pdf" ::/Docs/old-draft.pdf
mcopy "${i[@]}" "$data/docx_lo_short.docx" ::/Docs/Work/gone.docx
mcopy "${i[@]}" "$data/xlsx_lo_small.xlsx" ::/Docs/Work/Deep/gone.xlsx
mcopy "${i[@]}" "$data/pptx_pptxgenjs.pptx" ::/Misc/gone.pptx
mdel "${i[@]}" ::/Docs/old-draft.pdf ::/Docs/Work/gone.docx ::/Docs/Work/Deep/gone.xlsx ::/Misc/gone.pptx
