#!/usr/bin/env python3
"""Writes the documents with known titles and times that the details tests
read, into tests/data (run from the repository root; the output is
committed, with its line in tests/data/MANIFEST.tsv):

  pdf_utf16_title.pdf    classic xref table; Info /Title in UTF-16BE
  pdf_xref_stream.pdf    PDF 1.5: xref stream with PNG predictor, catalogue
                         and pages in an object stream, XMP metadata only
  docx_cjk_core.docx     docx_python-docx.docx with a CJK docProps/core.xml
  doc_summary.doc        compound document with a SummaryInformation stream
                         (in the mini stream) and a large WordDocument stream
                         whose text the piece table in 1Table names
"""
import struct, zipfile, zlib, io, os

OUT = 'tests/data'


def pdf(objects, trailer_extra, path, xref_stream=False):
    out = bytearray(b'%PDF-1.5\n%\xe2\xe3\xcf\xd3\n')
    offsets = {}
    for num, body in objects:
        offsets[num] = len(out)
        out += b'%d 0 obj\n' % num + body + b'\nendobj\n'
    size = max(offsets) + 2
    if not xref_stream:
        xref_at = len(out)
        out += b'xref\n0 %d\n' % size
        out += b'0000000000 65535 f \n'
        for n in range(1, size):
            out += b'%010d 00000 n \n' % offsets[n] if n in offsets else b'0000000000 65535 f \n'
        out += b'trailer\n<< /Size %d %s >>\n' % (size, trailer_extra)
    else:
        xnum = size - 1
        xref_at = len(out)
        offsets[xnum] = xref_at
        rows = []
        for n in range(size):
            if n in compressed:
                rows.append(bytes([2]) + struct.pack('>I', compressed[n][0]) + struct.pack('>H', compressed[n][1]))
            elif n in offsets:
                rows.append(bytes([1]) + struct.pack('>I', offsets[n]) + b'\0\0')
            else:
                rows.append(bytes([0, 0, 0, 0, 0, 0xff, 0xff]))
        # PNG "Up" predictor on 7-byte rows.
        prev = bytes(7)
        data = bytearray()
        for r in rows:
            data += b'\x02' + bytes((a - b) & 0xff for a, b in zip(r, prev))
            prev = r
        body = zlib.compress(bytes(data))
        out += (b'%d 0 obj\n<< /Type /XRef /Size %d /W [1 4 2] /Filter /FlateDecode '
                b'/DecodeParms << /Predictor 12 /Columns 7 >> /Length %d %s >>\nstream\n'
                % (xnum, size, len(body), trailer_extra)) + body + b'\nendstream\nendobj\n'
    out += b'startxref\n%d\n%%%%EOF\n' % xref_at
    open(os.path.join(OUT, path), 'wb').write(out)


def utf16(text):
    return b'<' + ('feff' + text.encode('utf-16-be').hex()).encode() + b'>'


page = b'<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>'
pdf([(1, b'<< /Type /Catalog /Pages 2 0 R >>'),
     (2, b'<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>'),
     (3, page), (4, page),
     (5, b'<< /Title ' + utf16('年度报告 2024') + b' /Author (Zhang Wei \\(finance\\)) '
         b'/CreationDate (D:20240315093000+08\'00\') /ModDate (D:20240401120500+08\'00\') >>')],
    b'/Root 1 0 R /Info 5 0 R', 'pdf_utf16_title.pdf')

# Objects 1-4 live in object stream 6; 5 is the XMP stream.
xmp = ('<?xpacket begin="\ufeff" id="W5M0MpCehiHzreSzNTczkc9d"?>'
       '<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
       '<rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/" '
       'xmlns:xmp="http://ns.adobe.com/xap/1.0/">'
       '<dc:title><rdf:Alt><rdf:li xml:lang="x-default">Quarterly figures</rdf:li></rdf:Alt></dc:title>'
       '<dc:creator><rdf:Seq><rdf:li>Ana Souza</rdf:li></rdf:Seq></dc:creator>'
       '<xmp:CreateDate>2023-11-02T08:15:00Z</xmp:CreateDate>'
       '<xmp:ModifyDate>2023-11-03T17:45:30+01:00</xmp:ModifyDate>'
       '</rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end="w"?>').encode()
