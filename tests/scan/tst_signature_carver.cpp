// The carving pass over images built in memory: real documents at sector
// and 4096-byte boundaries, windows of several sizes (each its own allocation, so that a
// read past a window is caught under AddressSanitizer).
#include "analysers/CarvingFixtures.h"
#include "analysers/SyntheticDocuments.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CWindowCarver.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace fixtures;

namespace {

constexpr int64_t kSmallWindow = 64 * 1024;

struct Placed
{
    int64_t offset;
    Golden golden;
};

// Every document of tests/data, in order, at 4096-byte boundaries with zero
// slack.
Image corpusImage(QList<Placed>* placed)
{
    Image img;
    for (const Golden& g : goldenDocuments()) {
        const int64_t at = img.place(readData(QString::fromLatin1(g.file)));
        placed->append({at, g});
    }
    img.padTo(kBoundary);
    return img;
}

QByteArray smallPdf(int length)
{
    // "%PDF" ... "%%EOF" and a line end, `length` bytes in all; no
    // startxref, so its end is not confirmed.
    QByteArray b(length - 1, ' ');
    std::memcpy(b.data(), "%PDF-1.4\n", 9);
    std::memcpy(b.data() + length - 6, "%%EOF", 5);
    return b + "\n";
}

// The carving pass of carve(), with each window carved by a CWindowCarver
// that splits every window of two blocks or more.
QList<CFileNode> carveInHalves(const QByteArray& image, int64_t windowLength, CWindowCarver& halves)
{
    CNotifyFileNode relay;
    QList<CFileNode> found;
    QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem),
                     [&found](const CFileNode& n) { found.append(n); });
    halves.setMinimumSplit(2 * kBlock);
    halves.carver().setVolumeLength(image.size());
    for (int64_t at = 0; at <= image.size(); at += windowLength) {
        std::unique_ptr<uint8_t[]> window(new uint8_t[static_cast<size_t>(windowLength)]());
        const int64_t n = std::min<int64_t>(windowLength, image.size() - at);
        if (n > 0)
            std::memcpy(window.get(), image.constData() + at, static_cast<size_t>(n));
        halves.carve(&relay, at, at + windowLength,
                     [&](CSignatureCarver& c, CNotifyFileNode* r, int64_t from, int64_t to) {
                         c.carveWindow(r, window.get() + (from - at), to - from, kBlock);
                     });
    }
    halves.carver().finishPass(&relay);
    return found;
}

QStringList listed(const QList<CFileNode>& found)
{
    QStringList rows;
    for (const CFileNode& n : found)
        rows << QStringLiteral("%1 %2 %3").arg(n.startSector).arg(n.typeCode).arg(n.size);
    return rows;
}

} // namespace

class SignatureCarverTest : public QObject
{
    Q_OBJECT
private slots:
    void corpusImageEveryDocumentWhereItIs_data()
    {
        QTest::addColumn<qint64>("window");
        QTest::newRow("64 KiB windows") << qint64(kSmallWindow);
        QTest::newRow("odd windows of 7 blocks") << qint64(7 * kBlock);
        QTest::newRow("32 MiB window") << qint64(32 * 1024 * 1024);
    }
    void corpusImageEveryDocumentWhereItIs()
    {
        QFETCH(qint64, window);
        QList<Placed> placed;
        Image img = corpusImage(&placed);
        const QList<CFileNode> found = carve(img.bytes(), window);
        for (const Placed& p : placed) {
            const CFileNode* n = findAt(found, static_cast<quint64>(p.offset / kBlock));
            QVERIFY2(n, p.golden.file);
            QCOMPARE(n->typeCode, p.golden.typeCode);
            QCOMPARE(n->size, qint64(p.golden.length));
        }
        QCOMPARE(found.size(), placed.size());
    }

    void recordFields()
    {
        Image img;
        const int64_t at = img.place(readData("pdf_ghostscript.pdf"), 2048 * kBlock);
        img.padTo(kBoundary);
        const QList<CFileNode> found = carve(img.bytes(), kSmallWindow);
        QCOMPARE(found.size(), 1);
        const CFileNode& n = found.first();
        QCOMPARE(at, qint64(2048 * kBlock));
        QCOMPARE(n.startSector, quint64(2048));
        QCOMPARE(n.name, QStringLiteral("2048"));
        QCOMPARE(n.typeName, QStringLiteral("PDF"));
        QCOMPARE(n.typeCode, 5);
        QCOMPARE(n.kind, 2);
        QCOMPARE(n.size, qint64(12903));
        QCOMPARE(n.sizeText, CFileTypeCatalogue::sizeText(12903));
        QCOMPARE(n.typeDescription, QStringLiteral("Portable Document Format"));
        QVERIFY(n.reservedText.isEmpty() && n.timeText.isEmpty() && n.extraMaps.isEmpty());
    }

