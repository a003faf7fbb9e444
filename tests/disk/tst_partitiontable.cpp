// The partition-table reader on tables written by sfdisk and sgdisk, and on
// copies of them damaged the ways disks get damaged: a chain of logical
// partitions that loops, entries past the end or overlapping, GPT copies
// that fail their CRCs.

#include "disk/CMemoryVolume.h"
#include "disk/CPartitionTable.h"
#include "disk/CVolumeView.h"
#include "disk/LittleEndian.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

constexpr int64_t kSector = 512;
constexpr int64_t kDiskSectors = 16384; // 8 MiB

using Layout = QVector<QPair<int64_t, int64_t>>; // (first sector, sectors)

// An 8 MiB image whose table the named tool wrote from `input`.
QByteArray tableImage(const QString& tool, const QStringList& args, const QByteArray& input = QByteArray())
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("disk.img"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(kDiskSectors * kSector))
        return QByteArray();
    file.close();
    QProcess p;
    p.start(tool, QStringList(args) << path);
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        qWarning("%s failed: %s", qPrintable(tool), p.readAllStandardError().constData());
        return QByteArray();
    }
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// Two primaries, then an extended partition holding three logical ones.
QByteArray mbrImage()
{
    return tableImage(QStringLiteral("sfdisk"), {QStringLiteral("--quiet"), QStringLiteral("--no-reread"),
                                                 QStringLiteral("--no-tell-kernel")},
                      "label: dos\nunit: sectors\n"
                      "start=63, size=1985, type=c\n"
                      "start=2048, size=2048, type=7\n"
                      "start=4096, size=8192, type=5\n"
                      "start=6144, size=1024, type=83\n"
                      "start=8192, size=1024, type=7\n"
                      "start=10240, size=2048, type=b\n");
}

QByteArray gptImage()
{
    return tableImage(QStringLiteral("sgdisk"),
                      {QStringLiteral("-n"), QStringLiteral("1:2048:4095"), QStringLiteral("-t"), QStringLiteral("1:0700"),
                       QStringLiteral("-n"), QStringLiteral("2:4096:8191"), QStringLiteral("-t"), QStringLiteral("2:0700"),
                       QStringLiteral("-n"), QStringLiteral("3:8192:16000"), QStringLiteral("-t"), QStringLiteral("3:8300")});
}

CPartitionTable readTable(const QByteArray& bytes, int64_t length = -1)
{
    CMemoryVolume volume(bytes, length < 0 ? bytes.size() : length);
    return CPartitionTable::read(volume);
}

Layout layoutOf(const CPartitionTable& table)
{
    Layout layout;
    for (const CPartitionTable::Partition& p : table.partitions())
        layout.append({p.offset / kSector, p.length / kSector});
    return layout;
}

QList<int> numbersOf(const CPartitionTable& table)
{
    QList<int> numbers;
    for (const CPartitionTable::Partition& p : table.partitions())
        numbers.append(p.number);
    return numbers;
}

