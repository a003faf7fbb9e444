#include "disk/CMemoryVolume.h"
#include "filesystems/CNtfsScanner.h"
#include "filesystems/NtfsImageBuilder.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QtTest>

using namespace ntfstest;

namespace {

using Finding = QPair<long long, int>;

// A table in three runs, laid on disk out of file order:
//   records 0-7 at cluster 20, records 8-11 at cluster 60, 12-15 at 40.
QByteArray threeRunVolume(VolumeBuilder& v)
{
    v.clusters = 7010;
    v.start();
    v.setMftCluster(20);
    const std::vector<std::pair<int64_t, uint64_t>> mftRuns = {{20, 2}, {60, 1}, {40, 1}};
    auto place = [&](int index, const QByteArray& record) {
        int64_t offset = 0;
        if (index < 8)
            offset = 20 * 4096 + index * 1024;
        else if (index < 12)
            offset = 60 * 4096 + (index - 8) * 1024;
        else
            offset = 40 * 4096 + (index - 12) * 1024;
        v.putRecord(offset, record);
    };
    place(0, RecordBuilder().standardInformation().fileName("$MFT").data(mftRuns).finish());
    place(1, RecordBuilder().fileName("report.pdf").data({{100, 1}}).finish());
    place(2, RecordBuilder(1024, 0).fileName("gone.pdf").data({{110, 1}}).finish());
    place(3, RecordBuilder().fileName("tiny.pdf").residentData(QByteArray(300, 'x')).finish());
    place(4, RecordBuilder().fileName("notes.txt").data({{120, 1}}).finish());
    place(5, RecordBuilder().fileName("noext").data({{125, 1}}).finish());
    place(8, RecordBuilder().fileName("ARCHIVE.ZIP").data({{130, 1}}).finish());
    place(9, RecordBuilder().fileName("book.odt").data({{140, 1}}).finish());
    place(12, RecordBuilder().fileName("REPORT~1.DOC", 2).fileName("report.docx").data({{7000, 2}}).finish());
    place(13, RecordBuilder(1024, 3).fileName("Docs.pdf").finish());
    return v.image;
}


QList<Finding> scanVolume(const QByteArray& image, uint32_t window = 0,
                          std::function<void(CNtfsScanner&, const Finding&)> onFinding = {})
{
    CMemoryVolume volume(image);
    CNotifyFileNode relay;
    CNtfsScanner scanner(&volume, &relay);
    if (window)
        scanner.setWindowSize(window);
    QList<Finding> found;
    QObject::connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem),
                     [&](long long sector, int code) {
                         found.append({sector, code});
                         if (onFinding)
                             onFinding(scanner, found.last());
                     });
    scanner.scan();
    return found;
}

} // namespace

class TestNtfsScanner : public QObject
{
    Q_OBJECT
private slots:
    void reportsLiveDocumentsOfEveryRun();
    void geometryIsDecodedAsTheFormatDefinesIt();
    void largeSectorsAndRecordsReportIn512ByteUnits();
    void wrongTableGivesNothing();
    void stopDuringTheWalkEmitsNothingMore();
    void deletedRecordsGiveTheirLayoutOrSayItIsNotWhole();
};

void TestNtfsScanner::reportsLiveDocumentsOfEveryRun()
{
    VolumeBuilder v;
    const QByteArray image = threeRunVolume(v);
    const QList<Finding> expected = {{800, 5}, {56000, 6}, {1040, 1}, {1120, 100}};
    QCOMPARE(scanVolume(image), expected);
    // Windows smaller than a run: records on both sides of every window end.
    QCOMPARE(scanVolume(image, 2048), expected);
    QCOMPARE(scanVolume(image, 1024), expected);
}

