#!/usr/bin/env bash
# make-lost-partition-disk.sh IMAGE gpt|mbr|exfat: builds a whole-disk image whose
# table no longer names a file system that is still there:
#   gpt  sgdisk; an empty FAT32 volume at sector 2048, an empty ext4 volume
#        after it, and the FAT32 volume of make-fat32-volume.sh (live and
#        deleted documents) as partition 3 at sector 110592; then
#        `sgdisk -d 3` deletes partition 3 from the table.
#   mbr  the MBR disk of make-disk-image.sh (FAT32 at sector 63, a logical
#        NTFS partition at sector 559104) with its first sector zeroed:
#        no table at all.
#   exfat sgdisk; the exFAT volume of make-exfat-volume.sh as partition 1
#        at sector 2048, then deleted from the table.
# The image is sparse. mbr needs root and /dev/fuse (for the NTFS volume),
# exfat root and a loop device.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
image=$1
scheme=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case "$scheme" in
gpt)
    bash "$here/make-fat32-volume.sh" "$work/fat32.img"
    truncate -s 40M "$work/empty.img"
    mkfs.fat -F 32 -s 1 -n EMPTY "$work/empty.img" >/dev/null
    truncate -s 12M "$work/ext4.img"
    mkfs.ext4 -q -F "$work/ext4.img"
    empty_start=2048
    ext4_start=$(( empty_start + 40 * 2048 ))
    fat_start=$(( ext4_start + 12 * 2048 + 2048 ))
    fat_sectors=$(( $(stat -c %s "$work/fat32.img") / 512 ))
    rm -f "$image"
    truncate -s $(( (fat_start + fat_sectors + 2048) * 512 )) "$image"
    sgdisk --clear \
        -n 1:$empty_start:$(( ext4_start - 1 )) -t 1:0700 \
        -n 2:$ext4_start:$(( ext4_start + 12 * 2048 - 1 )) -t 2:8300 \
        -n 3:$fat_start:$(( fat_start + fat_sectors - 1 )) -t 3:0700 \
        "$image" >/dev/null
    dd if="$work/empty.img" of="$image" bs=512 seek=$empty_start conv=notrunc,sparse status=none
    dd if="$work/ext4.img" of="$image" bs=512 seek=$ext4_start conv=notrunc,sparse status=none
    dd if="$work/fat32.img" of="$image" bs=512 seek=$fat_start conv=notrunc,sparse status=none
    sgdisk -d 3 "$image" >/dev/null
    ;;
exfat)
    bash "$here/make-exfat-volume.sh" "$work/exfat.img"
    sectors=$(( $(stat -c %s "$work/exfat.img") / 512 ))
    rm -f "$image"
    truncate -s $(( (2048 + sectors + 2048) * 512 )) "$image"
    sgdisk --clear -n 1:2048:$(( 2048 + sectors - 1 )) -t 1:0700 "$image" >/dev/null
    dd if="$work/exfat.img" of="$image" bs=512 seek=2048 conv=notrunc,sparse status=none
    sgdisk -d 1 "$image" >/dev/null
    ;;
mbr)
    bash "$here/make-disk-image.sh" "$image" mbr
    dd if=/dev/zero of="$image" bs=512 count=1 conv=notrunc status=none
    ;;
*)
    echo "make-lost-partition-disk.sh: the scheme is gpt, mbr or exfat" >&2
    exit 2
    ;;
esac
