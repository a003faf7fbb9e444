// The search for the pieces of a broken document, over volumes laid out by
// hand from the documents in tests/data: what it must find, and what it
// must refuse to call whole.
#include "details/CAssemblyCheck.h"
#include "details/CPieceSearch.h"
#include "disk/CMemoryVolume.h"

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

namespace {

using Extent = CFileNode::Extent;
constexpr int kCluster = 4096;

QByteArray readData(const QString& name)
{
    QFile f(QStringLiteral(TAMSEL_TEST_DATA "/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A volume laid down cluster by cluster: pieces of documents, noise, zeros.
class Layout
{
public:
    int64_t put(const QByteArray& bytes)
    {
        const int64_t at = m_bytes.size();
        m_bytes += bytes;
        m_bytes += QByteArray(int((kCluster - m_bytes.size() % kCluster) % kCluster), '\0');
        return at;
    }
    void noise(int clusters)
    {
        QByteArray b(clusters * kCluster, '\0');
        for (char& c : b)
            c = char(m_random.bounded(256));
        m_bytes += b;
    }
    const QByteArray& bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    QRandomGenerator m_random{24};
};

CFileNode brokenAt(int64_t offset, const QString& type)
{
    CFileNode node;
    node.typeName = type;
    node.startSector = quint64(offset / 512);
    node.size = kCluster;
    node.details.examined = true;
    node.details.integrity = CDocumentDetails::IntegrityDamaged;
    node.details.integrityReason = QStringLiteral("cut short");
    return node;
}

CPieceSearch::Outcome search(const QByteArray& volumeBytes, const CFileNode& node,
                             const QVector<Extent>& owned = {}, const QVector<Extent>& weak = {})
{
    CMemoryVolume volume(volumeBytes);
    CPieceSearch::Settings settings;
    settings.cluster = kCluster;
    CPieceSearch s(&volume, settings);
    s.setOwned(owned);
    s.setWeak(weak);
    s.indexAnchors({node.firstByteOffset()});
    return s.reassemble(node);
}

QByteArray assembled(const QByteArray& volume, const QVector<Extent>& pieces)
{
    QByteArray out;
    for (const Extent& e : pieces)
        out += volume.mid(int(e.offset), int(e.length));
    return out;
}

} // namespace

class tst_pieces : public QObject
{
    Q_OBJECT

private slots:
    // Two and three pieces, the later ones before or after the first, with
    // noise and other documents between: found, and exactly the document.
    void findsPieces_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QVector<int>>("cuts"); // in clusters
        QTest::addColumn<bool>("laterFirst");
        QTest::newRow("docx, 2 pieces") << "docx_python-docx.docx" << "DOCX" << QVector<int>{3} << false;
        QTest::newRow("docx, 2 pieces, second first") << "docx_python-docx.docx" << "DOCX" << QVector<int>{5} << true;
        QTest::newRow("pptx stored, 3 pieces") << "pptx_pptxgenjs.pptx" << "PPTX" << QVector<int>{4, 11} << false;
        QTest::newRow("pptx descriptors, 3 pieces, reversed")
            << "pptx_lo_3slides.pptx" << "PPTX" << QVector<int>{2, 5} << true;
        QTest::newRow("xlsx, a middle piece inside one member")
            << "xlsx_xlsxwriter.xlsx" << "XLSX" << QVector<int>{1, 3} << false;
        QTest::newRow("pdf, 2 pieces, second first") << "pdf_lo_writer_text.pdf" << "PDF" << QVector<int>{4} << true;
        QTest::newRow("pdf, 3 pieces") << "pdf_pdfunite.pdf" << "PDF" << QVector<int>{2, 8} << false;
        QTest::newRow("pdf, a one-cluster middle") << "pdf_lo_writer_text.pdf" << "PDF" << QVector<int>{1, 2} << false;
        QTest::newRow("pdf, a middle piece inside one stream")
            << "pdf_ghostscript.pdf" << "PDF" << QVector<int>{1, 2} << false;
        QTest::newRow("xlsx, 3 pieces, directory across the second cut")
            << "xlsx_xlsxwriter.xlsx" << "XLSX" << QVector<int>{1, 4} << false;
        QTest::newRow("xls, 2 pieces, second first") << "xls_3sheets.xls" << "XLS" << QVector<int>{5} << true;
        QTest::newRow("xls, 3 pieces") << "xls_3sheets.xls" << "XLS" << QVector<int>{3, 9} << false;
        QTest::newRow("xls, 3 pieces, a table sector in the middle")
            << "xls_3sheets.xls" << "XLS" << QVector<int>{15, 19} << false;
        QTest::newRow("xls, 3 pieces, reversed") << "xls_3sheets.xls" << "XLS" << QVector<int>{12, 15} << true;
        QTest::newRow("doc, 2 pieces") << "doc_short.doc" << "DOC" << QVector<int>{1} << false;
        QTest::newRow("doc, 2 pieces, cut among the formatting pages")
            << "doc_tables.doc" << "DOC" << QVector<int>{9} << true;
        QTest::newRow("doc, 3 pieces, a middle of text") << "doc_tables.doc" << "DOC" << QVector<int>{2, 4} << false;
        QTest::newRow("doc, 3 pieces, the information block in the middle")
            << "doc_short.doc" << "DOC" << QVector<int>{1, 2} << false;
        QTest::newRow("doc, 3 pieces, a long middle from text to formatting pages")
            << "doc_tables.doc" << "DOC" << QVector<int>{2, 11} << true;
        QTest::newRow("doc, 3 pieces, a middle of formatting pages, reversed")
            << "doc_tables.doc" << "DOC" << QVector<int>{8, 10} << true;
        QTest::newRow("doc, directory in the first piece") << "doc_summary.doc" << "DOC" << QVector<int>{1} << false;
        QTest::newRow("zip, directory across the cut") << "zip_deflated.zip" << "ZIP" << QVector<int>{1} << false;
    }
    void findsPieces()
    {
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(QVector<int>, cuts);
        QFETCH(bool, laterFirst);
        const QByteArray doc = readData(name);
        QVERIFY(!doc.isEmpty());
        QVector<QByteArray> parts;
        int from = 0;
        for (int c : cuts) {
            parts.append(doc.mid(from, c * kCluster - from));
            from = c * kCluster;
        }
        parts.append(doc.mid(from));

        Layout layout;
        layout.noise(2);
        QVector<int64_t> at(parts.size());
        if (laterFirst) {
            for (int i = parts.size() - 1; i >= 1; --i) {
                at[i] = layout.put(parts[i]);
                layout.put(readData(QStringLiteral("zip_deflated.zip")));
            }
            layout.noise(1);
            at[0] = layout.put(parts[0]);
        } else {
            at[0] = layout.put(parts[0]);
            for (int i = 1; i < parts.size(); ++i) {
                layout.noise(1 + i);
                layout.put(readData(QStringLiteral("zip_stored.zip")).left(kCluster + 100));
                at[i] = layout.put(parts[i]);
            }
        }
        layout.noise(1);

        const CPieceSearch::Outcome o = search(layout.bytes(), brokenAt(at[0], type));
        QCOMPARE(int(o.kind), int(CPieceSearch::Outcome::Whole));
        QCOMPARE(o.pieces.size(), parts.size());
        for (int i = 0; i < parts.size(); ++i)
            QCOMPARE(o.pieces[i].offset, at[i]);
        QCOMPARE(assembled(layout.bytes(), o.pieces), doc);
        QCOMPARE(o.details.integrity, int(CDocumentDetails::IntegrityWhole));
    }

    // What must never be called whole: two equally good continuations (a
    // copy of the last piece), a continuation that a whole document owns,
    // another version's last piece, and pieces cut off the cluster grid.
    void refusesWhatItCannotProve()
    {
        const QByteArray doc = readData(QStringLiteral("docx_python-docx.docx"));
        const QByteArray head = doc.left(3 * kCluster);
        const QByteArray tail = doc.mid(3 * kCluster);

        {
            Layout layout;
            const int64_t first = layout.put(head);
            layout.noise(2);
            layout.put(tail);
            layout.noise(1);
            layout.put(tail);
            const CPieceSearch::Outcome o = search(layout.bytes(), brokenAt(first, QStringLiteral("DOCX")));
            QCOMPARE(int(o.kind), int(CPieceSearch::Outcome::Ambiguous));
            QCOMPARE(o.details.integrity, int(CDocumentDetails::IntegrityDamaged));
            QVERIFY2(o.details.integrityReason.startsWith(QLatin1String("cut short; more than one assembly")),
                     qPrintable(o.details.integrityReason));
        }
        {
            Layout layout;
            const int64_t first = layout.put(head);
            layout.noise(2);
            const int64_t second = layout.put(tail);
            const CPieceSearch::Outcome o = search(layout.bytes(), brokenAt(first, QStringLiteral("DOCX")),
                                                   {{second + kCluster, kCluster}});
            QCOMPARE(int(o.kind), int(CPieceSearch::Outcome::NotFound));
        }
        {
            // The same package with one member changed: its directory names
            // other offsets and CRCs, so its tail cannot finish this head.
            QByteArray other = doc;
            const int at = other.indexOf("word/document.xml", 3 * kCluster);
            QVERIFY(at > 0);
            other[at + 5] = 'D'; // the directory now names a member this head lacks
            Layout layout;
            const int64_t first = layout.put(head);
            layout.noise(1);
            layout.put(other.mid(3 * kCluster));
            const CPieceSearch::Outcome o = search(layout.bytes(), brokenAt(first, QStringLiteral("DOCX")));
            QCOMPARE(int(o.kind), int(CPieceSearch::Outcome::NotFound));
        }
        {
            // Another version of a Word document (one letter of its text
            // changed) whose second piece lies in reach beside the real
            // one: both pass every check, so neither is taken.
            const QByteArray word = readData(QStringLiteral("doc_short.doc"));
            QByteArray other = word;
            const int letter = other.indexOf('e', 2 * kCluster);
            QVERIFY(letter > 0 && letter < 3 * kCluster);
            other[letter] = 'a';
            Layout layout;
            const int64_t first = layout.put(word.left(kCluster));
            layout.noise(1);
            layout.put(other.mid(kCluster));
            layout.noise(2);
            layout.put(word.mid(kCluster));
            const CPieceSearch::Outcome o = search(layout.bytes(), brokenAt(first, QStringLiteral("DOC")));
            QCOMPARE(int(o.kind), int(CPieceSearch::Outcome::Ambiguous));
        }
        {
            // The second piece 512 bytes off the grid is not a candidate.
            Layout layout;
            const int64_t first = layout.put(head);
            layout.noise(1);
            layout.put(QByteArray(512, '\0') + tail);
            const CPieceSearch::Outcome o = search(layout.bytes(), brokenAt(first, QStringLiteral("DOCX")));
            QCOMPARE(int(o.kind), int(CPieceSearch::Outcome::NotFound));
        }
    }

    // The check others call for their own continuations: the right pieces
    // pass; one byte too many at the end, or a wrong middle, do not.
    void assemblyCheck()
    {
        const QByteArray doc = readData(QStringLiteral("xlsx_xlsxwriter.xlsx"));
        Layout layout;
        const int64_t a = layout.put(doc.left(2 * kCluster));
        layout.noise(1);
        const int64_t b = layout.put(doc.mid(2 * kCluster));
        CMemoryVolume volume(layout.bytes());
        const int64_t rest = doc.size() - 2 * kCluster;
        QVERIFY(CAssemblyCheck::isWhole(&volume, QStringLiteral("XLSX"), {{a, 2 * kCluster}, {b, rest}}));
        QVERIFY(!CAssemblyCheck::isWhole(&volume, QStringLiteral("XLSX"), {{a, 2 * kCluster}, {b, rest + 1}}));
        QVERIFY(!CAssemblyCheck::isWhole(&volume, QStringLiteral("XLSX"),
                                         {{a, kCluster}, {b - kCluster, kCluster}, {b, rest}}));
    }

    // Bytes of the right kind in the wrong place inside a stream: the
    // compound document's tables and chains hold, but the stream's own
    // contents do not (a Word document's formatting pages, each of which
    // begins where its bin table says; a summary property set).
    void streamContentsTellForeignSectors()
    {
        const QByteArray word = readData(QStringLiteral("doc_tables.doc"));
        QCOMPARE(word.size(), 57344); // formatting pages from byte 29184 to about 55000
        QByteArray swapped = word;
        swapped.replace(8 * kCluster, kCluster, word.mid(10 * kCluster, kCluster));
        CDocumentDetails d = CAssemblyCheck::checkBytes(swapped, QStringLiteral("DOC"));
        QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityDamaged));
        QVERIFY2(d.integrityReason.contains(QLatin1String("formatting page")), qPrintable(d.integrityReason));

        const QByteArray book = readData(QStringLiteral("xls_small.xls"));
        Layout noise;
        noise.noise(1);
        QByteArray damaged = book;
        damaged.replace(4608, 512, noise.bytes().left(512)); // the summaries, in the small-stream container
        d = CAssemblyCheck::checkBytes(damaged, QStringLiteral("XLS"));
        QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityDamaged));
        QVERIFY2(d.integrityReason.contains(QLatin1String("property set")), qPrintable(d.integrityReason));

        // Zeros for a cluster inside the shared strings' one long record:
        // no record header lies there, but the strings no longer add up.
        QByteArray strings = readData(QStringLiteral("xls_3sheets.xls"));
        strings.replace(kCluster, kCluster, QByteArray(kCluster, '\0')); // the record runs from 2677 to 10901
        d = CAssemblyCheck::checkBytes(strings, QStringLiteral("XLS"));
        QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityDamaged));
        QVERIFY2(d.integrityReason.contains(QLatin1String("shared strings")), qPrintable(d.integrityReason));

        // A workbook whose cells lie in another order (two rows' cells
        // trade places): every record holds, but the rows go back.
        QByteArray sheet = readData(QStringLiteral("xls_3sheets.xls"));
        const QByteArray cell("\xFD\x00\x0A\x00", 4); // a shared-string cell, row first
        const int early = sheet.indexOf(cell, 16 * 1024);
        int late = early;
        while (late >= 0 && sheet.mid(late + 4, 2) == sheet.mid(early + 4, 2))
            late = sheet.indexOf(cell, late + 1);
        QVERIFY(early > 0 && late > 0 && late < 64 * 1024);
        const QByteArray earlyRow = sheet.mid(early + 4, 2);
        sheet.replace(early + 4, 2, sheet.mid(late + 4, 2));
        sheet.replace(late + 4, 2, earlyRow);
        d = CAssemblyCheck::checkBytes(sheet, QStringLiteral("XLS"));
        QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityDamaged));
        QVERIFY2(d.integrityReason.contains(QLatin1String("rows go back")), qPrintable(d.integrityReason));

        for (const QString& name : {QStringLiteral("doc_tables.doc"), QStringLiteral("xls_small.xls"),
                                    QStringLiteral("xls_3sheets.xls"), QStringLiteral("ppt_2slides.ppt")}) {
            const QByteArray whole = readData(name);
            QVERIFY2(CAssemblyCheck::checkBytes(whole, name.section('.', 1).toUpper()).integrity
                         == CDocumentDetails::IntegrityWhole,
                     qPrintable(name));
        }
    }

    // A compound document carved as one stretch whose last cluster lay in
    // another piece: its second directory sector is other bytes (noise or
    // zeros) and it must not be called whole.
    void compoundStretchAcrossPieces()
    {
        const QByteArray doc = readData(QStringLiteral("doc_short.doc"));
        QCOMPARE(doc.size(), 12800); // its directory's second sector is the last
        Layout noise;
        noise.noise(1);
        for (const QByteArray& other : {noise.bytes().left(512), QByteArray(512, '\0')}) {
            CMemoryVolume volume(doc.left(12288) + other);
            const CDocumentDetails d = CAssemblyCheck::check(&volume, QStringLiteral("DOC"), {{0, 12800}});
            QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityDamaged));
            QVERIFY2(d.integrityReason.contains(QLatin1String("directory entry")), qPrintable(d.integrityReason));
        }
        CMemoryVolume volume(doc);
        QVERIFY(CAssemblyCheck::isWhole(&volume, QStringLiteral("DOC"), {{0, 12800}}));
    }

    // A Word document whose tables all lie in its first cluster, carved as
    // one stretch whose second cluster lay elsewhere: only its text tells,
    // through the piece table. The real Word documents stay whole.
    void wordTextAcrossPieces()
    {
        const QByteArray doc = readData(QStringLiteral("doc_summary.doc"));
        QCOMPARE(doc.size(), 7680); // header, tables and the text's first 1536 bytes in 4096
        Layout noise;
        noise.noise(1);
        const QByteArray pdfText = readData(QStringLiteral("pdf_utf16_title.pdf")).left(3584);
        for (const QByteArray& other : {noise.bytes().left(3584), QByteArray(3584, '\0'), pdfText}) {
            CMemoryVolume volume(doc.left(4096) + other.leftJustified(3584, '\0'));
            const CDocumentDetails d = CAssemblyCheck::check(&volume, QStringLiteral("DOC"), {{0, 7680}});
            QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityDamaged));
            QVERIFY2(d.integrityReason.contains(QLatin1String("text")), qPrintable(d.integrityReason));
        }
        // Other bytes where the information block was: nothing else of the
        // stream could be checked, so it is damaged for that alone.
        QByteArray noBlock = doc;
        noBlock.replace(2560, 512, QByteArray(512, '\0'));
        CMemoryVolume blockless(noBlock);
        const CDocumentDetails d = CAssemblyCheck::check(&blockless, QStringLiteral("DOC"), {{0, 7680}});
        QCOMPARE(d.integrity, int(CDocumentDetails::IntegrityDamaged));
        QVERIFY2(d.integrityReason.contains(QLatin1String("information block")), qPrintable(d.integrityReason));
        for (const QString& name : {QStringLiteral("doc_summary.doc"), QStringLiteral("doc_short.doc"),
                                    QStringLiteral("doc_tables.doc")}) {
            const QByteArray whole = readData(name);
            CMemoryVolume volume(whole);
            QVERIFY2(CAssemblyCheck::isWhole(&volume, QStringLiteral("DOC"), {{0, whole.size()}}), qPrintable(name));
        }
    }

    // A compound document laid down whole elsewhere (whole on its tables
    // alone, so not owned) gives a second assembly of the same bytes: the
    // piece in free clusters is taken. A second copy in free clusters is
    // still a second answer.
    void copyWholeOnItsTablesIsNoSecondAnswer()
    {
        // Its directory lies in its second cluster: one cut only.
        const QByteArray doc = readData(QStringLiteral("xls_small.xls"));
        constexpr int kCut = kCluster;
        for (bool freeCopy : {false, true}) {
            Layout layout;
            layout.noise(1);
            const int64_t whole = layout.put(doc);
            layout.noise(2);
            const int64_t first = layout.put(doc.left(kCut));
            layout.noise(3);
            const int64_t second = layout.put(doc.mid(kCut));
            if (freeCopy) {
                layout.noise(1);
                layout.put(doc.mid(kCut));
            }
            layout.noise(1);
            const QVector<Extent> weak{{whole, doc.size()}};
            const CPieceSearch::Outcome o = search(layout.bytes(), brokenAt(first, QStringLiteral("XLS")), {}, weak);
            if (freeCopy) {
                QCOMPARE(int(o.kind), int(CPieceSearch::Outcome::Ambiguous));
                continue;
            }
            QCOMPARE(int(o.kind), int(CPieceSearch::Outcome::Whole));
            QCOMPARE(o.pieces, (QVector<Extent>{{first, kCut}, {second, doc.size() - kCut}}));
            QCOMPARE(o.details.integrity, int(CDocumentDetails::IntegrityWhole));
            // Unknown as whole on its tables, the copy is a second answer.
            QCOMPARE(int(search(layout.bytes(), brokenAt(first, QStringLiteral("XLS"))).kind),
                     int(CPieceSearch::Outcome::Ambiguous));
        }
    }

    void inferredCluster()
    {
        QVector<int64_t> starts;
        for (int i = 0; i < 20; ++i)
            starts.append(1048576 + int64_t(i) * 3 * 4096 + (i == 7 ? 512 : 0));
        QCOMPARE(CPieceSearch::inferCluster(starts), int64_t(4096));
        QCOMPARE(CPieceSearch::inferCluster(starts.mid(0, 3)), int64_t(4096)); // too few to tell
        for (int64_t& s : starts)
            s = s / 4096 * 16384 + 2048;
        QCOMPARE(CPieceSearch::inferCluster(starts), int64_t(16384));
    }
};

QTEST_GUILESS_MAIN(tst_pieces)
#include "tst_pieces.moc"