void TestNtfsScanner::geometryIsDecodedAsTheFormatDefinesIt()
{
    auto decode = [](uint16_t bps, uint8_t spc, int8_t record, uint64_t mft, CNtfsScanner::Geometry* out) {
        QByteArray s(512, 0);
        put16(s, 0x0B, bps);
        s[0x0D] = char(spc);
        put64(s, 0x30, mft);
        s[0x40] = char(record);
        CNtfsScanner::Geometry g;
        const bool ok = CNtfsScanner::decodeBootSector(reinterpret_cast<const uint8_t*>(s.constData()), 512, g);
        if (out)
            *out = g;
        return ok;
    };
    CNtfsScanner::Geometry g;
    QVERIFY(decode(512, 8, -10, 4, &g));
    QCOMPARE(g.bytesPerCluster, 4096u);
    QCOMPARE(g.recordSize, 1024u);
    // 128 is a plain count (64 KiB clusters), above it a shift.
    QVERIFY(decode(512, 0x80, -10, 4, &g));
    QCOMPARE(g.bytesPerCluster, 65536u);
    QVERIFY(decode(512, 0xFC, -10, 4, &g));
    QCOMPARE(g.bytesPerCluster, 8192u);
    // A positive record byte counts clusters.
    QVERIFY(decode(4096, 1, 1, 4, &g));
    QCOMPARE(g.recordSize, 4096u);
    QVERIFY(decode(4096, 1, -12, 4, &g));
    QCOMPARE(g.recordSize, 4096u);

    // Zero or absurd geometry.
    QVERIFY(!decode(0, 8, -10, 4, nullptr));
    QVERIFY(!decode(500, 8, -10, 4, nullptr));
    QVERIFY(!decode(8192, 8, -10, 4, nullptr));
    QVERIFY(!decode(512, 0, -10, 4, nullptr));
    QVERIFY(!decode(512, 3, -10, 4, nullptr));
    QVERIFY(!decode(512, 0x81, -10, 4, nullptr)); // 2^127 sectors
    QVERIFY(!decode(4096, 0xF0, -10, 4, nullptr)); // 64 MiB clusters
    QVERIFY(!decode(512, 8, 0, 4, nullptr));
    QVERIFY(!decode(512, 8, -40, 4, nullptr));
    QVERIFY(!decode(512, 8, 100, 4, nullptr)); // 400 KiB records
    QVERIFY(!decode(512, 8, -10, 0, nullptr));
    QVERIFY(!decode(512, 8, -10, ~uint64_t(0), nullptr));

    // A volume whose boot sector is absurd is simply not walked.
    VolumeBuilder v;
    QByteArray image = threeRunVolume(v);
    image[0x0D] = char(0);
    QVERIFY(scanVolume(image).isEmpty());
}

void TestNtfsScanner::largeSectorsAndRecordsReportIn512ByteUnits()
{
    // 4096-byte sectors, one per cluster, 4096-byte records.
    VolumeBuilder v;
    v.bytesPerSector = 4096;
    v.sectorsPerClusterByte = 1;
    v.recordSizeByte = -12;
    v.clusters = 300;
    v.start();
    v.setMftCluster(10);
    v.putRecord(10 * 4096, RecordBuilder(4096).fileName("$MFT").data({{10, 4}}).finish());
    v.putRecord(12 * 4096, RecordBuilder(4096).fileName("slides.pptx").data({{250, 3}}).finish());
    const QList<Finding> expected = {{250 * 8, 7}};
    QCOMPARE(scanVolume(v.image), expected);
}

void TestNtfsScanner::wrongTableGivesNothing()
{
    VolumeBuilder v;
    QByteArray image = threeRunVolume(v);
    // The boot sector points at a record of another file.
    put64(image, 0x30, 21);
    QVERIFY(scanVolume(image).isEmpty());
    // ... or beyond the volume.
    put64(image, 0x30, 1u << 30);
    QVERIFY(scanVolume(image).isEmpty());
    // A table whose runs claim far more than the volume holds is read up to
    // the volume's end, no further.
    VolumeBuilder w;
    w.clusters = 64;
    w.start();
    w.setMftCluster(20);
    w.putRecord(20 * 4096, RecordBuilder().fileName("$MFT").data({{20, uint64_t(1) << 40}}).finish());
    w.putRecord(20 * 4096 + 1024, RecordBuilder().fileName("a.xls").data({{30, 1}}).finish());
    const QList<Finding> expected = {{240, 3}};
    QCOMPARE(scanVolume(w.image), expected);
}

