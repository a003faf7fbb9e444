// Corner cases of each format that the conformance suite's real documents
// do not show, built with the writers of SyntheticDocuments.h.
#include "analysers/CFileOleAnalyser.h"
#include "analysers/CPdfAnalyser.h"
#include "analysers/CZipFileAnalyser.h"
#include "analysers/CarvingFixtures.h"
#include "analysers/SyntheticDocuments.h"

#include <QtTest>

using namespace fixtures;
using synthetic::Compound;
using synthetic::Zip;

namespace {

// A PDF of `blocks` blocks: "%PDF-1.4" then filler that never ends in
// zeros, with `tail` written so that it ends at byte `endAt` of the stream.
QByteArray pdfStream(int blocks, const QByteArray& tail, int endAt)
{
    QByteArray b(blocks * kBlock, 'x');
    std::memcpy(b.data(), "%PDF-1.4\n", 9);
    std::memcpy(b.data() + endAt - tail.size(), tail.constData(), static_cast<size_t>(tail.size()));
    for (int i = endAt; i < b.size(); ++i)
        b[i] = '\0';
    return b;
}

Fed feedPdf(const QByteArray& stream, int64_t start, int windowBlocks = 64, int phase = 0)
{
    CPdfAnalyser a;
    a.identify(reinterpret_cast<const uint8_t*>(stream.constData()));
    return feed(a, stream, start, windowBlocks, phase);
}

Fed feedOle(const QByteArray& stream, int64_t start = 5000, int windowBlocks = 64, int phase = 0)
{
    CFileOleAnalyser a;
    if (a.identify(reinterpret_cast<const uint8_t*>(stream.constData())) == 100)
        return Fed();
    return feed(a, stream, start, windowBlocks, phase);
}

Fed feedZip(const QByteArray& stream, int windowBlocks = 64, int phase = 0)
{
    CZipFileAnalyser a;
    if (a.identify(reinterpret_cast<const uint8_t*>(stream.constData())) == 100)
        return Fed();
    return feed(a, stream, 16, windowBlocks, phase);
}

QByteArray withZeros(const QByteArray& b, int extra = 64 * 1024)
{
    return b + QByteArray(extra, '\0');
}

} // namespace

class AnalyserEdgeCases : public QObject
{
    Q_OBJECT
private slots:
    // ---- PDF ----
    void pdfEndsAfterTheLastMarkerOfAZeroTailedBlock()
    {
        // Block 9 of a PDF at block 1000: "%%EOF" at bytes 100..104, a line
        // end (part of the document), zeros to the end of the block.
        const int endAt = 9 * kBlock + 106;
        QByteArray s = pdfStream(12, "%%EOF\n", endAt);
        Fed r = feedPdf(s, 1000);
        QVERIFY(r.finished);
        QCOMPARE(r.length, qint64(4714));
        QCOMPARE(r.finishedAtBlock, qint64(9));

        // Two markers in the finishing block: the later one.
        s = pdfStream(12, "%%EOF\n%%EOF\n", endAt);
        QCOMPARE(feedPdf(s, 1000).length, qint64(4714));
    }

    void pdfBlockWithoutZeroTailDoesNotEndIt()
    {
        QByteArray s = pdfStream(12, "%%EOF\n", 9 * kBlock + 106);
        s[10 * kBlock - 1] = 'z'; // block 9 no longer ends in zeros
        const Fed r = feedPdf(s, 1000);
        QVERIFY(!r.finished || r.finishedAtBlock > 9);
    }

    void pdfMarkerSplitAcrossBlocks()
    {
        // The marker's first byte is the last-but-one byte of block 8.
        const int endAt = 9 * kBlock + 3;
        const QByteArray s = pdfStream(12, "%%EOF", endAt);
        // In the middle of a window, and with block 9 the first of a window.
        for (int phase : {0, 64 - 9}) {
            const Fed r = feedPdf(s, 1000, 64, phase);
            QVERIFY2(r.finished, qPrintable(QStringLiteral("phase %1").arg(phase)));
            QCOMPARE(r.length, qint64(9 * kBlock + 3));
        }
    }

    void pdfTinyDocumentEndsInItsFirstBlock()
    {
        QByteArray s(kBlock, '\0');
        const QByteArray text = "%PDF-1.1\n1 0 obj<<>>endobj\ntrailer<<>>\n%%EOF\n";
        std::memcpy(s.data(), text.constData(), static_cast<size_t>(text.size()));
        const Fed r = feedPdf(s, 8);
        QVERIFY(r.finished);
        QCOMPARE(r.length, qint64(text.size()));
    }

