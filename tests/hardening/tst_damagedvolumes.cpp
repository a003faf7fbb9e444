// Damaged and hostile volumes scanned through tamsel-cli: every scan ends,
// exits 0 and leaves no sanitizer report. tests/filesystems covers an MFT
// overwritten by noise, a root that loops onto itself and contains itself,
// and images cut in half; these are the cases it leaves out.

#include "HardeningSupport.h"

#include "disk/CFileVolume.h"
#include "disk/CMemoryVolume.h"
#include "filesystems/CFat32Scanner.h"
#include "filesystems/CNtfsScanner.h"
#include "scan/CNotifyFileNode.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>

using namespace hardening;

namespace {

QByteArray noise(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator rng(seed);
    rng.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Runs a scan and says what went wrong, or nothing.
QString scanProblem(const QString& image, const QString& fs)
{
    const Run r = cli({QStringLiteral("scan"), QStringLiteral("--fs"), fs, image});
    if (r.exitCode != 0 || hasSanitizerReport(r.err))
        return QStringLiteral("scan --fs %1 %2 -> exit %3\n%4").arg(fs, image).arg(r.exitCode).arg(r.err);
    return QString();
}

using Finding = QPair<long long, int>;

template <typename Scanner>
QList<Finding> liveDocuments(IVolume* volume)
{
    CNotifyFileNode relay;
    QList<Finding> found;
    QObject::connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem),
                     [&](long long sector, int code) { found.append({sector, code}); });
    Scanner scanner(volume, &relay);
    scanner.scan();
    std::sort(found.begin(), found.end());
    return found;
}

// The NTFS record at `offset` with the update sequence undone, and back.
QByteArray openRecord(const QByteArray& stored)
{
    QByteArray r = stored;
    const int array = u16At(r, 4);
    const int count = u16At(r, 6);
    for (int i = 1; i < count; ++i)
        r.replace(i * 512 - 2, 2, stored.mid(array + 2 * i, 2));
    return r;
}

QByteArray closeRecord(const QByteArray& open)
{
    QByteArray r = open;
    const int array = u16At(r, 4);
    const int count = u16At(r, 6);
    for (int i = 1; i < count; ++i) {
        r.replace(array + 2 * i, 2, open.mid(i * 512 - 2, 2));
        r.replace(i * 512 - 2, 2, open.mid(array, 2));
    }
    return r;
}

// Offset of the first attribute of `type` in an open record, -1 if none.
int attributeOffset(const QByteArray& record, uint32_t type)
{
    int at = u16At(record, 0x14);
    while (at + 8 <= record.size()) {
        const uint32_t t = u32At(record, at);
        const uint32_t length = u32At(record, at + 4);
        if (t == 0xFFFFFFFFu || length < 16 || at + int(length) > record.size())
            return -1;
        if (t == type)
            return at;
        at += int(length);
    }
    return -1;
}

// A FAT32 directory entry by short name inside one cluster; -1 if absent.
int entryOffset(const QByteArray& cluster, const QByteArray& shortName)
{
    for (int at = 0; at + 32 <= cluster.size(); at += 32)
        if (cluster.mid(at, 11) == shortName)
            return at;
    return -1;
}

uint32_t entryCluster(const QByteArray& cluster, int at)
{
    return (uint32_t(u16At(cluster, at + 20)) << 16) | u16At(cluster, at + 26);
}

QByteArray directoryEntry(const QByteArray& shortName, uint32_t cluster)
{
    Q_ASSERT(shortName.size() == 11);
    QByteArray e(32, 0);
    e.replace(0, 11, shortName);
    e[11] = char(0x10);
    e.replace(20, 2, le16(uint16_t(cluster >> 16)));
    e.replace(26, 2, le16(uint16_t(cluster & 0xFFFF)));
    return e;
}

} // namespace

class TestDamagedVolumes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void emptyAndTinyImages();
    void bootSectorThenRandomBytes_data();
    void bootSectorThenRandomBytes();
    void mftRunListLeavesTheVolume_data();
    void mftRunListLeavesTheVolume();
    void ntfsImageCutInsideItsMft();
    void fat32LoopsAndCyclesBelowTheRoot();
    void fat32ChainsThatMergeAreWalkedOnce();

private:
    QTemporaryDir m_dir;
    QString m_ntfs;
    QString m_fat32;
    CNtfsScanner::Geometry m_ntfsGeometry;
};

