#!/usr/bin/env python3
"""Builds a raw image of documents of which many lie in two or three pieces.

  make-fragmented-image.py IMAGE MANIFEST [--seed N] [--data DIR] [--rounds N]

Every document of DIR (tests/data by default) at least two clusters long is
laid down, in each round, cut at random 4 KiB cluster boundaries into two and
into three pieces, and once whole as a control; shorter ones whole only. The
pieces of all documents are interleaved at random (so the gap after a piece
often holds other documents' pieces), with gaps of random bytes or zeros
between them, and some second pieces lie before the first. Decoys that must
never be taken for a piece: a second copy of a document's last piece (that
document has two equally good assemblies, so it must be left damaged), and
the last piece of another version of a ZIP document (its directory names
other bytes).

MANIFEST gets one JSON object a line: name, type, pieces (1, 2, 3),
offset (of the first byte on the image), sha256, and decoy (true for a
document whose last piece was copied: it is expected not whole).
"""
import argparse
import hashlib
import io
import json
import os
import random
import re
import struct
import sys
import zipfile

CLUSTER = 4096
TYPES = {
    ".pdf": "PDF", ".zip": "ZIP", ".doc": "DOC", ".xls": "XLS", ".ppt": "PPT",
    ".docx": "DOCX", ".xlsx": "XLSX", ".pptx": "PPTX",
}


def clusters(n):
    return (n + CLUSTER - 1) // CLUSTER


def cut(data, k, rng, count=None):
    """k pieces at distinct random cluster boundaries (among the first count
    clusters' boundaries, all of them by default)."""
    count = count or clusters(len(data))
    points = sorted(rng.sample(range(1, count), k - 1))
    bounds = [0] + [p * CLUSTER for p in points] + [len(data)]
    return [data[bounds[i]:bounds[i + 1]] for i in range(k)]


class _Unseekable(io.RawIOBase):
    """Makes zipfile write data descriptors, as a writer to a pipe does."""

    def __init__(self, sink):
        self.sink = sink

    def writable(self):
        return True

    def write(self, b):
        self.sink.write(b)
        return len(b)


def unique_copy(data, typ, n):
    """Another document of the same kind, different in content from every
    other copy (identical copies would be two equally good continuations of
    each other). ZIPs: every XML member gets a comment, written as the original
    was (data descriptors or not); PDFs: a comment line that moves every object;
    compound documents: n free sectors after the first, which moves every other
    sector (and the chains, the directory and the header that name them)."""
    if n == 0:
        return data
    if typ in ("DOC", "XLS", "PPT"):
        return shifted_compound(data, n)
    if typ in ("ZIP", "DOCX", "XLSX", "PPTX"):
        src = zipfile.ZipFile(io.BytesIO(data))
        infos = src.infolist()
        descriptors = any(i.flag_bits & 0x08 for i in infos)
        out = io.BytesIO()
        with zipfile.ZipFile(_Unseekable(out) if descriptors else out, "w") as dst:
            for info in infos:
                body = src.read(info)
                if info.filename.endswith((".xml", ".rels", ".fodt")):
                    body += b"<!-- copy %d -->" % n
                fresh = zipfile.ZipInfo(info.filename, info.date_time)
                fresh.compress_type = info.compress_type
                fresh.external_attr = info.external_attr
                dst.writestr(fresh, body)
        return out.getvalue()
    if typ == "PDF" and b"/Type /XRef" not in data and b"/Type/XRef" not in data and b"/Linearized" not in data:
        # A comment line of a length of its own after the header moves every
        # object: the cross-reference tables, startxref and /Prev follow.
        line_end = data.index(b"\n") + 1
        comment = b"%" + b"c" * n + b"\n"
        delta = len(comment)
        body = data[:line_end] + comment + data[line_end:]
        body = re.sub(rb"(?m)^(\d{10}) (\d{5}) n",
                      lambda m: b"%010d %s n" % (int(m.group(1)) + delta, m.group(2)), body)
        body = re.sub(rb"startxref(\s+)(\d+)", lambda m: b"startxref" + m.group(1) + str(int(m.group(2)) + delta).encode(), body)
        body = re.sub(rb"/Prev (\d+)", lambda m: b"/Prev " + str(int(m.group(1)) + delta).encode(), body)
        return body
    return data


