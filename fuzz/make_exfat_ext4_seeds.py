#!/usr/bin/env python3
"""Cuts fuzz seeds out of the exFAT and ext4 test volumes.

    fuzz/make_exfat_ext4_seeds.py EXFAT_IMAGE EXT4_IMAGE [EXT4_BIGALLOC_IMAGE]

(images made by tests/scripts/make-exfat-volume.sh and make-ext4-volume.sh,
the third by make-ext4-volume.sh IMAGE bigalloc).
Writes fuzz/corpus/exfat_scanner (both boot regions, the FAT, the clusters
that hold directory entries whole, and the first sector of every cluster
that starts with a document's signature, so that deleted files still show
their types; again with a deleted file's ValidDataLength short of its
size) and
fuzz/corpus/ext4_scanner (the volume's metadata as `e2image -r` gives it:
superblock, descriptors, bitmaps, inode tables, directory and extent
blocks), in the sparse encoding of fuzz/FuzzVolumeImage.h. Each target also
gets a copy that stops after a few reads. Run it by hand when the volume
scripts change.
"""
import os
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from make_seeds import encode, nonzero_runs  # noqa: E402

CORPUS = os.path.join(HERE, "corpus")
ENTRY_TYPES = {0x00, 0x81, 0x82, 0x83, 0x85, 0xC0, 0xC1, 0x05, 0x40, 0x41, 0xA0, 0xA1, 0xA2}


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def exfat_seed(path):
    image = open(path, "rb").read()
    shift = image[108]
    sector = 1 << shift
    cluster = sector << image[109]
    fat_offset = struct.unpack_from("<I", image, 80)[0] * sector
    fat_length = struct.unpack_from("<I", image, 84)[0] * sector
    heap = struct.unpack_from("<I", image, 88)[0] * sector
    count = struct.unpack_from("<I", image, 92)[0]
    chunks = [(0, image[:24 * sector])]
    chunks += nonzero_runs(image[fat_offset:fat_offset + fat_length], fat_offset, 512)
    for c in range(count):
        at = heap + c * cluster
        data = image[at:at + cluster]
        if not any(data):
            continue
        # Directory clusters (and the bitmap and the up-case table, which
        # the first clusters hold) whole; of the rest, the first sector.
        looks_like_entries = data[0] in (0x81, 0x82, 0x83, 0x85, 0x05) and all(
            data[i * 32] in ENTRY_TYPES for i in range(min(8, cluster // 32)))
        if c < 4 or looks_like_entries:
            chunks.append((at, data))
        elif data[:4] in (b"%PDF", b"PK\x03\x04", bytes.fromhex("D0CF11E0")):
            chunks.append((at, data[:512]))
    return encode(0, len(image), chunks)


def set_checksum(entries):
    total = 0
    for i, b in enumerate(entries):
        if i in (2, 3):
            continue
        total = ((0x8000 if total & 1 else 0) + (total >> 1) + b) & 0xFFFF
    return total


def short_valid_length(path):
    """The image with the first deleted file's ValidDataLength cut to half
    its DataLength (the set's checksum made right, as it was while in use),
    as Windows leaves a file whose space was allocated ahead of its writes."""
    image = bytearray(open(path, "rb").read())
    at = 0
    while True:
        at = image.find(b"\x05", at)
        if at < 0:
            sys.exit("no deleted file entry set in " + path)
        if at % 32 == 0 and image[at + 32] == 0x40:
            length = struct.unpack_from("<Q", image, at + 32 + 24)[0]
            if length > 4096 and struct.unpack_from("<H", image, at + 4)[0] & 0x10 == 0:
                break
        at += 1
    struct.pack_into("<Q", image, at + 32 + 8, length // 2)
    count = image[at + 1] + 1
    entries = bytearray(image[at:at + 32 * count])
    for k in range(count):
        entries[k * 32] |= 0x80
    struct.pack_into("<H", image, at + 2, set_checksum(entries))
    with tempfile.NamedTemporaryFile(delete=False) as f:
        f.write(image)
    return f.name


def ext4_seed(path):
    with tempfile.TemporaryDirectory() as tmp:
        meta = os.path.join(tmp, "meta.img")
        subprocess.run(["e2image", "-r", path, meta], check=True, capture_output=True)
        image = bytearray(open(meta, "rb").read())
        # The journal's blocks are of no use to the pass and would make
        # the seed large.
        out = subprocess.run(["debugfs", "-R", "blocks <8>", path], check=True, capture_output=True, text=True)
        block = 1024 << struct.unpack_from("<I", image, 1024 + 24)[0]
        for b in out.stdout.split():
            image[int(b) * block:(int(b) + 1) * block] = bytes(block)
    return encode(0, len(image), nonzero_runs(image, 0, 512))


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    exfat = exfat_seed(sys.argv[1])
    write("exfat_scanner", "seed-exfat", exfat)
    write("exfat_scanner", "seed-exfat-stop", bytes([5]) + exfat[1:])
    short = short_valid_length(sys.argv[1])
    write("exfat_scanner", "seed-exfat-short-valid-length", exfat_seed(short))
    os.unlink(short)
    ext4 = ext4_seed(sys.argv[2])
    write("ext4_scanner", "seed-ext4", ext4)
    write("ext4_scanner", "seed-ext4-stop", bytes([5]) + ext4[1:])
    if len(sys.argv) == 4:
        write("ext4_scanner", "seed-ext4-bigalloc", ext4_seed(sys.argv[3]))
    for target in ("exfat_scanner", "ext4_scanner"):
        folder = os.path.join(CORPUS, target)
        for name in sorted(os.listdir(folder)):
            print(target, name, os.path.getsize(os.path.join(folder, name)))


if __name__ == "__main__":
    main()
