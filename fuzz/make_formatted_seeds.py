#!/usr/bin/env python3
"""Cuts fuzz seeds for the formatted-volume searches out of quick-formatted
volumes made by tests/scripts/make-formatted-volume.sh.

    fuzz/make_formatted_seeds.py NTFS_IMAGE EXFAT_IMAGE FAT32_IMAGE [NTFS_GROWN_IMAGE]

Writes fuzz/corpus/formatted: for NTFS the boot sector, the first 256
record places from the table's start (the new table and the old records
after it), the new $Bitmap and the first sector of every old file's first
run; for exFAT what make_exfat_ext4_seeds.py takes (boot regions, FAT,
every cluster that holds entry sets, the first sector of documents), in the
sparse encoding of fuzz/FuzzVolumeImage.h, each also in a copy that stops
after a few reads; for FAT32 the boot sector, the FAT, every cluster that
starts with "." and ".." or with a long-name piece, and the first sector of
every cluster that starts with a document's signature. Run it by hand when
the volume script changes. The fourth image (make-formatted-volume.sh
ntfs-grown) gives an NTFS seed with every record wherever it lies, for the
sweep past the zone.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from make_seeds import data_runs, encode, nonzero_runs, u16, u32, u64, write  # noqa: E402
from make_exfat_ext4_seeds import exfat_seed  # noqa: E402

EXFAT = 1 << 3
FAT32 = 1 << 4
SIGNATURES = (b"%PDF", b"PK\x03\x04", bytes.fromhex("D0CF11E0"))
STOP_AFTER_FEW = 5


def ntfs_chunks(path, everywhere=False):
    image = open(path, "rb").read()
    boot = image[:512]
    cluster = u16(boot, 0x0B) * boot[0x0D]
    record_size = 1 << (256 - boot[0x40]) if boot[0x40] > 0x80 else boot[0x40] * cluster
    mft = u64(boot, 0x30) * cluster
    table = image[mft:mft + 256 * record_size]
    chunks = [(0, boot)] + nonzero_runs(table, mft, record_size)
    for lcn, count in data_runs(table[6 * record_size:7 * record_size]):
        chunks.append((lcn * cluster, image[lcn * cluster:(lcn + count) * cluster]))
    records = [table[n * record_size:(n + 1) * record_size] for n in range(64, 256)]
    if everywhere:
        for at in range(mft + 256 * record_size, len(image) - record_size + 1, record_size):
            if image[at:at + 4] == b"FILE":
                chunks.append((at, image[at:at + record_size]))
                records.append(image[at:at + record_size])
    for record in records:
        if record[:4] != b"FILE":
            continue
        for lcn, _ in data_runs(record)[:1]:
            chunks.append((lcn * cluster, image[lcn * cluster:lcn * cluster + 512]))
    return len(image), chunks


def fat32_chunks(path):
    image = open(path, "rb").read()
    boot = image[:512]
    bps = u16(boot, 0x0B)
    cluster = bps * boot[0x0D]
    reserved = u16(boot, 0x0E)
    fat_bytes = u32(boot, 0x24) * bps
    data = (reserved * bps) + boot[0x10] * fat_bytes
    chunks = [(0, boot)] + nonzero_runs(image[reserved * bps:reserved * bps + fat_bytes], reserved * bps, bps)
    for at in range(data, len(image) - cluster + 1, cluster):
        block = image[at:at + cluster]
        if block[:11] == b".          " or (block[11] == 0x0F and 0 < block[0] < 0x60):
            chunks.append((at, block))
        elif block[:4] in SIGNATURES:
            chunks.append((at, block[:512]))
    return len(image), chunks


def main():
    if len(sys.argv) not in (4, 5):
        sys.exit(__doc__)
    length, chunks = ntfs_chunks(sys.argv[1])
    write("formatted", "seed-ntfs", encode(0, length, chunks))
    write("formatted", "seed-ntfs-stop", encode(STOP_AFTER_FEW, length, chunks))
    seed = exfat_seed(sys.argv[2])
    write("formatted", "seed-exfat", bytes([EXFAT]) + seed[1:])
    write("formatted", "seed-exfat-stop", bytes([EXFAT | STOP_AFTER_FEW]) + seed[1:])
    length, chunks = fat32_chunks(sys.argv[3])
    write("formatted", "seed-fat32", encode(FAT32, length, chunks))
    write("formatted", "seed-fat32-stop", encode(FAT32 | STOP_AFTER_FEW, length, chunks))
    if len(sys.argv) == 5:
        length, chunks = ntfs_chunks(sys.argv[4], everywhere=True)
        write("formatted", "seed-ntfs-grown", encode(0, length, chunks))


if __name__ == "__main__":
    main()
