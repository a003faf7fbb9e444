#include "details/CDetailsReader.h"
#include "details/CInflater.h"
#include "details/COleDetailsReader.h"
#include "details/CPdfDetailsReader.h"
#include "disk/CMemoryVolume.h"
#include "scan/CDocumentBytes.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <zlib.h>

namespace {

QByteArray readData(const QString& name)
{
    QFile f(QStringLiteral(TAMSEL_TEST_DATA "/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

CDocumentDetails detailsOf(const QByteArray& bytes, const QString& type, int64_t* fetched = nullptr,
                           const CDetailsBudget& budget = CDetailsBudget())
{
    CDocumentBytes reader(bytes, budget.readBytes);
    const CDocumentDetails d = CDetailsReader::read(reader, type, budget);
    if (fetched)
        *fetched = reader.bytesFetched();
    return d;
}

QByteArray rawDeflate(const QByteArray& data)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<int>(deflateBound(&z, static_cast<uLong>(data.size()))), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.truncate(static_cast<int>(z.total_out));
    deflateEnd(&z);
    return out;
}

void le16(QByteArray& b, int v) { b.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); }
void le32(QByteArray& b, quint32 v) { le16(b, int(v & 0xFFFF)); le16(b, int(v >> 16)); }

// A one-member archive whose directory states `statedSize` and `crc`.
QByteArray zipOf(const QString& name, const QByteArray& deflated, quint32 statedSize, quint32 crc)
{
    const QByteArray n = name.toUtf8();
    QByteArray out;
    le32(out, 0x04034b50); le16(out, 20); le16(out, 0); le16(out, 8); le32(out, 0); le32(out, crc);
    le32(out, quint32(deflated.size())); le32(out, statedSize); le16(out, n.size()); le16(out, 0);
    out += n + deflated;
    const int cd = out.size();
    le32(out, 0x02014b50); le16(out, 20); le16(out, 20); le16(out, 0); le16(out, 8); le32(out, 0); le32(out, crc);
    le32(out, quint32(deflated.size())); le32(out, statedSize); le16(out, n.size()); le16(out, 0); le16(out, 0);
    le16(out, 0); le16(out, 0); le32(out, 0); le32(out, 0);
    out += n;
    const int cdSize = out.size() - cd;
    le32(out, 0x06054b50); le16(out, 0); le16(out, 0); le16(out, 1); le16(out, 1); le32(out, quint32(cdSize));
    le32(out, quint32(cd)); le16(out, 0);
    return out;
}

// A PDF whose Info object (object 2) is `info`, with a correct xref table.
QByteArray pdfWithInfo(const QByteArray& info)
{
    QByteArray out = "%PDF-1.4\n";
    const int one = out.size();
    out += "1 0 obj\n<< /Type /Catalog >>\nendobj\n";
    const int two = out.size();
    out += "2 0 obj\n" + info + "\nendobj\n";
    const int xref = out.size();
    out += "xref\n0 3\n0000000000 65535 f \n" + QByteArray::number(one).rightJustified(10, '0') + " 00000 n \n"
        + QByteArray::number(two).rightJustified(10, '0') + " 00000 n \ntrailer\n<< /Size 3 /Root 1 0 R /Info 2 0 R >>\n"
        + "startxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}

} // namespace

class tst_details : public QObject
{
    Q_OBJECT
private slots:
    void knownDocuments_data();
    void knownDocuments();
    void pdfDocEncodingTitles();
    void everyTestDocumentIsWhole();
    void damagedCopies();
    void hostileInputsStayInBudget_data();
    void hostileInputsStayInBudget();
    void readsFollowExtentsAndHoles();
    void inPlaceAndStreamedChecksAgree();
    void streamsOnOneThreadKeepToTheirOwnInput();
};

void tst_details::knownDocuments_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("author");
    QTest::addColumn<QString>("modified");
    QTest::addColumn<int>("pages");
    QTest::newRow("pdf utf-16 title") << "pdf_utf16_title.pdf" << QStringLiteral("年度报告 2024")
                                      << "Zhang Wei (finance)" << "2024-04-01T04:05:00Z" << 2;
    QTest::newRow("pdf xref stream, xmp") << "pdf_xref_stream.pdf" << "Quarterly figures" << "Ana Souza"
                                          << "2023-11-03T16:45:30Z" << 2;
    QTest::newRow("docx cjk core.xml") << "docx_cjk_core.docx" << QStringLiteral("毕业论文终稿")
                                       << QStringLiteral("李华") << "2024-06-01T14:03:00Z" << 1;
    QTest::newRow("doc summary") << "doc_summary.doc" << QStringLiteral("Übersicht 2022") << "Jonas Weber"
                                 << "2022-03-01T16:05:00Z" << 7;
    QTest::newRow("pptx pptxgenjs") << "pptx_pptxgenjs.pptx" << "PptxGenJS Presentation" << "PptxGenJS"
                                    << "2026-12-07T07:15:12Z" << 4;
    QTest::newRow("pdf ghostscript") << "pdf_ghostscript.pdf" << "Untitled" << "" << "2026-12-07T07:15:12Z" << 3;
    QTest::newRow("pdf linearized") << "pdf_qpdf_linearized.pdf" << "" << "" << "" << 2;
    // No summary page count: the workbook's sheet list, the presentation's
    // slide list.
    QTest::newRow("xls sheets") << "xls_3sheets.xls" << "" << "" << "" << 3;
    QTest::newRow("xls one sheet") << "xls_small.xls" << "" << "" << "" << 1;
    QTest::newRow("ppt slides") << "ppt_2slides.ppt" << "" << "" << "" << 2;
}

void tst_details::knownDocuments()
{
    QFETCH(QString, file);
    const CDocumentDetails d = detailsOf(readData(file), file.section(QLatin1Char('.'), -1));
    QFETCH(QString, title);
    QFETCH(QString, author);
    QFETCH(QString, modified);
    QFETCH(int, pages);
    QVERIFY(d.found);
    QCOMPARE(d.title, title);
    QCOMPARE(d.author, author);
    QCOMPARE(d.modified.toUTC().toString(Qt::ISODate), modified);
    QCOMPARE(d.pages, pages);
    QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityWhole));
}

