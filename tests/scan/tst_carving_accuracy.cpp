// What real disks hold rather than the freshly formatted layout: older bytes
// after a document's end, archives cut by window edges at every kind of
// record, streamed archives, ZIP64, compound files whose FAT sector passes
// before the DIFAT sector that names it. Every document must come back
// byte-identical (a PDF up to and including its last "%%EOF").
#include "analysers/CFileOleAnalyser.h"
#include "analysers/CarvingFixtures.h"
#include "analysers/SyntheticDocuments.h"
#include "disk/CMemoryVolume.h"
#include "scan/CRecoveryControl.h"

#include <QtTest>

using namespace fixtures;
using synthetic::Compound;
using synthetic::Zip;

namespace {

constexpr int64_t kWindow = 64 * 1024;

struct Placed
{
    int64_t offset;
    QByteArray expected; // the bytes that must come back
    int typeCode;
};

QByteArray goldenBytes(const Golden& g)
{
    return readData(QString::fromLatin1(g.file)).left(static_cast<int>(g.length));
}

// Checks that every placed document was found at its sector with exactly
// its bytes, and that nothing else was reported.
void verifyRecovered(const QByteArray& image, const QList<CFileNode>& found, const QList<Placed>& placed)
{
    for (const Placed& p : placed) {
        const CFileNode* n = findAt(found, static_cast<quint64>(p.offset / kBlock));
        QVERIFY2(n, qPrintable(QStringLiteral("nothing at offset %1").arg(p.offset)));
        QCOMPARE(n->typeCode, p.typeCode);
        QCOMPARE(n->size, qint64(p.expected.size()));
        QVERIFY(image.mid(static_cast<int>(p.offset), static_cast<int>(n->size)) == p.expected);
    }
    QCOMPARE(found.size(), placed.size());
}

// A stored archive with every kind of record: sized members, streamed ones
// with and without a descriptor signature, a ZIP64 member, member and
// archive comments, the ZIP64 end records. `shift` lengthens the first
// member, moving every later record along the block edges.
QByteArray everyRecordKind(int shift)
{
    Zip z;
    z.add("[Content_Types].xml", randomBytes(700 + shift, 21));
    Zip::Member streamed = Zip::member("word/document.xml", randomBytes(900, 22));
    streamed.descriptor = true;
    z.add(streamed);
    Zip::Member unsigned_ = Zip::member("word/styles.xml", randomBytes(650, 23));
    unsigned_.descriptor = true;
    unsigned_.descriptorSignature = false;
    z.add(unsigned_);
    Zip::Member big = Zip::member("media/image1.bin", randomBytes(1200, 24));
    big.zip64 = true;
    big.fileComment = "member comment";
    z.add(big);
    Zip::Member z64stream = Zip::member("word/_rels/document.xml.rels", randomBytes(300, 25));
    z64stream.descriptor = true;
    z64stream.zip64 = true;
    z.add(z64stream);
    return z.bytes("archive comment", true);
}

// A whole scan through the scan worker, with small reader windows.
QList<CFileNode> scanThroughWorker(const QByteArray& image, uint32_t window)
{
    registerFileNodeMetaType();
    CRecoveryControl control;
    control.setWindowSize(window);
    QList<CFileNode> found;
    QObject::connect(control.relay(), qOverload<CFileNode>(&CNotifyFileNode::notifyItem),
                     [&found](const CFileNode& n) { found << n; });
    if (!control.beginScan(std::make_shared<CMemoryVolume>(image), QStringLiteral("none")))
        return found;
    QElapsedTimer timer;
    timer.start();
    while (!control.isFinished() && timer.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    control.wait(1000);
    QCoreApplication::processEvents();
    return found;
}

QByteArray pdfWithoutTail()
{
    // The first half of a PDF whose second half was overwritten.
    const QByteArray pdf = readData("pdf_lo_writer_text.pdf");
    return pdf.left(pdf.size() / 2);
}

} // namespace

class CarvingAccuracyTest : public QObject
{
    Q_OBJECT
private slots:
    void everyDocumentWithOlderBytesAfterIt_data()
    {
        QTest::addColumn<qint64>("window");
        QTest::newRow("64 KiB windows") << qint64(kWindow);
        QTest::newRow("windows of 3 blocks") << qint64(3 * kBlock);
    }
    void everyDocumentWithOlderBytesAfterIt()
    {
        // Random bytes from each file's last byte to the next document,
        // sometimes several blocks of them.
        QFETCH(qint64, window);
        Image img;
        QList<Placed> placed;
        quint32 seed = 1;
        for (const Golden& g : goldenDocuments()) {
            const QByteArray file = readData(QString::fromLatin1(g.file));
            const int64_t at = img.place(file);
            placed.append({at, goldenBytes(g), g.typeCode});
            const int64_t end = roundUp(at + file.size(), kBoundary) + (seed % 3) * kBoundary;
            img.putAt(randomBytes(static_cast<int>(end - at - file.size()), seed++), at + file.size());
        }
        verifyRecovered(img.bytes(), carve(img.bytes(), window), placed);
    }

