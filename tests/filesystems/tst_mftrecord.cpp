#include "filesystems/CMFTRecord.h"
#include "filesystems/NtfsImageBuilder.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace ntfstest;

namespace {

struct Parsed
{
    uint32_t status = 0;
    QString name;
    int64_t firstCluster = 0;
    std::map<int64_t, int64_t> runs;
};

Parsed parse(const QByteArray& record, uint32_t clusterBytes = 4096)
{
    CMFTRecord r;
    r.setRecordGeometry(uint32_t(record.size()), clusterBytes);
    Parsed p;
    p.status = r.parseRecord(reinterpret_cast<const uint8_t*>(record.constData()), uint32_t(record.size()), false);
    p.name = r.name();
    p.firstCluster = r.firstCluster();
    p.runs = r.runMap();
    return p;
}

} // namespace

class TestMftRecord : public QObject
{
    Q_OBJECT
private slots:
    void liveFileGivesNameAndRuns();
    void updateSequenceRestoresSectorEnds();
    void updateSequenceMismatchIsBadRecord();
    void runListRules();
    void startIsFirstRunOfUnnamedStream();
    void nameIsExactlyItsLength();
    void longNameWinsOverDosAlias();
    void recordsThatGiveNothing();
    void damagedAttributeStopsTheWalk();
    void geometryIsChecked();
    void hostileRecordsStayInBounds();
};

void TestMftRecord::liveFileGivesNameAndRuns()
{
    const QByteArray rec = RecordBuilder().standardInformation().fileName("report.pdf").data({{5000, 3}}).finish();
    const Parsed p = parse(rec);
    QCOMPARE(p.status, 0u);
    QCOMPARE(p.name, QStringLiteral("report.pdf"));
    QCOMPARE(p.firstCluster, int64_t(5000));
    QCOMPARE(p.runs.size(), size_t(1));
    QCOMPARE(p.runs.at(5000), int64_t(3 * 4096));

    // Clusters past 2^32 are kept whole.
    const int64_t far = (int64_t(1) << 33) + 5;
    const Parsed q = parse(RecordBuilder().fileName("big.zip").data({{far, uint64_t(1) << 33}}).finish());
    QCOMPARE(q.firstCluster, far);
    QCOMPARE(q.runs.at(far), (int64_t(1) << 33) * 4096);

    // A resident data value has no clusters.
    const Parsed r = parse(RecordBuilder().fileName("tiny.pdf").residentData(QByteArray(300, 'x')).finish());
    QCOMPARE(r.name, QStringLiteral("tiny.pdf"));
    QCOMPARE(r.firstCluster, int64_t(0));
    QVERIFY(r.runs.empty());
}

void TestMftRecord::updateSequenceRestoresSectorEnds()
{
    // Put the run list so that its bytes cover 510-511, the bytes the
    // update sequence number replaces on disk.
    RecordBuilder b;
    b.fileName("report.docx");
    const int dataAt = b.cursor();
    // The data header is 0x40 bytes; its run list starts right after.
    // Header byte at 506, length (2 bytes) 507-508, offset (3 bytes) 509-511.
    b.filler(uint32_t(506 - 0x40 - dataAt));
    QCOMPARE(b.cursor() + 0x40, 506);
    b.data({{0x123456, 0x0102}});
    const QByteArray rec = b.finish();
    // On disk the run's last offset byte is the sequence number.
    QCOMPARE(uint8_t(rec[510]), uint8_t(0x07));
    const Parsed p = parse(rec);
    QCOMPARE(p.status, 0u);
    QCOMPARE(p.firstCluster, int64_t(0x123456));
    QCOMPARE(p.runs.at(0x123456), int64_t(0x0102) * 4096);

    // The same with 4096-byte records: every 512-byte stride is protected.
    RecordBuilder big(4096);
    big.fileName("a.pdf").filler(uint32_t(2042 - 0x40 - big.cursor())).data({{0x654321, 2}});
    const Parsed q = parse(big.finish());
    QCOMPARE(q.status, 0u);
    QCOMPARE(q.firstCluster, int64_t(0x654321));
}

void TestMftRecord::updateSequenceMismatchIsBadRecord()
{
    QByteArray rec = RecordBuilder().fileName("report.pdf").data({{5000, 3}}).finish();
    rec[1022] = char(0x08); // a torn write: the second sector is of another generation
    const Parsed p = parse(rec);
    QCOMPARE(p.status, 87u);
    QVERIFY(p.name.isEmpty());
    QCOMPARE(p.firstCluster, int64_t(0));

    // An array that does not cover the record is no better.
    QByteArray shortArray = RecordBuilder().fileName("report.pdf").data({{5000, 3}}).finish();
    put16(shortArray, 0x06, 2);
    QCOMPARE(parse(shortArray).status, 87u);
}