void TestNtfsScanner::stopDuringTheWalkEmitsNothingMore()
{
    VolumeBuilder v;
    const QByteArray image = threeRunVolume(v);
    QCOMPARE(scanVolume(image, 0, [](CNtfsScanner& s, const Finding&) { s.stop(); }).size(), 1);

    // The worker's running flag stops it as well.
    CMemoryVolume volume(image);
    CNotifyFileNode relay;
    std::atomic<bool> running{true};
    CNtfsScanner scanner(&volume, &relay, &running);
    int count = 0;
    QObject::connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem), [&](long long, int) {
        ++count;
        running = false;
    });
    scanner.scan();
    QCOMPARE(count, 1);
}

void TestNtfsScanner::deletedRecordsGiveTheirLayoutOrSayItIsNotWhole()
{
    VolumeBuilder v;
    v.clusters = 200;
    v.start();
    v.setMftCluster(20);
    auto place = [&](int number, const QByteArray& record) { v.putRecord(20 * 4096 + number * 1024, record); };
    auto deleted = [](const QString& name, uint64_t parent = 5, uint16_t parentSequence = 5) {
        return RecordBuilder(1024, 0).sequence(2).standardInformation().parent(parent, parentSequence).fileName(name);
    };
    const uint64_t C = 4096;
    place(0, RecordBuilder().fileName("$MFT").data({{20, 10}}).finish());
    place(5, RecordBuilder(1024, 3).fileName(".").finish());
    place(6, RecordBuilder().fileName("$Bitmap").data({{40, 1}}).finish());
    // Clusters 0-50 and 150 are in use.
    v.image.replace(40 * 4096, 7, QByteArray("\xFF\xFF\xFF\xFF\xFF\xFF\x07", 7));
    v.image[40 * 4096 + 18] = char(0x40);

    // Folders: A (live), A/B (deleted, its sequence moved on), and two
    // live folders that name each other as parent.
    place(16, RecordBuilder(1024, 3).sequence(1).fileName("A").finish());
    place(17, RecordBuilder(1024, 2).sequence(2).parent(16, 1).fileName("B").finish());
    place(21, RecordBuilder(1024, 3).sequence(1).parent(22, 1).fileName("L1").finish());
    place(22, RecordBuilder(1024, 3).sequence(1).parent(21, 1).fileName("L2").finish());

    // Two runs around a sparse one; the size ends inside the last cluster.
    place(18, deleted("x.pdf", 17, 1).data({{100, 2}, {-1, 1}, {120, 1}}, 0, {}, 3 * C + 2048).finish());
    // A parent reused since (sequence 7 now), half the clusters in use.
    place(19, deleted("over.docx", 16, 7).data({{150, 2}}, 0, {}, 2 * C).finish());
    place(20, deleted("loop.xls", 21, 1).data({{102, 1}}, 0, {}, C).finish());
    // A run outside the volume, runs over one another, a size past the runs.
    place(23, deleted("outside.pdf").data({{104, 1}, {190, 50}}, 0, {}, 51 * C).finish());
    place(24, deleted("overlap.ppt").data({{106, 2}, {107, 2}}, 0, {}, 4 * C).finish());
    place(25, deleted("short.pdf").data({{110, 1}}, 0, {}, 10000).finish());
    // A name that is not valid UTF-16.
    place(26, deleted(QStringLiteral("bad") + QChar(0xD800) + QStringLiteral("x.pdf")).data({{112, 1}}, 0, {}, 100).finish());
    // A run list continued in an extension record that survives ...
    place(27, deleted("list.pdf").attributeList({{0, 27 | (1ull << 48)}, {2, 28 | (1ull << 48)}})
                  .data({{60, 2}}, 0, {}, 3 * C).finish());
    place(28, RecordBuilder(1024, 0).sequence(2).base(27 | (1ull << 48)).data({{70, 1}}, 2).finish());
    // ... and one whose extension record now holds another file.
    place(29, deleted("lost.pdf").attributeList({{0, 29 | (1ull << 48)}, {1, 30 | (1ull << 48)}})
                  .data({{80, 1}}, 0, {}, 2 * C).finish());
    place(30, RecordBuilder().fileName("other.txt").data({{90, 1}}).finish());
    // Resident bytes; a document by its bytes; a file of no interest.
    place(31, deleted("tiny.pdf").residentData("%PDF-1.4 tiny").finish());
    place(32, deleted("notes.bak").residentData("%PDF-1.7 under another name").finish());
    place(33, deleted("plain.bak").residentData("hello").finish());

    CMemoryVolume volume(v.image);
    CNotifyFileNode relay;
    CNtfsScanner scanner(&volume, &relay);
    QMap<QString, CFileNode> found;
    QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem),
                     [&](const CFileNode& n) { found.insert(n.originalName, n); });
    scanner.scan();

    using E = QVector<CFileNode::Extent>;
    const CFileNode x = found.value("x.pdf");
    QCOMPARE(x.folder, QStringLiteral("/A/B"));
    QCOMPARE(x.extents, (E{{100 * 4096, 2 * 4096}, {CFileNode::Extent::kSparse, 4096}, {120 * 4096, 2048}}));
    QCOMPARE(x.size, qint64(3 * C + 2048));
    QCOMPARE(x.startSector, quint64(800));
    QVERIFY(!x.incomplete);
    QCOMPARE(x.overwritten, 0.0);

    QCOMPARE(found.value("over.docx").folder, QStringLiteral("?"));
    QCOMPARE(found.value("over.docx").overwritten, 0.5);
    QCOMPARE(found.value("loop.xls").folder, QStringLiteral("?/L2/L1"));

    QVERIFY(found.value("outside.pdf").incomplete);
    QCOMPARE(found.value("outside.pdf").extents, (E{{104 * 4096, 4096}}));
    QCOMPARE(found.value("outside.pdf").size, qint64(4096));
    QVERIFY(found.value("overlap.ppt").incomplete);
    QVERIFY(found.value("short.pdf").incomplete);
    QCOMPARE(found.value("short.pdf").size, qint64(4096));

    const QString bad = QStringLiteral("bad") + QChar(0xFFFD) + QStringLiteral("x.pdf");
    QVERIFY(found.contains(bad));
    QCOMPARE(QString::fromUtf8(bad.toUtf8()), bad);

    QCOMPARE(found.value("list.pdf").extents, (E{{60 * 4096, 2 * 4096}, {70 * 4096, 4096}}));
    QVERIFY(!found.value("list.pdf").incomplete);
    QVERIFY(found.value("lost.pdf").incomplete);
    QCOMPARE(found.value("lost.pdf").extents, (E{{80 * 4096, 4096}}));

    const CFileNode tiny = found.value("tiny.pdf");
    QVERIFY(tiny.hasResidentData);
    QCOMPARE(tiny.residentData, QByteArray("%PDF-1.4 tiny"));
    QCOMPARE(tiny.startSector, quint64((20 * 4096 + 31 * 1024) / 512));
    QCOMPARE(found.value("notes.bak").typeCode, int(CFileTypeCatalogue::Pdf));
    QVERIFY(!found.contains("plain.bak"));
    QCOMPARE(found.size(), 11);
    QCOMPARE(scanner.deletedFindings(), 11);
    for (const CFileNode& n : found)
        QCOMPARE(n.origin, int(CFileNode::OriginDeletedEntry));
}

QTEST_APPLESS_MAIN(TestNtfsScanner)
#include "tst_ntfsscanner.moc"