    void pdfAtTheVolumeEndWithOlderBytes()
    {
        // The volume ends before any further document: the PDF ends at its
        // last marker when the pass is complete, and is not reported after
        // a stop.
        Image img;
        const QByteArray pdf = readData("pdf_pdfunite.pdf");
        const int64_t at = img.place(pdf, kBoundary);
        img.putAt(randomBytes(3 * kBoundary, 7), at + pdf.size());
        const QList<CFileNode> found = carve(img.bytes(), kWindow);
        verifyRecovered(img.bytes(), found, {{at, pdf, 5}});
        QCOMPARE(carve(img.bytes(), kWindow, false).size(), 0);
    }

    void pdfEndMarkerAtEveryPlaceOfTheSector()
    {
        // A PDF of every length modulo 512, its "%%EOF" with each kind of
        // line end or none, in windows of one block (every block edge a
        // window edge). Zeros after it, or older bytes after a line end:
        // found exactly, the line end included.
        for (int r = 0; r < kBlock; ++r) {
            for (const QByteArray& eol : {QByteArray(), QByteArray("\n"), QByteArray("\r\n"), QByteArray("\r")}) {
                const int length = 2 * kBlock + r;
                QByteArray pdf(length - eol.size(), 'p');
                std::memcpy(pdf.data(), "%PDF-1.4\n", 9);
                std::memcpy(pdf.data() + pdf.size() - 5, "%%EOF", 5);
                pdf += eol;
                for (bool zeros : {true, false}) {
                    if (!zeros && eol.isEmpty())
                        continue; // no line end, older bytes: nothing tells the end
                    Image img;
                    img.place(pdf);
                    if (!zeros) {
                        QByteArray older = randomBytes(kBoundary, static_cast<quint32>(r));
                        older[0] = 'o'; // not a "\n" after a "\r"
                        img.putAt(older, pdf.size());
                    }
                    img.padTo(kBoundary);
                    const QList<CFileNode> found = carve(img.bytes(), kBlock);
                    const QString where = QStringLiteral("length %1, line end %2, %3")
                                              .arg(length).arg(eol.size()).arg(zeros ? "zeros" : "older bytes");
                    QVERIFY2(found.size() == 1, qPrintable(where));
                    QVERIFY2(found.first().size == length, qPrintable(where));
                }
            }
        }
    }

