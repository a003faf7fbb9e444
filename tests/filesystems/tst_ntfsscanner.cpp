#include "disk/CMemoryVolume.h"
#include "filesystems/CNtfsScanner.h"
#include "filesystems/NtfsImageBuilder.h"
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

QTEST_APPLESS_MAIN(TestNtfsScanner)
#include "tst_ntfsscanner.moc"
