#!/usr/bin/env python3
"""Cuts fuzz seeds out of real volumes made by tests/scripts/*.sh.

    fuzz/make_seeds.py NTFS_IMAGE FAT32_IMAGE [FAT32_4K_IMAGE ...]
    fuzz/make_seeds.py --ntfs-deleted NTFS_DELETED_IMAGE
    fuzz/make_seeds.py --fat32 NAME FAT32_IMAGE
    fuzz/make_seeds.py --fat32-chains NAME FAT32_IMAGE
    fuzz/make_seeds.py --fat16 NAME FAT12_OR_FAT16_IMAGE

Writes fuzz/corpus/mft_record (the table's records, as stored and with their
update sequence undone for the harness to redo), fuzz/corpus/ntfs_scanner
(boot sector and table) and fuzz/corpus/fat32_scanner (boot sector, first
FAT, every directory cluster, the first clusters of deleted directories and
the first sector of deleted files; with --fat32-chains only the FAT entries
of the directories' chains, for a full volume whose FAT is large; with
--fat16 the same of a FAT12 or FAT16 volume, its fixed root region
included), in the
sparse encoding of
fuzz/FuzzVolumeImage.h. Run it by hand when the volume scripts change.

After a run of scripts/fuzz.sh TARGET, what it found is merged into the
committed corpus, kept small by cutting the merged inputs:
    build-fuzz/bin/fuzz/fuzz_TARGET -merge=1 -max_len=16384 \
        fuzz/corpus/TARGET fuzz/out/TARGET
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
MAX_CHUNK = 0xFFFF


def u16(b, o):
    return struct.unpack_from("<H", b, o)[0]


def u32(b, o):
    return struct.unpack_from("<I", b, o)[0]


def u64(b, o):
    return struct.unpack_from("<Q", b, o)[0]


def encode(options, volume_bytes, chunks):
    """chunks: list of (offset, bytes)."""
    out = bytearray([options]) + struct.pack("<I", volume_bytes // 512)
    for offset, data in chunks:
        for at in range(0, len(data), MAX_CHUNK):
            piece = data[at:at + MAX_CHUNK]
            out += struct.pack("<IH", offset + at, len(piece)) + piece
    return bytes(out)


def nonzero_runs(data, base, unit):
    """Chunks of `data` (at volume offset `base`) made of non-zero units."""
    chunks = []
    start = None
    for at in range(0, len(data), unit):
        zero = not any(data[at:at + unit])
        if not zero and start is None:
            start = at
        if zero and start is not None:
            chunks.append((base + start, data[start:at]))
            start = None
    if start is not None:
        chunks.append((base + start, data[start:]))
    return chunks


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def unprotect(record):
    """The record with its update sequence applied (stride ends restored)."""
    r = bytearray(record)
    array = u16(r, 4)
    count = u16(r, 6)
    for i in range(1, count):
        end = i * 512 - 2
        r[end:end + 2] = r[array + 2 * i:array + 2 * i + 2]
    return bytes(r)


def data_runs(record):
    """(first cluster, clusters) of the unnamed non-resident $DATA runs."""
    r = unprotect(record)
    at = u16(r, 0x14)
    while at + 16 <= len(r):
        kind, length = u32(r, at), u32(r, at + 4)
        if kind == 0xFFFFFFFF or length < 16 or at + length > len(r):
            break
        if kind == 0x80 and r[at + 8] == 1 and r[at + 9] == 0:
            runs, pos, lcn = [], at + u16(r, at + 0x20), 0
            while pos < at + length and r[pos]:
                lw, ow = r[pos] & 15, r[pos] >> 4
                count = int.from_bytes(r[pos + 1:pos + 1 + lw], "little")
                if ow:
                    lcn += int.from_bytes(r[pos + 1 + lw:pos + 1 + lw + ow], "little", signed=True)
                    runs.append((lcn, count))
                pos += 1 + lw + ow
            return runs
        at += length
    return []


def ntfs_deleted_seeds(path):
    """Seeds from the volume of deleted documents: the table, and the
    $Bitmap the overwritten shares are read from."""
    with open(path, "rb") as f:
        image = f.read()
    boot = image[:512]
    cluster = u16(boot, 0x0B) * boot[0x0D]
    record_size = 1 << (256 - boot[0x40]) if boot[0x40] > 0x80 else boot[0x40] * cluster
    mft = u64(boot, 0x30) * cluster
    table = image[mft:mft + 256 * record_size]
    size_bits = {512: 0, 1024: 1, 2048: 2, 4096: 3}[record_size]
    cluster_bits = {512: 0, 4096: 1, 65536: 2}.get(cluster, 1) << 2
    for n in range(64, len(table) // record_size):
        record = table[n * record_size:(n + 1) * record_size]
        if record[:4] != b"FILE" or record[0x16] & 1:
            continue
        # Deleted records, read past their header (bit 7).
        write("mft_record", "seed-deleted-%03d" % n, bytes([size_bits | cluster_bits | 0x80]) + record)
        write("mft_record", "seed-deleted-%03d-open" % n,
              bytes([size_bits | cluster_bits | 0xA0]) + unprotect(record))
    chunks = [(0, boot)] + nonzero_runs(table, mft, record_size)
    for lcn, count in data_runs(table[6 * record_size:7 * record_size]):
        chunks.append((lcn * cluster, image[lcn * cluster:(lcn + count) * cluster]))
    write("ntfs_scanner", "seed-ntfs-deleted", encode(0, len(image), chunks))
    write("ntfs_scanner", "seed-ntfs-deleted-window-4k", encode(1, len(image), chunks))


def ntfs_seeds(path):
    with open(path, "rb") as f:
        image = f.read()
    boot = image[:512]
    bytes_per_sector = u16(boot, 0x0B)
    cluster = bytes_per_sector * boot[0x0D]
    record_size = 1 << (256 - boot[0x40]) if boot[0x40] > 0x80 else boot[0x40] * cluster
    mft = u64(boot, 0x30) * cluster
    # The table's first 256 records are more than mkntfs and the script write.
    table = image[mft:mft + 256 * record_size]

    index = 0
    for n in range(0, len(table) // record_size):
        record = table[n * record_size:(n + 1) * record_size]
        if record[:4] != b"FILE":
            continue
        size_bits = {512: 0, 1024: 1, 2048: 2, 4096: 3}[record_size]
        cluster_bits = {512: 0, 4096: 1, 65536: 2}.get(cluster, 1) << 2
        write("mft_record", "seed-record-%03d" % n, bytes([size_bits | cluster_bits]) + record)
        # User files (records from 64 on) also undone, for the harness to
        # protect again after mutation.
        if n >= 64 or n == 0:
            write("mft_record", "seed-record-%03d-open" % n,
                  bytes([size_bits | cluster_bits | 0x20]) + unprotect(record))
        index += 1

    chunks = [(0, boot)] + nonzero_runs(table, mft, record_size)
    write("ntfs_scanner", "seed-ntfs-24m", encode(0, len(image), chunks))
    write("ntfs_scanner", "seed-ntfs-24m-window-4k", encode(1, len(image), chunks))
    write("ntfs_scanner", "seed-ntfs-24m-stop", encode(3 << 2, len(image), chunks))


def fat_chain(image, fat, cluster, highest):
    chain = []
    seen = set()
    while 2 <= cluster <= highest and cluster not in seen and len(chain) < 4096:
        seen.add(cluster)
        chain.append(cluster)
        cluster = u32(image, fat + 4 * cluster) & 0x0FFFFFFF
    return chain


def fat32_seeds(path, name, chains_only=False):
    with open(path, "rb") as f:
        image = f.read()
    boot = image[:512]
    bps = u16(boot, 0x0B)
    spc = boot[0x0D]
    reserved = u16(boot, 0x0E)
    fats = boot[0x10]
    spf = u32(boot, 0x24)
    root = u32(boot, 0x2C)
    fat = reserved * bps
    data_start = (reserved + fats * spf) * bps
    cluster_bytes = bps * spc
    highest = (len(image) - data_start) // cluster_bytes + 1

    def offset_of(c):
        return data_start + (c - 2) * cluster_bytes

    chunks = [(0, boot)]
    if not chains_only:
        chunks += nonzero_runs(image[fat:fat + spf * bps], fat, bps)
    queue = [(root, False)]
    seen = set()
    while queue:
        first, deleted = queue.pop(0)
        if first in seen or not 2 <= first <= highest:
            continue
        seen.add(first)
        # A deleted directory's clusters follow one another; two are plenty.
        clusters = [first, first + 1] if deleted else fat_chain(image, fat, first, highest)
        if chains_only and not deleted:
            chunks += [(fat + 4 * c, image[fat + 4 * c:fat + 4 * c + 4]) for c in clusters]
        for c in clusters:
            block = image[offset_of(c):offset_of(c) + cluster_bytes]
            chunks.append((offset_of(c), block.rstrip(b"\0") or b"\0"))
            for at in range(0, len(block), 32):
                entry = block[at:at + 32]
                if entry[0] == 0 or entry[0:1] == b"." or (entry[11] & 0x3F) == 0x0F or entry[11] & 0x08:
                    continue
                start = (u16(entry, 20) << 16) | u16(entry, 26)
                gone = deleted or entry[0] == 0xE5
                if entry[11] & 0x10:
                    queue.append((start, gone))
                elif gone and 2 <= start <= highest:
                    # Deleted files' first bytes: what tells their type.
                    chunks.append((offset_of(start), image[offset_of(start):offset_of(start) + 512]))
    write("fat32_scanner", "seed-" + name, encode(0, len(image), chunks))
    write("fat32_scanner", "seed-" + name + "-stop", encode(4, len(image), chunks))


def fat16_seeds(path, name):
    with open(path, "rb") as f:
        image = f.read()
    boot = image[:512]
    bps = u16(boot, 0x0B)
    spc = boot[0x0D]
    reserved = u16(boot, 0x0E)
    fats = boot[0x10]
    root_entries = u16(boot, 0x11)
    spf = u16(boot, 0x16)
    total = u16(boot, 0x13) or u32(boot, 0x20)
    fat = reserved * bps
    root = (reserved + fats * spf) * bps
    root_bytes = root_entries * 32
    data_start = root + (root_bytes + bps - 1) // bps * bps
    cluster_bytes = bps * spc
    clusters = (total * bps - data_start) // cluster_bytes
    bits = 12 if clusters < 4085 else 16
    highest = clusters + 1

    def entry(c):
        if bits == 16:
            return u16(image, fat + 2 * c)
        v = u16(image, fat + c + c // 2)
        return v >> 4 if c & 1 else v & 0xFFF

    def chain(c):
        out = []
        while 2 <= c <= highest and c not in out and len(out) < 4096:
            out.append(c)
            c = entry(c)
        return out

    def offset_of(c):
        return data_start + (c - 2) * cluster_bytes

    chunks = [(0, boot)] + nonzero_runs(image[fat:fat + spf * bps], fat, bps)
    queue = [(None, False)]
    seen = set()
    while queue:
        first, deleted = queue.pop(0)
        if first is None:
            blocks = [(root, image[root:root + root_bytes])]
        else:
            if first in seen or not 2 <= first <= highest:
                continue
            seen.add(first)
            cs = [first, first + 1] if deleted else chain(first)
            blocks = [(offset_of(c), image[offset_of(c):offset_of(c) + cluster_bytes]) for c in cs]
        for at_volume, block in blocks:
            chunks.append((at_volume, block.rstrip(b"\0") or b"\0"))
            for at in range(0, len(block), 32):
                e = block[at:at + 32]
                if e[0] == 0 or e[0:1] == b"." or (e[11] & 0x3F) == 0x0F or e[11] & 0x08:
                    continue
                start = u16(e, 26)
                gone = deleted or e[0] == 0xE5
                if e[11] & 0x10:
                    queue.append((start, gone))
                elif gone and 2 <= start <= highest:
                    chunks.append((offset_of(start), image[offset_of(start):offset_of(start) + 512]))
    write("fat32_scanner", "seed-" + name, encode(0, len(image), chunks))
    write("fat32_scanner", "seed-" + name + "-stop", encode(4, len(image), chunks))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--ntfs-deleted":
        ntfs_deleted_seeds(sys.argv[2])
        return
    if len(sys.argv) == 4 and sys.argv[1] == "--fat16":
        fat16_seeds(sys.argv[3], sys.argv[2])
        return
    if len(sys.argv) == 4 and sys.argv[1] in ("--fat32", "--fat32-chains"):
        fat32_seeds(sys.argv[3], sys.argv[2], sys.argv[1] == "--fat32-chains")
        return
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    ntfs_seeds(sys.argv[1])
    for i, path in enumerate(sys.argv[2:]):
        fat32_seeds(path, "fat32-%d" % i)


if __name__ == "__main__":
    main()
