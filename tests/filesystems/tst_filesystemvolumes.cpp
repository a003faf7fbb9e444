// The scanners on real volumes made by mkntfs/ntfs-3g and mkfs.fat/mtools
// (tests/scripts), checked against The Sleuth Kit, and the whole scan on
// damaged copies of them.

#include "disk/CFileVolume.h"
#include "disk/CMemoryVolume.h"
#include "CliScanRows.h"
#include "filesystems/CFat32Scanner.h"
#include "filesystems/IAllocationMap.h"
#include "filesystems/CNtfsScanner.h"
#include "scan/CFileNode.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"
#include "scan/CRecoveryControl.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QXmlStreamReader>
#include <QtTest>

#include <algorithm>

namespace {

using Finding = QPair<long long, int>;

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

QString script(const QString& name)
{
    return QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/") + name;
}

int typeOf(const QString& name)
{
    const QByteArray bytes = name.toUtf8();
    const int code = CFileTypeCatalogue::typeCodeByExtension(bytes, false);
    if (code != CFileTypeCatalogue::NotWanted || CFileTypeCatalogue::isContainerExtension(bytes, false))
        return code;
    return 0;
}

long long fsstatNumber(const QString& image, const QString& label)
{
    const QString out = run("fsstat", {image});
    const QRegularExpression re(QStringLiteral("^%1:\\s*(\\d+)").arg(label), QRegularExpression::MultilineOption);
    return re.match(out).captured(1).toLongLong();
}

// The first sector (in 512-byte units) of a file's unnamed data stream as
// The Sleuth Kit sees it; -1 when it has none on the volume.
long long tskStartSector(const QString& image, const QString& inode, bool ntfs)
{
    const QString out = run("istat", {image, inode});
    const QStringList lines = out.split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        const QString& line = lines[i];
        const bool start = ntfs ? (line.startsWith("Type: $DATA") && line.contains("Name: N/A")
                                   && line.contains("Non-Resident"))
                                : line.startsWith("Sectors:");
        if (!start)
            continue;
        const long long first = lines[i + 1].simplified().section(' ', 0, 0).toLongLong();
        if (ntfs)
            return first * fsstatNumber(image, "Cluster Size") / 512;
        return first * fsstatNumber(image, "Sector Size") / 512;
    }
    return -1;
}

struct TskFile
{
    QString inode;
    QString path;
};

// Files (not directories) that fls lists: live ones, or deleted ones.
QList<TskFile> tskFiles(const QString& image, bool deleted)
{
    QList<TskFile> files;
    const QString out = run("fls", {"-r", "-p", "-F", deleted ? "-d" : "-u", image});
    for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
        const int tab = line.indexOf('\t');
        if (tab < 0 || line.startsWith("v/v") || line.contains("(Volume Label Entry)"))
            continue;
        const QString path = line.mid(tab + 1);
        // NTFS named streams, and the reserved records fls shows as orphans.
        if (path.contains(':') || path.startsWith("$OrphanFiles/"))
            continue;
        const QString inode = line.left(tab - 1).section(' ', -1).section('-', 0, 0);
        files.append({inode, path});
    }
    return files;
}

// What the scanner must report: every live file of a wanted type, or a
// container of one, at the sector The Sleuth Kit gives.
QList<Finding> tskLiveDocuments(const QString& image, bool ntfs)
{
    QList<Finding> expected;
    for (const TskFile& f : tskFiles(image, false)) {
        const int code = typeOf(f.path.section('/', -1));
        if (code == 0)
            continue;
        const long long sector = tskStartSector(image, f.inode, ntfs);
        if (sector > 0)
            expected.append({sector, code});
    }
    std::sort(expected.begin(), expected.end());
    return expected;
}

template <typename Scanner>
QList<Finding> scannerFindings(IVolume* volume)
{
    CNotifyFileNode relay;
    Scanner scanner(volume, &relay);
    QList<Finding> found;
    QObject::connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem),
                     [&](long long sector, int code) { found.append({sector, code}); });
    scanner.scan();
    std::sort(found.begin(), found.end());
    return found;
}

QList<Finding> scanFile(const QString& image, bool ntfs)
{
    std::unique_ptr<CFileVolume> volume = CFileVolume::open(image);
    if (!volume)
        return {};
    return ntfs ? scannerFindings<CNtfsScanner>(volume.get()) : scannerFindings<CFat32Scanner>(volume.get());
}

struct ScanOutcome
{
    bool completed = false;     // (1000, 1000) came
    bool stopped = false;       // scanThreadFinish came
    QString failure;
    int progressSignals = 0;
    QList<Finding> live;
};

