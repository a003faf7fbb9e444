#!/usr/bin/env bash
# make-exfat-volume.sh IMAGE: builds a 48 MiB exFAT volume (mkfs.exfat,
# 4096-byte clusters) filled through a mount (the kernel's exfat driver
# where it has one, else exfat-fuse over a loop device):
#   - live documents in nested folders with CJK names, a live ZIP named
#     .txt-less "archive.zip" (a container), a file of no interest;
#   - deleted documents in those folders, a DOCX deleted under backup.bak,
#     a folder deleted with the documents in it;
#   - a document written across a gap (filler files around it removed
#     before, so it lies in pieces) and then deleted.
# Needs root and a loop device.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
data="$here/tests/data"

rm -f "$image"
truncate -s 48M "$image"
mkfs.exfat -c 4096 -L TAMSEL "$image" >/dev/null

mnt=$(mktemp -d)
loop=""
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt" 2>/dev/null || fusermount -u "$mnt" || true; fi
    if [ -n "$loop" ]; then losetup -d "$loop" 2>/dev/null || true; fi
    rmdir "$mnt" 2>/dev/null || true
}
trap cleanup EXIT
if ! mount -t exfat -o loop "$image" "$mnt" 2>/dev/null; then
    loop=$(losetup -f --show "$image")
    mount.exfat-fuse "$loop" "$mnt" >/dev/null
fi

mkdir -p "$mnt/论文/2024" "$mnt/文档/子目录" "$mnt/旧的/里面" "$mnt/Keep"
# Live.
cp "$data/pptx_lo_3slides.pptx" "$mnt/Keep/演示.pptx"
cp "$data/pdf_pdfunite.pdf" "$mnt/文档/子目录/合同.pdf"
cp "$data/xlsx_lo_small.xlsx" "$mnt/文档/预算.xlsx"
cp "$data/zip_deflated.zip" "$mnt/Keep/archive.zip"
cp "$data/MANIFEST.tsv" "$mnt/Keep/notes.txt"
# Deleted below.
cp "$data/docx_python-docx.docx" "$mnt/论文/2024/毕业论文终稿.docx"
cp "$data/pdf_lo_writer_text.pdf" "$mnt/文档/子目录/简历.pdf"
cp "$data/docx_lo_short.docx" "$mnt/文档/backup.bak"
cp "$data/xls_3sheets.xls" "$mnt/旧的/预算表.xls"
cp "$data/pdf_ghostscript.pdf" "$mnt/旧的/里面/计划.pdf"
cp "$data/ppt_2slides.ppt" "$mnt/文档/slides.ppt"
sync
# A document in pieces: two fillers, the first removed, then a file larger
# than the hole it left.
dd if=/dev/urandom of="$mnt/Keep/fill_a" bs=4096 count=4 status=none
dd if=/dev/urandom of="$mnt/Keep/fill_b" bs=4096 count=4 status=none
sync
rm "$mnt/Keep/fill_a"
sync
cp "$data/pptx_pptxgenjs.pptx" "$mnt/文档/pieces.pptx"
sync

rm "$mnt/论文/2024/毕业论文终稿.docx" "$mnt/文档/子目录/简历.pdf" "$mnt/文档/backup.bak" "$mnt/文档/slides.ppt"
rm "$mnt/文档/pieces.pptx"
rm -r "$mnt/旧的"
sync
