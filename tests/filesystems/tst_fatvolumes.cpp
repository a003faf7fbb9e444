// FAT12 and FAT16 volumes made by mkfs.fat and mtools
// (tests/scripts/make-fat16-volume.sh): the FAT pass and tamsel-cli on
// them, checked against The Sleuth Kit, and the geometry checks that tell
// such a volume from other bytes.

#include "disk/CBootSectorProbe.h"
#include "disk/CFileVolume.h"
#include "disk/CMemoryVolume.h"
#include "filesystems/CFat32Scanner.h"
#include "filesystems/CFatGeometry.h"
#include "filesystems/CLostPartitionSearch.h"
#include "scan/CFileNode.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

namespace {

QString run(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput()) + QString::fromUtf8(p.readAllStandardError());
}

QByteArray icat(const QString& image, const QString& inode)
{
    QProcess p;
    p.start("icat", {"-r", image, inode});
    p.waitForFinished(60000);
    return p.readAllStandardOutput();
}

bool isDocument(const QString& name)
{
    const QByteArray bytes = name.toUtf8();
    return CFileTypeCatalogue::typeCodeByExtension(bytes, false) != CFileTypeCatalogue::NotWanted
        || CFileTypeCatalogue::isContainerExtension(bytes, false);
}

struct TskFile
{
    QString inode;
    QString path; // "Docs/Sub/archive.zip"
};

// Files (not directories or the label) that fls lists, live or deleted.
QList<TskFile> tskFiles(const QString& image, bool deleted)
{
    QList<TskFile> files;
    const QString out = run("fls", {"-r", "-p", "-F", deleted ? "-d" : "-u", image});
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        const int tab = line.indexOf('\t');
        if (tab < 0 || line.startsWith("v/v") || line.contains("(Volume Label Entry)"))
            continue;
        const QString inode = line.left(tab - 1).section(' ', -1).section('-', 0, 0);
        files.append({inode, line.mid(tab + 1)});
    }
    return files;
}

// The first sector of a file as istat gives it; -1 when it has none.
long long tskStartSector(const QString& image, const QString& inode)
{
    const QStringList lines = run("istat", {image, inode}).split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].startsWith("Sectors:"))
            return lines[i + 1].simplified().section(' ', 0, 0).toLongLong();
    }
    return -1;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestFatVolumes : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void passMatchesTheSleuthKit_data();
    void passMatchesTheSleuthKit();
    void recoverNamesEveryDeletedDocument_data();
    void recoverNamesEveryDeletedDocument();
    void lostFat16PartitionIsFound();
    void highHalfOfTheClusterIsNoPartOfIt();
    void geometryRefusesWhatIsNoVolume();

private:
    void imageRows();
    QTemporaryDir m_dir;
    QString m_fat12;
    QString m_fat16;
};

void TestFatVolumes::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const char* tool : {"fls", "istat", "icat", "mkfs.fat", "mcopy"})
        QVERIFY2(!QStandardPaths::findExecutable(tool, {"/usr/bin", "/usr/sbin", "/bin", "/sbin"}).isEmpty(), tool);
    m_fat12 = m_dir.filePath("fat12.img");
    m_fat16 = m_dir.filePath("fat16.img");
    for (const auto& [image, bits] : {std::make_pair(m_fat12, "12"), std::make_pair(m_fat16, "16")}) {
        int code = 0;
        const QString out = run("bash", {QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-fat16-volume.sh"),
                                         image, QString::fromLatin1(bits)},
                                &code);
        QVERIFY2(code == 0, qPrintable(out));
    }
}

void TestFatVolumes::imageRows()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("type");
    QTest::newRow("FAT12") << m_fat12 << "FAT12";
    QTest::newRow("FAT16") << m_fat16 << "FAT16";
}

void TestFatVolumes::passMatchesTheSleuthKit_data()
{
    imageRows();
}