ScanOutcome runWholeScan(std::shared_ptr<IVolume> volume, const QString& fileSystem,
                         std::function<void(CRecoveryControl&)> whileRunning = {})
{
    ScanOutcome o;
    CRecoveryControl control;
    control.setWindowSize(4u * 1024 * 1024);
    QObject::connect(control.relay(), qOverload<long long, int>(&CNotifyFileNode::notifyItem),
                     [&](long long s, int c) { o.live.append({s, c}); });
    QObject::connect(&control, &CRecoveryControl::notifyProcess, [&](long long total, long long current) {
        ++o.progressSignals;
        if (total == 1000 && current == 1000)
            o.completed = true;
    });
    QObject::connect(&control, &CRecoveryControl::scanThreadFinish, [&]() { o.stopped = true; });
    QObject::connect(&control, &CRecoveryControl::notifyScanFailed, [&](const QString& r) { o.failure = r; });
    QEventLoop loop;
    QObject::connect(&control, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    if (!control.beginScan(std::move(volume), fileSystem))
        return o;
    if (whileRunning)
        whileRunning(control);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    control.wait();
    QCoreApplication::sendPostedEvents();
    std::sort(o.live.begin(), o.live.end());
    return o;
}

bool patchFile(const QString& path, qint64 offset, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || !f.seek(offset))
        return false;
    return f.write(bytes) == bytes.size();
}

bool copyFile(const QString& from, const QString& to)
{
    QFile::remove(to);
    int code = 0;
    run("cp", {"--sparse=always", from, to}, &code);
    return code == 0;
}

QByteArray le32(uint32_t v)
{
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

} // namespace

class TestFileSystemVolumes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void ntfsLiveDocumentsMatchTheSleuthKit();
    void ntfsDeletedDocumentsMatchTheSleuthKit();
    void ntfsCompressedDocumentsComeBackWhole();
    void fat32LiveDocumentsMatchTheSleuthKit_data();
    void fat32LiveDocumentsMatchTheSleuthKit();
    void allocationMatchesTheSleuthKit_data();
    void allocationMatchesTheSleuthKit();
    void fat32DeletedEntriesMatchTheSleuthKit();
    void cliListsDeletedDocumentsAndNoLiveOne_data();
    void cliListsDeletedDocumentsAndNoLiveOne();
    void fat32DeletedPiecesComeBackWhole();
    void fat32CarvedPiecesOnTheBootSectorGrid();
    void damagedNtfsScanEnds();
    void damagedFat32ScanEnds();
    void imagesCutInHalfScanEnds();
    void stopDuringTheFileSystemPass();
    void cliScansDamagedImagesToTheEnd();

private:
    QString build(const QString& scriptName, const QString& image, const QStringList& extra = {});

    QTemporaryDir m_dir;
    QString m_ntfs;
    QString m_fat32;
    QString m_fat32Large;
    QString m_fat32Deleted;
    QString m_ntfsFailure;
    QString m_ntfsDeleted;
    QString m_ntfsDeletedFailure;
    QString m_ntfsCompressed;
    QString m_ntfsCompressedFailure;
};

QString TestFileSystemVolumes::build(const QString& scriptName, const QString& image, const QStringList& extra)
{
    int code = 0;
    const QString out = run("bash", QStringList{script(scriptName), image} + extra, &code);
    return code == 0 ? QString() : out;
}

void TestFileSystemVolumes::initTestCase()
{
    QVERIFY(m_dir.isValid());
    for (const char* tool : {"fls", "istat", "fsstat", "mkfs.fat", "mcopy", "mkntfs", "ntfs-3g"})
        QVERIFY2(!QStandardPaths::findExecutable(tool, {"/usr/bin", "/usr/sbin", "/bin", "/sbin"}).isEmpty(), tool);

    m_fat32 = m_dir.filePath("fat32.img");
    m_fat32Large = m_dir.filePath("fat32-4k.img");
    QString failure = build("make-fat32-volume.sh", m_fat32);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    failure = build("make-fat32-volume.sh", m_fat32Large, {"4096"});
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    m_fat32Deleted = m_dir.filePath("fat32-deleted.img");
    failure = build("make-fat32-deleted-volume.sh", m_fat32Deleted);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    m_ntfs = m_dir.filePath("ntfs.img");
    m_ntfsFailure = build("make-ntfs-volume.sh", m_ntfs);
    m_ntfsDeleted = m_dir.filePath("ntfs-deleted.img");
    m_ntfsDeletedFailure = build("make-ntfs-deleted-volume.sh", m_ntfsDeleted);
    m_ntfsCompressed = m_dir.filePath("ntfs-compressed.img");
    m_ntfsCompressedFailure = build("make-ntfs-compressed-volume.sh", m_ntfsCompressed);
}