void TestDamagedVolumes::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A bare NTFS volume as mkntfs makes it: the table holds the system
    // files, which is all the damage below needs (no mount).
    m_ntfs = m_dir.filePath("ntfs.img");
    QVERIFY(run("truncate", {"-s", "16M", m_ntfs}).exitCode == 0);
    const Run made = run("mkntfs", {"-F", "-Q", "-c", "4096", "-L", "DAMAGED", m_ntfs});
    QVERIFY2(made.exitCode == 0, qPrintable(made.err));
    const QByteArray boot = readFile(m_ntfs, 0, 512);
    QVERIFY(CNtfsScanner::decodeBootSector(reinterpret_cast<const uint8_t*>(boot.constData()), 512, m_ntfsGeometry));

    m_fat32 = m_dir.filePath("fat32.img");
    const Run fat = run("bash", {script("make-fat32-volume.sh"), m_fat32});
    QVERIFY2(fat.exitCode == 0, qPrintable(fat.err));
}

void TestDamagedVolumes::emptyAndTinyImages()
{
    const QString empty = m_dir.filePath("empty.img");
    QVERIFY(writeFile(empty, QByteArray()));
    const QString random511 = m_dir.filePath("random-511.img");
    QVERIFY(writeFile(random511, noise(512, 5).left(511)));
    // A boot sector one byte short of whole.
    const QString ntfs511 = m_dir.filePath("ntfs-511.img");
    QVERIFY(writeFile(ntfs511, readFile(m_ntfs, 0, 511)));
    const QString fat511 = m_dir.filePath("fat32-511.img");
    QVERIFY(writeFile(fat511, readFile(m_fat32, 0, 511)));

    for (const QString& image : {empty, random511, ntfs511, fat511}) {
        for (const char* fs : {"auto", "NTFS", "FAT32", "none"}) {
            const QString problem = scanProblem(image, QLatin1String(fs));
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
        const QString out = m_dir.filePath("recovered-" + QFileInfo(image).baseName());
        const Run r = cli({"recover", image, out});
        // 3: damaged documents were left out, the others written.
        QVERIFY2((r.exitCode == 0 || r.exitCode == 3) && !hasSanitizerReport(r.err), qPrintable(image + ": " + r.err));
    }
}

void TestDamagedVolumes::bootSectorThenRandomBytes_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("keep"); // bytes of the real volume kept before the noise
    QTest::newRow("NTFS boot sector") << m_ntfs << 512;
    // Record 0 stays true, so the walk goes on into a table of noise.
    QTest::newRow("NTFS boot sector and record 0")
        << m_ntfs << int(m_ntfsGeometry.mftCluster * m_ntfsGeometry.bytesPerCluster + m_ntfsGeometry.recordSize);
    // The FAT and the root cluster lie inside the noise.
    QTest::newRow("FAT32 boot sector") << m_fat32 << 512;
}

