#!/usr/bin/env python3
"""Writes fuzz/corpus/partition_table: small disks whose tables sfdisk and
sgdisk wrote (an MBR with primaries and a chain of logical partitions, the
same with an entry repeated, a GPT, a GPT whose primary header is damaged), in the sparse encoding of
fuzz/FuzzVolumeImage.h. Run it by hand when the reader changes.

    fuzz/make_partition_seeds.py
"""
import os
import subprocess
import tempfile

from make_seeds import encode, nonzero_runs, write

DISK = 8 * 1024 * 1024

MBR = b"""label: dos
unit: sectors
start=63, size=1985, type=c
start=2048, size=2048, type=7
start=4096, size=8192, type=5
start=6144, size=1024, type=83
start=8192, size=1024, type=7
start=10240, size=2048, type=b
"""

GPT = ["-n", "1:2048:4095", "-t", "1:0700", "-n", "2:4096:8191", "-t", "2:0700",
       "-n", "3:8192:16000", "-t", "3:8300"]


def disk(make):
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "disk.img")
        with open(path, "wb") as f:
            f.truncate(DISK)
        make(path)
        with open(path, "rb") as f:
            return bytearray(f.read())


def seed(name, data):
    write("partition_table", name, encode(0, len(data), nonzero_runs(bytes(data), 0, 512)))


def main():
    mbr = disk(lambda p: subprocess.run(["sfdisk", "--quiet", "--no-reread", "--no-tell-kernel", p],
                                        input=MBR, check=True, stdout=subprocess.DEVNULL))
    seed("mbr-logical", mbr)
    # Primary 2 repeated in the free fourth slot, then with another length.
    repeated = bytearray(mbr)
    repeated[446 + 48:446 + 64] = mbr[446 + 16:446 + 32]
    seed("mbr-repeated", repeated)
    repeated[446 + 48 + 12:446 + 64] = (4000).to_bytes(4, "little")
    seed("mbr-same-start", repeated)
    gpt = disk(lambda p: subprocess.run(["sgdisk"] + GPT + [p], check=True, stdout=subprocess.DEVNULL))
    seed("gpt", gpt)
    gpt[512 + 40] ^= 1
    seed("gpt-primary-damaged", gpt)


if __name__ == "__main__":
    main()