void TestMftRecord::runListRules()
{
    // A negative offset gives the lower cluster; both runs are kept.
    Parsed p = parse(RecordBuilder().fileName("a.pdf").data({{9000, 2}, {9000 - 16, 1}}).finish());
    QCOMPARE(p.runs.size(), size_t(2));
    QCOMPARE(p.runs.at(8984), int64_t(4096));
    QCOMPARE(p.runs.at(9000), int64_t(2 * 4096));

    // A sparse run ends the list: later runs are not recorded.
    p = parse(RecordBuilder().fileName("a.pdf").data({{700, 4}, {-1, 8}, {900, 1}}).finish());
    QCOMPARE(p.runs.size(), size_t(1));
    QCOMPARE(p.firstCluster, int64_t(700));

    // A file that begins with a hole has no start on the volume.
    p = parse(RecordBuilder().fileName("a.pdf").data({{-1, 8}, {900, 1}}).finish());
    QCOMPARE(p.firstCluster, int64_t(0));
    QVERIFY(p.runs.empty());

    // Fields wider than 8 bytes, or running past the attribute, end it.
    QByteArray wide;
    wide.append(char(0x19)); // 9 length bytes
    wide.append(QByteArray(10, char(1)));
    wide.append(char(0));
    p = parse(RecordBuilder().fileName("a.pdf").rawData(wide).finish());
    QCOMPARE(p.status, 0u);
    QVERIFY(p.runs.empty());

    // An offset that would lead below cluster 0 ends the list.
    QByteArray below = encodeRuns({{10, 1}});
    below.chop(1);
    below.append(QByteArray::fromHex("1101e000")); // 1 cluster at 10 - 32
    p = parse(RecordBuilder().fileName("a.pdf").rawData(below).finish());
    QCOMPARE(p.runs.size(), size_t(1));
    QCOMPARE(p.firstCluster, int64_t(10));
}

void TestMftRecord::startIsFirstRunOfUnnamedStream()
{
    // Fragmented: the second piece lies lower on the volume. The document
    // begins in the first piece.
    Parsed p = parse(RecordBuilder().fileName("thesis.docx").data({{6000, 2}, {1200, 3}}).finish());
    QCOMPARE(p.firstCluster, int64_t(6000));
    QCOMPARE(p.runs.begin()->first, int64_t(1200));

    // A named stream lower on disk, before or after the unnamed one, does
    // not move the start and is not mixed into the runs.
    p = parse(RecordBuilder()
                  .fileName("thesis.docx")
                  .data({{300, 1}}, 0, QStringLiteral("Zone.Identifier"))
                  .data({{6000, 2}})
                  .finish());
    QCOMPARE(p.firstCluster, int64_t(6000));
    QCOMPARE(p.runs.size(), size_t(1));

    // A data attribute that holds a later piece of the file (starting VCN
    // not 0) gives no start.
    p = parse(RecordBuilder().fileName("a.pdf").data({{4000, 2}}, 16).finish());
    QCOMPARE(p.firstCluster, int64_t(0));
}

void TestMftRecord::nameIsExactlyItsLength()
{
    // A shorter name written over a longer one leaves the old tail in the
    // value: only the counted units are the name.
    Parsed p = parse(RecordBuilder().fileName("a.docx", 1, 6, QByteArray("C\0x\0", 4)).finish());
    QCOMPARE(p.name, QStringLiteral("a.docx"));

    // Long and non-Latin names are kept whole.
    const QString longName = QStringLiteral("年度报告 ") + QString(200, QChar('x')) + QStringLiteral(".pptx");
    p = parse(RecordBuilder().fileName(longName).data({{50, 1}}).finish());
    QCOMPARE(p.name, longName);

    // A length byte that runs past the value is a damaged name.
    p = parse(RecordBuilder().fileName("a.pdf", 1, 40).data({{50, 1}}).finish());
    QVERIFY(p.name.isEmpty());
}