void TestFileSystemVolumes::ntfsLiveDocumentsMatchTheSleuthKit()
{
    if (!m_ntfsFailure.isEmpty() && !QFile::exists("/dev/fuse"))
        QSKIP("no /dev/fuse here: the NTFS test volume cannot be built");
    QVERIFY2(m_ntfsFailure.isEmpty(), qPrintable(m_ntfsFailure));

    const QList<Finding> expected = tskLiveDocuments(m_ntfs, true);
    // report, letter, budget, talk, figures, minutes, archive, the long
    // name, slides, and the .odt container.
    QCOMPARE(expected.size(), 10);
    QVERIFY(std::any_of(expected.begin(), expected.end(), [](const Finding& f) { return f.second == 100; }));
    const QList<Finding> found = scanFile(m_ntfs, true);
    QCOMPARE(found, expected);

    // Deleted documents are not reported.
    const QList<TskFile> deleted = tskFiles(m_ntfs, true);
    QCOMPARE(deleted.size(), 4);
    for (const TskFile& f : deleted) {
        const long long sector = tskStartSector(m_ntfs, f.inode, true);
        QVERIFY(sector > 0);
        for (const Finding& x : found)
            QVERIFY2(x.first != sector, qPrintable(f.path));
    }
}

void TestFileSystemVolumes::ntfsDeletedDocumentsMatchTheSleuthKit()
{
    if (!m_ntfsDeletedFailure.isEmpty() && !QFile::exists("/dev/fuse"))
        QSKIP("no /dev/fuse here: the NTFS test volume cannot be built");
    QVERIFY2(m_ntfsDeletedFailure.isEmpty(), qPrintable(m_ntfsDeletedFailure));

    std::unique_ptr<CFileVolume> volume = CFileVolume::open(m_ntfsDeleted);
    QVERIFY(volume);
    CNotifyFileNode relay;
    CNtfsScanner scanner(volume.get(), &relay);
    QMap<QString, CFileNode> found;
    QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), [&](const CFileNode& node) {
        QCOMPARE(node.origin, int(CFileNode::OriginDeletedEntry));
        QVERIFY2(!found.contains(node.folder + '/' + node.originalName), qPrintable(node.originalName));
        found.insert(node.folder + '/' + node.originalName, node);
    });
    scanner.scan();
    // The live PPTX is still reported as live, nothing else.
    QCOMPARE(scanner.findings(), 1);

    QFile image(m_ntfsDeleted);
    QVERIFY(image.open(QIODevice::ReadOnly));
    auto bytesOf = [&](const CFileNode& node) {
        if (node.hasResidentData)
            return node.residentData;
        QByteArray out;
        for (const CFileNode::Extent& e : node.extents) {
            if (e.offset == CFileNode::Extent::kSparse) {
                out.append(QByteArray(int(e.length), '\0'));
                continue;
            }
            image.seek(e.offset);
            out.append(image.read(e.length));
        }
        return out;
    };

    // Every deleted file The Sleuth Kit lists, but the zero-filled fillers,
    // comes back under its path with The Sleuth Kit's size, time and bytes.
    QStringList expected;
    for (const TskFile& f : tskFiles(m_ntfsDeleted, true)) {
        if (f.path.section('/', -1).startsWith("fill_"))
            continue;
        const QString path = '/' + f.path;
        expected.append(path);
        QVERIFY2(found.contains(path), qPrintable(path));
        const CFileNode& node = found[path];
        QProcess istat;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TZ", "UTC");
        istat.setProcessEnvironment(env);
        istat.start("istat", {m_ntfsDeleted, f.inode});
        QVERIFY(istat.waitForFinished(60000));
        const QString meta = QString::fromUtf8(istat.readAllStandardOutput());
        const QString size = QRegularExpression("\\$DATA \\(128-\\d+\\)\\s+Name: N/A\\s+\\S+\\s+size: (\\d+)")
                                 .match(meta)
                                 .captured(1);
        QCOMPARE(node.size, size.toLongLong());
        const QString modified = QRegularExpression("File Modified:\\s+(\\S+ \\d\\d:\\d\\d:\\d\\d)").match(meta).captured(1);
        QCOMPARE(node.modified.toUTC().toString("yyyy-MM-dd HH:mm:ss"), modified);
        QVERIFY2(!node.incomplete, qPrintable(path));

        const QByteArray ours = bytesOf(node);
        QCOMPARE(ours.size(), node.size);
        if (path.endsWith("victim.docx")) {
            // Its clusters now belong to a live file: never offered as whole.
            QVERIFY(node.overwritten > 0.99);
            continue;
        }
        QCOMPARE(node.overwritten, 0.0);
        QProcess icat;
        icat.start("icat", {"-r", m_ntfsDeleted, f.inode});
        QVERIFY(icat.waitForFinished(60000));
        QVERIFY2(ours == icat.readAllStandardOutput(), qPrintable(path));
    }
    QCOMPARE(expected.size(), 8);
    expected.sort();
    QCOMPARE(QStringList(found.keys()).join(" | "), expected.join(" | "));

    // What each case is about.
    QCOMPARE(found["/Docs/backup.bak"].typeCode, int(CFileTypeCatalogue::Docx));
    QVERIFY(found["/Docs/便笺.zip"].hasResidentData);
    QVERIFY(found["/Docs/便笺.zip"].size < 700);
    QCOMPARE(found["/Docs/fragmented.ppt"].extents.size(), 2);
    QCOMPARE(found["/Docs/fragmented.ppt"].typeName, QStringLiteral("PPT"));
    QCOMPARE(found["/Old/Sub/plan.pdf"].typeCode, int(CFileTypeCatalogue::Pdf));
    const QString thesis = QStringLiteral("/论文/2024/毕业论文终稿.docx");
    QCOMPARE(found[thesis].startSector, quint64(found[thesis].extents.first().offset / 512));
}

