#!/usr/bin/env bash
# make-disk-image.sh IMAGE mbr|gpt: builds a whole-disk image holding the
# FAT32 volume of make-fat32-volume.sh and the NTFS volume of
# make-ntfs-volume.sh (live and deleted documents on each) behind a
# partition table:
#   mbr  sfdisk; FAT32 as primary partition 1 at sector 63 (as Windows up
#        to XP placed it, so its clusters lie off the 4 KiB grid), NTFS as
#        logical partition 5 at sector 559104 (a 1 MiB boundary) inside an
#        extended partition;
#   gpt  sgdisk; FAT32 at sector 2048, NTFS at sector 559104.
# The image is sparse. Needs root and /dev/fuse (for the NTFS volume).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
image=$1
scheme=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bash "$here/make-fat32-volume.sh" "$work/fat32.img"
bash "$here/make-ntfs-volume.sh" "$work/ntfs.img"
fat_sectors=$(( $(stat -c %s "$work/fat32.img") / 512 ))
ntfs_sectors=$(( $(stat -c %s "$work/ntfs.img") / 512 ))
ntfs_start=559104
disk_sectors=$(( ntfs_start + ntfs_sectors + 2048 ))

rm -f "$image"
truncate -s $(( disk_sectors * 512 )) "$image"
case "$scheme" in
mbr)
    fat_start=63
    sfdisk --quiet --no-reread --no-tell-kernel "$image" >/dev/null 2>&1 <<EOT
label: dos
unit: sectors
start=$fat_start, size=$fat_sectors, type=c
start=558080, size=$(( ntfs_start + ntfs_sectors - 558080 )), type=5
start=$ntfs_start, size=$ntfs_sectors, type=7
EOT
    ;;
gpt)
    fat_start=2048
    sgdisk --clear \
        -n 1:$fat_start:$(( fat_start + fat_sectors - 1 )) -t 1:0700 -c 1:FAT32 \
        -n 2:$ntfs_start:$(( ntfs_start + ntfs_sectors - 1 )) -t 2:0700 -c 2:NTFS \
        "$image" >/dev/null
    ;;
*)
    echo "make-disk-image.sh: the scheme is mbr or gpt" >&2
    exit 2
    ;;
esac
dd if="$work/fat32.img" of="$image" bs=512 seek=$fat_start conv=notrunc,sparse status=none
dd if="$work/ntfs.img" of="$image" bs=512 seek=$ntfs_start conv=notrunc,sparse status=none
