// The search for deleted partitions alone, timed: bench-lost-partitions
// IMAGE [ROUNDS]. Reads the image's table as the scan does, searches what it
// leaves, and prints the fastest round's seconds, the reads it made and the
// volumes it found, so that bench/lost_partitions.sh can set it beside the
// plain scan of the same disk.
#include "disk/CFileVolume.h"
#include "disk/CPartitionTable.h"
#include "filesystems/CLostPartitionSearch.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// Counts the reads the search makes.
class CCountingVolume : public IVolume
{
public:
    explicit CCountingVolume(IVolume* base) : m_base(base) {}
    ReadResult read(int64_t offset, void* buffer, size_t length) override
    {
        ++reads;
        return m_base->read(offset, buffer, length);
    }
    int64_t length() const override { return m_base->length(); }
    QString name() const override { return m_base->name(); }
    long reads = 0;

private:
    IVolume* m_base;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench-lost-partitions IMAGE [ROUNDS]\n");
        return 2;
    }
    std::unique_ptr<CFileVolume> volume = CFileVolume::open(QString::fromLocal8Bit(argv[1]));
    if (!volume) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    double best = 1e9;
    long reads = 0;
    size_t found = 0;
    for (int r = 0; r < rounds; ++r) {
        CCountingVolume counting(volume.get());
        QElapsedTimer timer;
        timer.start();
        const CPartitionTable table = CPartitionTable::read(counting);
        std::vector<CLostPartitionSearch::Range> live;
        for (const CPartitionTable::Partition& p : table.partitions())
            live.push_back({p.offset, p.length});
        found = CLostPartitionSearch::search(counting, live).size();
        best = std::min(best, timer.nsecsElapsed() / 1e9);
        reads = counting.reads;
    }
    std::printf("%.4f %ld %zu\n", best, reads, found);
    return 0;
}