void TestFileSystemVolumes::ntfsCompressedDocumentsComeBackWhole()
{
    if (!m_ntfsCompressedFailure.isEmpty() && !QFile::exists("/dev/fuse"))
        QSKIP("no /dev/fuse here: the NTFS test volume cannot be built");
    QVERIFY2(m_ntfsCompressedFailure.isEmpty(), qPrintable(m_ntfsCompressedFailure));
    const QString cli = QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli");

    // What the details pass says of each document: it reads the
    // decompressed bytes.
    int code = -1;
    QMap<QString, QJsonObject> listed;
    const QString scan = run(cli, {"scan", m_ntfsCompressed, "--json"}, &code);
    QCOMPARE(code, 0);
    for (const QString& line : scan.split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (!o.isEmpty())
            listed.insert(o.value("name").toString(), o);
    }
    QVERIFY2(!listed.contains("live.doc"), qPrintable(scan));

    QTemporaryDir out;
    QVERIFY(out.isValid());
    const QString recovered = run(cli, {"recover", m_ntfsCompressed, out.path()}, &code);
    QVERIFY2(code == 3, qPrintable(recovered)); // victim.xls, below, is left out

    // Every compressed document The Sleuth Kit reads back comes back as it
    // does, whole; the one whose clusters were overwritten (and freed
    // again) is damaged, with the reason, and left out.
    int identical = 0;
    for (const TskFile& f : tskFiles(m_ntfsCompressed, true)) {
        const QString name = f.path.section('/', -1);
        if (name.startsWith("fill_") || name == "reuse.bin")
            continue;
        QVERIFY2(listed.contains(name), qPrintable(name));
        QFile recovered(out.filePath(name));
        if (name == "victim.xls") {
            QCOMPARE(listed[name].value("integrity").toString(), QStringLiteral("damaged"));
            QVERIFY2(listed[name].value("integrity_reason").toString().contains("do not decompress"),
                     qPrintable(listed[name].value("integrity_reason").toString()));
            QVERIFY(!recovered.exists());
            continue;
        }
        QCOMPARE(listed[name].value("integrity").toString(), QStringLiteral("whole"));
        QProcess icat;
        icat.start("icat", {"-r", m_ntfsCompressed, f.inode});
        QVERIFY(icat.waitForFinished(60000));
        const QByteArray expected = icat.readAllStandardOutput();
        QVERIFY(recovered.open(QIODevice::ReadOnly));
        QVERIFY2(recovered.readAll() == expected, qPrintable(name));
        ++identical;
    }
    QCOMPARE(identical, 5);
    QVERIFY(listed.contains("victim.xls"));

    // The sparse file: its hole reads as zeros, then the document (which
    // then fails its check, so it is written only when asked for).
    QVERIFY(!QFile::exists(out.filePath("sparse.pdf")));
    QTemporaryDir all;
    QVERIFY(all.isValid());
    run(cli, {"recover", m_ntfsCompressed, all.path(), "--include-damaged"}, &code);
    QCOMPARE(code, 0);
    QFile pdf(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/data/pdf_ghostscript.pdf"));
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QFile sparse(all.filePath("sparse.pdf"));
    QVERIFY(sparse.open(QIODevice::ReadOnly));
    QCOMPARE(sparse.readAll(), QByteArray(131072, '\0') + pdf.readAll());
}

void TestFileSystemVolumes::fat32LiveDocumentsMatchTheSleuthKit_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("512-byte sectors") << 0;
    QTest::newRow("4096-byte sectors") << 1;
}

void TestFileSystemVolumes::fat32LiveDocumentsMatchTheSleuthKit()
{
    QFETCH(int, which);
    const QString image = which ? m_fat32Large : m_fat32;
    const QList<Finding> expected = tskLiveDocuments(image, false);
    // The ten of the NTFS volume, and three behind other attribute bits.
    QCOMPARE(expected.size(), 13);
    const QList<Finding> found = scanFile(image, false);
    QCOMPARE(found, expected);
    // letter.docx, talk.pptx and the figures are found as what their long
    // names say, not as the DOC/PPT/XLS of their short names.
    for (int code : {CFileTypeCatalogue::Docx, CFileTypeCatalogue::Pptx, CFileTypeCatalogue::Xlsx})
        QVERIFY(std::any_of(found.begin(), found.end(), [code](const Finding& f) { return f.second == code; }));

    const QList<TskFile> deleted = tskFiles(image, true);
    QCOMPARE(deleted.size(), 4);
    for (const TskFile& f : deleted) {
        const long long sector = tskStartSector(image, f.inode, false);
        QVERIFY(sector > 0);
        for (const Finding& x : found)
            QVERIFY2(x.first != sector, qPrintable(f.path));
    }
}

