// The carving pass over images built in memory: real documents at 4096-byte
// boundaries, windows of several sizes (each its own allocation, so that a
// read past a window is caught under AddressSanitizer).
#include "analysers/CarvingFixtures.h"
#include "analysers/SyntheticDocuments.h"
#include "scan/CFileTypeCatalogue.h"

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
    // "%PDF" ... "%%EOF" ending at `length`, then a line end.
    QByteArray b(length, ' ');
    std::memcpy(b.data(), "%PDF-1.4\n", 9);
    std::memcpy(b.data() + length - 5, "%%EOF", 5);
    return b + "\n";
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
        QCOMPARE(n.size, qint64(12902));
        QCOMPARE(n.sizeText, CFileTypeCatalogue::sizeText(12902));
        QCOMPARE(n.typeDescription, QStringLiteral("Portable Document Format"));
        QVERIFY(n.reservedText.isEmpty() && n.timeText.isEmpty() && n.extraMaps.isEmpty());
    }

    void signaturesOnlyAtBoundaries()
    {
        Image img;
        const QByteArray pdf = readData("pdf_ghostscript.pdf");
        img.putAt(pdf, 8 * kBlock + kBlock);      // block 9: not looked at
        img.putAt(pdf, 64 * kBlock);              // block 64: found
        img.padTo(kBoundary);
        const QList<CFileNode> found = carve(img.bytes(), 3 * kBlock);
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first().startSector, quint64(64));
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
        QCOMPARE(findAt(found, 0)->size, qint64(outer.size() - 1));
        QCOMPARE(findAt(found, 16)->typeCode, 6);
        QCOMPARE(findAt(found, 16)->size, qint64(docx.size()));
    }

    void shortFindingsAreNotDocuments()
    {
        Image img;
        const int64_t a = img.place(smallPdf(1023));
        const int64_t b = img.place(smallPdf(1024));
        img.padTo(kBoundary);
        const QList<CFileNode> found = carve(img.bytes(), kSmallWindow);
        QVERIFY(!findAt(found, a / kBlock));
        QVERIFY(findAt(found, b / kBlock));
        QCOMPARE(findAt(found, b / kBlock)->size, qint64(1024));
        QCOMPARE(found.size(), 1);
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
