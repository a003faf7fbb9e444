// The search for file systems no partition entry names, on the disks of the
// fuzz corpus (fuzz/make_lost_partition_seeds.py: NTFS, exFAT and ext4 at MiB
// boundaries, FAT32 63 sectors past a cylinder, FAT12 and FAT16 alone, made
// by their mkfs tools): every kind is found at its start with its length,
// from its backup boot sector when the main one is gone, and never over a
// live partition.
#include "FuzzVolumeImage.h"

#include "disk/CPartitionTable.h"
#include "filesystems/CLostPartitionSearch.h"

#include <QFile>
#include <QtTest>

namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr int64_t kFat32 = (2 * 16065 + 63) * 512;

std::unique_ptr<IVolume> seedDisk(const char* name)
{
    QFile f(QStringLiteral(TAMSEL_SOURCE_DIR "/fuzz/corpus/lost_partitions/") + QLatin1String(name));
    if (!f.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray bytes = f.readAll();
    fuzzimage::Image image = fuzzimage::decode(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                               static_cast<size_t>(bytes.size()), int64_t(1) << 30);
    return std::move(image.volume);
}

QStringList describe(const std::vector<CLostPartitionSearch::Found>& found)
{
    QStringList out;
    for (const CLostPartitionSearch::Found& f : found)
        out << QStringLiteral("%1 %2 %3 %4").arg(f.fileSystem).arg(f.offset).arg(f.length).arg(f.bootCopyOffset);
    return out;
}

} // namespace

class TestLostPartitionSearch : public QObject
{
    Q_OBJECT
private slots:
    void findsEveryKindOnADiskWithoutTable();
    void readsBackupsWhenTheBootSectorIsGone();
    void searchesOnlyWhatTheTableLeaves();
    void findsFat12AndFat16();
};

void TestLostPartitionSearch::findsEveryKindOnADiskWithoutTable()
{
    std::unique_ptr<IVolume> disk = seedDisk("no-table");
    QVERIFY(disk);
    QCOMPARE(CPartitionTable::read(*disk).partitions().size(), size_t(0));
    const QStringList expected{
        QStringLiteral("NTFS %1 %2 0").arg(1 * kMiB).arg(4 * kMiB),
        QStringLiteral("exFAT %1 %2 0").arg(5 * kMiB).arg(3 * kMiB),
        QStringLiteral("EXT4 %1 %2 0").arg(8 * kMiB).arg(4 * kMiB),
        QStringLiteral("FAT32 %1 %2 0").arg(kFat32).arg(34 * kMiB),
    };
    QCOMPARE(describe(CLostPartitionSearch::search(*disk, {})), expected);
}

void TestLostPartitionSearch::readsBackupsWhenTheBootSectorIsGone()
{
    // The first sectors of the FAT32 and NTFS volumes are zeros: FAT32's
    // copy at sector 6 and NTFS's at its last sector stand in.
    std::unique_ptr<IVolume> disk = seedDisk("no-table-backups");
    QVERIFY(disk);
    const std::vector<CLostPartitionSearch::Found> found = CLostPartitionSearch::search(*disk, {});
    QCOMPARE(found.size(), size_t(4));
    QCOMPARE(describe(found).at(0), QStringLiteral("NTFS %1 %2 %3").arg(1 * kMiB).arg(4 * kMiB).arg(4 * kMiB - 512));
    QCOMPARE(describe(found).at(3), QStringLiteral("FAT32 %1 %2 3072").arg(kFat32).arg(34 * kMiB));
    QCOMPARE(found[3].bootCopyLength, int64_t(512));
}

void TestLostPartitionSearch::searchesOnlyWhatTheTableLeaves()
{
    // A GPT names NTFS and ext4; exFAT's entry was deleted and FAT32 never
    // had one. Only those two are found: a live volume is never listed twice.
    std::unique_ptr<IVolume> disk = seedDisk("gpt-deleted");
    QVERIFY(disk);
    const CPartitionTable table = CPartitionTable::read(*disk);
    QCOMPARE(table.partitions().size(), size_t(2));
    std::vector<CLostPartitionSearch::Range> live;
    for (const CPartitionTable::Partition& p : table.partitions())
        live.push_back({p.offset, p.length});
    QCOMPARE(describe(CLostPartitionSearch::search(*disk, live)),
             (QStringList{QStringLiteral("exFAT %1 %2 0").arg(5 * kMiB).arg(3 * kMiB),
                          QStringLiteral("FAT32 %1 %2 0").arg(kFat32).arg(34 * kMiB)}));
    // A live entry that reaches into a stale volume's extent keeps it out.
    live.push_back({7 * kMiB, kMiB / 2});
    QCOMPARE(CLostPartitionSearch::search(*disk, live).size(), size_t(1));
}

// mkfs.fat's FAT12 at 1 MiB and FAT16 63 sectors past the first cylinder,
// each alone on a disk without a table: found by their geometry, named by
// their count of clusters.
void TestLostPartitionSearch::findsFat12AndFat16()
{
    std::unique_ptr<IVolume> fat12 = seedDisk("no-table-fat12");
    std::unique_ptr<IVolume> fat16 = seedDisk("no-table-fat16");
    QVERIFY(fat12 && fat16);
    QCOMPARE(describe(CLostPartitionSearch::search(*fat12, {})),
             QStringList{QStringLiteral("FAT12 %1 %2 0").arg(kMiB).arg(2 * kMiB)});
    QCOMPARE(describe(CLostPartitionSearch::search(*fat16, {})),
             QStringList{QStringLiteral("FAT16 %1 %2 0").arg((16065 + 63) * 512).arg(8 * kMiB)});
}

QTEST_GUILESS_MAIN(TestLostPartitionSearch)
#include "tst_lostpartitionsearch.moc"