void TestFileSystemVolumes::allocationMatchesTheSleuthKit_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("NTFS") << 0;
    QTest::newRow("FAT32") << 1;
    QTest::newRow("FAT32, 4096-byte sectors") << 2;
}

// Every block The Sleuth Kit knows the status of gets the same answer from
// the allocation map (FAT32: the sectors of the cluster area; the reserved
// sectors and the FATs are no cluster to the map).
void TestFileSystemVolumes::allocationMatchesTheSleuthKit()
{
    QFETCH(int, which);
    if (which == 0 && !m_ntfsFailure.isEmpty())
        QSKIP("no NTFS test volume");
    const QString image = which == 0 ? m_ntfs : which == 1 ? m_fat32 : m_fat32Large;
    std::shared_ptr<IVolume> volume(CFileVolume::open(image));
    QVERIFY(volume);
    std::unique_ptr<IAllocationMap> map;
    if (which == 0) {
        CNtfsScanner scanner(volume.get(), nullptr);
        scanner.scan();
        map = scanner.allocationMap(volume);
    } else {
        CFat32Scanner scanner(volume.get(), nullptr);
        scanner.scan();
        map = scanner.allocationMap(volume);
    }
    QVERIFY(map);

    const QString fsstat = run("fsstat", {image});
    const long long unit = which == 0 ? fsstatNumber(image, "Cluster Size") : fsstatNumber(image, "Sector Size");
    long long first = 0;
    long long last = std::numeric_limits<long long>::max();
    if (which != 0) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("Cluster Area: (\\d+) - (\\d+)")).match(fsstat);
        QVERIFY(m.hasMatch());
        first = m.captured(1).toLongLong();
        last = m.captured(2).toLongLong();
    }
    int compared = 0;
    int used = 0;
    long long highest = first;
    QStringList wrong;
    for (const QString& line : run("blkls", {"-e", "-l", image}).split('\n')) {
        const QStringList cells = line.split('|');
        if (cells.size() != 2 || (cells[1] != "a" && cells[1] != "f"))
            continue;
        bool ok = false;
        const long long block = cells[0].toLongLong(&ok);
        if (!ok || block < first || block > last)
            continue;
        const bool allocated = cells[1] == "a";
        ++compared;
        highest = std::max(highest, block);
        used += allocated;
        if (map->inUse(block * unit) != allocated || map->inUse(block * unit + unit - 1) != allocated)
            wrong << line;
    }
    QVERIFY(compared > 1000);
    QVERIFY(used > 10);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.mid(0, 10).join(' ')));
    QCOMPARE(map->bytesInUse(first * unit, (highest - first + 1) * unit), used * unit);
}

// Deleted entries against The Sleuth Kit: every deleted document is one
// record with TSK's path, size, time and (icat -r) bytes, the one whose
// first clusters a later file took is overwritten and not whole, a
// document under another name is found by its bytes, and nothing else is
// listed.
void TestFileSystemVolumes::fat32DeletedEntriesMatchTheSleuthKit()
{
    std::unique_ptr<CFileVolume> volume = CFileVolume::open(m_fat32Deleted);
    QVERIFY(volume);
    CNotifyFileNode relay;
    QList<CFileNode> records;
    QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem),
                     [&](const CFileNode& n) { records.append(n); });
    CFat32Scanner scanner(volume.get(), &relay);
    scanner.scan();

    QMap<QString, CFileNode> byPath;
    for (const CFileNode& n : records) {
        QCOMPARE(n.origin, int(CFileNode::OriginDeletedEntry));
        byPath.insert((n.folder == "/" ? QString() : n.folder.mid(1) + '/') + n.originalName, n);
    }
    QCOMPARE(byPath.size(), records.size());

    int checked = 0;
    for (const TskFile& f : tskFiles(m_fat32Deleted, true)) {
        const QString istat = run("istat", {m_fat32Deleted, f.inode});
        const bool document = typeOf(f.path.section('/', -1)) != 0 || f.path.endsWith(".bak");
        QVERIFY2(byPath.contains(f.path) == document, qPrintable(f.path + " " + byPath.keys().join(',')));
        if (!document)
            continue;
        ++checked;
        const CFileNode n = byPath.value(f.path);
        const long long size = QRegularExpression("Size: (\\d+)").match(istat).captured(1).toLongLong();
        QCOMPARE(n.size, size);
        const QString written = QRegularExpression("Written:\\s+(\\S+ \\S+)").match(istat).captured(1);
        QCOMPARE(n.modified.toString("yyyy-MM-dd HH:mm:ss"), written);
        QCOMPARE(qint64(n.startSector), tskStartSector(m_fat32Deleted, f.inode, false));

        QByteArray bytes;
        for (const CFileNode::Extent& e : n.extents) {
            QByteArray piece(int(e.length), '\0');
            QCOMPARE(volume->read(e.offset, piece.data(), size_t(e.length)).bytes, e.length);
            bytes += piece;
        }
        QCOMPARE(bytes.size(), int(size));
        QProcess icat;
        icat.start("icat", {"-r", m_fat32Deleted, f.inode});
        QVERIFY(icat.waitForFinished(60000));
        const QByteArray tsk = icat.readAllStandardOutput();
        if (f.path.endsWith("eused.pdf")) {
            // Its first two clusters hold later.zip now.
            QVERIFY2(n.overwritten > 0.25 && n.overwritten < 0.35, qPrintable(QString::number(n.overwritten)));
            QVERIFY(bytes.startsWith("PK"));
            continue;
        }
        QCOMPARE(n.overwritten, 0.0);
        QVERIFY(!n.incomplete);
        QVERIFY2(bytes == tsk, qPrintable(f.path));
        if (f.path.endsWith(".bak"))
            QCOMPARE(n.typeCode, int(CFileTypeCatalogue::Docx));
    }
    // The two in named folders, the two in the deleted folder, backup.bak
    // and reused.pdf.
    QCOMPARE(checked, 6);
    QCOMPARE(records.size(), 6);
    QVERIFY(byPath.contains(QStringLiteral("论文/2024/毕业论文终稿.docx")));
    QVERIFY(byPath.contains(QStringLiteral("Old/Inner/_ables.doc")));
}

