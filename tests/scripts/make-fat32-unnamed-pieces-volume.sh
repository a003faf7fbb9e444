#!/usr/bin/env bash
# make-fat32-unnamed-pieces-volume.sh IMAGE: builds a FAT32 volume with
# mkfs.fat and mtools (no mount) with 1 KiB clusters and a data area that
# does not start on a multiple of 4 KiB, holding three deleted documents in
# two pieces each, whose directory entries are gone:
#   each document was written into the hole of a small file removed before
#   (6, 5 and 7 KiB), around a file that was deleted afterwards (3, 2 and
#   1 KiB of random bytes, free again), so that neither the break nor the
#   second piece lies a multiple of 4 KiB from the document's first byte;
#   then their folder was deleted and its one cluster written over by a new
#   file, so nothing but the bytes tells where the pieces are.
# The documents are few: where they start says nothing of the cluster size.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
data="$here/tests/data"
export MTOOLS_SKIP_CHECK=1

rm -f "$image"
truncate -s 80M "$image"
# 35 reserved sectors: the data area starts on an odd sector.
mkfs.fat -F 32 -s 2 -R 35 -n UNNAMED "$image" >/dev/null

i=(-i "$image")
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# mtools allocates from the file system's hint of where free clusters begin
# (FSInfo, sector 1, byte 492): cleared, it takes the first free clusters.
from_start() {
    printf '\xff\xff\xff\xff' | dd of="$image" bs=1 seek=$((512 + 492)) conv=notrunc status=none
}
filler() { # NAME KIB
    head -c $(($2 * 1024)) /dev/urandom >"$tmp/filler"
    from_start
    mcopy "${i[@]}" "$tmp/filler" "::/$1"
}

# Short upper-case names only: the folder stays one cluster.
mmd "${i[@]}" ::/GONE
n=0
for layout in pdf_lo_writer_text.pdf:6:3 docx_python-docx.docx:5:2 pptx_lo_3slides.pptx:7:1; do
    n=$((n + 1))
    IFS=: read -r doc hole gap <<<"$layout"
    filler "GONE/H$n" "$hole"
    filler "GONE/F$n" "$gap"
    mdel "${i[@]}" "::/GONE/H$n"
    from_start
    mcopy "${i[@]}" "$data/$doc" "::/GONE/D$n.${doc##*.}"
done
mdeltree "${i[@]}" ::/GONE
# The folder's cluster is the first free one now.
filler OVER 1
