#!/usr/bin/env bash
# make-ext4-volume.sh IMAGE: builds a 32 MiB ext4 volume (mkfs.ext4, 4096-
# byte blocks, small groups so that flex_bg spreads the bitmaps) filled
# through a loop mount:
#   - live documents in nested folders with CJK names, a live ZIP, a live
#     text file, a large live document (its extent tree grows past the
#     inode on a volume cut into pieces by fillers);
#   - deleted documents, a folder deleted with the documents in it;
#   - deleted documents in pieces (碎片.doc, .pdf, .docx): each written one
#     block at a time with a small live file after every block, so that it
#     holds more extents than the inode has room for and its tree gets an
#     index level (checked with debugfs before they are deleted).
# make-ext4-volume.sh IMAGE bigalloc: a 64 MiB volume with bigalloc (1 KiB
# blocks in 4 KiB clusters, two groups of 8192 clusters) holding the same
# live and deleted documents, without the pieces.
# Needs root and a loop device.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
mode=${2:-}
data="$here/tests/data"

rm -f "$image"
if [ "$mode" = bigalloc ]; then
    truncate -s 64M "$image"
    mkfs.ext4 -q -F -b 1024 -C 4096 -O bigalloc,64bit,flex_bg,extent,metadata_csum -E lazy_itable_init=1 -L TAMSEL "$image"
else
    truncate -s 32M "$image"
    mkfs.ext4 -q -F -b 4096 -g 2048 -G 4 -O 64bit,flex_bg,extent,metadata_csum -E lazy_itable_init=1 -L TAMSEL "$image"
fi

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
if [ "$mode" = bigalloc ]; then
    rm "$mnt/论文/2024/毕业论文终稿.docx" "$mnt/文档/子目录/简历.pdf" "$mnt/文档/slides.ppt"
    rm -r "$mnt/旧的"
    sync
    exit 0
fi
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

mkdir "$mnt/small"
for pair in "doc_tables.doc 碎片.doc" "pdf_qpdf_linearized.pdf 碎片.pdf" "docx_cjk_core.docx 碎片.docx"; do
    set -- $pair
    python3 - "$data/$1" "$mnt/文档/$2" "$mnt/small/$2" <<'PY'
import os, sys
source, target, small = sys.argv[1:4]
os.mkdir(small)
data = open(source, "rb").read()
with open(target, "wb") as f:
    for i in range(0, len(data), 4096):
        f.write(data[i:i + 4096])
        f.flush()
        os.fsync(f.fileno())
        with open(os.path.join(small, "%02d" % (i // 4096)), "wb") as s:
            s.write(b"small file %d\n" % i)
            s.flush()
            os.fsync(s.fileno())
PY
done
# The journal is only replayed by a mount: the image is read for the check
# once it is unmounted.
umount "$mnt"
for name in 碎片.doc 碎片.pdf 碎片.docx; do
    if ! debugfs -R "ex \"/文档/$name\"" "$image" 2>/dev/null | grep -q '^ *0/ *1 '; then
        echo "make-ext4-volume: /文档/$name has no index level in its extent tree" >&2
        exit 1
    fi
done
mount -o loop "$image" "$mnt"

rm "$mnt/论文/2024/毕业论文终稿.docx" "$mnt/文档/子目录/简历.pdf" "$mnt/文档/slides.ppt" "$mnt/文档/"碎片.*
rm -r "$mnt/旧的"
sync
