#!/usr/bin/env bash
# make-ext4-volume.sh IMAGE: builds a 32 MiB ext4 volume (mkfs.ext4, 4096-
# byte blocks, small groups so that flex_bg spreads the bitmaps) filled
# through a loop mount:
#   - live documents in nested folders with CJK names, a live ZIP, a live
#     text file, a large live document (its extent tree grows past the
#     inode on a volume cut into pieces by fillers);
#   - deleted documents, a folder deleted with the documents in it.
# Needs root and a loop device.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
data="$here/tests/data"

rm -f "$image"
truncate -s 32M "$image"
mkfs.ext4 -q -F -b 4096 -g 2048 -G 4 -O 64bit,flex_bg,extent,metadata_csum -E lazy_itable_init=1 -L TAMSEL "$image"

mnt=$(mktemp -d)
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt" || true; fi
    rmdir "$mnt" 2>/dev/null || true
}
trap cleanup EXIT
mount -o loop "$image" "$mnt"

mkdir -p "$mnt/论文/2024" "$mnt/文档/子目录" "$mnt/旧的/里面" "$mnt/Keep"
cp "$data/pptx_lo_3slides.pptx" "$mnt/Keep/演示.pptx"
cp "$data/pdf_pdfunite.pdf" "$mnt/文档/子目录/合同.pdf"
cp "$data/xlsx_lo_small.xlsx" "$mnt/文档/预算.xlsx"
cp "$data/zip_deflated.zip" "$mnt/Keep/archive.zip"
cp "$data/MANIFEST.tsv" "$mnt/Keep/notes.txt"
cp "$data/docx_python-docx.docx" "$mnt/论文/2024/毕业论文终稿.docx"
cp "$data/pdf_lo_writer_text.pdf" "$mnt/文档/子目录/简历.pdf"
cp "$data/xls_3sheets.xls" "$mnt/旧的/预算表.xls"
cp "$data/pdf_ghostscript.pdf" "$mnt/旧的/里面/计划.pdf"
cp "$data/ppt_2slides.ppt" "$mnt/文档/slides.ppt"
sync
# A live document in many pieces: every other 4 KiB filler removed, then
# a file written into the holes, so its extents spill out of the inode
# into a tree block.
mkdir "$mnt/fill"
for i in $(seq 0 39); do
    dd if=/dev/urandom of="$mnt/fill/$i" bs=4096 count=1 status=none
done
sync
for i in $(seq 0 2 39); do rm "$mnt/fill/$i"; done
sync
python3 - "$mnt/Keep/大文件.pdf" <<'PY'
import sys
# A PDF written one block at a time with syncs between, so each block takes
# the next hole.
import os
with open(sys.argv[1], "wb") as f:
    f.write(b"%PDF-1.4\n")
    for i in range(30):
        f.write(os.urandom(4096))
        f.flush()
        os.fsync(f.fileno())
    f.write(b"\n%%EOF\n")
PY
sync

rm "$mnt/论文/2024/毕业论文终稿.docx" "$mnt/文档/子目录/简历.pdf" "$mnt/文档/slides.ppt"
rm -r "$mnt/旧的"
sync