    void signaturesAtEverySector()
    {
        // Documents at sectors off the 4 KiB grid (clusters of a volume
        // whose data area is not aligned, a partition at sector 63), and an
        // archive one of whose members' local headers lies on a sector
        // boundary: that member is not a document of its own.
        synthetic::Zip z;
        z.add("first.bin", randomBytes(1024 - 30 - 9, 3)); // the second header at byte 1024
        z.add("second.bin", randomBytes(3000, 4));
        z.add("third.bin", randomBytes(700, 5));
        const QByteArray zip = z.bytes();
        QCOMPARE(zip.mid(1024, 4), QByteArray("PK\x03\x04"));
        Image img;
        const QByteArray pdf = readData("pdf_ghostscript.pdf");
        img.putAt(pdf, 9 * kBlock);
        img.putAt(zip, 63 * kBlock);
        img.putAt(readData("xls_small.xls"), 79 * kBlock);
        img.putAt(pdf, 101 * kBlock);
        img.padTo(kBoundary);
        const QList<CFileNode> found = carve(img.bytes(), 3 * kBlock);
        QCOMPARE(found.size(), 4);
        QCOMPARE(findAt(found, 9)->size, qint64(pdf.size()));
        QCOMPARE(findAt(found, 63)->size, qint64(zip.size()));
        QCOMPARE(findAt(found, 79)->size, qint64(6144));
        QCOMPARE(findAt(found, 101)->size, qint64(pdf.size()));
    }

    void archiveStoredInAnArchiveIsListedToo()
    {
        // A DOCX stored (not compressed) in a ZIP, at a sector boundary: a
        // real document of its own, and the outer archive still whole.
        const QByteArray docx = readData("docx_lo_short.docx");
        synthetic::Zip z;
        z.add("pad.bin", randomBytes(512 - 30 - 7 - 30 - 7, 6));
        z.add("in.docx", docx);
        const QByteArray zip = z.bytes();
        QCOMPARE(zip.mid(512, 4), QByteArray("PK\x03\x04"));
        Image img;
        img.putAt(zip, 8 * kBlock);
        img.padTo(kBoundary);
        const QList<CFileNode> found = carve(img.bytes(), kSmallWindow);
        QCOMPARE(found.size(), 2);
        QCOMPARE(findAt(found, 8)->size, qint64(zip.size()));
        QCOMPARE(findAt(found, 9)->size, qint64(docx.size()));
        QCOMPARE(findAt(found, 9)->typeCode, 6);
    }

    void documentAcrossWindowEdge()
    {
        // The block counter and the open analysers carry over: the document
        // is reported when its end passes, counted from its start block.
        for (const char* file : {"ppt_2slides.ppt", "pptx_pptxgenjs.pptx", "pdf_pdfunite.pdf", "xls_3sheets.xls"}) {
            Image img;
            const QByteArray doc = readData(file);
            const int64_t at = img.place(doc, kSmallWindow - 4096);
            img.padTo(kSmallWindow);
            const QList<CFileNode> found = carve(img.bytes(), kSmallWindow);
            QCOMPARE(found.size(), 1);
            QCOMPARE(found.first().startSector, quint64(at / kBlock));
            for (const Golden& g : goldenDocuments()) {
                if (QByteArray(g.file) == file)
                    QCOMPARE(found.first().size, qint64(g.length));
            }
        }
    }