inner = [b'<< /Type /Catalog /Pages 2 0 R /Metadata 5 0 R >>',
         b'<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>', page, page]
head = b''
bodies = b''
for i, o in enumerate(inner):
    head += b'%d %d ' % (i + 1, len(bodies))
    bodies += o + b' '
objstm = zlib.compress(head + bodies)
compressed = {i + 1: (6, i) for i in range(4)}
pdf([(5, b'<< /Type /Metadata /Subtype /XML /Length %d >>\nstream\n' % len(xmp) + xmp + b'\nendstream'),
     (6, b'<< /Type /ObjStm /N 4 /First %d /Filter /FlateDecode /Length %d >>\nstream\n'
      % (len(head), len(objstm)) + objstm + b'\nendstream')],
    b'/Root 1 0 R', 'pdf_xref_stream.pdf', xref_stream=True)

core = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/metadata/core-properties" '
        'xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:dcterms="http://purl.org/dc/terms/" '
        'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">'
        '<dc:title>毕业论文终稿</dc:title><dc:creator>李华</dc:creator>'
        '<dcterms:created xsi:type="dcterms:W3CDTF">2024-05-20T02:30:00Z</dcterms:created>'
        '<dcterms:modified xsi:type="dcterms:W3CDTF">2024-06-01T14:03:00Z</dcterms:modified>'
        '</cp:coreProperties>').encode()
src = zipfile.ZipFile(os.path.join(OUT, 'docx_python-docx.docx'))
buf = io.BytesIO()
with zipfile.ZipFile(buf, 'w', zipfile.ZIP_DEFLATED) as z:
    for info in src.infolist():
        data = core if info.filename == 'docProps/core.xml' else src.read(info.filename)
        zi = zipfile.ZipInfo(info.filename, date_time=(2024, 6, 1, 14, 3, 0))
        zi.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(zi, data)
open(os.path.join(OUT, 'docx_cjk_core.docx'), 'wb').write(buf.getvalue())


def filetime(y, mo, d, h, mi, s):
    import datetime
    t = datetime.datetime(y, mo, d, h, mi, s) - datetime.datetime(1601, 1, 1)
    return (t.days * 86400 + t.seconds) * 10000000


def summary():
    title = 'Übersicht 2022'.encode('cp1252') + b'\0'
    author = b'Jonas Weber\0'
    props = [(1, struct.pack('<IhH', 2, 1252, 0)),
             (2, struct.pack('<II', 0x1E, len(title)) + title + b'\0' * (-len(title) % 4)),
             (4, struct.pack('<II', 0x1E, len(author)) + author + b'\0' * (-len(author) % 4)),
             (12, struct.pack('<IQ', 0x40, filetime(2022, 2, 14, 9, 30, 0))),
             (13, struct.pack('<IQ', 0x40, filetime(2022, 3, 1, 16, 5, 0))),
             (14, struct.pack('<Ii', 3, 7))]
    table = b''
    body = b''
    base = 8 + 8 * len(props)
    for pid, value in props:
        table += struct.pack('<II', pid, base + len(body))
        body += value
    section = struct.pack('<II', base + len(body), len(props)) + table + body
    fmtid = bytes.fromhex('e0859ff2f94f6810ab9108002b27b3d9')
    return struct.pack('<HHI16sI', 0xFFFE, 0, 0x00020005, b'\0' * 16, 1) + fmtid + struct.pack('<I', 48) + section