    void pdfNeverEndsOnTheBytesBeforeItsStart()
    {
        // The previous document's "%%EOF" ends right before this PDF's first
        // block, which ends in zeros but holds no marker of its own.
        QByteArray window(2 * kBlock, '\0');
        std::memcpy(window.data() + kBlock - 6, "%%EOF\n", 6);
        std::memcpy(window.data() + kBlock, "%PDF-1.4\n", 9);
        CPdfAnalyser a;
        a.setStartBlock(1);
        const auto* block = reinterpret_cast<const uint8_t*>(window.constData()) + kBlock;
        QVERIFY(!a.consume(block, kBlock, 1, 4, 0, kBlock));
    }

    // ---- compound documents ----
    void oleLengthFromTheLastFatSector()
    {
        // 512-byte sectors, FAT in sector 3, directory in sector 4, 41
        // entries in use: (0 x 128 + 41 + 1) x 512.
        Compound c;
        c.fat = {3};
        c.directory = 4;
        c.usedInLastFat = 41;
        const Fed r = feedOle(withZeros(c.bytes()), 5000);
        QVERIFY(r.finished);
        QCOMPARE(r.length, qint64(21504));
        QCOMPARE(r.typeCode, 2);
        QCOMPARE(r.finishedAtBlock, qint64(5)); // the directory block
    }

