#!/usr/bin/env bash
# make-fat16-volume.sh IMAGE 12|16: builds a FAT12 (4 MiB) or FAT16 (32 MiB)
# volume with mkfs.fat and mtools (no mount), 2 KiB clusters, whose fixed
# root directory and a subfolder hold live documents beside deleted ones
# with long (and non-ASCII) names, and a deleted folder that held documents.
# Every file is written once into a fresh volume, so each deleted one lies
# in one run of clusters, but for the slides: written into the cluster a
# removed folder left before a live document, and on after it, so that
# their data lies around that document's cluster.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
bits=$2
data="$here/tests/data"
export MTOOLS_SKIP_CHECK=1

case "$bits" in
12) size=4M ;;
16) size=32M ;;
*) echo "usage: $0 IMAGE 12|16" >&2; exit 2 ;;
esac
rm -f "$image"
truncate -s "$size" "$image"
mkfs.fat -F "$bits" -s 4 -n "FAT$bits" "$image" >/dev/null

i=(-i "$image")
mmd "${i[@]}" ::/Docs ::/Docs/Sub ::/Gone
# Live and deleted files alternate, so that the live filter and the deleted
# entries meet side by side.
mcopy "${i[@]}" "$data/pdf_lo_writer_text.pdf" ::/REPORT.PDF
mcopy "${i[@]}" "$data/docx_python-docx.docx" "::/Lebenslauf für die Bewerbung.docx"
mcopy "${i[@]}" "$data/xls_small.xls" ::/Docs/budget.xls
mcopy "${i[@]}" "$data/pptx_lo_3slides.pptx" "::/Docs/季度汇报.pptx"
mcopy "${i[@]}" "$data/doc_short.doc" ::/Docs/Sub/MINUTES.DOC
mcopy "${i[@]}" "$data/xlsx_lo_small.xlsx" "::/Docs/Sub/Quarterly figures.xlsx"
mcopy "${i[@]}" "$data/zip_deflated.zip" ::/Docs/Sub/archive.zip
mcopy "${i[@]}" "$data/pdf_ghostscript.pdf" "::/Gone/old invoice.pdf"
mcopy "${i[@]}" "$data/doc_summary.doc" ::/Gone/NOTES.DOC
mcopy "${i[@]}" "$data/pdf_qpdf_linearized.pdf" "::/A rather long name for a linearized document.pdf"
mcopy "${i[@]}" "$data/docx_lo_short.docx" ::/letter.docx
mcopy "${i[@]}" "$data/MANIFEST.tsv" ::/readme.txt
mmd "${i[@]}" ::/Tmp
mcopy "${i[@]}" "$data/pdf_xref_stream.pdf" ::/Docs/kept.pdf
mrd "${i[@]}" ::/Tmp
mcopy "${i[@]}" "$data/ppt_2slides.ppt" "::/Docs/Slides for the talk.ppt"
mdel "${i[@]}" "::/Lebenslauf für die Bewerbung.docx" "::/Docs/季度汇报.pptx" "::/Docs/Sub/Quarterly figures.xlsx" \
    "::/A rather long name for a linearized document.pdf" "::/Docs/Slides for the talk.ppt"
mdeltree "${i[@]}" ::/Gone
