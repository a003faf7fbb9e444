#!/usr/bin/env bash
# Writes fuzz/corpus/lznt1: the stored first unit of each compressed file of
# the test volume that tests/scripts/make-ntfs-compressed-volume.sh builds
# (as ntfs-3g compressed them), read out with The Sleuth Kit's istat, each
# under the control byte of a 64 KiB unit stored with a sparse tail, and the
# same bytes as a unit stored whole. Needs root and /dev/fuse.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/fuzz/corpus/lznt1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$here/tests/scripts/make-ntfs-compressed-volume.sh" "$work/volume.img"
mkdir -p "$out"
for name in slides.ppt budget.xls tables.doc report.pdf thesis.docx; do
    inode=$(fls -r -p "$work/volume.img" | awk -v n="$name" -F'\t' '$2 ~ ("/" n "$") || $2 == n { split($1, a, " "); sub(/-.*/, "", a[3]); print a[3]; exit }')
    # The clusters of the first 16 virtual clusters that are on the volume.
    clusters=$(istat "$work/volume.img" "$inode" | sed -n '/^Type: \$DATA/,$p' | tail -n +2 | tr -s ' \n' ' ' \
        | awk '{ for (i = 1; i <= 16 && i <= NF; ++i) if ($i != 0) print $i }')
    : >"$work/unit"
    for c in $clusters; do
        dd if="$work/volume.img" bs=4096 skip="$c" count=1 status=none >>"$work/unit"
    done
    # 0x04: 64 KiB unit; 0x08: stored, then a sparse tail.
    { printf '\x0c'; cat "$work/unit"; } >"$out/seed-${name%.*}"
    { printf '\x04'; cat "$work/unit"; } >"$out/seed-${name%.*}-whole"
done
# A chunk cut short, and a header that is not a chunk's.
{ printf '\x0c'; head -c 100 "$out/seed-slides" | tail -c +2; } >"$out/seed-cut"
printf '\x0c\xff\x4f\x00\x00' >"$out/seed-bad-signature"