void TestFileSystemVolumes::cliListsDeletedDocumentsAndNoLiveOne_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("NTFS") << 0;
    QTest::newRow("FAT32") << 1;
    QTest::newRow("FAT32, 4096-byte sectors") << 2;
}

// Deleted documents written around live files (into the holes of files
// removed before, whose entries claim clusters the document took) and
// around a file deleted afterwards (whose clusters are free again), and
// the same documents whole: each comes back under its name, byte for byte,
// and nothing whose bytes differ from what was written is called whole.
void TestFileSystemVolumes::fat32DeletedPiecesComeBackWhole()
{
    const QString image = m_dir.filePath("fat32-pieces.img");
    const QString failure = build("make-fat32-pieces-volume.sh", image);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QString error;
    const QList<CliScanRow> rows = cliScanRows(image, {}, &error);
    QVERIFY2(!rows.isEmpty(), qPrintable(error));
    const QMap<QByteArray, QString> originals = testDataByHash();

    QMap<QString, CliScanRow> byPath;
    for (const CliScanRow& row : rows) {
        if (row.whole())
            QVERIFY2(originals.contains(sha256(row.bytes)), qPrintable(row.json["name"].toString()));
        const QString folder = row.json["folder"].toString();
        if (folder == "/around-live" || folder == "/around-deleted" || folder == "/control-copies")
            byPath.insert(folder + '/' + row.json["name"].toString(), row);
    }
    QCOMPARE(byPath.size(), 16);
    for (auto it = byPath.constBegin(); it != byPath.constEnd(); ++it) {
        const QString name = it.key().section('/', -1);
        QVERIFY2(it.value().whole(), qPrintable(it.key()));
        QVERIFY2(originals.value(sha256(it.value().bytes)) == name, qPrintable(it.key()));
        // Written around other files: in pieces; the control in one.
        QVERIFY2((it.value().pieces() > 1) == !it.key().startsWith("/control-copies"), qPrintable(it.key()));
    }
}

// Documents whose entries are gone, each in two pieces 1 KiB clusters
// apart where the data area lies off any 4 KiB multiple: too few documents
// start there to tell the cluster size (a guess of 4 KiB would miss every
// piece), so only the boot sector's grid finds their second pieces.
void TestFileSystemVolumes::fat32CarvedPiecesOnTheBootSectorGrid()
{
    const QString image = m_dir.filePath("fat32-unnamed-pieces.img");
    const QString failure = build("make-fat32-unnamed-pieces-volume.sh", image);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QString error;
    const QList<CliScanRow> rows = cliScanRows(image, {}, &error);
    QVERIFY2(!rows.isEmpty(), qPrintable(error));
    const QMap<QByteArray, QString> originals = testDataByHash();
    QMap<QString, int> piecesOf;
    for (const CliScanRow& row : rows) {
        if (!row.whole())
            continue;
        const QString name = originals.value(sha256(row.bytes));
        QVERIFY2(!name.isEmpty(), qPrintable(row.json["name"].toString()));
        piecesOf.insert(name, row.pieces());
    }
    const QMap<QString, int> expected{
        {"pdf_lo_writer_text.pdf", 2}, {"docx_python-docx.docx", 2}, {"pptx_lo_3slides.pptx", 2}};
    QCOMPARE(piecesOf, expected);

    // The saved scan, opened again without reading the file system (so
    // without its grid), still has the pieces: recovery writes each whole.
    const QString out = m_dir.filePath("unnamed-pieces-out");
    int code = -1;
    const QString said = run(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"), {"recover", image, out, "--resume"}, &code);
    QVERIFY2(code == 0, qPrintable(said));
    QStringList recovered;
    for (const QFileInfo& f : QDir(out).entryInfoList(QDir::Files)) {
        if (f.fileName() == QLatin1String("report.xml"))
            continue;
        QFile file(f.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        recovered << originals.value(sha256(file.readAll()), f.fileName());
    }
    recovered.sort();
    QCOMPARE(recovered, expected.keys());
    // Its report gives each file's two runs on the volume.
    QFile report(out + QStringLiteral("/report.xml"));
    QVERIFY(report.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&report);
    QList<int> runs;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("fileobject"))
            runs.append(0);
        else if (xml.name() == QLatin1String("byte_run") && !runs.isEmpty())
            ++runs.last();
    }
    QCOMPARE(runs, QList<int>({2, 2, 2}));
}