void tst_details::pdfDocEncodingTitles()
{
    // Without a byte order mark a text string is PDFDocEncoding, whose
    // 0x80-0xA0 are not Latin-1: 0x90 is a right quote, 0x84 an em dash,
    // 0xA0 the euro sign; 0x9F is undefined.
    const CDocumentDetails d = detailsOf(
        pdfWithInfo("<< /Title (Smith\\220s Report \\204 2024) /Author <A03130309F9395> >>"), QStringLiteral("PDF"));
    QVERIFY(d.found);
    QCOMPARE(d.title, QStringLiteral("Smith\u2019s Report \u2014 2024"));
    QCOMPARE(d.author, QStringLiteral("\u20AC100\uFFFD\uFB01\u0141"));
}

void tst_details::everyTestDocumentIsWhole()
{
    const QDir dir(QStringLiteral(TAMSEL_TEST_DATA));
    int checked = 0;
    for (const QString& name : dir.entryList(QDir::Files)) {
        if (name.endsWith(QLatin1String(".tsv")))
            continue;
        const CDocumentDetails d = detailsOf(readData(name), name.section(QLatin1Char('.'), -1));
        QVERIFY2(d.integrity == CDocumentDetails::IntegrityWhole, qPrintable(name + ": " + d.integrityReason));
        ++checked;
    }
    QVERIFY(checked >= 20);
}

void tst_details::damagedCopies()
{
    // A byte flipped inside the deflated word/document.xml.
    QByteArray docx = readData(QStringLiteral("docx_cjk_core.docx"));
    const int member = docx.indexOf("word/document.xml");
    QVERIFY(member > 0);
    docx[member + 17 + 200] = char(docx[member + 17 + 200] ^ 0x5A);
    CDocumentDetails d = detailsOf(docx, QStringLiteral("DOCX"));
    QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityDamaged));
    QVERIFY2(d.integrityReason.contains(QLatin1String("word/document.xml")), qPrintable(d.integrityReason));
    QCOMPARE(d.title, QStringLiteral("毕业论文终稿")); // the rest still reads

    // The last stream cut short.
    QByteArray doc = readData(QStringLiteral("doc_summary.doc"));
    d = detailsOf(doc.left(doc.size() - 600), QStringLiteral("DOC"));
    QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityDamaged));
    QCOMPARE(d.integrityReason, QStringLiteral("stream WordDocument runs past the end of the document"));
    QCOMPARE(d.title, QStringLiteral("Übersicht 2022"));

    // A cross-reference entry one byte off.
    QByteArray pdf = readData(QStringLiteral("pdf_utf16_title.pdf"));
    const int xref = pdf.lastIndexOf("xref\n0 7\n");
    QVERIFY(xref > 0);
    const int entry = xref + 9 + 3 * 20; // object 3
    const QByteArray moved = QByteArray::number(pdf.mid(entry, 10).toLongLong() + 1).rightJustified(10, '0');
    pdf.replace(entry, 10, moved);
    d = detailsOf(pdf, QStringLiteral("PDF"));
    QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityDamaged));
    QCOMPARE(d.integrityReason, QStringLiteral("object 3 is not at byte %1 where the cross-reference table puts it")
                                    .arg(moved.toLongLong()));

    // An archive cut before its directory.
    d = detailsOf(readData(QStringLiteral("zip_deflated.zip")).left(3000), QStringLiteral("ZIP"));
    QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityDamaged));
    QVERIFY(d.integrityReason.contains(QLatin1String("end of central directory")));
}