    void scanWorkerEndsThePassForTheCarving()
    {
        // Through the scan worker: documents across its window edges, and a
        // PDF with older bytes after it that only the end of the volume
        // finishes; cut by the end of the image, a document is not listed.
        Image img;
        QList<Placed> placed;
        for (const char* file : {"xls_3sheets.xls", "pptx_lo_3slides.pptx", "pdf_pdfunite.pdf"}) {
            for (const Golden& g : goldenDocuments()) {
                if (QByteArray(g.file) == file)
                    placed.append({img.place(readData(file)), goldenBytes(g), g.typeCode});
            }
        }
        const int64_t end = img.bytes().size();
        img.putAt(randomBytes(5000, 40), end);
        const QByteArray image = img.bytes();
        verifyRecovered(image, scanThroughWorker(image, 16 * 1024), placed);
        const QList<CFileNode> cut = scanThroughWorker(image.left(static_cast<int>(placed[1].offset + 4096)), 16 * 1024);
        QCOMPARE(cut.size(), 1);
        QCOMPARE(cut.first().startSector, quint64(0));
    }

    void pdfWhoseTailWasOverwrittenSwallowsNothing()
    {
        // A PDF without its end, then a whole one: the first never ends on
        // the second's marker; the second is found exactly.
        for (bool zeroSlack : {true, false}) {
            Image img;
            const QByteArray cut = pdfWithoutTail();
            img.place(cut);
            img.putAt(randomBytes(kBoundary, 8), cut.size());
            const QByteArray whole = readData("pdf_ghostscript.pdf");
            const int64_t at = img.place(whole);
            if (!zeroSlack)
                img.putAt(randomBytes(2 * kBoundary, 9), at + whole.size());
            img.padTo(kBoundary);
            verifyRecovered(img.bytes(), carve(img.bytes(), kWindow), {{at, whole, 5}});
        }
    }

    void embeddedDocumentBeforeTheMarkerEndsNothing()
    {
        // A DOCX carried inside a PDF, older bytes after the PDF: the DOCX
        // opens before the PDF has seen any marker, so the PDF goes on to
        // its own end.
        const QByteArray pdf = readData("pdf_lo_writer_text.pdf");
        const QByteArray docx = readData("docx_lo_short.docx");
        const QByteArray outer = pdf.left(8192) + docx
            + QByteArray(static_cast<int>(roundUp(docx.size(), kBoundary) - docx.size()), 'x') + pdf.mid(8192);
        Image img;
        img.place(outer);
        img.putAt(randomBytes(kBoundary, 10), outer.size());
        img.padTo(kBoundary);
        verifyRecovered(img.bytes(), carve(img.bytes(), kWindow),
                        {{0, outer, 5}, {8192, docx, 6}});
    }

    void pdfThenSlackThenAnUnalignedPdf()
    {
        // A PDF, a few hundred KB of older bytes, then another PDF at a
        // sector off the 4 KiB grid with older bytes after it: neither runs
        // to the other's "%%EOF".
        const QByteArray first = readData("pdf_lo_writer_text.pdf");
        const QByteArray second = readData("pdf_pdfunite.pdf");
        Image img;
        img.place(first);
        const int64_t secondAt = roundUp(first.size() + 300 * 1024, kBoundary) + 5 * kBlock;
        img.putAt(randomBytes(static_cast<int>(secondAt - first.size()), 41), first.size());
        img.putAt(second, secondAt);
        img.putAt(randomBytes(3 * kBoundary, 42), secondAt + second.size());
        verifyRecovered(img.bytes(), carve(img.bytes(), kWindow), {{0, first, 5}, {secondAt, second, 5}});
    }

    void pdfEndsAtItsLastConfirmedMarker()
    {
        // Incremental updates (a table, then a cross-reference stream, then
        // a table again: three confirmed markers, the last one wins), the
        // linearized file (its last startxref points back at the first-page
        // table), each followed by older bytes holding a stray "%%EOF" that
        // no startxref confirms.
        synthetic::Pdf updated("\r\n");
        updated.addObject("<< /Type /Catalog /Pages 2 0 R >>");
        updated.addObject(randomBytes(3000, 43).toHex());
        updated.endSection();
        updated.addObject(randomBytes(1500, 44).toHex());
        updated.endSection(true);
        updated.addObject("<< /Producer (update) >>");
        updated.endSection();
        const QByteArray stray = "\nstartxref\n120\n%%EOF\n";
        for (const QByteArray& pdf : {updated.bytes(), readData("pdf_qpdf_linearized.pdf")}) {
            Image img;
            const int64_t at = img.place(pdf, kBoundary);
            QByteArray older = randomBytes(3 * kBoundary, 45);
            older.replace(700, stray.size(), stray);
            img.putAt(older, at + pdf.size());
            const QList<CFileNode> found = carve(img.bytes(), 3 * kBlock);
            verifyRecovered(img.bytes(), found, {{at, pdf, 5}});
        }
    }