void TestFileSystemVolumes::cliListsDeletedDocumentsAndNoLiveOne()
{
    QFETCH(int, which);
    if (which == 0 && !m_ntfsFailure.isEmpty())
        QSKIP("no NTFS test volume");
    const QString image = which == 0 ? m_ntfs : which == 1 ? m_fat32 : m_fat32Large;
    const bool ntfs = which == 0;

    // The deleted documents of the scripts lie whole and 4096-aligned, so
    // the carving pass finds each of them at The Sleuth Kit's sector.
    QSet<QString> expected;
    for (const TskFile& f : tskFiles(image, true)) {
        const QString type = f.path.section('.', -1).toUpper();
        expected.insert(QStringLiteral("%1 %2").arg(tskStartSector(image, f.inode, ntfs)).arg(type));
    }
    QCOMPARE(expected.size(), 4);

    auto listed = [&](const QString& fs) {
        int code = -1;
        QProcess p;
        p.start(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"), {"scan", image, "--tsv", "--fs", fs});
        p.waitForFinished(120000);
        code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        QSet<QString> rows;
        for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
            const QStringList cells = line.split('\t');
            if (cells.size() >= 3)
                rows.insert(cells[2] + ' ' + cells[1]);
        }
        return qMakePair(code, rows);
    };
    const auto withFileSystem = listed(QStringLiteral("auto"));
    QCOMPARE(withFileSystem.first, 0);
    QCOMPARE(withFileSystem.second, expected);

    // Without the file-system pass the live documents are listed too: the
    // pass is what leaves them out.
    const auto without = listed(QStringLiteral("none"));
    QCOMPARE(without.first, 0);
    QVERIFY(without.second.contains(expected));
    QVERIFY(without.second.size() >= expected.size() + 8);
}

void TestFileSystemVolumes::damagedNtfsScanEnds()
{
    if (!m_ntfsFailure.isEmpty())
        QSKIP("no NTFS test volume");
    const QString damaged = m_dir.filePath("ntfs-random-mft.img");
    QVERIFY(copyFile(m_ntfs, damaged));
    QFile boot(damaged);
    QVERIFY(boot.open(QIODevice::ReadOnly));
    const QByteArray sector = boot.read(512);
    boot.close();
    CNtfsScanner::Geometry g;
    QVERIFY(CNtfsScanner::decodeBootSector(reinterpret_cast<const uint8_t*>(sector.constData()), 512, g));

    QByteArray noise(256 * 1024, 0);
    QRandomGenerator rng(7);
    for (char& c : noise)
        c = char(rng.bounded(256));
    QVERIFY(patchFile(damaged, qint64(g.mftCluster) * g.bytesPerCluster, noise));

    QVERIFY(scanFile(damaged, true).isEmpty());
    const ScanOutcome o = runWholeScan(std::shared_ptr<IVolume>(CFileVolume::open(damaged)), "NTFS");
    QVERIFY(o.completed);
    QVERIFY(!o.stopped);
    QVERIFY2(o.failure.isEmpty(), qPrintable(o.failure));
    QVERIFY(o.progressSignals > 2); // the raw pass walked the windows
    QVERIFY(o.live.isEmpty());

    // Random bytes that keep the table's own record: every other record is
    // noise, and the scan still ends.
    QVERIFY(copyFile(m_ntfs, damaged));
    QVERIFY(patchFile(damaged, qint64(g.mftCluster) * g.bytesPerCluster + g.recordSize, noise));
    QVERIFY(scanFile(damaged, true).size() < 10);
}