void tst_details::hostileInputsStayInBudget_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("integrity");

    // 64 MiB of core.xml from 64 KiB: past every metadata bound.
    const QByteArray huge = "<x>" + QByteArray(64 << 20, ' ') + "</x>";
    const QByteArray bomb = rawDeflate(huge);
    QTest::newRow("core.xml bomb") << zipOf(QStringLiteral("docProps/core.xml"), bomb, quint32(huge.size()),
                                            quint32(crc32(0, reinterpret_cast<const Bytef*>(huge.constData()),
                                                          uInt(huge.size()))))
                                   << "DOCX" << int(CDocumentDetails::IntegrityUnchecked);
    // The same stream claiming to be 100 bytes: damaged, after 101.
    QTest::newRow("member larger than stated") << zipOf(QStringLiteral("a.xml"), bomb, 100, 0) << "ZIP"
                                               << int(CDocumentDetails::IntegrityDamaged);

    QByteArray keys = "<<";
    for (int k = 0; k < 1000000; ++k)
        keys += " /K" + QByteArray::number(k) + " 1";
    QTest::newRow("info of a million keys") << pdfWithInfo(keys + " /Title (late) >>") << "PDF"
                                            << int(CDocumentDetails::IntegrityWhole);
    // No integer field holds it (converting it would be undefined).
    QTest::newRow("startxref past any integer") << QByteArray("%PDF-1.4\n1 0 obj\n<< >>\nendobj\nstartxref\n1e300\n%%EOF\n")
                                                << "PDF" << int(CDocumentDetails::IntegrityDamaged);
    QTest::newRow("string that never ends") << pdfWithInfo("<< /Title (" + QByteArray(8 << 20, 'a') + " >>")
                                            << "PDF" << int(CDocumentDetails::IntegrityWhole);

    // WordDocument's last sector leads back to its first.
    QByteArray doc = readData(QStringLiteral("doc_summary.doc"));
    const int fat = 512;
    int last = 0;
    for (int s = 0; s < 128; ++s) {
        const quint32 v = qFromLittleEndian<quint32>(doc.constData() + fat + 4 * s);
        if (v == 0xFFFFFFFE)
            last = s;
    }
    qToLittleEndian<quint32>(last - 9, doc.data() + fat + 4 * last);
    QTest::newRow("cyclic chain") << doc << "DOC" << int(CDocumentDetails::IntegrityDamaged);
}

void tst_details::hostileInputsStayInBudget()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, type);
    QFETCH(int, integrity);
    CDetailsBudget budget;
    int64_t fetched = 0;
    QElapsedTimer clock;
    clock.start();
    const CDocumentDetails d = detailsOf(bytes, type, &fetched, budget);
    QVERIFY(fetched <= budget.readBytes);
    if (type != QLatin1String("DOC")) // the loop is in another stream than the summary
        QVERIFY(!d.found);
    QCOMPARE(d.integrity, integrity);
    if (integrity == CDocumentDetails::IntegrityDamaged)
        QVERIFY(!d.integrityReason.isEmpty());
}

void tst_details::readsFollowExtentsAndHoles()
{
    // The PDF split in two runs in reverse order on the volume, with a hole
    // (zeros) between them that the runs skip.
    const QByteArray pdf = readData(QStringLiteral("pdf_utf16_title.pdf"));
    const int half = 300;
    QByteArray volume(8192, '\0');
    volume.replace(4096, pdf.size() - half, pdf.mid(half));
    volume.replace(1024, half, pdf.left(half));
    CFileNode node;
    node.typeName = QStringLiteral("PDF");
    node.size = pdf.size();
    node.extents = {{1024, half}, {4096, pdf.size() - half + 100}};
    CMemoryVolume disk(volume);
    CDocumentBytes bytes(&disk, node, 1 << 20);
    QCOMPARE(bytes.size(), int64_t(pdf.size()));
    QCOMPARE(bytes.bytes(0, bytes.size()), pdf);
    CDocumentBytes again(&disk, node, 1 << 20);
    const CDocumentDetails d = CDetailsReader::read(again, node.typeName, CDetailsBudget());
    QCOMPARE(d.title, QStringLiteral("年度报告 2024"));
    QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityWhole));

    // A sparse run reads as zeros; the budget stops reads past it.
    node.extents = {{CFileNode::Extent::kSparse, 4096}, {4096, 4096}};
    node.size = 8192;
    CDocumentBytes sparse(&disk, node, 4096 + 100);
    QCOMPARE(sparse.bytes(0, 4096), QByteArray(4096, '\0'));
    QVERIFY(sparse.bytes(4096, 200).isEmpty());
    QVERIFY(sparse.budgetSpent());
    node.size = pdf.size();

    node.hasResidentData = true;
    node.residentData = pdf + "slack";
    CDocumentBytes resident(nullptr, node, 1 << 20);
    QCOMPARE(resident.bytes(0, resident.size()), pdf);
    QCOMPARE(CDocumentBytes::runsOf(node).size(), 0);
}