    void documentRightAfterAnother()
    {
        // doc_tables.doc is 14 x 4096 bytes: the next document starts at the
        // very next byte.
        Image img;
        const QByteArray doc = readData("doc_tables.doc");
        QCOMPARE(doc.size() % kBoundary, 0);
        img.place(doc);
        const int64_t zipAt = img.place(readData("zip_deflated.zip"));
        QCOMPARE(zipAt, qint64(doc.size()));
        const int64_t docAt = img.place(doc);
        img.place(readData("xls_small.xls"));
        img.padTo(kBoundary);
        const QList<CFileNode> found = carve(img.bytes(), kSmallWindow);
        QCOMPARE(found.size(), 4);
        QCOMPARE(findAt(found, 0)->size, qint64(57344));
        QCOMPARE(findAt(found, zipAt / kBlock)->size, qint64(4297));
        QCOMPARE(findAt(found, docAt / kBlock)->size, qint64(57344));
    }

    void docxInsidePdf()
    {
        // A PDF that carries a DOCX (at a 4096-byte boundary): both found,
        // the PDF with its whole length.
        const QByteArray pdf = readData("pdf_lo_writer_text.pdf");
        const QByteArray docx = readData("docx_python-docx.docx");
        QByteArray outer = pdf.left(8192) + docx + QByteArray(static_cast<int>(roundUp(docx.size(), 4096) - docx.size()), 'x')
            + pdf.mid(8192);
        Image img;
        img.place(outer);
        img.padTo(kBoundary);
        const QList<CFileNode> found = carve(img.bytes(), kSmallWindow);
        QCOMPARE(found.size(), 2);
        QCOMPARE(findAt(found, 0)->size, qint64(outer.size()));
        QCOMPARE(findAt(found, 16)->typeCode, 6);
        QCOMPARE(findAt(found, 16)->size, qint64(docx.size()));
    }

    void shortDocumentsOnlyWhenWhole()
    {
        // Under 1,024 bytes only a document whose structure shows it whole:
        // a PDF whose startxref confirms its end, a ZIP whose central
        // directory names the local headers walked.
        synthetic::Pdf tiny;
        tiny.addObject("<< /Type /Catalog /Pages 2 0 R >>");
        tiny.addObject("<< /Type /Pages /Kids [] /Count 0 >>");
        tiny.endSection();
        synthetic::Pdf unconfirmed;
        unconfirmed.addObject("<< /Type /Catalog >>");
        unconfirmed.endSection(false, 3);
        synthetic::Zip z;
        z.add("a.txt", "tiny");
        const QByteArray zip = z.bytes();
        QByteArray disagreeing = zip;
        synthetic::put16(disagreeing, zip.size() - 12, 2); // the end record counts 2 entries
        QByteArray noEnd = zip.left(zip.size() - 22);

        Image img;
        const int64_t confirmedAt = img.place(tiny.bytes());
        const int64_t unconfirmedAt = img.place(unconfirmed.bytes());
        const int64_t zipAt = img.place(zip);
        const int64_t disagreeingAt = img.place(disagreeing);
        const int64_t noEndAt = img.place(noEnd);
        const int64_t shortAt = img.place(smallPdf(1023));
        const int64_t longAt = img.place(smallPdf(1024));
        img.padTo(kBoundary);
        const QList<CFileNode> found = carve(img.bytes(), kSmallWindow);
        QVERIFY(tiny.bytes().size() < 400 && zip.size() < 150);
        QCOMPARE(findAt(found, confirmedAt / kBlock)->size, qint64(tiny.bytes().size()));
        QCOMPARE(findAt(found, zipAt / kBlock)->size, qint64(zip.size()));
        QCOMPARE(findAt(found, longAt / kBlock)->size, qint64(1024));
        QVERIFY(!findAt(found, unconfirmedAt / kBlock));
        QVERIFY(!findAt(found, disagreeingAt / kBlock));
        QVERIFY(!findAt(found, noEndAt / kBlock));
        QVERIFY(!findAt(found, shortAt / kBlock));
        QCOMPARE(found.size(), 3);
    }

