#!/usr/bin/env bash
# make-fat32-reused-volume.sh IMAGE KIND: builds a small FAT32 volume with
# mkfs.fat and mtools (no mount) whose deleted entries point at clusters that
# no longer hold their documents, though no live file uses them:
#   overwritten  thesis.pdf and notes.docx were deleted, then files that took
#                their clusters (scratch.bin, cache.dat) were deleted in turn;
#                plan.pdf, deleted last, is whole.
#   filler       a filler file _000.TMP was deleted, then report.pdf took its
#                clusters from its first on and was deleted too: _000.TMP's
#                entry now begins with a piece of report.pdf.
# Each time a file is to reuse freed clusters, the file system's hint of
# where free clusters begin (FSInfo, sector 1, byte 492) is cleared, so the
# next file written takes the first free clusters from the start.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
image=$1
kind=$2
data="$here/tests/data"
export MTOOLS_SKIP_CHECK=1
i=(-i "$image")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

from_start() {
    printf '\xff\xff\xff\xff' | dd of="$image" bs=1 seek=$((512 + 492)) conv=notrunc status=none
}
# Text that is no document, `size` bytes.
filler() {
    head -c "$2" /dev/zero | tr '\0' 'x' >"$work/$1"
}

rm -f "$image"
truncate -s 40M "$image"
mkfs.fat -F 32 -s 1 -n REUSED "$image" >/dev/null
# Each file in a folder of its own, so that no later file takes over the
# directory entry of a deleted one.
mmd "${i[@]}" ::/Docs ::/Notes ::/Tmp ::/Cache ::/Plans

case "$kind" in
overwritten)
    mcopy "${i[@]}" "$data/pdf_ghostscript.pdf" ::/Docs/thesis.pdf
    mcopy "${i[@]}" "$data/docx_python-docx.docx" ::/Notes/notes.docx
    mdel "${i[@]}" ::/Docs/thesis.pdf ::/Notes/notes.docx
    from_start
    filler scratch.bin 30000
    filler cache.dat 30000
    mcopy "${i[@]}" "$work/scratch.bin" ::/Tmp/scratch.bin
    mcopy "${i[@]}" "$work/cache.dat" ::/Cache/cache.dat
    mdel "${i[@]}" ::/Tmp/scratch.bin ::/Cache/cache.dat
    mcopy "${i[@]}" "$data/pdf_lo_writer_text.pdf" ::/Plans/plan.pdf
    mdel "${i[@]}" ::/Plans/plan.pdf
    ;;
filler)
    filler _000.TMP 12000
    mcopy "${i[@]}" "$work/_000.TMP" ::/Tmp/_000.TMP
    mdel "${i[@]}" ::/Tmp/_000.TMP
    from_start
    mcopy "${i[@]}" "$data/pdf_pdfunite.pdf" ::/Docs/report.pdf
    mdel "${i[@]}" ::/Docs/report.pdf
    ;;
*)
    echo "usage: $0 IMAGE overwritten|filler" >&2
    exit 2
    ;;
esac
