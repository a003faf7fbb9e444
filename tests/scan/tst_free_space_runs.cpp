#include "filesystems/CAllocationMapSet.h"
#include "scan/CFreeSpaceRuns.h"

#include <QtTest>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int64_t kUnit = CFreeSpaceRuns::kUnit;

// A map that marks whole units in use, one flag a unit.
class UnitMap : public IAllocationMap
{
public:
    explicit UnitMap(std::vector<bool> used)
        : m_used(std::move(used))
    {
    }
    bool inUse(int64_t offset) const override
    {
        return offset >= 0 && offset / kUnit < static_cast<int64_t>(m_used.size()) && m_used[offset / kUnit];
    }
    int64_t bytesInUse(int64_t offset, int64_t length) const override
    {
        int64_t total = 0;
        for (int64_t u = std::max<int64_t>(offset, 0) / kUnit; u < static_cast<int64_t>(m_used.size()); ++u) {
            const int64_t a = std::max(offset, u * kUnit), b = std::min(offset + length, (u + 1) * kUnit);
            if (a >= b)
                break;
            if (m_used[u])
                total += b - a;
        }
        return total;
    }

private:
    std::vector<bool> m_used;
};

using Runs = std::vector<std::pair<int64_t, int64_t>>; // offset, end

// What the runs must be, unit by unit: the stretches not in use, joined
// over the stretches in use between them that are shorter than
// `readThrough`.
Runs expected(const std::vector<bool>& used, int64_t length, int64_t readThrough)
{
    Runs free;
    const int64_t units = (length + kUnit - 1) / kUnit;
    for (int64_t u = 0; u < units;) {
        if (u < static_cast<int64_t>(used.size()) && used[u]) {
            ++u;
            continue;
        }
        int64_t v = u;
        while (v < units && !(v < static_cast<int64_t>(used.size()) && used[v]))
            ++v;
        free.push_back({u * kUnit, std::min(v * kUnit, length)});
        u = v;
    }
    Runs joined;
    for (const auto& r : free) {
        if (!joined.empty() && r.first - joined.back().second < readThrough)
            joined.back().second = r.second;
        else
            joined.push_back(r);
    }
    return joined;
}

Runs walk(const CFreeSpaceRuns& runs, int64_t from = 0)
{
    Runs out;
    CFreeSpaceRuns::Run run;
    int64_t at = from;
    for (int guard = 0; guard < 100000 && runs.next(at, run); ++guard) {
        out.push_back({run.offset, run.end()});
        at = run.end();
    }
    return out;
}

} // namespace

namespace QTest {
template <>
char* toString(const Runs& runs)
{
    QByteArray text;
    for (const auto& r : runs)
        text += QByteArray::number(static_cast<qlonglong>(r.first)) + '-' + QByteArray::number(static_cast<qlonglong>(r.second)) + ' ';
    return qstrdup(text.left(400).constData());
}
} // namespace QTest

class TestFreeSpaceRuns : public QObject
{
    Q_OBJECT
private slots:
    // Random layouts (long and short stretches, a source whose length is off
    // the grid): the runs are exactly the free stretches joined over short
    // ones in use, from the start and from any offset a resumed scan gives,
    // and the totals add them up; the stretches carved inside them are the
    // free ones alone.
    void matchesUnitByUnitReference()
    {
        std::mt19937 random(12345);
        for (int round = 0; round < 60; ++round) {
            const int64_t units = 2000 + random() % 30000;
            const int64_t length = units * kUnit - (round % 3 == 0 ? 100 : 0);
            std::vector<bool> used(static_cast<size_t>(units - random() % 50)); // past the map: not in use
            bool state = random() % 2;
            for (size_t u = 0; u < used.size();) {
                // Mostly short stretches, now and then a long one.
                const int64_t n = random() % 10 == 0 ? 1 + random() % 6000 : 1 + random() % 40;
                for (int64_t k = 0; k < n && u < used.size(); ++k, ++u)
                    used[u] = state;
                state = !state;
            }
            const int64_t readThrough = (1 + random() % 64) * kUnit;
            UnitMap map(used);
            CFreeSpaceRuns runs(map, length, readThrough);
            const Runs want = expected(used, length, readThrough);
            QCOMPARE(walk(runs), want);

            const int64_t from = static_cast<int64_t>(random() % static_cast<uint32_t>(length));
            Runs tail;
            for (const auto& r : want) {
                if (r.second > from - from % kUnit)
                    tail.push_back({std::max(r.first, from - from % kUnit), r.second});
            }
            QCOMPARE(walk(runs, from), tail);

            int64_t bytes = 0, before = 0;
            for (const auto& r : want) {
                bytes += r.second - r.first;
                before += std::max<int64_t>(0, std::min(r.second, from) - r.first);
            }
            // What is carved: the unused stretches alone, never joined.
            Runs unused;
            CFreeSpaceRuns::Run part;
            for (int64_t at = 0; unused.size() < 100000 && runs.nextUnused(at, part); at = part.end())
                unused.push_back({part.offset, part.end()});
            QCOMPARE(unused, expected(used, length, 0));

            const CFreeSpaceRuns::Totals t = runs.totals(from);
            QCOMPARE(t.bytes, bytes);
            QCOMPARE(t.before, before);
            QCOMPARE(t.runs, static_cast<int64_t>(want.size()));
        }
    }

    // A whole disk: the partition table's sectors, the gap between two
    // partitions and the disk's tail belong to no file system and are
    // read; a partition full to its last cluster is skipped, and a short
    // live file inside free space is read through.
    void wholeDiskWithPartitions()
    {
        const int64_t mib = int64_t(1) << 20;
        std::vector<bool> first(static_cast<size_t>(8 * mib / kUnit), true);  // full
        std::vector<bool> second(static_cast<size_t>(16 * mib / kUnit), false);
        for (size_t u = 0; u < second.size() / 2; ++u)
            second[u] = true;                       // 8 MiB of live files,
        for (size_t u = 0; u < 64; ++u)
            second[second.size() * 3 / 4 + u] = true; // and 32 KiB of one more
        CAllocationMapSet set;
        QVERIFY(set.add(1 * mib, 8 * mib, std::make_shared<UnitMap>(first)));
        QVERIFY(set.add(10 * mib, 16 * mib, std::make_shared<UnitMap>(second)));
        CFreeSpaceRuns runs(set, 30 * mib + 1000);
        const Runs want{{0, 1 * mib}, {9 * mib, 10 * mib}, {18 * mib, 30 * mib + 1000}};
        QCOMPARE(walk(runs), want);
        // A partition that no file system was read for has no map: it is
        // read whole, and the runs on each side join over it.
        CAllocationMapSet one;
        QVERIFY(one.add(10 * mib, 16 * mib, std::make_shared<UnitMap>(second)));
        QCOMPARE(walk(CFreeSpaceRuns(one, 30 * mib)), (Runs{{0, 10 * mib}, {18 * mib, 30 * mib}}));
        // Nothing free: no run at all; an empty map: the whole source.
        QCOMPARE(walk(CFreeSpaceRuns(UnitMap(std::vector<bool>(100, true)), 100 * kUnit)), Runs{});
        QCOMPARE(walk(CFreeSpaceRuns(CAllocationMapSet(), 777)), (Runs{{0, 777}}));
    }
};

QTEST_APPLESS_MAIN(TestFreeSpaceRuns)
#include "tst_free_space_runs.moc"