void TestMftRecord::longNameWinsOverDosAlias()
{
    Parsed p = parse(RecordBuilder().fileName("REPORT~1.DOC", 2).fileName("report.docx", 1).finish());
    QCOMPARE(p.name, QStringLiteral("report.docx"));
    p = parse(RecordBuilder().fileName("report.docx", 1).fileName("REPORT~1.DOC", 2).finish());
    QCOMPARE(p.name, QStringLiteral("report.docx"));
    p = parse(RecordBuilder().fileName("REPORT~1.DOC", 2).finish());
    QCOMPARE(p.name, QStringLiteral("REPORT~1.DOC"));
}

void TestMftRecord::recordsThatGiveNothing()
{
    for (uint16_t flags : {0, 2, 3, 4}) {
        const Parsed p = parse(RecordBuilder(1024, flags).fileName("a.pdf").data({{5000, 3}}).finish());
        QCOMPARE(p.status, 0u);
        QVERIFY(p.name.isEmpty());
        QCOMPARE(p.firstCluster, int64_t(0));
        QVERIFY(p.runs.empty());
    }
    QByteArray bad = RecordBuilder().fileName("a.pdf").data({{5000, 3}}).finish();
    bad.replace(0, 4, "BAAD");
    QCOMPARE(parse(bad).status, 87u);

    CMFTRecord r;
    QCOMPARE(r.parseRecord(nullptr, 1024, false), 87u);
    QCOMPARE(r.parseRecord(reinterpret_cast<const uint8_t*>(bad.constData()), 1000, false), 87u);
}

void TestMftRecord::damagedAttributeStopsTheWalk()
{
    // An attribute length of 2000 in a 1024-byte record: what came before
    // stays, nothing after it is read.
    RecordBuilder b;
    b.fileName("report.pdf");
    const int at = b.cursor();
    b.data({{5000, 3}});
    QByteArray rec = b.finish();
    put32(rec, at + 4, 2000);
    const Parsed p = parse(rec);
    QCOMPARE(p.status, 0u);
    QCOMPARE(p.name, QStringLiteral("report.pdf"));
    QCOMPARE(p.firstCluster, int64_t(0));

    // A zero length would never move on.
    RecordBuilder z;
    z.fileName("x.pdf");
    const int zat = z.cursor();
    z.data({{5000, 3}});
    QByteArray zero = z.finish();
    put32(zero, zat + 4, 0);
    QCOMPARE(parse(zero).firstCluster, int64_t(0));

    // A value offset beyond the attribute.
    RecordBuilder v;
    const int vat = v.cursor();
    v.fileName("y.pdf").data({{5000, 3}});
    QByteArray value = v.finish();
    put16(value, vat + 0x14, 0x3F0);
    const Parsed pv = parse(value);
    QVERIFY(pv.name.isEmpty());
}

void TestMftRecord::geometryIsChecked()
{
    CMFTRecord r;
    QCOMPARE(r.setRecordGeometry(1024, 0), 87u);
    QCOMPARE(r.setRecordGeometry(1023, 4096), 87u);
    QCOMPARE(r.setRecordGeometry(0, 4096), 87u);
    QCOMPARE(r.setRecordGeometry(1024, 4095), 87u);
    QCOMPARE(r.recordSize(), 1024u);
    QCOMPARE(r.setRecordGeometry(4096, 65536), 0u);
    QCOMPARE(r.recordSize(), 4096u);
    QCOMPARE(r.bytesPerCluster(), 65536u);
}

void TestMftRecord::hostileRecordsStayInBounds()
{
    // Valid headers and update sequences around random attribute bytes:
    // the sanitizer build catches any read or write outside the record.
    QRandomGenerator rng(4);
    const QByteArray base = RecordBuilder().fileName("seed.pdf").data({{5000, 3}}).finish();
    int parsed = 0;
    for (int round = 0; round < 20000; ++round) {
        QByteArray rec = base;
        const int flips = 1 + int(rng.bounded(40));
        for (int i = 0; i < flips; ++i)
            rec[0x38 + int(rng.bounded(1024 - 0x38))] = char(rng.bounded(256));
        // Keep the sector ends matching so that the walk runs.
        put16(rec, 510, 0x0007);
        put16(rec, 1022, 0x0007);
        std::vector<uint8_t> exact(rec.begin(), rec.end());
        CMFTRecord r;
        r.setRecordGeometry(1024, 4096);
        if (r.parseRecord(exact.data(), uint32_t(exact.size()), false) == 0)
            ++parsed;
        QVERIFY(r.firstCluster() >= 0);
    }
    QVERIFY(parsed > 0);
}

QTEST_APPLESS_MAIN(TestMftRecord)
#include "tst_mftrecord.moc"
