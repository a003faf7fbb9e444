#!/usr/bin/env python3
"""Recovers a fragmented image (make-fragmented-image.py) and scores it.

  check-fragmented-image.py CLI IMAGE MANIFEST OUTDIR [--types T,...]
        [--min-two F] [--min-three F] [--table]

Runs `CLI scan IMAGE --fs none --json` and `CLI recover IMAGE OUTDIR --fs
none`, then for every document of MANIFEST whether the file recovered from
its first sector is byte-identical (sha256). Fails (exit 1) when a document
listed as whole is not byte-identical to the document laid down there (a
wrong assembly called whole), when a document laid down whole is not
recovered byte-identical, or when fewer than the given shares of the two- and
three-piece documents of TYPES (all by default; decoys left out, as they
must stay damaged) come back byte-identical. --table prints the counts by
pieces and by type.
"""
import argparse
import collections
import hashlib
import json
import os
import subprocess
import sys


def sha(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("image")
    ap.add_argument("manifest")
    ap.add_argument("outdir")
    ap.add_argument("--types", default="")
    ap.add_argument("--min-two", type=float, default=0.0)
    ap.add_argument("--min-three", type=float, default=0.0)
    ap.add_argument("--table", action="store_true")
    args = ap.parse_args()
    types = set(t for t in args.types.upper().split(",") if t)

    with open(args.manifest) as f:
        expected = [json.loads(line) for line in f if line.strip()]
    by_offset = {e["offset"]: e for e in expected}

    scan = subprocess.run([args.cli, "scan", args.image, "--fs", "none", "--json"], check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    listed = {}
    for line in scan.stdout.decode().splitlines():
        if line.startswith("{"):
            o = json.loads(line)
            listed[o["sector"] * 512] = o
    # 3: documents that are not whole were left out, the others written.
    recovered = subprocess.run([args.cli, "recover", args.image, args.outdir, "--fs", "none"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if recovered.returncode not in (0, 3):
        raise subprocess.CalledProcessError(recovered.returncode, recovered.args)

    failures = []
    image = open(args.image, "rb")
    for offset, o in sorted(listed.items()):
        if o.get("integrity") != "whole":
            continue
        e = by_offset.get(offset)
        if types and o["type"] not in types:
            continue
        # What the listing says the document is, read along its extents.
        h = hashlib.sha256()
        for at, length in o["extents"]:
            image.seek(at)
            h.update(image.read(length))
        if e is None or h.hexdigest() != e["sha256"]:
            failures.append("listed whole but not the document laid down at byte %d: %s" % (offset, o["name"]))

    counts = collections.defaultdict(lambda: [0, 0])
    for e in expected:
        if types and e["type"] not in types:
            continue
        o = listed.get(e["offset"])
        ok = False
        if o is not None:
            path = os.path.join(args.outdir, o["name"])
            ok = os.path.exists(path) and sha(path) == e["sha256"] and o.get("integrity") == "whole"
            # Pieces laid down one right after the other are one stretch.
            runs = []
            for at, length in e["extents"]:
                if runs and runs[-1][0] + runs[-1][1] == at:
                    runs[-1][1] += length
                else:
                    runs.append([at, length])
            if ok and len(o["extents"]) != len(runs):
                failures.append("%s at byte %d: whole, but in %d pieces, not %d"
                                % (e["name"], e["offset"], len(o["extents"]), len(runs)))
        if e["decoy"]:
            # Carved whole as one stretch (its pieces lay one after the
            # other) is right; put together from pieces it must not be.
            if ok and len(o["extents"]) > 1:
                failures.append("%s at byte %d: taken although a copy of its last piece lies in reach"
                                % (e["name"], e["offset"]))
            counts[("decoy", e["type"])][1] += 1
            continue
        for key in (e["pieces"], ("type", e["type"], e["pieces"])):
            counts[key][0] += ok
            counts[key][1] += 1
        if e["pieces"] == 1 and not ok:
            failures.append("%s laid down whole at byte %d is not recovered whole" % (e["name"], e["offset"]))

    if args.table:
        print("pieces  byte-identical")
        for k in (1, 2, 3):
            print("%6d  %d/%d" % (k, counts[k][0], counts[k][1]))
        print("type    1 piece  2 pieces  3 pieces")
        for t in sorted(set(k[1] for k in counts if isinstance(k, tuple) and k[0] == "type")):
            cells = ["%d/%d" % tuple(counts[("type", t, k)]) for k in (1, 2, 3)]
            print("%-6s  %7s  %8s  %8s" % (t, *cells))
        print("wrong assemblies called whole: %d" % sum(1 for f in failures if "listed whole" in f))
    for k, share in ((2, args.min_two), (3, args.min_three)):
        done, total = counts[k]
        if total and done < share * total:
            failures.append("%d of %d %d-piece documents byte-identical, fewer than %.0f %%"
                            % (done, total, k, share * 100))
    for f in failures:
        print("FAIL: " + f, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
