#!/usr/bin/env python3
"""Writes a benchmark image in which random regions, zero regions and
documents alternate: the documents are copies of the real documents given
(tests/data), placed at 4096-byte boundaries with zero slack after each.

    mixed_image.py OUT SIZE_MIB DOCUMENT...

Prints how many documents it placed; with MIXED_IMAGE_LIST=FILE set, also
writes where each went (sector, document path) to FILE."""
import os
import random
import sys

BOUNDARY = 4096
CHUNK = 4 * 1024 * 1024


def main():
    out_path, size_mib, docs = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    total = size_mib * 1024 * 1024
    contents = [open(d, "rb").read() for d in docs]
    rng = random.Random(1)
    placed = 0
    pos = 0
    listing = open(os.environ["MIXED_IMAGE_LIST"], "w") if os.environ.get("MIXED_IMAGE_LIST") else None
    with open(out_path, "wb") as out:
        def write_random(n):
            nonlocal pos
            while n > 0:
                k = min(n, CHUNK)
                out.write(os.urandom(k))
                n -= k
                pos += k

        def write_zeros(n):
            nonlocal pos
            while n > 0:
                k = min(n, CHUNK)
                out.write(bytes(k))
                n -= k
                pos += k

        while pos < total:
            write_random(min(total - pos, rng.randrange(64, 1536) * 1024))
            write_zeros(min(total - pos, rng.randrange(16, 512) * 1024))
            for _ in range(rng.randrange(1, 6)):
                if pos >= total:
                    break
                which = rng.randrange(len(contents))
                doc = contents[which]
                start = (pos + BOUNDARY - 1) // BOUNDARY * BOUNDARY
                if start + len(doc) > total:
                    break
                write_zeros(start - pos)
                out.write(doc)
                pos += len(doc)
                placed += 1
                if listing:
                    listing.write("%d\t%s\n" % (start // 512, docs[which]))
            write_zeros(min(total - pos, (BOUNDARY - pos % BOUNDARY) % BOUNDARY))
    print(placed)


if __name__ == "__main__":
    main()
