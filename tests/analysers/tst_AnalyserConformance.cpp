// The cases every analyser must pass, run once per analyser: a new format
// gets them for free by adding a Subject in main().
#include "analysers/CFileOleAnalyser.h"
#include "analysers/CPdfAnalyser.h"
#include "analysers/CZipFileAnalyser.h"
#include "analysers/CarvingFixtures.h"

#include <QtTest>

#include <functional>

using namespace fixtures;

namespace {

struct Subject
{
    QString name;
    // Analysers that need the carving pass's per-block marker search get it.
    std::function<std::unique_ptr<IAnalyser>(CPdfEndMarkers*)> make;
    QList<int> typeCodes; // the types it finds
    // What the carving pass does with an analyser still open when the
    // volume ends (null: nothing, it is dropped).
    std::function<bool(IAnalyser&)> finishAtVolumeEnd;
    // Whether the end is learnt from the document's last bytes (a compound
    // document's FAT and directory may lie anywhere).
    bool endAtTail;
};

bool handles(const Subject& s, int typeCode)
{
    return s.typeCodes.contains(typeCode);
}

} // namespace

class AnalyserConformance : public QObject
{
    Q_OBJECT
public:
    explicit AnalyserConformance(Subject subject)
        : m_s(std::move(subject))
    {
    }

private slots:
    void zeroBlockIsNoDocument()
    {
        const QByteArray zeros(kBlock, '\0');
        auto a = m_s.make(nullptr);
        QCOMPARE(a->identify(reinterpret_cast<const uint8_t*>(zeros.constData())), 100);
        QCOMPARE(a->typeCode(), -1);
    }

    void otherFormatsAreRefused_data() { documents(false); }
    void otherFormatsAreRefused()
    {
        QFETCH(QString, file);
        const QByteArray bytes = readData(file);
        auto a = m_s.make(nullptr);
        QCOMPARE(a->identify(reinterpret_cast<const uint8_t*>(bytes.constData())), 100);
    }

