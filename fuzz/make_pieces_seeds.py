#!/usr/bin/env python3
"""Seeds for fuzz_pieces: small documents of tests/data cut into two and
three pieces on a 512-byte grid, the first piece at the volume's first byte,
the others after gaps of random bytes or zeros, some before one another, and
a copy of a last piece as a decoy in a few.

    fuzz/make_pieces_seeds.py    (writes fuzz/corpus/pieces)
"""
import hashlib
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "tests", "data")
OUT = os.path.join(HERE, "corpus", "pieces")
GRID = 512
# The type's option bits (see fuzz_pieces.cpp): 0 DOCX, 1 ZIP, 2 XLS, 3 PDF.
DOCS = [("docx_lo_short.docx", 0), ("xlsx_lo_small.xlsx", 0), ("zip_deflated.zip", 1), ("zip_stored.zip", 1),
        ("zip_streamed.zip", 1), ("xls_small.xls", 2), ("doc_summary.doc", 2), ("pdf_xref_stream.pdf", 3),
        ("pdf_ghostscript.pdf", 3), ("doc_short.doc", 2)]


def pad(b, rng):
    return b + bytes(rng.randrange(256) if rng.random() < 0.5 else 0 for _ in range((-len(b)) % GRID))


def main():
    rng = random.Random(7)
    os.makedirs(OUT, exist_ok=True)
    for name, option in DOCS:
        data = open(os.path.join(DATA, name), "rb").read()
        sectors = (len(data) + GRID - 1) // GRID
        for k in (2, 3):
            if sectors < k:
                continue
            for variant in range(2):
                cuts = sorted(rng.sample(range(1, sectors), k - 1))
                bounds = [0] + [c * GRID for c in cuts] + [len(data)]
                parts = [data[bounds[i]:bounds[i + 1]] for i in range(k)]
                rest = parts[1:]
                if variant == 1:
                    rest.reverse()
                volume = bytearray(pad(parts[0], rng))
                for part in rest:
                    gap = rng.randrange(1, 4) * GRID
                    volume += rng.randbytes(gap) if rng.random() < 0.6 else bytes(gap)
                    volume += pad(part, rng)
                if variant == 1 and k == 2:
                    volume += pad(parts[-1], rng)  # a decoy: the same last piece twice
                seed = bytes([option | (4 if variant == 1 and k == 3 else 0)]) + bytes(volume)
                path = os.path.join(OUT, hashlib.sha1(seed).hexdigest())
                with open(path, "wb") as f:
                    f.write(seed)


if __name__ == "__main__":
    main()