// The pass names the type, lists each live document at the sector The
// Sleuth Kit gives and nothing else as live, and gives back every deleted
// document (in the fixed root, in a subfolder, in a deleted folder, and one
// whose data lies around a live file's) under its path with The Sleuth
// Kit's bytes.
void TestFatVolumes::passMatchesTheSleuthKit()
{
    QFETCH(QString, image);
    QFETCH(QString, type);
    QCOMPARE(run("fsstat", {image}).section('\n', 0, 4).contains("File System Type: " + type), true);

    std::unique_ptr<CFileVolume> volume = CFileVolume::open(image);
    QVERIFY(volume);
    QCOMPARE(CBootSectorProbe::detect(*volume), type);
    CNotifyFileNode relay;
    CFat32Scanner scanner(volume.get(), &relay);
    QList<long long> live;
    QMap<QString, CFileNode> deleted;
    QObject::connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem),
                     [&](long long sector, int) { live.append(sector); });
    QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), [&](const CFileNode& node) {
        deleted.insert(node.folder.mid(1) + (node.folder == "/" ? "" : "/") + node.originalName, node);
    });
    scanner.scan();
    QVERIFY2(scanner.failure().isEmpty(), qPrintable(scanner.failure()));
    QCOMPARE(scanner.type(), type);

    QList<long long> expectedLive;
    for (const TskFile& f : tskFiles(image, false)) {
        if (isDocument(f.path.section('/', -1)))
            expectedLive.append(tskStartSector(image, f.inode));
    }
    std::sort(live.begin(), live.end());
    std::sort(expectedLive.begin(), expectedLive.end());
    // REPORT.PDF, budget.xls, kept.pdf, MINUTES.DOC, archive.zip,
    // letter.docx.
    QCOMPARE(expectedLive.size(), 6);
    QCOMPARE(live, expectedLive);

    QStringList expectedDeleted;
    for (const TskFile& f : tskFiles(image, true)) {
        if (!isDocument(f.path.section('/', -1)))
            continue;
        expectedDeleted.append(f.path);
        QVERIFY2(deleted.contains(f.path), qPrintable(f.path + " | " + QStringList(deleted.keys()).join(" | ")));
        const CFileNode& node = deleted[f.path];
        QVERIFY(!node.incomplete);
        QCOMPARE(node.overwritten, 0.0);
        QByteArray ours;
        QFile bytes(image);
        QVERIFY(bytes.open(QIODevice::ReadOnly));
        for (const CFileNode::Extent& e : node.extents) {
            bytes.seek(e.offset);
            ours.append(bytes.read(e.length));
        }
        QVERIFY2(ours == icat(image, f.inode), qPrintable(f.path));
    }
    QCOMPARE(expectedDeleted.size(), 7);
    QCOMPARE(deleted.size(), expectedDeleted.size());
    QCOMPARE(scanner.deletedFindings(), 7);
    // Its data was taken around the live document's cluster.
    QCOMPARE(deleted["Docs/Slides for the talk.ppt"].extents.size(), 2);
}

void TestFatVolumes::recoverNamesEveryDeletedDocument_data()
{
    imageRows();
}