    void documentEmbeddedInAnUpdateEndsNothing()
    {
        // An update that carries a DOCX at a sector boundary, after the
        // first section's marker: the DOCX is listed, and the PDF still
        // ends at the update's marker, older bytes after it. A second PDF
        // after slack is not taken for a later update of the first.
        synthetic::Pdf pdf;
        pdf.addObject("<< /Type /Catalog >>");
        pdf.addObject(randomBytes(2000, 46).toHex());
        pdf.endSection();
        const QByteArray docx = readData("docx_lo_short.docx");
        const QByteArray head = "99 0 obj\n<< /Type /EmbeddedFile /Length " + QByteArray::number(docx.size()) + " >>\nstream\n";
        pdf.addRaw(QByteArray(static_cast<int>(roundUp(pdf.bytes().size() + head.size(), kBlock) - pdf.bytes().size() - head.size()), ' '));
        pdf.addRaw(head);
        const int docxAt = pdf.bytes().size();
        pdf.addRaw(docx + "\nendstream\nendobj\n");
        pdf.addObject("<< /Type /Filespec >>");
        pdf.endSection();
        QCOMPARE(docxAt % kBlock, 0);
        const QByteArray next = readData("pdf_ghostscript.pdf");
        Image img;
        img.place(pdf.bytes());
        img.putAt(randomBytes(2 * kBoundary, 47), pdf.bytes().size());
        const int64_t nextAt = roundUp(pdf.bytes().size() + 2 * kBoundary, kBlock) + kBlock;
        img.putAt(next, nextAt);
        img.putAt(randomBytes(kBoundary, 48), nextAt + next.size());
        verifyRecovered(img.bytes(), carve(img.bytes(), kWindow),
                        {{0, pdf.bytes(), 5}, {docxAt, docx, 6}, {nextAt, next, 5}});
    }

    void signedArchivesAreWalkedToTheirEnd()
    {
        // Records a signer puts between the members and the central
        // directory: an APK Signing Block, a digital signature record, an
        // archive extra data record.
        Zip z;
        z.add("AndroidManifest.xml", randomBytes(3000, 49));
        z.add("classes.dex", randomBytes(5000, 50));
        const QByteArray records[] = {
            Zip::apkSigningBlock(1200),
            synthetic::le32(0x05054B50) + synthetic::le16(300) + randomBytes(300, 51),
            synthetic::le32(0x08064B50) + synthetic::le32(200) + randomBytes(200, 52),
        };
        for (const QByteArray& record : records) {
            const QByteArray zip = z.bytes(QByteArray(), false, record);
            Image img;
            const int64_t at = img.place(zip, kBoundary);
            img.putAt(randomBytes(kBoundary, 53), at + zip.size());
            verifyRecovered(img.bytes(), carve(img.bytes(), kBlock), {{at, zip, 1}});
        }
    }

    void archiveCutByWindowEdgesAtEveryRecord()
    {
        // Windows of one block: every block edge is a window edge, and each
        // shift moves every record's header across them differently.
        for (int shift = 0; shift < 64; ++shift) {
            const QByteArray zip = everyRecordKind(shift);
            Image img;
            const int64_t at = img.place(zip, kBoundary);
            img.putAt(randomBytes(kBoundary, static_cast<quint32>(shift)), at + zip.size());
            img.padTo(kBoundary);
            const QList<CFileNode> found = carve(img.bytes(), kBlock);
            QCOMPARE(found.size(), 1);
            QCOMPARE(found.first().startSector, quint64(at / kBlock));
            QCOMPARE(found.first().size, qint64(zip.size()));
            QCOMPARE(found.first().typeCode, 6);
        }
    }