def shifted_compound(data, n):
    """The compound document with n free sectors inserted after sector 0: what
    was sector s >= 1 is now s + n. Unchanged when it has a DIFAT chain or its
    allocation table has no room for n more sectors."""
    free, end, special = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFA
    size = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    fat_count = struct.unpack_from("<I", data, 0x2C)[0]
    if struct.unpack_from("<I", data, 0x44)[0] != end or fat_count > 109 or len(data) % size:
        return data
    sectors = len(data) // size - 1
    if sectors + n > fat_count * (size // 4):
        return data

    def moved(s):
        return s if s >= special or s == 0 else s + n

    fat_at = list(struct.unpack_from("<%dI" % fat_count, data, 0x4C))
    fat = []
    for s in fat_at:
        fat += struct.unpack_from("<%dI" % (size // 4), data, (s + 1) * size)
    body = [data[(s + 1) * size:(s + 2) * size] for s in range(sectors)]
    new_fat = [free] * len(fat)
    for s in range(sectors):
        new_fat[moved(s)] = moved(fat[s])
    new_body = [body[0]] + [bytes(size)] * n + body[1:]
    for k, s in enumerate(fat_at):
        new_body[moved(s)] = struct.pack("<%dI" % (size // 4), *new_fat[k * (size // 4):(k + 1) * (size // 4)])
    header = bytearray(data[:size])
    struct.pack_into("<%dI" % fat_count, header, 0x4C, *[moved(s) for s in fat_at])
    directory = struct.unpack_from("<I", header, 0x30)[0]
    cutoff = struct.unpack_from("<I", header, 0x38)[0]
    for at in (0x30, 0x3C):
        struct.pack_into("<I", header, at, moved(struct.unpack_from("<I", header, at)[0]))
    # Entries whose stream lies in regular sectors: the root (the mini
    # stream) and streams of at least the cutoff.
    s, steps = directory, 0
    while s < special and steps < sectors:
        sector = bytearray(body[s])
        for at in range(0, size, 128):
            kind = sector[at + 0x42]
            length = struct.unpack_from("<I", sector, at + 0x78)[0]
            if kind == 5 or (kind == 2 and length >= cutoff):
                start = struct.unpack_from("<I", sector, at + 0x74)[0]
                struct.pack_into("<I", sector, at + 0x74, moved(start))
        new_body[moved(s)] = bytes(sector)
        s, steps = fat[s], steps + 1
    return bytes(header) + b"".join(new_body)


def other_version(data):
    """The same archive with one member's text changed: another version."""
    src = zipfile.ZipFile(io.BytesIO(data))
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as dst:
        changed = False
        for info in src.infolist():
            body = src.read(info)
            if not changed and info.filename.endswith(".xml") and len(body) > 200:
                body = body.replace(b"<", b"< ", 1)
                changed = True
            dst.writestr(info, body, compress_type=info.compress_type)
    return out.getvalue()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("image")
    ap.add_argument("manifest")
    ap.add_argument("--seed", type=int, default=24)
    ap.add_argument("--rounds", type=int, default=1)
    ap.add_argument("--data", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data"))
    args = ap.parse_args()
    rng = random.Random(args.seed)

    docs = []
    for name in sorted(os.listdir(args.data)):
        ext = os.path.splitext(name)[1].lower()
        if ext in TYPES:
            with open(os.path.join(args.data, name), "rb") as f:
                docs.append((name, TYPES[ext], f.read()))

    # Each placed document: its pieces, in document order.
    placed = []
    copies = {}
    for _ in range(args.rounds):
        for name, typ, original in docs:
            for k in (1, 2, 3):
                if clusters(len(original)) < k:
                    continue
                n = copies[name] = copies.get(name, -1) + 1
                if typ in ("DOC", "XLS", "PPT"):
                    # Sectors put in move the later ones by 512 bytes each:
                    # eight copies in pieces line up with the clusters in
                    # eight different ways, so no two share a cluster's bytes
                    # (copies laid down whole are all the original, whole on
                    # their own).
                    n = 0 if k == 1 else 1 + (sum(1 for q in placed if q["name"] == name and len(q["parts"]) > 1) % 8)
                data = unique_copy(original, typ, n)
                # A compound document's copy is longer than the original by
                # the sectors put in; its cuts and the filler after its end
                # take what the original's would from the generator, so
                # every other document lies as it did before copies differed.
                grown = len(data) - len(original) if typ in ("DOC", "XLS", "PPT") else 0
                count = clusters(len(original)) if grown else None
                placed.append({"name": name, "type": typ, "parts": cut(data, k, rng, count) if k > 1 else [data],
                               "data": data, "grown": grown})

    # Decoys: a copy of a last piece, and another version's last piece.
    extra = []
    multi = [p for p in placed if len(p["parts"]) > 1]
    for p in rng.sample(multi, max(1, len(multi) // 12)):
        p["decoy"] = True
        extra.append((p["parts"][-1], p["grown"]))
    for p in multi:
        if p["type"] in ("DOCX", "XLSX", "PPTX") and not p.get("decoy") and len(p["parts"]) == 2:
            try:
                v2 = other_version(p["data"])
            except zipfile.BadZipFile:
                continue
            extra.append((cut(v2, 2, rng)[-1] if clusters(len(v2)) >= 2 else v2, 0))
            p["version_decoy"] = True
            break

    # The order pieces are laid down in: a random interleaving that keeps
    # each document's order, except that some second pieces come first.
    queues = []
    for p in placed:
        order = list(range(len(p["parts"])))
        if len(order) >= 2 and rng.random() < 0.2:
            order[0], order[1] = order[1], order[0]
        queues.append([(p, i) for i in order])
    for piece in extra:
        queues.append([(None, piece)])
    # The filler after a compound document's grown last piece.
    side = random.Random(args.seed + 1)

    image = bytearray(CLUSTER * 16)  # a little zeroed space first
    live = [q for q in queues if q]
    while live:
        q = rng.choice(live)
        p, i = q.pop(0)
        if not q:
            live.remove(q)
        # A gap: nothing, random bytes or zeros.
        gap = rng.choice((0, 0, 1, 1, 2, 3))
        if gap:
            kind = rng.random()
            image += rng.randbytes(gap * CLUSTER) if kind < 0.6 else bytes(gap * CLUSTER)
        if p is None:
            body, grown = i
        else:
            body = p["parts"][i]
            grown = p["grown"] if i == len(p["parts"]) - 1 else 0
            p.setdefault("at", {})[i] = len(image)
        image += body
        # The rest of the last cluster: what was there before.
        tail = (-len(image)) % CLUSTER
        drawn = (-(len(image) - grown)) % CLUSTER
        random_fill = rng.random() < 0.5
        filler = rng.randbytes(drawn) if random_fill else bytes(drawn)
        if drawn != tail:
            filler = side.randbytes(tail) if random_fill else bytes(tail)
        image += filler
    image += bytes(CLUSTER * 16)

    with open(args.image, "wb") as f:
        f.write(image)
    with open(args.manifest, "w") as f:
        for p in placed:
            f.write(json.dumps({
                "name": p["name"], "type": p["type"], "pieces": len(p["parts"]),
                "offset": p["at"][0], "sha256": hashlib.sha256(p["data"]).hexdigest(),
                "extents": [[p["at"][i], len(p["parts"][i])] for i in range(len(p["parts"]))],
                "decoy": bool(p.get("decoy")),
            }) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