// A small document is checked in memory (whole members inflated in place);
// one too large to preload is streamed through zlib from the volume. Both
// must judge alike, damaged or whole, stored or deflated members.
void tst_details::inPlaceAndStreamedChecksAgree()
{
    QByteArray deflatedDamaged = readData(QStringLiteral("docx_cjk_core.docx"));
    const int member = deflatedDamaged.indexOf("word/document.xml");
    deflatedDamaged[member + 17 + 200] = char(deflatedDamaged[member + 17 + 200] ^ 0x5A);
    // The first file of a package that stores its members: a byte of its
    // data flipped.
    QByteArray storedDamaged = readData(QStringLiteral("pptx_pptxgenjs.pptx"));
    QByteArray firstName;
    for (int at = 0; firstName.isEmpty() && at + 30 < storedDamaged.size();) {
        const char* h = storedDamaged.constData() + at;
        const int length = int(qFromLittleEndian<quint32>(h + 18));
        const int data = at + 30 + qFromLittleEndian<quint16>(h + 26) + qFromLittleEndian<quint16>(h + 28);
        if (length > 10) {
            firstName = storedDamaged.mid(at + 30, qFromLittleEndian<quint16>(h + 26));
            storedDamaged[data + 5] = char(storedDamaged[data + 5] ^ 0x5A);
        }
        at = data + length;
    }
    const QList<QByteArray> archives = {readData(QStringLiteral("docx_cjk_core.docx")), deflatedDamaged,
                                        readData(QStringLiteral("pptx_pptxgenjs.pptx")), storedDamaged};
    for (const QByteArray& archive : archives) {
        const CDocumentDetails inMemory = detailsOf(archive, QStringLiteral("ZIP"));
        // 1.5 MiB of something else before the archive (as before a
        // self-extractor's): its offsets still hold, and it is too large to
        // read whole.
        const QByteArray padded = QByteArray(3 << 19, '\x11') + archive;
        CMemoryVolume disk(QByteArray(4096, '\0') + padded);
        CFileNode node;
        node.typeName = QStringLiteral("ZIP");
        node.startSector = 8;
        node.size = padded.size();
        const CDetailsBudget budget;
        CDocumentBytes bytes(&disk, node, budget.readBytes);
        const CDocumentDetails streamed = CDetailsReader::read(bytes, node.typeName, budget);
        QVERIFY(!bytes.inMemory());
        QCOMPARE(streamed.integrity, inMemory.integrity);
        QCOMPARE(streamed.integrityReason, inMemory.integrityReason);
        QCOMPARE(streamed.title, inMemory.title);
    }
    QCOMPARE(detailsOf(storedDamaged, QStringLiteral("ZIP")).integrityReason,
             QStringLiteral("member %1 fails its CRC-32 check").arg(QString::fromUtf8(firstName)));
}

// zlib's state is kept per thread from one stream to the next: a stream that
// ends before its input does (a PDF's /Length past the data), or fails,
// must leave none of that input to the next one.
void tst_details::streamsOnOneThreadKeepToTheirOwnInput()
{
    const QByteArray text("the document's own words, the document's own words");
    const QByteArray packed = qCompress(text).mid(4); // zlib format, without Qt's length
    QByteArray out;
    QCOMPARE(CInflater::inflateArray(packed + "\nendstream", CInflater::Format::Zlib, 1 << 20, &out),
             CInflater::Result::Ok);
    QCOMPARE(out, text);
    QCOMPARE(CInflater::inflateArray(packed, CInflater::Format::Zlib, 1 << 20, &out), CInflater::Result::Ok);
    QCOMPARE(out, text);
    QVERIFY(CInflater::inflateArray(QByteArray("\x78\x9c\xff\xff\xff", 5), CInflater::Format::Zlib, 1 << 20, &out)
            != CInflater::Result::Ok);
    QCOMPARE(CInflater::inflateArray(packed, CInflater::Format::Zlib, 1 << 20, &out), CInflater::Result::Ok);
    QCOMPARE(out, text);
}

QTEST_GUILESS_MAIN(tst_details)
#include "tst_details.moc"
