#!/usr/bin/env bash
# make-ext4-pieces-volume.sh IMAGE: builds a 32 MiB ext4 volume with 1 KiB
# blocks and 2 MiB groups (mkfs.ext4), written with debugfs, whose
# allocator takes the first free blocks in order, around whatever is in use:
#   - ppt_2slides.ppt across the backup superblock, group descriptors and
#     reserved descriptor blocks at the start of group 1;
#   - xls_3sheets.xls in three pieces: into the hole of a file removed
#     before, around a live file, and across group 3's backup superblock;
#   - pptx_pptxgenjs.pptx across group 5's, pdf_pdfunite.pdf across group 7's
#     (a 1 MiB journal keeps to group 8);
#   - the same four documents again, each in one piece (the control);
# with live fillers before each. Then every document is removed. Nothing
# is mounted: no root needed.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
data="$here/tests/data"
block=1024

rm -f "$image"
truncate -s 32M "$image"
mkfs.ext4 -q -F -b $block -g 2048 -N 512 -O 64bit,flex_bg,extent,metadata_csum,sparse_super \
    -J size=1 -E lazy_itable_init=1 -L PIECES "$image"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dfs() { debugfs -w -R "$1" "$image" >/dev/null 2>&1; }
first_free() { debugfs -R "ffb 1" "$image" 2>/dev/null | awk '{print $NF}'; }
# Live files of random bytes that fill the free blocks up to BLOCK: each
# one as far as the next block in use, so that none goes past BLOCK.
fill_to() { # NAME BLOCK
    local k=0 from used
    while from=$(first_free) && [ "$from" -lt "$2" ]; do
        used=$(debugfs -R "testb $from $(($2 - from))" "$image" 2>/dev/null | awk '/marked in use/ && !f {print $2; f = 1}')
        used=${used:-$2}
        head -c $(((used - from) * block)) /dev/urandom >"$tmp/$1.$k"
        dfs "write $tmp/$1.$k $1.$k"
        k=$((k + 1))
    done
}
put() { # FILE NAME [BLOCKS]
    if [ -n "${3:-}" ]; then
        head -c $(($3 * block)) /dev/urandom >"$tmp/$2"
        dfs "write $tmp/$2 $2"
    else
        dfs "write $1 $2"
    fi
}

# Backup superblocks of groups 1, 3, 5 and 7.
fill_to filler1 $((2049 - 150))
put "$data/ppt_2slides.ppt" a.ppt
fill_to filler3 $((6145 - 70))
put - hole 10
put - live3 5
dfs "rm hole"
put "$data/xls_3sheets.xls" b.xls
fill_to filler5 $((10241 - 30))
put "$data/pptx_pptxgenjs.pptx" c.pptx
fill_to filler7 $((14337 - 20))
put "$data/pdf_pdfunite.pdf" d.pdf
for doc in ppt_2slides.ppt xls_3sheets.xls pptx_pptxgenjs.pptx pdf_pdfunite.pdf; do
    put "$data/$doc" "whole-$doc"
done
for f in a.ppt b.xls c.pptx d.pdf whole-ppt_2slides.ppt whole-xls_3sheets.xls whole-pptx_pptxgenjs.pptx \
    whole-pdf_pdfunite.pdf; do
    if ! debugfs -R "ex /$f" "$image" 2>/dev/null | grep -q '^ *0/ *0 '; then
        echo "make-ext4-pieces-volume: /$f was not written" >&2
        exit 1
    fi
    dfs "rm $f"
done
