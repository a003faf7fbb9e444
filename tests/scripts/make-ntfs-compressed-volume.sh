#!/usr/bin/env bash
# make-ntfs-compressed-volume.sh IMAGE: builds a small NTFS volume (4096-byte
# clusters, so 64 KiB compression units) through an ntfs-3g mount, with a
# folder marked compressed (as Windows users mark archives):
#   - documents written into it, then deleted: their streams are stored
#     compressed, unit by unit, with sparse tails;
#   - a sparse file holding a document after a hole, deleted;
#   - a compressed document deleted, its clusters then taken by a file of
#     random bytes that is deleted in turn (the clusters are free again but
#     no longer decompress);
#   - a compressed document that stays live.
# Needs root and /dev/fuse for the mount, setfattr (attr) for the folder's
# attribute.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
data="$here/tests/data"

rm -f "$image"
truncate -s 16M "$image"
mkntfs -F -Q -c 4096 -L PACKED "$image" >/dev/null 2>&1

mnt=$(mktemp -d)
cleanup() {
    if mountpoint -q "$mnt"; then umount "$mnt" || fusermount -u "$mnt" || true; fi
    rmdir "$mnt" 2>/dev/null || true
}
trap cleanup EXIT
ntfs-3g -o compression "$image" "$mnt"

mkdir -p "$mnt/Archive"
# FILE_ATTRIBUTE_COMPRESSED: files created in the folder are compressed.
setfattr -h -v 0x00000800 -n system.ntfs_attrib_be "$mnt/Archive"
mkdir -p "$mnt/Archive/2024"
cp "$data/ppt_2slides.ppt" "$mnt/Archive/slides.ppt"
cp "$data/xls_3sheets.xls" "$mnt/Archive/2024/budget.xls"
cp "$data/doc_tables.doc" "$mnt/Archive/2024/tables.doc"
cp "$data/pdf_lo_writer_text.pdf" "$mnt/Archive/report.pdf"
cp "$data/docx_python-docx.docx" "$mnt/Archive/thesis.docx"
cp "$data/doc_short.doc" "$mnt/Archive/live.doc"
cp "$data/xls_small.xls" "$mnt/Archive/victim.xls"
# A sparse file: a hole, then a document's bytes (its name says what it is
# not, so only its layout matters).
truncate -s 131072 "$mnt/sparse.pdf"
dd if="$data/pdf_ghostscript.pdf" of="$mnt/sparse.pdf" bs=4096 seek=32 conv=notrunc status=none
touch "$mnt/reuse.bin"
sync

# Fill the volume, so that the victim's clusters are the only free ones
# when the random file is written.
i=0
while dd if=/dev/zero of="$mnt/fill_$i" bs=256k count=1 status=none 2>/dev/null; do
    i=$((i + 1))
    [ "$i" -lt 100 ] || break
done
dd if=/dev/zero of="$mnt/fill_last" bs=4096 status=none 2>/dev/null || true
sync
rm "$mnt/Archive/victim.xls"
sync
dd if=/dev/urandom of="$mnt/reuse.bin" bs=4096 status=none 2>/dev/null || true
sync
rm "$mnt/reuse.bin" "$mnt"/fill_*
sync

rm "$mnt/Archive/slides.ppt" "$mnt/Archive/2024/budget.xls" "$mnt/Archive/2024/tables.doc" \
   "$mnt/Archive/report.pdf" "$mnt/Archive/thesis.docx" "$mnt/sparse.pdf"
sync