    void zip64SizeThatCannotBeReadIsNeverShort()
    {
        // 0xFFFFFFFF sizes and no ZIP64 field to read them from: the archive
        // is not reported with whatever length a guess would give.
        Zip z;
        z.add("a.bin", randomBytes(3000, 26));
        z.add("b.bin", randomBytes(3000, 27));
        QByteArray zip = z.bytes();
        synthetic::put32(zip, 18, 0xFFFFFFFF);
        Image img;
        img.place(zip);
        img.padTo(kBoundary);
        QCOMPARE(carve(img.bytes(), kWindow).size(), 0);
    }

    void lastFatSectorBeforeTheDifat()
    {
        // As LibreOffice writes files above about 7 MB: the DIFAT sector
        // comes after every FAT sector it lists. 14,100 sectors need 111 FAT
        // sectors, 109 in the header and 2 in the DIFAT.
        Compound c;
        c.sectors = 14100;
        for (uint32_t i = 0; i < 111; ++i)
            c.fat.push_back(10 + i);
        c.difat = {14000};
        c.directory = 5;
        c.usedInLastFat = 14100 - 110 * 128;
        const QByteArray doc = c.bytes();
        QCOMPARE(c.expectedLength(), qint64(doc.size()));
        Image img;
        const int64_t at = img.place(doc, kBoundary);
        img.putAt(randomBytes(kBoundary, 30), at + doc.size());
        img.padTo(kBoundary);
        verifyRecovered(img.bytes(), carve(img.bytes(), kWindow), {{at, doc, 2}});
    }

    void lastFatSectorBeforeTheDifatWith4096ByteSectors()
    {
        // The same with 4096-byte sectors, whose DIFAT sectors hold 1023
        // FAT sector numbers and the next pointer. (Such a file is 450 MB;
        // only the sectors the analyser reads are written.)
        Compound c;
        c.sectorSize = 4096;
        c.sectors = 200;
        for (uint32_t i = 0; i < 112; ++i)
            c.fat.push_back(1 + i);
        c.difat = {150};
        c.directory = 120;
        c.usedInLastFat = 3;
        CFileOleAnalyser a;
        const QByteArray doc = c.bytes();
        QVERIFY(a.identify(reinterpret_cast<const uint8_t*>(doc.constData())) != 100);
        const Fed r = feed(a, doc, 64, 5, 2);
        QVERIFY(r.finished);
        QCOMPARE(r.length, (qint64(111) * 1024 + 3 + 1) * 4096);
        QCOMPARE(r.finishedAtBlock, qint64(151 * 8 + 7)); // the DIFAT sector's last block
    }

    void difatMemoryIsBoundedByTheHeader()
    {
        // A header claiming one FAT sector but naming a DIFAT sector far
        // away: past the largest extent one FAT sector allows, the analyser
        // gives up instead of remembering blocks without end.
        Compound c;
        c.fat = {1};
        c.difat = {3000};
        c.sectors = 3100;
        QByteArray b = c.bytes();
        synthetic::put32(b, 0x2C, 1);
        CFileOleAnalyser a;
        QVERIFY(a.identify(reinterpret_cast<const uint8_t*>(b.constData())) != 100);
        const Fed r = feed(a, b, 0, 64, 0);
        QVERIFY(r.finished);
        QCOMPARE(r.length, qint64(0));
        QCOMPARE(r.finishedAtBlock, qint64(129)); // (128 + 1) sectors at most
    }
};

QTEST_GUILESS_MAIN(CarvingAccuracyTest)
#include "tst_carving_accuracy.moc"
