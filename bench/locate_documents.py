#!/usr/bin/env python3
"""Finds where the corpus documents lie, whole and contiguous, in an image
that something else wrote (a file system), and writes the expected findings
as corpus_image.py does: sector, type, length, file.

    locate_documents.py IMAGE CORPUS_DIR EXPECTED.tsv"""
import os
import sys

from corpus_image import expected_length, read_manifest


def main():
    image_path, corpus, out_path = sys.argv[1:4]
    image = open(image_path, "rb").read()
    rows = []
    for row in read_manifest(corpus):
        doc = open(os.path.join(corpus, row["file"]), "rb").read()
        at = image.find(doc)
        while at >= 0 and at % 512:
            at = image.find(doc, at + 1)
        if at < 0:
            print("%s: not stored whole and contiguous, left out" % row["file"], file=sys.stderr)
            continue
        rows.append((at // 512, row["type"], expected_length(row["type"], doc, True), row["file"]))
    with open(out_path, "w") as f:
        for r in sorted(rows):
            f.write("%d\t%s\t%d\t%s\n" % r)


if __name__ == "__main__":
    main()
