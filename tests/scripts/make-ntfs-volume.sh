#!/usr/bin/env bash
# make-ntfs-volume.sh IMAGE: builds a small NTFS volume (4096-byte clusters)
# through an ntfs-3g mount, holding live documents three directories deep,
# a container under another name, files of no interest, and documents that
# were copied and then deleted (their bytes stay, their records are free).
# Needs root and /dev/fuse for the mount.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
data="$here/tests/data"

rm -f "$image"
truncate -s 24M "$image"
mkntfs -F -Q -c 4096 -L TAMSEL "$image" >/dev/null 2>&1

mnt=$(mktemp -d)
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt" || fusermount -u "$mnt" || true; fi
    rmdir "$mnt" 2>/dev/null || true
}
trap cleanup EXIT
ntfs-3g "$image" "$mnt"

mkdir -p "$mnt/Docs/Work/Deep" "$mnt/Misc"
# Live documents.
cp "$data/pdf_lo_writer_text.pdf" "$mnt/Docs/report.pdf"
cp "$data/docx_python-docx.docx" "$mnt/Docs/letter.docx"
cp "$data/xls_3sheets.xls" "$mnt/Docs/Work/budget.xls"
cp "$data/pptx_lo_3slides.pptx" "$mnt/Docs/Work/talk.pptx"
cp "$data/xlsx_xlsxwriter.xlsx" "$mnt/Docs/Work/Deep/Quarterly Figures 2026.xlsx"
cp "$data/doc_tables.doc" "$mnt/Docs/Work/Deep/minutes.DOC"
cp "$data/zip_stored.zip" "$mnt/Misc/ARCHIVE.ZIP"
cp "$data/pdf_pdfunite.pdf" "$mnt/Misc/年度报告 — a rather long file name that goes on and on.pdf"
cp "$data/ppt_2slides.ppt" "$mnt/Misc/slides.ppt"
# A ZIP under another name, and files of no interest.
cp "$data/zip_deflated.zip" "$mnt/Misc/book.odt"
cp "$data/MANIFEST.tsv" "$mnt/Misc/notes.txt"
cp "$data/MANIFEST.tsv" "$mnt/Misc/no-extension"
# Deleted documents.
cp "$data/pdf_qpdf_linearized.pdf" "$mnt/Docs/old-draft.pdf"
cp "$data/docx_lo_short.docx" "$mnt/Docs/Work/gone.docx"
cp "$data/xlsx_lo_small.xlsx" "$mnt/Docs/Work/Deep/gone.xlsx"
cp "$data/pptx_pptxgenjs.pptx" "$mnt/Misc/gone.pptx"
sync
rm "$mnt/Docs/old-draft.pdf" "$mnt/Docs/Work/gone.docx" "$mnt/Docs/Work/Deep/gone.xlsx" "$mnt/Misc/gone.pptx"