    void twelveOpenDocumentsDropTheOldest_data()
    {
        QTest::addColumn<int>("inner");
        QTest::addColumn<bool>("outerFound");
        QTest::newRow("10 inside: 11 open") << 10 << true;
        QTest::newRow("11 inside: 12 open") << 11 << false;
    }
    void twelveOpenDocumentsDropTheOldest()
    {
        // A stored archive whose member holds, at each 4096-byte boundary,
        // the local header of an archive that never ends; the outer archive
        // ends after them.
        QFETCH(int, inner);
        QFETCH(bool, outerFound);
        QByteArray payload(inner * kBoundary + 3000, 'p');
        const QByteArray never = synthetic::le32(0x04034B50) + synthetic::le16(20) + synthetic::le16(0)
            + synthetic::le16(0) + synthetic::le32(0) + synthetic::le32(0) + synthetic::le32(0x7FFFFFFF)
            + synthetic::le32(0x7FFFFFFF) + synthetic::le16(1) + synthetic::le16(0) + "n";
        synthetic::Zip z;
        const int dataStart = 30 + 9; // local header + "outer.bin"
        for (int i = 1; i <= inner; ++i)
            std::memcpy(payload.data() + i * kBoundary - dataStart, never.constData(), static_cast<size_t>(never.size()));
        z.add("outer.bin", payload);
        const QByteArray outer = z.bytes();
        Image img;
        img.place(outer);
        img.padTo(kBoundary);
        const QList<CFileNode> found = carve(img.bytes(), kSmallWindow);
        QCOMPARE(findAt(found, 0) != nullptr, outerFound);
        if (outerFound)
            QCOMPARE(findAt(found, 0)->size, qint64(outer.size()));
    }

    void documentCutByTheVolumeEnd()
    {
        // The image ends inside the document: the zeros the reader pads
        // with are not the document.
        const QByteArray doc = readData("xls_3sheets.xls");
        Image img;
        img.place(doc, kBoundary);
        QByteArray cut = img.bytes().left(kBoundary + doc.size() - kBlock);
        QCOMPARE(carve(cut, kSmallWindow).size(), 0);
        // Ending exactly at the end of the volume is fine.
        QByteArray whole = img.bytes().left(kBoundary + doc.size());
        QCOMPARE(carve(whole, kSmallWindow).size(), 1);
    }

    // A window's second half carved at once by a fresh carver, which takes
    // over when nothing crosses the middle: the same documents in the same
    // order as one carver, wherever the middles fall (inside documents, on
    // their first or last block, right after a PDF whose end is only a
    // candidate, between two documents that touch).
    void halvesCarvedAtOnceFindTheSame()
    {
        QRandomGenerator rng(20261207);
        const std::vector<Golden>& goldens = goldenDocuments();
        int64_t split = 0;
        int64_t takenOver = 0;
        for (int round = 0; round < 16; ++round) {
            Image img;
            int64_t at = 0;
            for (int k = 0; k < 40; ++k) {
                const int gapBlocks = static_cast<int>(rng.bounded(24));
                if (rng.bounded(2) == 0) {
                    QByteArray noise(gapBlocks * kBlock, '\0');
                    for (char& c : noise)
                        c = static_cast<char>(rng.bounded(256));
                    img.putAt(noise, at);
                }
                at += gapBlocks * kBlock;
                const QByteArray doc = rng.bounded(4) == 0
                    ? smallPdf(1500 + static_cast<int>(rng.bounded(3000)))
                    : readData(QString::fromLatin1(goldens[rng.bounded(static_cast<quint32>(goldens.size()))].file));
                img.putAt(doc, at);
                // Some documents touch the next; others end mid-block.
                at = roundUp(at + doc.size(), kBlock);
            }
            img.padTo(kBlock);
            const int64_t window = (4 + rng.bounded(60)) * kBlock;
            CWindowCarver halves;
            const QStringList once = listed(carve(img.bytes(), window));
            QCOMPARE(listed(carveInHalves(img.bytes(), window, halves)), once);
            QVERIFY(!once.isEmpty());
            split += halves.windowsSplit();
            takenOver += halves.halvesTakenOver();
        }
        // Both ways out of a split were taken.
        QVERIFY(takenOver > 0);
        QVERIFY(takenOver < split);
    }

    void nullArgumentsDoNothing()
    {
        CNotifyFileNode relay;
        CSignatureCarver carver;
        QByteArray w(4096, '\0');
        carver.carveWindow(nullptr, reinterpret_cast<const uint8_t*>(w.constData()), w.size(), kBlock);
        carver.carveWindow(&relay, nullptr, w.size(), kBlock);
        QCOMPARE(carver.blockCounter(), quint64(0));
        carver.carveWindow(&relay, reinterpret_cast<const uint8_t*>(w.constData()), w.size(), kBlock);
        QCOMPARE(carver.blockCounter(), quint64(8));
    }
};

QTEST_GUILESS_MAIN(SignatureCarverTest)
#include "tst_signature_carver.moc"
