#!/usr/bin/env python3
"""Sorts what a recovery tool wrote against the documents placed in an image.

    accuracy_compare.py EXPECTED.tsv CORPUS_DIR OUTPUT_DIR

EXPECTED.tsv is the file corpus_image.py writes (sector, type, length, file),
with the document's name on the volume as a fifth column where it is not
the file's own.
Every file under OUTPUT_DIR is matched by content with the documents: it is
the document byte for byte (for a PDF, also when it ends at its last
"%%EOF"), a truncated copy (a shorter prefix), an extended copy (the whole
document and more), or an extra output that is none of these. A document
recovered byte-identical into a file of its original name also counts as
named (for the tools that keep names). Prints one line: identical truncated
extended missed extra named."""
import os
import sys


def main():
    expected_tsv, corpus, out_dir = sys.argv[1:4]
    docs = []
    for line in open(expected_tsv):
        cols = line.rstrip("\n").split("\t")
        sector, kind, length, name = cols[:4]
        original = cols[4] if len(cols) > 4 else os.path.basename(name)
        whole = open(os.path.join(corpus, name), "rb").read()
        forms = {whole}
        if kind == "PDF":
            forms.add(whole[: whole.rindex(b"%%EOF") + 5])
        docs.append({"name": name, "kind": kind, "whole": whole, "forms": forms, "state": "missed", "original": original, "named": False})

    outputs = []
    for root, _, files in os.walk(out_dir):
        for f in files:
            path = os.path.join(root, f)
            if f.endswith((".txt", ".log", ".xml")) and ("audit" in f or "report" in f or f.startswith("report")):
                continue
            outputs.append(path)

    rank = {"missed": 0, "extended": 1, "truncated": 2, "identical": 3}
    extra = 0
    for path in outputs:
        data = open(path, "rb").read()
        if len(data) < 512:
            extra += 1
            continue
        matched = False
        for d in docs:
            state = None
            if data in d["forms"]:
                state = "identical"
            elif any(data.startswith(form) for form in d["forms"]):
                state = "extended"
            elif d["whole"].startswith(data):
                state = "truncated"
            if state:
                matched = True
                if state == "identical" and os.path.basename(path) == d["original"]:
                    d["named"] = True
                if rank[state] > rank[d["state"]]:
                    d["state"] = state
                break
        if not matched:
            extra += 1

    counts = {k: 0 for k in rank}
    for d in docs:
        counts[d["state"]] += 1
    if os.environ.get("ACCURACY_VERBOSE"):
        for d in docs:
            if d["state"] != "identical":
                print("  %-10s %s" % (d["state"], d["name"]), file=sys.stderr)
    named = sum(1 for d in docs if d["named"])
    print("%d %d %d %d %d %d" % (counts["identical"], counts["truncated"], counts["extended"], counts["missed"], extra, named))


if __name__ == "__main__":
    main()
