#!/usr/bin/env python3
"""Builds disk images out of real documents for the carving benchmarks.

Documents are placed at 4096-byte boundaries, in the order given, with the
bytes between them (the slack) zero or random. The expected findings are
written beside the image as TSV: sector, type, length, file. The expected
length is where each document ends: a PDF just past the line end after its
last "%%EOF", a
ZIP just past its end-of-central-directory record and its archive comment
(--no-comment: without the comment), a compound document at its last sector in use by the FAT.
"""
import argparse
import os
import random
import struct
import sys

BOUNDARY = 4096


def read_manifest(corpus):
    rows = []
    with open(os.path.join(corpus, "MANIFEST.tsv")) as f:
        header = f.readline().rstrip("\n").split("\t")
        for line in f:
            cols = line.rstrip("\n").split("\t")
            if len(cols) >= 2:
                rows.append(dict(zip(header, cols)))
    return rows


def ole_length(b):
    major, shift = struct.unpack_from("<HH", b, 0x1A)[0], struct.unpack_from("<H", b, 0x1E)[0]
    ss = 4096 if (major == 4 and shift == 12) else 512
    fats = []
    for v in struct.unpack_from("<109I", b, 0x4C):
        if v == 0xFFFFFFFF:
            break
        fats.append(v)
    nxt = struct.unpack_from("<I", b, 0x44)[0]
    while nxt < 0xFFFFFFFA:
        off = (nxt + 1) * ss
        n = ss // 4
        ent = struct.unpack_from("<%dI" % n, b, off)
        fats += [v for v in ent[:-1] if v < 0xFFFFFFFA]
        nxt = ent[-1]
    last = fats[-1]
    off = (last + 1) * ss
    ent = struct.unpack_from("<%dI" % (ss // 4), b, off)
    used = 0
    for i, v in enumerate(ent):
        if v != 0xFFFFFFFF:
            used = i + 1
    return ((len(fats) - 1) * (ss // 4) + used + 1) * ss


def expected_length(kind, b, with_comment):
    if kind == "PDF":
        end = b.rindex(b"%%EOF") + 5
        if b[end:end + 2] == b"\r\n":
            return end + 2
        return end + 1 if b[end:end + 1] in (b"\n", b"\r") else end
    if kind in ("ZIP", "DOCX", "XLSX", "PPTX"):
        at = b.rindex(b"PK\x05\x06")
        comment = struct.unpack_from("<H", b, at + 20)[0] if with_comment else 0
        return at + 22 + comment
    return ole_length(b)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("image")
    ap.add_argument("expected")
    ap.add_argument("corpus")
    ap.add_argument("--window", type=int, default=32 * 1024 * 1024)
    ap.add_argument("--straddle", default="ppt_image.ppt", help="document placed across the first window edge")
    ap.add_argument("--slack", choices=("zero", "random"), default="zero")
    ap.add_argument("--no-comment", dest="comment", action="store_false",
                    help="end an archive at its end record, before its comment")
    ap.add_argument("--seed", type=int, default=7)
    args = ap.parse_args()
    rng = random.Random(args.seed)

    rows = read_manifest(args.corpus)
    straddler = [r for r in rows if r["file"] == args.straddle]
    rest = [r for r in rows if r["file"] != args.straddle]
    out = open(args.image, "wb")
    expected = []
    pos = 0

    def pad_to(target):
        nonlocal pos
        gap = target - pos
        if gap > 0:
            out.write(rng.randbytes(gap) if args.slack == "random" else bytes(gap))
        pos = target

    def place(row):
        nonlocal pos
        b = open(os.path.join(args.corpus, row["file"]), "rb").read()
        start = (pos + BOUNDARY - 1) // BOUNDARY * BOUNDARY
        pad_to(start)
        out.write(b)
        pos += len(b)
        expected.append((start // 512, row["type"], expected_length(row["type"], b, args.comment), row["file"]))
        return len(b)

    for row in rest:
        place(row)
    for row in straddler:
        size = os.path.getsize(os.path.join(args.corpus, row["file"]))
        start = (args.window - size // 2) // BOUNDARY * BOUNDARY
        if start < pos:
            start = (pos + BOUNDARY - 1) // BOUNDARY * BOUNDARY
        pad_to(start)
        place(row)
    pad_to((pos + BOUNDARY - 1) // BOUNDARY * BOUNDARY + BOUNDARY)
    out.close()
    with open(args.expected, "w") as f:
        for sector, kind, length, name in expected:
            f.write("%d\t%s\t%d\t%s\n" % (sector, kind, length, name))
    print("%s: %d documents, %d bytes" % (args.image, len(expected), pos), file=sys.stderr)


if __name__ == "__main__":
    main()
