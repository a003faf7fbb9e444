#!/usr/bin/env bash
# make-fat32-container-volume.sh IMAGE: builds a FAT32 volume with mkfs.fat
# and mtools (no mount) holding a live PDF and a live tar archive with a PDF
# and a DOCX inside: documents inside a live file, which only a scan of the
# whole volume lists, beside a live document that no scan lists.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
data="$here/tests/data"
export MTOOLS_SKIP_CHECK=1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cp "$data/pdf_ghostscript.pdf" "$tmp/inner.pdf"
cp "$data/docx_python-docx.docx" "$tmp/inner.docx"
tar --format=ustar -C "$tmp" -cf "$tmp/bundle.tar" inner.pdf inner.docx

rm -f "$image"
truncate -s 40M "$image"
# 512-byte clusters: FAT32 needs 65525 of them, which 40 MiB holds.
mkfs.fat -F 32 -s 1 -n BUNDLE "$image" >/dev/null
mcopy -i "$image" "$data/pdf_lo_writer_text.pdf" ::/REPORT.PDF
mcopy -i "$image" "$tmp/bundle.tar" ::/BUNDLE.TAR