void TestFileSystemVolumes::damagedFat32ScanEnds()
{
    const QString damaged = m_dir.filePath("fat32-loops.img");
    QVERIFY(copyFile(m_fat32, damaged));
    QFile boot(damaged);
    QVERIFY(boot.open(QIODevice::ReadOnly));
    const QByteArray sector = boot.read(512);
    boot.close();
    CFat32Scanner::Geometry g;
    QVERIFY(CFat32Scanner::decodeBootSector(reinterpret_cast<const uint8_t*>(sector.constData()), 512, g));

    const QList<Finding> before = scanFile(m_fat32, false);
    // The root's chain loops onto itself in every FAT copy, and a new root
    // entry names the root as its own sub-directory.
    for (uint32_t f = 0; f < g.fatCount; ++f) {
        const qint64 fat = (qint64(g.reservedSectors) + qint64(f) * g.sectorsPerFat) * g.bytesPerSector;
        QVERIFY(patchFile(damaged, fat + g.rootCluster * 4, le32(g.rootCluster)));
    }
    QByteArray self(32, 0);
    self.replace(0, 11, "SELF       ");
    self[11] = char(0x10);
    self[26] = char(g.rootCluster & 0xFF);
    self[27] = char((g.rootCluster >> 8) & 0xFF);
    // Entry 40 of the root lies in its first cluster, past the entries the
    // script made.
    QVERIFY(patchFile(damaged, g.clusterOffset(g.rootCluster) + 32 * 40, self));

    QCOMPARE(scanFile(damaged, false), before);
    const ScanOutcome o = runWholeScan(std::shared_ptr<IVolume>(CFileVolume::open(damaged)), "FAT32");
    QVERIFY(o.completed);
    QVERIFY2(o.failure.isEmpty(), qPrintable(o.failure));
    QVERIFY(o.progressSignals > 2);
    QCOMPARE(o.live, before);

    // A boot sector with no sectors per cluster: the pass ends at once, the
    // raw pass still runs.
    const QString absurd = m_dir.filePath("fat32-absurd.img");
    QVERIFY(copyFile(m_fat32, absurd));
    QVERIFY(patchFile(absurd, 0x0D, QByteArray(1, '\0')));
    const ScanOutcome a = runWholeScan(std::shared_ptr<IVolume>(CFileVolume::open(absurd)), "FAT32");
    QVERIFY(a.completed);
    QVERIFY(a.progressSignals > 2);
    QVERIFY(a.live.isEmpty());
}

void TestFileSystemVolumes::imagesCutInHalfScanEnds()
{
    QStringList images = {m_fat32, m_fat32Large};
    if (m_ntfsFailure.isEmpty())
        images << m_ntfs;
    for (const QString& image : images) {
        const QString cut = m_dir.filePath("cut.img");
        QVERIFY(copyFile(image, cut));
        QVERIFY(QFile::resize(cut, QFileInfo(image).size() / 2));
        const bool ntfs = image == m_ntfs;
        const ScanOutcome o =
            runWholeScan(std::shared_ptr<IVolume>(CFileVolume::open(cut)), ntfs ? "NTFS" : "FAT32");
        QVERIFY2(o.completed, qPrintable(image));
        QVERIFY2(o.failure.isEmpty(), qPrintable(o.failure));
        QVERIFY(o.progressSignals > 2);
        // Whatever the first half still describes is reported (the NTFS
        // data may all lie in the second half).
        if (!ntfs)
            QVERIFY(!o.live.isEmpty());
    }
}

void TestFileSystemVolumes::stopDuringTheFileSystemPass()
{
    // Hold the scanner inside its walk, stop the scan from here, then let it
    // go on: nothing more may be reported.
    QFile file(m_fat32);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // The first 8 MiB hold the boot sector, the FATs and the directories.
    auto volume = std::make_shared<CMemoryVolume>(file.read(8 * 1024 * 1024));
    CFat32Scanner::Geometry g;
    QVERIFY(CFat32Scanner::decodeBootSector(reinterpret_cast<const uint8_t*>(volume->bytes().constData()), 512, g));
    const int64_t rootOffset = g.clusterOffset(g.rootCluster);

    QSemaphore reached;
    QSemaphore gate;
    std::atomic<bool> held{false};
    volume->setReadHook([&](int64_t offset, size_t) {
        if (offset == rootOffset && !held.exchange(true)) {
            reached.release();
            gate.acquire();
        }
    });
    const ScanOutcome o = runWholeScan(volume, "FAT32", [&](CRecoveryControl& control) {
        QVERIFY(reached.tryAcquire(1, 30000));
        control.stopScan();
        gate.release();
    });
    QVERIFY(o.stopped);
    QVERIFY(!o.completed);
    QVERIFY(o.live.isEmpty());
}

void TestFileSystemVolumes::cliScansDamagedImagesToTheEnd()
{
    const QString cli = QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli");
    QStringList images = {m_dir.filePath("fat32-loops.img")};
    if (m_ntfsFailure.isEmpty())
        images << m_dir.filePath("ntfs-random-mft.img");
    const QString cut = m_dir.filePath("cut-cli.img");
    QVERIFY(copyFile(m_fat32, cut));
    QVERIFY(QFile::resize(cut, QFileInfo(m_fat32).size() / 2));
    images << cut;
    for (const QString& image : images) {
        QVERIFY2(QFile::exists(image), qPrintable(image));
        int code = -1;
        const QString out = run(cli, {"scan", image}, &code);
        QVERIFY2(code == 0, qPrintable(image + ": " + out));
    }
}

QTEST_GUILESS_MAIN(TestFileSystemVolumes)
#include "tst_filesystemvolumes.moc"