void TestDamagedVolumes::bootSectorThenRandomBytes()
{
    QFETCH(QString, source);
    QFETCH(int, keep);
    const QString image = m_dir.filePath("boot-then-noise.img");
    QVERIFY(writeFile(image, readFile(source, 0, keep) + noise(16 * 1024 * 1024, 11)));
    for (const char* fs : {"auto", "NTFS", "FAT32"}) {
        const QString problem = scanProblem(image, QLatin1String(fs));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
}

void TestDamagedVolumes::mftRunListLeavesTheVolume_data()
{
    QTest::addColumn<QByteArray>("runs");
    QTest::addColumn<bool>("readsBounded");
    // 0x31: one byte of length, three of offset.
    QTest::newRow("first run off the volume") << QByteArray::fromHex("3140ffff7f00") << false;
    // 0x18: eight bytes of length, one of offset: 2^48 clusters from the
    // table's true start.
    QTest::newRow("run far past the end")
        << QByteArray::fromHex("18ffffffffffff00000400") << false;
    // Many runs that each claim the rest of the volume from a slightly
    // different start: each byte must still be read at most once.
    QByteArray overlapping = QByteArray::fromHex("1200f004"); // 0xF000 clusters at cluster 4
    for (int i = 0; i < 150; ++i)
        overlapping += QByteArray::fromHex("1200f001"); // each one cluster further on
    overlapping += char(0);
    QTest::newRow("overlapping runs") << overlapping << true;
}

void TestDamagedVolumes::mftRunListLeavesTheVolume()
{
    QFETCH(QByteArray, runs);
    QFETCH(bool, readsBounded);
    const QString image = m_dir.filePath("mft-runs.img");
    QVERIFY(copyFile(m_ntfs, image));
    const qint64 mft = qint64(m_ntfsGeometry.mftCluster) * m_ntfsGeometry.bytesPerCluster;
    QByteArray record = openRecord(readFile(image, mft, m_ntfsGeometry.recordSize));
    const int data = attributeOffset(record, 0x80);
    QVERIFY(data > 0);
    const int runList = data + u16At(record, data + 0x20);
    // The data attribute is rewritten to hold the new run list and ends the
    // record (the bitmap after it is not needed for the walk).
    const int length = ((runList - data + runs.size()) + 7) & ~7;
    QVERIFY(data + length + 8 <= record.size());
    record.replace(data + 4, 4, le32(uint32_t(length)));
    record.replace(runList, runs.size(), runs);
    record.replace(data + length, 4, le32(0xFFFFFFFFu));
    QVERIFY(patchFile(image, mft, closeRecord(record)));

    for (const char* fs : {"auto", "NTFS"}) {
        const QString problem = scanProblem(image, QLatin1String(fs));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }

    if (readsBounded) {
        // Counted in bytes, not seconds: the walk reads the table's bytes
        // once however many runs claim them.
        CMemoryVolume volume(readFile(image));
        std::atomic<int64_t> bytesRead{0};
        volume.setReadHook([&](int64_t, size_t n) { bytesRead += int64_t(n); });
        CNotifyFileNode relay;
        CNtfsScanner scanner(&volume, &relay);
        // The table's walk alone: the search for an older table reads the
        // zone after this one besides, bounded on its own.
        scanner.setSearchFormerTable(false);
        scanner.scan();
        QVERIFY2(bytesRead.load() <= volume.length() + 2 * m_ntfsGeometry.recordSize,
                 qPrintable(QString::number(bytesRead.load())));
    }
}

void TestDamagedVolumes::ntfsImageCutInsideItsMft()
{
    const qint64 mft = qint64(m_ntfsGeometry.mftCluster) * m_ntfsGeometry.bytesPerCluster;
    const qint64 record = m_ntfsGeometry.recordSize;
    // Inside record 0, inside a later record, and at a record's end.
    for (qint64 cut : {mft + 512, mft + 5 * record + 700, mft + 16 * record}) {
        const QString image = m_dir.filePath("ntfs-cut.img");
        QVERIFY(copyFile(m_ntfs, image));
        QVERIFY(QFile::resize(image, cut));
        for (const char* fs : {"auto", "NTFS"}) {
            const QString problem = scanProblem(image, QLatin1String(fs));
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }
}

void TestDamagedVolumes::fat32LoopsAndCyclesBelowTheRoot()
{
    const QString image = m_dir.filePath("fat32-cycles.img");
    QVERIFY(copyFile(m_fat32, image));
    const QByteArray boot = readFile(image, 0, 512);
    CFat32Scanner::Geometry g;
    QVERIFY(CFat32Scanner::decodeBootSector(reinterpret_cast<const uint8_t*>(boot.constData()), 512, g));
    const int clusterBytes = int(g.clusterBytes());
    auto clusterAt = [&](uint32_t c) { return readFile(image, g.clusterOffset(c), clusterBytes); };

    // Docs, Docs/Work and Docs/Work/Deep, as the script made them.
    const QByteArray root = clusterAt(g.rootCluster);
    const int docsAt = entryOffset(root, "DOCS       ");
    QVERIFY(docsAt >= 0);
    const uint32_t docs = entryCluster(root, docsAt);
    const QByteArray docsDir = clusterAt(docs);
    const int workAt = entryOffset(docsDir, "WORK       ");
    QVERIFY(workAt >= 0);
    const uint32_t work = entryCluster(docsDir, workAt);
    const QByteArray workDir = clusterAt(work);
    const int deepAt = entryOffset(workDir, "DEEP       ");
    QVERIFY(deepAt >= 0);
    const uint32_t deep = entryCluster(workDir, deepAt);

    std::unique_ptr<CFileVolume> intact = CFileVolume::open(image);
    QVERIFY(intact);
    const QList<Finding> before = liveDocuments<CFat32Scanner>(intact.get());
    intact.reset();
    QCOMPARE(before.size(), 13);
    const Run beforeCli = cli({"scan", "--tsv", image});
    QCOMPARE(beforeCli.exitCode, 0);

    // Work's chain runs into a free (zero) cluster that leads back to Work,
    // in every FAT copy; Deep holds itself and its grandparent Docs.
    const uint32_t spare = g.highestCluster - 16;
    for (uint32_t f = 0; f < g.fatCount; ++f) {
        const qint64 fat = (qint64(g.reservedSectors) + qint64(f) * g.sectorsPerFat) * g.bytesPerSector;
        QVERIFY(patchFile(image, fat + qint64(work) * 4, le32(spare)));
        QVERIFY(patchFile(image, fat + qint64(spare) * 4, le32(work)));
    }
    const QByteArray deepDir = clusterAt(deep);
    int freeAt = 0;
    while (freeAt + 32 <= deepDir.size() && deepDir[freeAt] != 0)
        freeAt += 32;
    QVERIFY(freeAt + 64 <= deepDir.size());
    QVERIFY(patchFile(image, g.clusterOffset(deep) + freeAt,
                      directoryEntry("SELF       ", deep) + directoryEntry("UPUP       ", docs)));

    std::unique_ptr<CFileVolume> damaged = CFileVolume::open(image);
    QVERIFY(damaged);
    QCOMPARE(liveDocuments<CFat32Scanner>(damaged.get()), before);
    damaged.reset();

    const Run afterCli = cli({"scan", "--tsv", image});
    QVERIFY2(afterCli.exitCode == 0 && !hasSanitizerReport(afterCli.err), qPrintable(afterCli.err));
    QCOMPARE(afterCli.out, beforeCli.out);
}

void TestDamagedVolumes::fat32ChainsThatMergeAreWalkedOnce()
{
    // A directory of 127 sub-directories, each starting at another place
    // of one long chain: every one of them used to walk the chain to its
    // end, FAT sector by FAT sector, which grows with the square of the
    // volume. Counted in FAT reads, not seconds.
    const QString image = m_dir.filePath("fat32-merging.img");
    QVERIFY(copyFile(m_fat32, image));
    const QByteArray boot = readFile(image, 0, 512);
    CFat32Scanner::Geometry g;
    QVERIFY(CFat32Scanner::decodeBootSector(reinterpret_cast<const uint8_t*>(boot.constData()), 512, g));
    const int clusterBytes = int(g.clusterBytes());
    const qint64 fatStart = qint64(g.reservedSectors) * g.bytesPerSector;
    const qint64 fatBytes = qint64(g.sectorsPerFat) * g.bytesPerSector;

    // The chain and the new directory lie in free clusters past the ones
    // the script wrote.
    const uint32_t chainLength = 20000;
    const uint32_t many = 5000;
    const uint32_t chainStart = many + 1;
    QVERIFY(chainStart + chainLength <= g.highestCluster);
    QByteArray chain;
    for (uint32_t c = chainStart; c < chainStart + chainLength; ++c)
        chain += le32(c + 1 < chainStart + chainLength ? c + 1 : 0x0FFFFFFFu);
    QVERIFY(patchFile(image, fatStart + qint64(chainStart) * 4, chain));
    QVERIFY(patchFile(image, fatStart + qint64(many) * 4, le32(0x0FFFFFFFu)));
    QByteArray entries;
    const int perCluster = clusterBytes / 32;
    for (int i = 0; i + 1 < perCluster; ++i) {
        const QByteArray name = QStringLiteral("D%1       ").arg(i, 3, 10, QLatin1Char('0')).toLatin1();
        entries += directoryEntry(name, chainStart + uint32_t(i) * (chainLength / uint32_t(perCluster)));
    }
    QVERIFY(patchFile(image, g.clusterOffset(many), entries));
    const QByteArray root = readFile(image, g.clusterOffset(g.rootCluster), clusterBytes);
    int freeAt = 0;
    while (freeAt + 32 <= root.size() && root[freeAt] != 0)
        freeAt += 32;
    QVERIFY(freeAt + 32 <= root.size());
    QVERIFY(patchFile(image, g.clusterOffset(g.rootCluster) + freeAt, directoryEntry("MANY       ", many)));

    // Held up to the new directory; the chain's clusters read as the zeros
    // they are.
    CMemoryVolume volume(readFile(image, 0, g.clusterOffset(many) + clusterBytes), QFileInfo(image).size());
    std::atomic<int> fatReads{0};
    volume.setReadHook([&](int64_t offset, size_t) {
        if (offset >= fatStart && offset < fatStart + fatBytes)
            ++fatReads;
    });
    QCOMPARE(liveDocuments<CFat32Scanner>(&volume).size(), 13);
    // The chain spans chainLength * 4 / 512 FAT sectors; each of those is
    // read about once, plus one read per directory that starts elsewhere.
    const int chainSectors = int(chainLength * 4 / g.bytesPerSector) + 1;
    QVERIFY2(fatReads.load() <= 2 * (chainSectors + perCluster) + 64, qPrintable(QString::number(fatReads.load())));

    const QString problem = scanProblem(image, QStringLiteral("FAT32"));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestDamagedVolumes)
#include "tst_damagedvolumes.moc"