void putU32(QByteArray& bytes, int64_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<int>(at + i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

uint32_t getU32(const QByteArray& bytes, int64_t at)
{
    return le::u32(reinterpret_cast<const uint8_t*>(bytes.constData() + at));
}

int64_t mbrEntry(int64_t sector, int index)
{
    return sector * kSector + CPartitionTable::kMbrEntriesOffset + index * CPartitionTable::kMbrEntrySize;
}

} // namespace

class TestPartitionTable : public QObject
{
    Q_OBJECT
private slots:
    void readsMbrPrimariesAndLogicalChain();
    void damagedMbrIsReportedAndWhatIsSoundIsKept();
    void readsGptAndFallsBackToItsBackup();
    void noTableIsNoProblem();
    void viewReadsOnlyItsStretch();
};

void TestPartitionTable::readsMbrPrimariesAndLogicalChain()
{
    const QByteArray image = mbrImage();
    QVERIFY(!image.isEmpty());
    const CPartitionTable table = readTable(image);
    QCOMPARE(table.scheme(), CPartitionTable::Scheme::Mbr);
    QCOMPARE(table.problems(), QStringList());
    // As mmls and Linux number them; the extended container is no partition.
    QCOMPARE(layoutOf(table), (Layout{{63, 1985}, {2048, 2048}, {6144, 1024}, {8192, 1024}, {10240, 2048}}));
    QCOMPARE(numbersOf(table), (QList<int>{1, 2, 5, 6, 7}));
    QCOMPARE(table.partitions().at(4).mbrType, uint8_t(0x0b));
}

void TestPartitionTable::damagedMbrIsReportedAndWhatIsSoundIsKept()
{
    const QByteArray image = mbrImage();
    QVERIFY(!image.isEmpty());
    // The links of the chain: the first at the extended partition's start,
    // each one naming the next relative to that start.
    const int64_t firstLink = 4096;
    const int64_t secondLink = firstLink + getU32(image, mbrEntry(firstLink, 1) + CPartitionTable::kMbrStartField);
    QVERIFY(secondLink > firstLink && secondLink < 10240);

    {
        // The second link names itself as the next: read once, then stop.
        QByteArray looped = image;
        putU32(looped, mbrEntry(secondLink, 1) + CPartitionTable::kMbrStartField,
               static_cast<uint32_t>(secondLink - firstLink));
        const CPartitionTable table = readTable(looped);
        QCOMPARE(numbersOf(table), (QList<int>{1, 2, 5, 6}));
        QCOMPARE(table.problems().size(), 1);
        QVERIFY2(table.problems().first().contains(QStringLiteral("loops")), qPrintable(table.problems().first()));
    }
    {
        // A link without its 55AA mark ends the chain there.
        QByteArray broken = image;
        broken[static_cast<int>(secondLink * kSector + CPartitionTable::kMbrSignatureOffset)] = 0;
        const CPartitionTable table = readTable(broken);
        QCOMPARE(numbersOf(table), (QList<int>{1, 2, 5}));
        QCOMPARE(table.problems().size(), 1);
    }
    {
        // The image cut inside logical partition 7, and after the second
        // link: 7 is cut short and said to be; a cut before a link says so.
        const CPartitionTable cut = readTable(image, 11000 * kSector);
        QCOMPARE(layoutOf(cut), (Layout{{63, 1985}, {2048, 2048}, {6144, 1024}, {8192, 1024}, {10240, 760}}));
        QCOMPARE(cut.problems().size(), 1);
        QVERIFY(cut.problems().first().contains(QStringLiteral("past the end")));
        const CPartitionTable shorter = readTable(image, 7000 * kSector);
        QCOMPARE(layoutOf(shorter), (Layout{{63, 1985}, {2048, 2048}, {6144, 856}}));
        QCOMPARE(shorter.problems().size(), 2);
        QVERIFY2(shorter.problems().at(1).contains(QStringLiteral("link of logical partitions at sector %1").arg(secondLink)),
                 qPrintable(shorter.problems().join(" / ")));
    }
    {
        // Primary 2 moved into primary 1, primary 1 moved past the end.
        QByteArray overlapping = image;
        putU32(overlapping, mbrEntry(0, 1) + CPartitionTable::kMbrStartField, 1000);
        CPartitionTable table = readTable(overlapping);
        QCOMPARE(layoutOf(table).at(1), (QPair<int64_t, int64_t>(1000, 2048)));
        QVERIFY(table.problems().join(' ').contains(QStringLiteral("partitions 1 and 2 overlap")));
        putU32(overlapping, mbrEntry(0, 0) + CPartitionTable::kMbrStartField, 0x7FFFFFFF);
        table = readTable(overlapping);
        QCOMPARE(numbersOf(table), (QList<int>{2, 5, 6, 7}));
        QVERIFY(table.problems().join(' ').contains(QStringLiteral("partition 1 starts past the end")));
    }
    {
        // Primary 2 repeated in the free fourth slot: one volume. Then the
        // copy longer: still one, over the longer length.
        QByteArray repeated = image;
        repeated.replace(int(mbrEntry(0, 3)), CPartitionTable::kMbrEntrySize,
                         image.mid(int(mbrEntry(0, 1)), CPartitionTable::kMbrEntrySize));
        CPartitionTable table = readTable(repeated);
        QCOMPARE(layoutOf(table), layoutOf(readTable(image)));
        QCOMPARE(table.problems(), QStringList{QStringLiteral("partition 4 repeats partition 2; it is read once.")});
        putU32(repeated, mbrEntry(0, 3) + CPartitionTable::kMbrCountField, 4000);
        table = readTable(repeated);
        QCOMPARE(numbersOf(table), (QList<int>{1, 2, 5, 6, 7}));
        QCOMPARE(layoutOf(table).at(1), (QPair<int64_t, int64_t>(2048, 4000)));
        QVERIFY(table.problems().join(' ').contains(QStringLiteral("partitions 2 and 4 start on the same sector")));
    }
}

void TestPartitionTable::readsGptAndFallsBackToItsBackup()
{
    const QByteArray image = gptImage();
    QVERIFY(!image.isEmpty());
    const Layout expected{{2048, 2048}, {4096, 4096}, {8192, 7809}};
    const CPartitionTable table = readTable(image);
    QCOMPARE(table.scheme(), CPartitionTable::Scheme::Gpt);
    QCOMPARE(table.problems(), QStringList());
    QCOMPARE(layoutOf(table), expected);
    QCOMPARE(numbersOf(table), (QList<int>{1, 2, 3}));

    const int64_t primaryHeader = kSector;
    const int64_t primaryEntries = 2 * kSector;
    const int64_t backupHeader = (kDiskSectors - 1) * kSector;
    {
        // A flipped bit in the primary header, then in its entries: the
        // backup is used and the damage reported.
        for (int64_t at : {primaryHeader + 40, primaryEntries + 33}) {
            QByteArray damaged = image;
            damaged[static_cast<int>(at)] = static_cast<char>(damaged.at(static_cast<int>(at)) ^ 0x01);
            const CPartitionTable fallback = readTable(damaged);
            QCOMPARE(fallback.scheme(), CPartitionTable::Scheme::Gpt);
            QCOMPARE(layoutOf(fallback), expected);
            QCOMPARE(fallback.problems().size(), 1);
            QVERIFY2(fallback.problems().first().contains(QStringLiteral("backup")),
                     qPrintable(fallback.problems().first()));
        }
    }
    {
        // Both headers fail their CRCs: no partition, one clear problem.
        QByteArray damaged = image;
        for (int64_t at : {primaryHeader + 40, backupHeader + 40})
            damaged[static_cast<int>(at)] = static_cast<char>(damaged.at(static_cast<int>(at)) ^ 0x01);
        const CPartitionTable none = readTable(damaged);
        QCOMPARE(none.scheme(), CPartitionTable::Scheme::Gpt);
        QVERIFY(none.partitions().empty());
        QCOMPARE(none.problems().size(), 1);
        QVERIFY(none.problems().first().contains(QStringLiteral("both copies")));
    }
    {
        // The image cut before the backup: the primary alone is enough, and
        // a partition reaching past the cut is cut with it.
        const CPartitionTable cut = readTable(image, 12000 * kSector);
        QCOMPARE(layoutOf(cut), (Layout{{2048, 2048}, {4096, 4096}, {8192, 3808}}));
        QCOMPARE(cut.problems().size(), 1);
    }
    QCOMPARE(CPartitionTable::crc32(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
}

void TestPartitionTable::noTableIsNoProblem()
{
    // Zeros; a lone boot sector whose boot code makes no entries; a sector
    // too short to hold a table.
    QByteArray boot(64 * 1024, '\0');
    boot[510] = 0x55;
    boot[511] = static_cast<char>(0xAA);
    std::memset(boot.data() + CPartitionTable::kMbrEntriesOffset, 0x3C, 64);
    for (const QByteArray& bytes : {QByteArray(64 * 1024, '\0'), boot, QByteArray(100, '\x55')}) {
        const CPartitionTable table = readTable(bytes);
        QCOMPARE(table.scheme(), CPartitionTable::Scheme::None);
        QVERIFY(table.partitions().empty());
        QCOMPARE(table.problems(), QStringList());
    }
}

void TestPartitionTable::viewReadsOnlyItsStretch()
{
    QByteArray bytes(4096, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i / 512);
    auto base = std::make_shared<CMemoryVolume>(bytes);
    CVolumeView view(base, 1024, 8192); // cut at the base's end
    QCOMPARE(view.length(), int64_t(3072));
    char buffer[2048];
    IVolume::ReadResult r = view.read(0, buffer, 10);
    QCOMPARE(r.bytes, int64_t(10));
    QCOMPARE(buffer[0], char(2));
    r = view.read(2560, buffer, sizeof buffer);
    QCOMPARE(r.bytes, int64_t(512));
    QCOMPARE(buffer[0], char(7));
    QCOMPARE(view.read(3072, buffer, 1).bytes, int64_t(0));
    QVERIFY(view.read(-1, buffer, 1).error != 0);
    QCOMPARE(CVolumeView(base, 5000, 10).length(), int64_t(0));
}

QTEST_GUILESS_MAIN(TestPartitionTable)
#include "tst_partitiontable.moc"