def ole(path):
    ss = 512
    summ = summary()
    # WordDocument: a Word 97 file information block, then 8-bit text from
    # byte 1536 to the end of the stream, which the piece table in 1Table
    # names as one piece.
    text_at, word_size = 1536, 5000
    line = 'Übersicht über das Geschäftsjahr 2022, Umsätze nach Regionen.\r'.encode('cp1252')
    text = (line * (word_size // len(line) + 1))[:word_size - text_at]
    fib = bytearray(text_at)
    struct.pack_into('<HH', fib, 0, 0xA5EC, 0xC1)
    struct.pack_into('<H', fib, 0x0A, 0x0200)  # the table stream is 1Table
    struct.pack_into('<II', fib, 0x18, text_at, word_size)
    struct.pack_into('<H', fib, 0x20, 14)
    struct.pack_into('<H', fib, 0x3E, 22)
    struct.pack_into('<II', fib, 0x40, word_size, 0)
    struct.pack_into('<I', fib, 0x4C, len(text))
    struct.pack_into('<H', fib, 0x98, 0x5D)
    clx = struct.pack('<BIII', 2, 16, 0, len(text)) + struct.pack('<HIH', 0, 0x40000000 | (2 * text_at), 0)
    struct.pack_into('<II', fib, 0x1A2, 0, len(clx))
    word = bytes(fib) + text
    summ_padded = summ + b'\0' * (-len(summ) % 64)
    mini = summ_padded + clx + b'\0' * (-len(clx) % 64)
    # Sectors: 0 FAT, 1 directory, 2 mini FAT, 3.. mini stream, then WordDocument.
    mini_sectors = (len(mini) + ss - 1) // ss
    word_sectors = (len(word) + ss - 1) // ss
    first_mini_stream = 3
    first_word = first_mini_stream + mini_sectors
    fat = [0xFFFFFFFD, 0xFFFFFFFE, 0xFFFFFFFE]
    for k in range(mini_sectors):
        fat.append(first_mini_stream + k + 1 if k + 1 < mini_sectors else 0xFFFFFFFE)
    for k in range(word_sectors):
        fat.append(first_word + k + 1 if k + 1 < word_sectors else 0xFFFFFFFE)
    fat += [0xFFFFFFFF] * (128 - len(fat))
    summ_minis = len(summ_padded) // 64
    minifat = [k + 1 if k + 1 < summ_minis else 0xFFFFFFFE for k in range(summ_minis)]
    minifat += [k + 1 if k + 1 < len(mini) // 64 else 0xFFFFFFFE for k in range(summ_minis, len(mini) // 64)]
    minifat += [0xFFFFFFFF] * (128 - len(minifat))

    def entry(name, kind, start, size, child=0xFFFFFFFF, left=0xFFFFFFFF, right=0xFFFFFFFF):
        n = name.encode('utf-16-le') + b'\0\0'
        return (n.ljust(64, b'\0') + struct.pack('<HBB', len(n), kind, 1) + struct.pack('<III', left, right, child)
                + b'\0' * 16 + b'\0' * 4 + b'\0' * 16 + struct.pack('<IQ', start, size))
    directory = (entry('Root Entry', 5, first_mini_stream, len(mini), child=1)
                 + entry('\x05SummaryInformation', 2, 0, len(summ), right=2)
                 + entry('WordDocument', 2, first_word, len(word), right=3)
                 + entry('1Table', 2, summ_minis, len(clx)))
    header = bytes.fromhex('d0cf11e0a1b11ae1') + b'\0' * 16 + struct.pack('<HHHHH', 0x3E, 3, 0xFFFE, 9, 6)
    header += b'\0' * 6 + struct.pack('<IIIIIIIII', 0, 1, 1, 0, 4096, 2, 1, 0xFFFFFFFE, 0)
    header += struct.pack('<I', 0) + struct.pack('<I', 0xFFFFFFFF) * 108
    out = header + b''.join(struct.pack('<I', v) for v in fat) + directory
    out += b''.join(struct.pack('<I', v) for v in minifat) + mini.ljust(mini_sectors * ss, b'\0')
    out += word.ljust(word_sectors * ss, b'\0')
    open(os.path.join(OUT, path), 'wb').write(out)


ole('doc_summary.doc')
