// Previews made by the sandboxed helper from the documents in tests/data,
// read the way the window reads them (from a volume, through the record's
// runs or resident bytes), and what becomes of damaged and hostile ones.
#include "disk/CMemoryVolume.h"
#include "preview/CDocumentPreview.h"
#include "preview/CPreviewReply.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray data(const QString& name)
{
    QFile f(QStringLiteral(TAMSEL_TEST_DATA "/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Share of pixels that are not (nearly) white.
double inkOf(const QImage& image)
{
    int64_t ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            ink += qRed(p) < 200 || qGreen(p) < 200 || qBlue(p) < 200;
        }
    }
    return double(ink) / (double(image.width()) * image.height());
}

} // namespace

class tst_preview : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(CDocumentPreview().helper()).isExecutable(), "tamsel-preview must be built");
    }

    void eachType_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("expected"); // text the preview holds; empty: an image
        QTest::newRow("doc") << "doc_tables.doc" << "DOC" << "Contract schedule\nTable demand archive.";
        QTest::newRow("xls") << "xls_small.xls" << "XLS" << "Orchard\nClause\nQuarterly";
        QTest::newRow("xls 3 sheets") << "xls_3sheets.xls" << "XLS" << "Customer\nNorth";
        QTest::newRow("ppt") << "ppt_2slides.ppt" << "PPT" << "Kick-off\nEmerald sector";
        QTest::newRow("docx") << "docx_lo_short.docx" << "DOCX" << "Letter\nChapter west buffer.";
        QTest::newRow("xlsx") << "xlsx_xlsxwriter.xlsx" << "XLSX" << "buffer\nriver";
        QTest::newRow("pptx") << "pptx_pptxgenjs.pptx" << "PPTX"
                              << "Slide 1: supply and demand\nNorth river timber market";
        QTest::newRow("zip") << "zip_deflated.zip" << "ZIP" << "        2911  notes/note1.fodt\n";
        QTest::newRow("docx thumbnail") << "docx_python-docx.docx" << "DOCX" << "";
        QTest::newRow("pdf") << "pdf_lo_writer_text.pdf" << "PDF" << "";
    }

    void eachType()
    {
        QFETCH(QString, file);
        QFETCH(QString, type);
        QFETCH(QString, expected);
        const QByteArray document = data(file);
        QVERIFY(!document.isEmpty());
        const CDocumentPreview::Result r = CDocumentPreview().preview(type, document);
        QVERIFY2(r.ok, qPrintable(r.failure));
        if (expected.isEmpty()) {
            QCOMPARE(int(r.reply.kind), int(CPreviewReply::Kind::Image));
            const QImage image = QImage::fromData(r.reply.png, "PNG");
            QVERIFY(!image.isNull());
            QVERIFY(std::max(image.width(), image.height()) <= 1000);
            QVERIFY(std::max(image.width(), image.height()) >= 300);
            // (python-docx's thumbnail is a blank page: only a rendered
            // page is looked at for ink.)
            if (type == QLatin1String("PDF")) {
                const double ink = inkOf(image);
                QVERIFY2(ink > 0.001 && ink < 0.5, qPrintable(QString::number(ink)));
            }
        } else {
            QCOMPARE(int(r.reply.kind), int(CPreviewReply::Kind::Text));
            QVERIFY2(r.reply.text.contains(expected), qPrintable(r.reply.text.left(300)));
        }
    }

    // Page count and title come with the page; a portrait page stays one.
    void pdfPageCountAndTitle()
    {
        const CDocumentPreview::Result r = CDocumentPreview().preview(QStringLiteral("PDF"), data(QStringLiteral("pdf_pdfunite.pdf")));
        QVERIFY2(r.ok, qPrintable(r.failure));
        QCOMPARE(r.reply.pages, 7);
        const QImage page = QImage::fromData(r.reply.png, "PNG");
        QCOMPARE(page.height(), 1000);
        QVERIFY(page.width() < page.height());
        const CDocumentPreview::Result titled = CDocumentPreview().preview(QStringLiteral("PDF"), data(QStringLiteral("pdf_utf16_title.pdf")));
        QVERIFY2(titled.ok, qPrintable(titled.failure));
        QCOMPARE(titled.reply.title, QStringLiteral("年度报告 2024"));
        QCOMPARE(titled.reply.pages, 2);
    }

    // The bytes come off the volume through the record: a document in two
    // pieces with other data between them, and one kept inside its record.
    void fromTheVolume()
    {
        const QByteArray pptx = data(QStringLiteral("pptx_lo_3slides.pptx"));
        const int half = pptx.size() / 2 & ~511;
        QByteArray image(1 << 20, 'x');
        image.replace(8192, half, pptx.left(half));
        image.replace(65536, pptx.size() - half, pptx.mid(half));
        CMemoryVolume volume(image);
        CFileNode node;
        node.typeName = QStringLiteral("PPTX");
        node.size = pptx.size();
        node.startSector = 16;
        node.extents = {{8192, half}, {65536, pptx.size() - half}};
        CDocumentPreview::Result r = CDocumentPreview().preview(&volume, node);
        QVERIFY2(r.ok, qPrintable(r.failure));
        QVERIFY2(r.reply.text.startsWith(QStringLiteral("Status\nAlpha price west kernel")), qPrintable(r.reply.text.left(200)));
        // Read as one stretch from its first sector it is broken.
        node.extents.clear();
        QVERIFY(!CDocumentPreview().preview(&volume, node).ok);

        CFileNode resident;
        resident.typeName = QStringLiteral("ZIP");
        resident.residentData = data(QStringLiteral("zip_comment.zip"));
        resident.hasResidentData = true;
        resident.size = resident.residentData.size();
        r = CDocumentPreview().preview(&volume, resident);
        QVERIFY2(r.ok, qPrintable(r.failure));
        QVERIFY(r.reply.text.contains(QStringLiteral("notes/note2.fodt")));
        // The hex view shows the record's bytes too.
        QVERIFY(CDocumentPreview::hexView(CDocumentPreview::firstBytes(&volume, resident))
                    .startsWith(QStringLiteral("00000000  50 4b 03 04 ")));
    }

    // A PDF with a stretch overwritten and its cross-reference table gone
    // still shows its first page.
    void damaged()
    {
        QByteArray pdf = data(QStringLiteral("pdf_pdfunite.pdf"));
        pdf.replace(20000, 4096, QByteArray(4096, '\0'));
        pdf.replace(pdf.lastIndexOf("xref"), 300, QByteArray(300, '\0'));
        CDocumentPreview::Result r = CDocumentPreview().preview(QStringLiteral("PDF"), pdf);
        QVERIFY2(r.ok, qPrintable(r.failure));
        QVERIFY(inkOf(QImage::fromData(r.reply.png, "PNG")) > 0.001);
        // A presentation with its second slide overwritten shows the others.
        QByteArray pptx = data(QStringLiteral("pptx_lo_3slides.pptx"));
        const QString whole = CDocumentPreview().preview(QStringLiteral("PPTX"), pptx).reply.text;
        const int slide2 = pptx.indexOf("ppt/slides/slide2.xml");
        QVERIFY(slide2 > 0);
        pptx.replace(slide2 + 40, 600, QByteArray(600, '\0'));
        r = CDocumentPreview().preview(QStringLiteral("PPTX"), pptx);
        QVERIFY2(r.ok, qPrintable(r.failure));
        QVERIFY(r.reply.text.startsWith(QStringLiteral("Status\n")));
        QVERIFY(whole.endsWith(r.reply.text.right(60)));
        QVERIFY(r.reply.text.size() < whole.size() * 9 / 10);
    }

    // Documents made to hurt the previewer end without a preview (or, for
    // one Poppler copes with, with a page), within the time limit, and the
    // caller goes on.
    void hostile()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QCOMPARE(QProcess::execute(QStringLiteral("python3"),
                                   {QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-hostile-previews.py"), dir.path()}),
                 0);
        auto read = [&](const char* name) {
            QFile f(dir.filePath(QString::fromLatin1(name)));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        CDocumentPreview preview;
        CDocumentPreview::Result r = preview.preview(QStringLiteral("DOCX"), read("bomb.docx"));
        QVERIFY(!r.ok);
        r = preview.preview(QStringLiteral("PDF"), read("huge.pdf"));
        QVERIFY(!r.ok);
        QVERIFY2(r.failure.contains(QStringLiteral("too large")), qPrintable(r.failure));
        r = preview.preview(QStringLiteral("PDF"), read("deep.pdf"));
        QVERIFY(!r.ok || r.reply.kind == CPreviewReply::Kind::Image);
        // Garbage of every type.
        QByteArray noise(200000, '\0');
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((i * 2654435761u) >> 13);
        for (const char* type : {"PDF", "DOC", "XLS", "PPT", "DOCX", "XLSX", "PPTX", "ZIP"})
            QVERIFY2(!preview.preview(QString::fromLatin1(type), noise).ok, type);
    }

    // A helper that crashes, hangs or prints garbage gives no preview.
    void misbehavingHelper()
    {
        CDocumentPreview preview;
        CSandboxLauncher::Limits limits = preview.launcher().limits();
        limits.timeoutMs = 500;
        preview.launcher().setLimits(limits);
        preview.setHelper(QStringLiteral("/bin/cat"));
        QVERIFY(!preview.preview(QStringLiteral("PDF"), data(QStringLiteral("pdf_ghostscript.pdf"))).ok);
        // A reply's shape, then a lie in it.
        CPreviewReply reply;
        reply.kind = CPreviewReply::Kind::Text;
        reply.text = QStringLiteral("文字");
        CPreviewReply back;
        QVERIFY(CPreviewReply::decode(reply.encode(), &back));
        QCOMPARE(back.text, reply.text);
        QByteArray bad = reply.encode();
        bad.append("\xff\xfe");
        QVERIFY(!CPreviewReply::decode(bad, &back));
        reply.kind = CPreviewReply::Kind::Image;
        reply.png = "GIF89a";
        QVERIFY(!CPreviewReply::decode(reply.encode(), &back));
        preview.setHelper(QStringLiteral("/bin/sleep"));
        QVERIFY(!preview.preview(QStringLiteral("100"), QByteArray()).ok);
    }
};

QTEST_GUILESS_MAIN(tst_preview)
#include "tst_preview.moc"