// What a user sees: tamsel-cli recover writes every deleted document under
// its own name, byte for byte, and none of the live ones.
void TestFatVolumes::recoverNamesEveryDeletedDocument()
{
    QFETCH(QString, image);
    QFETCH(QString, type);
    const QString out = m_dir.filePath("out-" + type);
    int code = -1;
    // FAT16 as the boot sector says it, FAT12 as asked for.
    const QStringList fs = type == "FAT12" ? QStringList{"--fs", "fat12"} : QStringList{};
    const QString said
        = run(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"), QStringList{"recover", image, out} + fs, &code);
    QCOMPARE(code, 0);
    QVERIFY2(!said.contains("file system was read"), qPrintable(said));

    QStringList written = QDir(out).entryList(QDir::Files);
    written.removeAll("report.xml");
    QStringList expected;
    for (const TskFile& f : tskFiles(image, true)) {
        const QString name = f.path.section('/', -1);
        if (!isDocument(name))
            continue;
        expected.append(name);
        QVERIFY2(readFile(QDir(out).filePath(name)) == icat(image, f.inode), qPrintable(name));
    }
    expected.sort();
    written.sort();
    QCOMPARE(written, expected);
}

// A FAT16 volume 1 MiB into a disk with no partition table left: the
// search for lost partitions finds it there, and names it.
void TestFatVolumes::lostFat16PartitionIsFound()
{
    const QByteArray volume = readFile(m_fat16);
    QVERIFY(!volume.isEmpty());
    QByteArray disk(CLostPartitionSearch::kAlignment, '\0');
    disk.append(volume);
    CMemoryVolume memory(disk);
    const std::vector<CLostPartitionSearch::Found> found = CLostPartitionSearch::search(memory, {});
    QCOMPARE(found.size(), size_t(1));
    QCOMPARE(found[0].fileSystem, QStringLiteral("FAT16"));
    QCOMPARE(found[0].offset, CLostPartitionSearch::kAlignment);
    QCOMPARE(found[0].length, int64_t(volume.size()));

    // The scan of the disk says so, and its pass lists every document, the
    // live ones included (the partition is lost), by name.
    const QString diskPath = m_dir.filePath("lost-fat16.img");
    QFile diskFile(diskPath);
    QVERIFY(diskFile.open(QIODevice::WriteOnly));
    QCOMPARE(diskFile.write(disk), qint64(disk.size()));
    diskFile.close();
    int code = -1;
    const QString said = run(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"), {"scan", diskPath}, &code);
    QCOMPARE(code, 0);
    QVERIFY2(said.contains("Found a deleted FAT16 partition at sector 2048"), qPrintable(said));
    int named = 0;
    for (bool deleted : {false, true}) {
        for (const TskFile& f : tskFiles(m_fat16, deleted)) {
            const QString name = f.path.section('/', -1);
            if (!isDocument(name))
                continue;
            ++named;
            QVERIFY2(said.contains(name), qPrintable(name + "\n" + said));
        }
    }
    QCOMPARE(named, 13);

    // Its table no longer begins with the media byte: no volume.
    CFatGeometry g;
    QVERIFY(CFatGeometry::decode(reinterpret_cast<const uint8_t*>(volume.constData()), 512, g));
    disk[int(CLostPartitionSearch::kAlignment + g.fatOffset())] = char(0x00);
    CMemoryVolume damaged(disk);
    QVERIFY(CLostPartitionSearch::search(damaged, {}).empty());
}

// On FAT12 and FAT16 the high half of an entry's cluster field is not the
// cluster's (OS/2 kept other things there): set in every entry of the
// root, it changes nothing of what the pass finds.
void TestFatVolumes::highHalfOfTheClusterIsNoPartOfIt()
{
    QByteArray image = readFile(m_fat16);
    CFatGeometry g;
    QVERIFY(CFatGeometry::decode(reinterpret_cast<const uint8_t*>(image.constData()), 512, g));
    auto findings = [](const QByteArray& bytes) {
        CMemoryVolume volume(bytes);
        CFat32Scanner scanner(&volume, nullptr);
        scanner.scan();
        return qMakePair(scanner.findings(), scanner.deletedFindings());
    };
    const auto before = findings(image);
    QCOMPARE(before, qMakePair(6, 7));
    int changed = 0;
    for (int64_t at = g.rootOffset(); at < g.rootOffset() + g.rootBytes(); at += 32) {
        const uint8_t attribute = uint8_t(image[int(at + 11)]);
        if (image.at(int(at)) == 0 || (attribute & 0x3F) == 0x0F)
            continue;
        image[int(at + 20)] = char(0xCD);
        image[int(at + 21)] = char(0xAB);
        ++changed;
    }
    QVERIFY(changed >= 8);
    QCOMPARE(findings(image), before);
}

// The checks that keep other bytes from passing for a FAT12 or FAT16 boot
// sector, each on the real one with one field changed.
void TestFatVolumes::geometryRefusesWhatIsNoVolume()
{
    for (const QString& image : {m_fat12, m_fat16}) {
        const QByteArray head = readFile(image).left(4096);
        const auto* sector = reinterpret_cast<const uint8_t*>(head.constData());
        CFatGeometry g;
        QVERIFY(CFatGeometry::decode(sector, 512, g));
        QVERIFY(g.hasRootRegion());
        // Two FATs after the reserved sectors, then 512 root entries.
        QCOMPARE(g.rootDirSector, uint64_t(g.reservedSectors + 2 * g.sectorsPerFat));
        QCOMPARE(g.dataStartSector, g.rootDirSector + 32);
        QCOMPARE(g.clusterOffset(2), int64_t(g.dataStartSector * 512));
        QVERIFY(g.tableStartFits(sector + g.fatOffset(), 512));

        // Whether the sector with those bytes changed is refused, by the
        // geometry or by the probe that names volumes.
        using Change = QPair<int, QByteArray>;
        auto refused = [&](const QList<Change>& changes) {
            QByteArray changed = head;
            for (const Change& c : changes)
                changed.replace(c.first, c.second.size(), c.second);
            CFatGeometry d;
            const auto* s = reinterpret_cast<const uint8_t*>(changed.constData());
            return !CFatGeometry::decode(s, 512, d)
                || CBootSectorProbe::detect(reinterpret_cast<const unsigned char*>(s), 4096).isEmpty();
        };
        auto le16 = [](uint64_t v) {
            QByteArray b(2, '\0');
            b[0] = char(v & 0xFF);
            b[1] = char((v >> 8) & 0xFF);
            return b;
        };
        const QByteArray zero4(4, '\0');
        QVERIFY(!refused({}));
        QVERIFY(refused({{0x11, le16(0)}}));                             // no root entries
        QVERIFY(refused({{0x13, le16(g.rootDirSector + 10)}, {0x20, zero4}})); // a root past the end
        QVERIFY(refused({{0x15, QByteArray("\x12")}}));                  // no media descriptor
        QVERIFY(refused({{int(g.fatOffset()), QByteArray("\xF0")}}));   // FAT[0] is not the media byte
        QVERIFY(refused({{510, le16(0)}}));                              // no boot signature
        QVERIFY(refused({{0x13, le16(0)}, {0x20, zero4}}));              // no sectors
        // A 16-bit FAT size with a count of clusters only FAT32 has.
        QVERIFY(refused({{0x13, le16(0)}, {0x20, QByteArray("\0\0\0\x01", 4)}}));
    }
}

QTEST_GUILESS_MAIN(TestFatVolumes)
#include "tst_fatvolumes.moc"
