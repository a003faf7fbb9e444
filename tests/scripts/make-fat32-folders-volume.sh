#!/usr/bin/env bash
# make-fat32-folders-volume.sh IMAGE: builds a FAT32 volume with mkfs.fat and
# mtools (no mount) whose deleted documents share names across folders: two
# different "report.docx" (/Team A and /Team B/2024), two "meeting notes.pdf" (the
# root and /Team A), all deleted. Recovering into folders must keep every one
# under its own folder. The image is sparse.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
data="$here/tests/data"
export MTOOLS_SKIP_CHECK=1

rm -f "$image"
truncate -s 64M "$image"
mkfs.fat -F 32 -s 1 -n FOLDERS "$image" >/dev/null

i=(-i "$image")
mmd "${i[@]}" "::/Team A" "::/Team B" "::/Team B/2024"
mcopy "${i[@]}" "$data/docx_python-docx.docx" "::/Team A/report.docx"
mcopy "${i[@]}" "$data/docx_lo_short.docx" "::/Team B/2024/report.docx"
mcopy "${i[@]}" "$data/pdf_lo_writer_text.pdf" "::/meeting notes.pdf"
mcopy "${i[@]}" "$data/pdf_pdfunite.pdf" "::/Team A/meeting notes.pdf"
mdel "${i[@]}" "::/Team A/report.docx" "::/Team B/2024/report.docx" "::/meeting notes.pdf" "::/Team A/meeting notes.pdf"