    void oleTypeFromTheDirectory_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("typeCode");
        const QString root = QStringLiteral("Root Entry");
        QTest::newRow("Workbook first") << QStringList{root, "Workbook", "CompObj", "Ole"} << 3;
        QTest::newRow("Book second") << QStringList{root, "CompObj", "Book", "Ole"} << 3;
        QTest::newRow("PowerPoint wins over Workbook")
            << QStringList{root, "Workbook", "Ole", "PowerPoint Document"} << 4;
        QTest::newRow("Pictures prefix") << QStringList{root, "Pictures and more", "Ole", "x"} << 4;
        QTest::newRow("Book is not a prefix") << QStringList{root, "Bookkeeping", "Ole", "x"} << 2;
        QTest::newRow("no known name") << QStringList{root, "CompObj", "Ole", "Data"} << 2;
        // LibreOffice: the main stream after the first four entries.
        QTest::newRow("PowerPoint further on")
            << QStringList{root, "CompObj", "Ole", "Current User", "Pictures", "PowerPoint Document"} << 4;
        QTest::newRow("WordDocument further on")
            << QStringList{root, "CompObj", "Ole", "1Table", "Data", "WordDocument"} << 2;
        QTest::newRow("Workbook further on")
            << QStringList{root, "CompObj", "Ole", "Data", "x", "y", "z", "Workbook"} << 3;
    }
    void oleTypeFromTheDirectory()
    {
        QFETCH(QStringList, names);
        QFETCH(int, typeCode);
        Compound c;
        c.fat = {3};
        c.directory = 4;
        c.names = names;
        const Fed r = feedOle(withZeros(c.bytes()));
        QVERIFY(r.finished);
        QCOMPARE(r.typeCode, typeCode);
        QCOMPARE(r.length, c.expectedLength());
    }

    void oleDirectoryBeforeTheFat()
    {
        Compound c;
        c.fat = {40};
        c.directory = 2;
        c.sectors = 64;
        c.names = QStringList{QStringLiteral("Root Entry"), QStringLiteral("Workbook")};
        const Fed r = feedOle(withZeros(c.bytes()));
        QVERIFY(r.finished);
        QCOMPARE(r.finishedAtBlock, qint64(41));
        QCOMPARE(r.typeCode, 3);
    }

    void oleVersion4()
    {
        // 4096-byte sectors: sector s at block (s + 1) x 8, 1024 entries
        // per FAT sector. Fed at every phase of a 24-block window, so that
        // the FAT sector (8 blocks) is cut by a window edge in every way.
        Compound c;
        c.sectorSize = 4096;
        c.sectors = 12;
        c.fat = {9};
        c.directory = 1;
        c.usedInLastFat = 600;
        c.names = QStringList{QStringLiteral("Root Entry"), QStringLiteral("WordDocument")};
        QCOMPARE(c.expectedLength() % 4096, qint64(0));
        for (int phase = 0; phase < 24; ++phase) {
            const Fed r = feedOle(withZeros(c.bytes()), 800, 24, phase);
            QVERIFY2(r.finished, qPrintable(QStringLiteral("phase %1").arg(phase)));
            QCOMPARE(r.length, qint64(601 * 4096));
            QCOMPARE(r.typeCode, 2);
        }
    }

    void oleWithDifat()
    {
        // 120 FAT sectors: 109 in the header, 11 in one DIFAT sector that
        // comes before the last of them.
        Compound c;
        c.sectors = 16000;
        for (uint32_t i = 0; i < 120; ++i)
            c.fat.push_back(i < 110 ? i : 15000 + i);
        c.difat = {200};
        c.directory = 300;
        c.usedInLastFat = 7;
        const Fed r = feedOle(withZeros(c.bytes()));
        QVERIFY(r.finished);
        QCOMPARE(r.length, c.expectedLength());
        QCOMPARE(r.finishedAtBlock, qint64(15000 + 119 + 1));

        // Version 4: DIFAT sectors of 1023 numbers and a next pointer.
        Compound v4;
        v4.sectorSize = 4096;
        v4.sectors = 260;
        for (uint32_t i = 0; i < 112; ++i)
            v4.fat.push_back(i < 109 ? 2 + i : 240 + (i - 109));
        v4.difat = {150};
        v4.directory = 1;
        v4.usedInLastFat = 3;
        const Fed r4 = feedOle(withZeros(v4.bytes()), 64, 48, 5);
        QVERIFY(r4.finished);
        QCOMPARE(r4.length, v4.expectedLength());
    }

    void oleHostileHeaderReadsNothingOutside()
    {
        Compound c;
        c.fat = {3};
        QByteArray b = c.bytes();
        // Sector numbers far beyond anything: never finishes, never reads.
        synthetic::put32(b, 0x4C, 0xFFFFFFF0);
        synthetic::put32(b, 0x30, 0xFFFFFFFA);
        synthetic::put32(b, 0x44, 0x7FFFFFFF);
        const Fed r = feedOle(withZeros(b), 5000, 3, 1);
        QVERIFY(!r.finished || r.length == 0);

        // Bytes 4 to 7 not the rest of the signature.
        QByteArray wrong = c.bytes();
        wrong[5] = 0;
        CFileOleAnalyser a;
        QCOMPARE(a.identify(reinterpret_cast<const uint8_t*>(wrong.constData())), 100);
    }

    // ---- ZIP ----
    void zipTypeFromMemberNames_data()
    {
        QTest::addColumn<QByteArrayList>("names");
        QTest::addColumn<int>("typeCode");
        QTest::newRow("docx, not first")
            << QByteArrayList{"[Content_Types].xml", "word/document.xml", "word/_rels/document.xml.rels"} << 6;
        QTest::newRow("xlsx") << QByteArrayList{"[Content_Types].xml", "xl/_rels/workbook.xml.rels"} << 8;
        QTest::newRow("sheet1 is not the listed name")
            << QByteArrayList{"[Content_Types].xml", "xl/worksheets/sheet1.xml"} << 1;
        QTest::newRow("pptx theme") << QByteArrayList{"a.txt", "ppt/theme/theme1.xml"} << 7;
        QTest::newRow("plain") << QByteArrayList{"notes/a.txt", "notes/b.txt"} << 1;
        QTest::newRow("a prefix of a listed name") << QByteArrayList{"word/theme/theme1.xm"} << 1;
    }
    void zipTypeFromMemberNames()
    {
        QFETCH(QByteArrayList, names);
        QFETCH(int, typeCode);
        Zip z;
        for (const QByteArray& n : names)
            z.add(n, randomBytes(700, static_cast<quint32>(n.size())));
        const QByteArray bytes = z.bytes();
        const Fed r = feedZip(withZeros(bytes));
        QVERIFY(r.finished);
        QCOMPARE(r.typeCode, typeCode);
        QCOMPARE(r.length, qint64(bytes.size()));
    }

    void zipCompressionMethodDecidesIdentify()
    {
        Zip z;
        Zip::Member m = Zip::member("a.bin", randomBytes(2000, 3));
        m.method = 12;
        z.add(m);
        QByteArray b = z.bytes();
        CZipFileAnalyser a;
        QCOMPARE(a.identify(reinterpret_cast<const uint8_t*>(b.constData())), 1);
        synthetic::put16(b, 8, 50);
        CZipFileAnalyser refused;
        QCOMPARE(refused.identify(reinterpret_cast<const uint8_t*>(b.constData())), 100);
        synthetic::put16(b, 8, 98);
        CZipFileAnalyser ppmd;
        QCOMPARE(ppmd.identify(reinterpret_cast<const uint8_t*>(b.constData())), 1);
    }

    void zipCommentsAreSteppedOver()
    {
        Zip z;
        Zip::Member m = Zip::member("notes/a.txt", randomBytes(3000, 4));
        m.fileComment = "a comment on this member";
        z.add(m);
        z.add("notes/b.txt", randomBytes(900, 5));
        const QByteArray comment = "the archive's own comment";
        const QByteArray bytes = z.bytes(comment);
        // The archive comment is part of the archive.
        for (int phase = 0; phase < 8; ++phase) {
            const Fed r = feedZip(withZeros(bytes), 8, phase);
            QVERIFY(r.finished);
            QCOMPARE(r.length, qint64(bytes.size()));
        }
    }

    void zipDataDescriptors()
    {
        // Streamed members: sizes only in the descriptor after the data,
        // with and without its optional signature; a member stepped over by
        // its header sizes whose descriptor follows; empty members; and
        // data holding a descriptor signature whose size is not the
        // distance walked, and header signatures with impossible fields.
        QByteArray tricky = randomBytes(3000, 6);
        std::memcpy(tricky.data() + 1000, "PK\x07\x08\x00\x00\x00\x00\x10\x00\x00\x00", 12);
        // Header signatures whose fields no writer would put there.
        std::memcpy(tricky.data() + 1500, "PK\x03\x04\xC8\x00\x00\x00\x08\x00", 10);
        std::memcpy(tricky.data() + 2100, "PK\x01\x02\x14\x00\x14\x00\x00\x00\x77\x00", 12);
        Zip z;
        Zip::Member a = Zip::member("_rels/.rels", randomBytes(1500, 7));
        a.descriptor = true;
        Zip::Member b = Zip::member("word/_rels/document.xml.rels", tricky);
        b.descriptor = true;
        Zip::Member c = Zip::member("empty/", QByteArray());
        c.descriptor = true;
        Zip::Member d = Zip::member("unsigned.bin", randomBytes(800, 8));
        d.descriptor = true;
        d.descriptorSignature = false;
        Zip::Member e = Zip::member("sized.bin", randomBytes(600, 9));
        e.descriptor = true;
        e.sizesInHeader = true;
        for (const Zip::Member& m : {a, b, c, d, e})
            z.add(m);
        const QByteArray bytes = z.bytes();
        // Every cut of the records by block and window edges.
        for (int window : {3, 5, 64}) {
            for (int phase = 0; phase < window; ++phase) {
                const Fed r = feedZip(withZeros(bytes), window, phase);
                QVERIFY2(r.finished, qPrintable(QStringLiteral("window %1 phase %2").arg(window).arg(phase)));
                QCOMPARE(r.length, qint64(bytes.size()));
                QCOMPARE(r.typeCode, 6);
            }
        }
    }

    void zipHeaderFieldsPointingFarAway()
    {
        // Name and extra lengths of 65535 and a compressed size near 4 GiB:
        // the walk waits for bytes that never come, and reads nothing
        // outside the blocks it is handed.
        Zip z;
        z.add("a.txt", randomBytes(2000, 10));
        QByteArray b = z.bytes();
        synthetic::put16(b, 26, 0xFFFF);
        synthetic::put16(b, 28, 0xFFFF);
        const Fed r1 = feedZip(withZeros(b, 4096), 2, 1);
        QVERIFY(!r1.finished || r1.length == 0 || r1.length > b.size());
        QByteArray c = z.bytes();
        synthetic::put32(c, 18, 0xFFFFFFF0);
        const Fed r2 = feedZip(withZeros(c, 4096), 2, 1);
        QVERIFY(!r2.finished);
    }

    void zipDamagedWalkEndsAtTheUnknownRecord()
    {
        Zip z;
        z.add("a.txt", randomBytes(1500, 11));
        z.add("b.txt", randomBytes(1500, 12));
        QByteArray b = z.bytes();
        const int second = 30 + 5 + 1500;
        b[second] = 'X'; // the second local header's signature is gone
        const Fed r = feedZip(withZeros(b));
        QVERIFY(r.finished);
        QCOMPARE(r.length, qint64(second));
    }
};

QTEST_GUILESS_MAIN(AnalyserEdgeCases)
#include "tst_AnalyserEdgeCases.moc"
