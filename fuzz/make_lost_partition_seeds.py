#!/usr/bin/env python3
"""Writes fuzz/corpus/lost_partitions: small disks holding NTFS, exFAT, ext4
and FAT32 volumes that mkfs.fat, mkntfs, mkfs.exfat and mkfs.ext4 made, with no
table (its sector zeroed), and behind a GPT that sgdisk wrote and from which
one entry was deleted; and the same with the first sectors of the FAT32 and
NTFS volumes zeroed (their backups stand in). In the sparse encoding of
fuzz/FuzzVolumeImage.h. Run it by hand when the search changes.

    fuzz/make_lost_partition_seeds.py
    fuzz/make_lost_partition_seeds.py --fixed-root

With --fixed-root it writes only the seeds of FAT12 and FAT16 volumes
(mkfs.fat -F 12 and -F 16) at 1 MiB and on the cylinder grid of a disk with
no table.
"""
import os
import subprocess
import tempfile

from make_seeds import encode, nonzero_runs, write

MIB = 1024 * 1024
DISK = 50 * MIB
SECTOR = 512
# (start sector, MiB, how to make it). The decoder holds the first 16 MiB
# only, so every structure the search reads lies there: FAT32 (which needs
# 34 MiB) last, 63 sectors past the second cylinder as old tools placed
# logical partitions.
VOLUMES = [
    (1 * 2048, 4, ["mkntfs", "-q", "-F", "-f", "-c", "4096"]),
    (5 * 2048, 3, ["mkfs.exfat"]),
    (8 * 2048, 4, ["mkfs.ext4", "-q", "-F"]),
    (2 * 16065 + 63, 34, ["mkfs.fat", "-F", "32", "-s", "1"]),
]


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def disk():
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "disk.img")
        with open(path, "wb") as f:
            f.truncate(DISK)
        for start, mib, make in VOLUMES:
            vol = os.path.join(tmp, "vol.img")
            with open(vol, "wb") as f:
                f.truncate(mib * MIB)
            run(make + [vol])
            run(["dd", "if=" + vol, "of=" + path, "bs=512", "seek=%d" % start, "conv=notrunc,sparse",
                 "status=none"])
            os.remove(vol)
        with open(path, "rb") as f:
            return bytearray(f.read())


def u(data, at, width):
    return int.from_bytes(data[at:at + width], "little")


def kept(data):
    """What the search reads of each volume: its first 64 KiB (boot sectors,
    their backups, the FAT32 FAT, the ext superblock and group descriptors),
    its last 4 KiB (the NTFS backup), NTFS's first MFT record and exFAT's
    FAT; the rest of the disk is left out to keep the seed small."""
    places = [(0, 64 * 1024)]
    for start, mib, _ in VOLUMES:
        base = start * SECTOR
        places += [(base, 64 * 1024), (base + mib * MIB - 4096, 4096)]
        boot = data[base:base + SECTOR]
        if boot[3:11] == b"NTFS    ":
            cluster = u(boot, 0x0B, 2) * boot[0x0D]
            places.append((base + u(boot, 0x30, 8) * cluster, 4096))
        if boot[3:11] == b"EXFAT   ":
            places.append((base + u(boot, 80, 4) * SECTOR, 4096))
    out = bytearray(len(data))
    for at, length in places:
        out[at:at + length] = data[at:at + length]
    return out


def seed(name, data):
    data = kept(data)
    write("lost_partitions", name, encode(0, len(data), nonzero_runs(bytes(data), 0, SECTOR)))


def main():
    data = disk()
    seed("no-table", data)
    damaged = bytearray(data)
    for start in (VOLUMES[0][0], VOLUMES[3][0]):
        damaged[start * SECTOR:(start + 1) * SECTOR] = bytes(SECTOR)
    seed("no-table-backups", damaged)
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "gpt.img")
        with open(path, "wb") as f:
            f.write(data)
        args = ["sgdisk"]
        for n, (start, mib, _) in enumerate(VOLUMES[:3], 1):
            args += ["-n", "%d:%d:%d" % (n, start, start + mib * 2048 - 1)]
        run(args + [path])
        run(["sgdisk", "-d", "2", path])
        with open(path, "rb") as f:
            gpt = bytearray(f.read())
        # The table's own sectors at both ends are kept too.
        gpt_kept = kept(gpt)
        gpt_kept[-33 * SECTOR:] = gpt[-33 * SECTOR:]
        write("lost_partitions", "gpt-deleted", encode(0, len(gpt), nonzero_runs(bytes(gpt_kept), 0, SECTOR)))


def fixed_root_seeds():
    with tempfile.TemporaryDirectory() as tmp:
        for bits, mib, start in ((12, 2, 2048), (16, 8, 16065 + 63)):
            vol = os.path.join(tmp, "vol.img")
            with open(vol, "wb") as f:
                f.truncate(mib * MIB)
            run(["mkfs.fat", "-F", str(bits), "-s", "1", vol])
            with open(vol, "rb") as f:
                volume = f.read()
            disk = bytearray(start * SECTOR + len(volume))
            # The boot sector, the FATs and the root: what the search reads.
            disk[start * SECTOR:start * SECTOR + 64 * 1024] = volume[:64 * 1024]
            write("lost_partitions", "no-table-fat%d" % bits,
                  encode(0, len(disk), nonzero_runs(bytes(disk), 0, SECTOR)))


if __name__ == "__main__":
    import sys
    if sys.argv[1:] == ["--fixed-root"]:
        fixed_root_seeds()
    else:
        main()