    // The exact length and type of each real document, with the document
    // at several places relative to the window edges and far beyond the
    // 2 TiB mark (block numbers past 32 bits).
    void goldenLength_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("typeCode");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<int>("windowBlocks");
        QTest::addColumn<int>("phase");
        QTest::addColumn<qint64>("startBlock");
        for (const Golden& g : goldenDocuments()) {
            if (!handles(m_s, g.typeCode))
                continue;
            const struct
            {
                int window, phase;
                qint64 start;
            } layouts[] = {{16, 0, 0}, {16, 15, 8}, {9, 4, 8000}, {64, 1, 5000000008LL}};
            for (const auto& l : layouts) {
                QTest::addRow("%s w%d p%d s%lld", g.file, l.window, l.phase, l.start)
                    << QString::fromLatin1(g.file) << g.typeCode << qint64(g.length) << l.window << l.phase << l.start;
            }
        }
    }
    void goldenLength()
    {
        QFETCH(QString, file);
        QFETCH(int, typeCode);
        QFETCH(qint64, length);
        QFETCH(int, windowBlocks);
        QFETCH(int, phase);
        QFETCH(qint64, startBlock);
        QByteArray stream = readData(file);
        QVERIFY(!stream.isEmpty());
        stream.append(QByteArray(64 * 1024, '\0'));
        auto a = m_s.make(nullptr);
        QVERIFY(a->identify(reinterpret_cast<const uint8_t*>(stream.constData())) != 100);
        const Fed r = feed(*a, stream, startBlock, windowBlocks, phase);
        QVERIFY2(r.finished, "the end was never found");
        QCOMPARE(r.length, length);
        QCOMPARE(r.typeCode, typeCode);
    }

    void garbageAfterEnd_data() { documents(true); }
    void garbageAfterEnd()
    {
        QFETCH(QString, file);
        const QByteArray doc = readData(file);
        const Golden* g = golden(file);
        // The whole file (a PDF's line end after its marker included), then
        // older bytes that were never overwritten.
        QByteArray stream = doc;
        stream.append(randomBytes(256 * 1024, 99));
        CPdfEndMarkers markers;
        auto a = m_s.make(&markers);
        QVERIFY(a->identify(reinterpret_cast<const uint8_t*>(stream.constData())) != 100);
        Fed r = feed(*a, stream, 800, 16, 3, &markers);
        if (!r.finished && m_s.finishAtVolumeEnd && m_s.finishAtVolumeEnd(*a)) {
            r.finished = true;
            r.length = a->length();
        }
        QVERIFY2(r.finished, "the end was not found");
        QCOMPARE(r.length, qint64(g->length));
    }

    // A document of which only the start made it to the disk (its first
    // block; for formats that end in their own tail, its first half):
    // never reported with its whole length, nothing read out of bounds.
    void truncated_data() { documents(true); }
    void truncated()
    {
        QFETCH(QString, file);
        const QByteArray doc = readData(file);
        const Golden* g = golden(file);
        QList<int> cuts = {kBlock};
        if (m_s.endAtTail)
            cuts << static_cast<int>(roundUp(doc.size() / 2, kBlock));
        for (int cut : cuts) {
            QByteArray stream = doc.left(cut);
            stream.append(QByteArray(doc.size() + 64 * 1024, '\0'));
            auto a = m_s.make(nullptr);
            QVERIFY(a->identify(reinterpret_cast<const uint8_t*>(stream.constData())) != 100);
            const Fed r = feed(*a, stream, 0, 16, 0);
            if (r.finished)
                QVERIFY2(r.length != g->length, qPrintable(QStringLiteral("cut at %1").arg(cut)));
        }
    }

    // The signature followed by noise: whatever the noise says, no crash,
    // no read outside a window, no negative length.
    void signatureThenNoise()
    {
        QByteArray first;
        for (const Golden& g : goldenDocuments()) {
            if (handles(m_s, g.typeCode)) {
                first = readData(QString::fromLatin1(g.file)).left(kBlock);
                break;
            }
        }
        QVERIFY(!first.isEmpty());
        for (quint32 seed = 1; seed <= 40; ++seed) {
            QByteArray stream = first;
            QByteArray noise = randomBytes(64 * 1024, seed);
            // Some headers keep their signature but carry noise in every field.
            if (seed % 2 == 0)
                std::memcpy(stream.data() + 8, noise.constData(), kBlock - 8);
            stream.append(noise);
            auto a = m_s.make(nullptr);
            if (a->identify(reinterpret_cast<const uint8_t*>(stream.constData())) == 100)
                continue;
            const Fed r = feed(*a, stream, 4096, 3 + static_cast<int>(seed % 5), static_cast<int>(seed % 3));
            QVERIFY(r.length >= 0);
        }
    }

private:
    void documents(bool own)
    {
        QTest::addColumn<QString>("file");
        for (const Golden& g : goldenDocuments()) {
            if (handles(m_s, g.typeCode) == own)
                QTest::newRow(g.file) << QString::fromLatin1(g.file);
        }
    }
    static const Golden* golden(const QString& file)
    {
        for (const Golden& g : goldenDocuments()) {
            if (file == QLatin1String(g.file))
                return &g;
        }
        return nullptr;
    }

    Subject m_s;
};

int main(int argc, char** argv)
{
    const QList<Subject> subjects = {
        {QStringLiteral("CPdfAnalyser"),
         [](CPdfEndMarkers* m) { return std::unique_ptr<IAnalyser>(new CPdfAnalyser(m)); }, {5},
         [](IAnalyser& a) { return static_cast<CPdfAnalyser&>(a).finishAtCandidate(); }, true},
        {QStringLiteral("CFileOleAnalyser"),
         [](CPdfEndMarkers*) { return std::unique_ptr<IAnalyser>(new CFileOleAnalyser); }, {2, 3, 4}, nullptr, false},
        {QStringLiteral("CZipFileAnalyser"),
         [](CPdfEndMarkers*) { return std::unique_ptr<IAnalyser>(new CZipFileAnalyser); }, {1, 6, 7, 8}, nullptr,
         true},
    };
    int failures = 0;
    for (const Subject& s : subjects) {
        AnalyserConformance suite(s);
        suite.setObjectName(s.name);
        failures += QTest::qExec(&suite, argc, argv);
    }
    return failures;
}

#include "tst_AnalyserConformance.moc"
