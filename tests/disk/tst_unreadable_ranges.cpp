#include "disk/CUnreadableRanges.h"

#include <QtTest>

#include <limits>

using Range = CUnreadableRanges::Range;

class TestUnreadableRanges : public QObject
{
    Q_OBJECT
private slots:
    // The same bad sectors failing again, neighbours failing later, and a
    // stretch that bridges two: one sorted list without overlaps, whose
    // total is the bytes that really failed.
    void rangesMergeAndCountEachByteOnce()
    {
        CUnreadableRanges r;
        r.add(8192, 512);
        r.add(1024, 512);
        r.add(8192, 512);
        r.add(1536, 512);   // touches the one before it
        r.add(4096, 0);     // nothing
        r.add(-512, 1024);  // not on the source
        QCOMPARE(r.ranges(), (QVector<Range>{{1024, 1024}, {8192, 512}}));
        QCOMPARE(r.totalBytes(), qint64(1536));
        r.add(1800, 7000); // bridges both
        QCOMPARE(r.ranges(), (QVector<Range>{{1024, 1800 + 7000 - 1024}}));
        r.add(std::numeric_limits<int64_t>::max() - 10, 100);
        QCOMPARE(r.ranges().last().end(), std::numeric_limits<int64_t>::max());
    }

    void whatADocumentTouches()
    {
        CUnreadableRanges r;
        r.add(1024, 512);
        r.add(4096, 1024);
        QVERIFY(!r.touches(0, 1024));
        QVERIFY(r.touches(0, 1025));
        QVERIFY(r.touches(1535, 1));
        QVERIFY(!r.touches(1536, 2560));
        QVERIFY(r.touches(5119, 100));
        QVERIFY(!r.touches(5120, std::numeric_limits<int64_t>::max() - 5120));
        QCOMPARE(r.within(1200, 3000), (QVector<Range>{{1200, 336}, {4096, 104}}));
        QCOMPARE(r.within(0, std::numeric_limits<int64_t>::max()), r.ranges());
        QVERIFY(r.within(2000, 0).isEmpty());
        QCOMPARE(r.text(1), QStringLiteral("1024-1535, ..."));
    }
};

QTEST_APPLESS_MAIN(TestUnreadableRanges)
#include "tst_unreadable_ranges.moc"
