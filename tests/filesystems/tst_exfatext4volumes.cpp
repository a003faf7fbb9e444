// The exFAT and ext4 passes on volumes made by mkfs.exfat/mkfs.ext4 and
// filled through a mount (tests/scripts), checked against The Sleuth Kit
// (exFAT) and debugfs (ext4), then the same volumes damaged: a boot region
// that fails on both copies, a set with a wrong checksum, a directory chain
// that loops, a superblock with absurd counts, an extent tree that loops or
// points outside the volume; and deleted ext4 documents whose extent trees
// had an index level, as the whole scan sees them.

#include "CliScanRows.h"
#include "disk/CFileVolume.h"
#include "disk/CMemoryVolume.h"
#include "filesystems/CExfatScanner.h"
#include "filesystems/CExt4Scanner.h"
#include "filesystems/IAllocationMap.h"
#include "scan/CDocumentBytes.h"
#include "scan/CRecoveryControl.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace {

using Finding = QPair<long long, int>;

QString run(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TZ", "UTC");
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
    }
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput());
}

int typeOf(const QString& name)
{
    const QByteArray bytes = name.toUtf8();
    const int code = CFileTypeCatalogue::typeCodeByExtension(bytes, false);
    if (code != CFileTypeCatalogue::NotWanted || CFileTypeCatalogue::isContainerExtension(bytes, false))
        return code;
    return 0;
}

// What a pass posts.
struct Posted
{
    QList<Finding> live;
    QMap<QString, CFileNode> deleted; // by folder/name
};

template <typename Scanner>
Posted scanWith(IVolume* volume, QString* failure = nullptr, QStringList* problems = nullptr)
{
    Posted out;
    CNotifyFileNode relay;
    QObject::connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem),
                     [&](long long sector, int code) { out.live.append({sector, code}); });
    QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), [&](const CFileNode& node) {
        out.deleted.insert(node.folder + (node.folder.endsWith('/') ? "" : "/") + node.originalName, node);
    });
    Scanner scanner(volume, &relay);
    scanner.scan();
    if (failure)
        *failure = scanner.failure();
    if (problems)
        *problems = scanner.problems();
    std::sort(out.live.begin(), out.live.end());
    return out;
}

QByteArray sha(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// The documents of tests/data by their hash.
QMap<QByteArray, QString> dataByHash()
{
    QMap<QByteArray, QString> out;
    const QDir dir(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/data"));
    for (const QString& name : dir.entryList(QDir::Files)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            out.insert(sha(f.readAll()), name);
    }
    return out;
}

QByteArray readImage(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray bytesOf(const QByteArray& image, const CFileNode& node)
{
    QByteArray out;
    for (const CFileNode::Extent& e : node.extents)
        out.append(image.mid(e.offset, e.length));
    return out;
}

void putU16(QByteArray& b, qint64 at, quint16 v)
{
    b[int(at)] = char(v & 0xFF);
    b[int(at + 1)] = char(v >> 8);
}

void putU32(QByteArray& b, qint64 at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[int(at + i)] = char((v >> (8 * i)) & 0xFF);
}

quint32 u32(const QByteArray& b, qint64 at)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | quint8(b[int(at + i)]);
    return v;
}

// debugfs walks the tree ("ls -p": /inode/mode/uid/gid/name/size/) and
// maps each document's first block: (sector, type) of the live documents.
QList<Finding> debugfsLiveDocuments(const QString& image, int blockSize)
{
    QList<Finding> live;
    QStringList folders{"/"};
    while (!folders.isEmpty()) {
        const QString folder = folders.takeFirst();
        for (const QString& l : run("debugfs", {"-R", "ls -p \"" + folder + "\"", image}).split('\n')) {
            const QStringList f = l.split('/');
            if (f.size() < 7 || f[5] == "." || f[5] == ".." || f[1].toInt() == 0)
                continue;
            const QString path = folder + (folder.endsWith('/') ? "" : "/") + f[5];
            const int mode = f[2].toInt(nullptr, 8) & 0170000;
            if (mode == 0040000)
                folders.append(path);
            else if (mode == 0100000 && typeOf(path))
                live.append({run("debugfs", {"-R", "bmap \"" + path + "\" 0", image}).trimmed().toLongLong()
                                 * (blockSize / 512),
                             typeOf(path)});
        }
    }
    std::sort(live.begin(), live.end());
    return live;
}

} // namespace

class TestExfatExt4Volumes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void exfatMatchesTheSleuthKit();
    void exfatDamage();
    void exfatLostChainIsReadAndListed();
    void exfatBytesPastValidDataLengthAreZeros();
    void ext4MatchesDebugfs();
    void ext4Damage();
    void ext4DeletedInPieces();
    void ext4BigallocCountsClusters();
    void ext4DeletedAroundMetadataComeBackWhole();

private:
    QTemporaryDir m_dir;
    QString m_exfat;
    QString m_ext4;
    QString m_exfatFailure;
    QString m_ext4Failure;
};

void TestExfatExt4Volumes::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_exfat = m_dir.filePath("exfat.img");
    m_ext4 = m_dir.filePath("ext4.img");
    int code = 0;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-exfat-volume.sh"), {m_exfat});
    p.waitForFinished(180000);
    code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (code != 0)
        m_exfatFailure = QString::fromUtf8(p.readAll());
    p.start(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-ext4-volume.sh"), {m_ext4});
    p.waitForFinished(180000);
    code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    if (code != 0)
        m_ext4Failure = QString::fromUtf8(p.readAll());
}

void TestExfatExt4Volumes::exfatMatchesTheSleuthKit()
{
    if (!m_exfatFailure.isEmpty() && !QFile::exists("/dev/loop-control"))
        QSKIP("no loop devices here: the exFAT test volume cannot be built");
    QVERIFY2(m_exfatFailure.isEmpty(), qPrintable(m_exfatFailure));
    std::unique_ptr<CFileVolume> volume = CFileVolume::open(m_exfat);
    QVERIFY(volume);
    QString failure;
    QStringList problems;
    const Posted posted = scanWith<CExfatScanner>(volume.get(), &failure, &problems);
    QVERIFY(failure.isEmpty());
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(' ')));

    // fls -r -p: "r/r * 643:\tpath" for deleted files.
    QList<Finding> live;
    QStringList deleted;
    const QByteArray image = readImage(m_exfat);
    const QMap<QByteArray, QString> originals = dataByHash();
    const QRegularExpression line("^r/r (\\* )?(\\d+):\\t(.+)$");
    for (const QString& l : run("fls", {"-r", "-p", m_exfat}).split('\n')) {
        const QRegularExpressionMatch m = line.match(l);
        if (!m.hasMatch() || m.captured(3).startsWith('$') || m.captured(3).contains("Volume Label"))
            continue;
        const QString path = '/' + m.captured(3);
        const QString meta = run("istat", {m_exfat, m.captured(2)});
        const long long first = QRegularExpression("Sectors:\\s+(\\d+)").match(meta).captured(1).toLongLong();
        if (m.captured(1).isEmpty()) {
            if (typeOf(path))
                live.append({first, typeOf(path)});
            continue;
        }
        if (path.contains("/fill_"))
            continue;
        // Every deleted document comes back under its name, with its
        // size, time and the bytes that were written.
        deleted.append(path);
        QVERIFY2(posted.deleted.contains(path), qPrintable(path));
        const CFileNode& node = posted.deleted[path];
        QCOMPARE(node.size, QRegularExpression("Size: (\\d+)").match(meta).captured(1).toLongLong());
        // The Sleuth Kit leaves out the entry's 10 ms part (up to 1.99 s).
        const QDateTime tsk = QDateTime::fromString(
            QRegularExpression("Written:\\s+(\\S+ \\S+)").match(meta).captured(1), "yyyy-MM-dd HH:mm:ss");
        const qint64 ahead = QDateTime(tsk.date(), tsk.time(), Qt::UTC).msecsTo(node.modified);
        QVERIFY2(ahead >= 0 && ahead < 2000, qPrintable(path));
        QCOMPARE(node.startSector, quint64(first));
        QCOMPARE(node.overwritten, 0.0);
        QVERIFY(!node.incomplete);
        QVERIFY2(originals.contains(sha(bytesOf(image, node))), qPrintable(path));
    }
    std::sort(live.begin(), live.end());
    QCOMPARE(posted.live, live);
    QCOMPARE(live.size(), 4);
    deleted.sort();
    QCOMPARE(QStringList(posted.deleted.keys()).join(" | "), deleted.join(" | "));
    QCOMPARE(deleted.size(), 7);
    QCOMPARE(posted.deleted["/文档/backup.bak"].typeCode, int(CFileTypeCatalogue::Docx));
    QCOMPARE(posted.deleted["/文档/pieces.pptx"].extents.size(), 2);
    QVERIFY(posted.deleted["/旧的/里面/计划.pdf"].modified.offsetFromUtc() == 0);
}

void TestExfatExt4Volumes::exfatDamage()
{
    if (!m_exfatFailure.isEmpty())
        QSKIP("no exFAT test volume");
    const QByteArray image = readImage(m_exfat);
    QVERIFY(!image.isEmpty());
    CMemoryVolume good(image, image.size(), "exfat");
    const Posted whole = scanWith<CExfatScanner>(&good);

    // The main boot region fails its checksum: the backup has the same.
    QByteArray mainBad = image;
    mainBad[0x70] = char(mainBad[0x70] ^ 0x01); // inside the checksum, not the in-use share
    mainBad[100] = char(mainBad[100] ^ 0x01);
    CMemoryVolume backup(mainBad, mainBad.size(), "main region damaged");
    QString failure;
    const Posted fromBackup = scanWith<CExfatScanner>(&backup, &failure);
    QVERIFY(failure.isEmpty());
    QCOMPARE(fromBackup.live, whole.live);
    QCOMPARE(fromBackup.deleted.keys(), whole.deleted.keys());

    // Both copies fail: a warning, nothing posted.
    QByteArray bothBad = mainBad;
    bothBad[12 * 512 + 100] = char(bothBad[12 * 512 + 100] ^ 0x01);
    CMemoryVolume none(bothBad, bothBad.size(), "both regions damaged");
    const Posted nothing = scanWith<CExfatScanner>(&none, &failure);
    QVERIFY(failure.contains("checksum"));
    QVERIFY(nothing.live.isEmpty() && nothing.deleted.isEmpty());

    // A live set with a wrong checksum, one with a wrong secondary count,
    // and the root's chain looped onto itself: each skipped and told.
    const int sectorShift = quint8(image[108]);
    const qint64 heap = qint64(u32(image, 88)) << sectorShift;
    const qint64 cluster = qint64(512) << quint8(image[109]);
    const quint32 root = u32(image, 96);
    const qint64 rootAt = heap + (root - 2) * cluster;
    QByteArray hostile = image;
    int sets = 0;
    for (qint64 at = rootAt; at < rootAt + cluster && sets < 2; at += 32) {
        if (quint8(hostile[int(at)]) != 0x85)
            continue;
        if (sets++ == 0)
            hostile[int(at + 2)] = char(hostile[int(at + 2)] ^ 0x5A); // checksum
        else
            hostile[int(at + 1)] = char(40); // secondary count
    }
    const qint64 fat = qint64(u32(image, 80)) << sectorShift;
    putU32(hostile, fat + root * 4, root);
    CMemoryVolume damaged(hostile, hostile.size(), "hostile");
    QStringList problems;
    const Posted partial = scanWith<CExfatScanner>(&damaged, &failure, &problems);
    QVERIFY(failure.isEmpty());
    QVERIFY2(problems.join(' ').contains("checksum or count"), qPrintable(problems.join(' ')));
    // The first two folders of the root are gone with their sets; the
    // others are still read, though the root's chain loops.
    QVERIFY(!partial.deleted.contains("/论文/2024/毕业论文终稿.docx"));
    QVERIFY(!partial.deleted.contains("/文档/slides.ppt"));
    QVERIFY(partial.deleted.contains("/旧的/预算表.xls"));
    QVERIFY(partial.deleted.contains("/旧的/里面/计划.pdf"));

    // A deleted set whose name holds a "/" (its checksum made right): the
    // name stays one name.
    QByteArray slash = image;
    const QByteArray units = QByteArray("b\0a\0c\0k\0u\0p\0", 12);
    const int at = slash.indexOf(units);
    QVERIFY(at > 0);
    slash[at + 8] = '/';
    qint64 set = (at - 2) / 32 * 32;
    while (set > 0 && quint8(slash[int(set)]) != 0x05)
        set -= 32;
    const int count = quint8(slash[int(set + 1)]) + 1;
    QByteArray entries = slash.mid(int(set), count * 32);
    for (int k = 0; k < count; ++k)
        entries[k * 32] = char(quint8(entries[k * 32]) | 0x80);
    putU16(slash, set + 2, CExfatScanner::entrySetChecksum(reinterpret_cast<const uint8_t*>(entries.constData()), count));
    CMemoryVolume named(slash, slash.size(), "slash");
    const Posted renamed = scanWith<CExfatScanner>(&named);
    QVERIFY(!renamed.deleted.contains("/文档/backup.bak"));
    QVERIFY2(renamed.deleted.contains(QStringLiteral("/文档/back\uFFFDp.bak")), qPrintable(renamed.deleted.keys().join(' ')));
}

// A live file's entry set gone unreadable (its in-use bits cleared and its
// checksum broken, as a crash mid-write leaves it) while the bitmap keeps
// its clusters: no entry reaches them, so its document is listed as found
// in orphaned clusters, whole, whether unused space or every byte is read.
void TestExfatExt4Volumes::exfatLostChainIsReadAndListed()
{
    if (!m_exfatFailure.isEmpty())
        QSKIP("no exFAT test volume");
    QByteArray image = readImage(m_exfat);
    QVERIFY(!image.isEmpty());
    const QByteArray original = readImage(QStringLiteral(TAMSEL_TEST_DATA "/xlsx_lo_small.xlsx"));
    const qint64 at = image.indexOf(original);
    QVERIFY(at > 0 && image.indexOf(original, at + 1) < 0); // the live 预算.xlsx
    const int sectorShift = quint8(image[108]);
    const qint64 heap = qint64(u32(image, 88)) << sectorShift;
    const qint64 cluster = qint64(512) << quint8(image[109]);
    const quint32 first = quint32((at - heap) / cluster + 2);
    bool lost = false;
    for (qint64 e = heap; e + 64 <= image.size() && !lost; e += 32) {
        if (quint8(image[int(e)]) != 0x85 || quint8(image[int(e + 32)]) != 0xC0 || u32(image, e + 32 + 20) != first)
            continue;
        const int entries = quint8(image[int(e + 1)]) + 1;
        for (int k = 0; k < entries; ++k)
            image[int(e + 32 * k)] = char(quint8(image[int(e + 32 * k)]) & 0x7F);
        image[int(e + 2)] = char(image[int(e + 2)] ^ 0x5A);
        lost = true;
    }
    QVERIFY(lost);

    for (const bool whole : {false, true}) {
        std::shared_ptr<IVolume> volume = std::make_shared<CMemoryVolume>(image, image.size(), "exfat lost chain");
        QList<CFileNode> found;
        CRecoveryControl control;
        control.setWholeVolume(whole);
        QObject::connect(control.relay(), qOverload<CFileNode>(&CNotifyFileNode::notifyItem),
                         [&](const CFileNode& n) { found.append(n); });
        QVERIFY(control.beginScan(volume, CRecoveryControl::autoFileSystem()));
        QVERIFY(control.wait(60000));
        QCoreApplication::processEvents();
        QCOMPARE(control.unusedSpaceOnly(), !whole);
        const auto it = std::find_if(found.begin(), found.end(),
                                     [&](const CFileNode& n) { return qint64(n.startSector) * 512 == at; });
        QVERIFY2(it != found.end(), whole ? "whole" : "unused space");
        QVERIFY(it->orphaned);
        QCOMPARE(image.mid(int(at), int(it->size)), original);
        // The live documents beside it stay out.
        QCOMPARE(std::count_if(found.begin(), found.end(), [](const CFileNode& n) { return n.orphaned; }), 1L);
    }
}

// A deleted file whose ValidDataLength stops short of its size (space
// allocated ahead of the writes, as Windows does): what lies past it in the
// clusters is no part of the file, which reads as zeros there.
void TestExfatExt4Volumes::exfatBytesPastValidDataLengthAreZeros()
{
    if (!m_exfatFailure.isEmpty())
        QSKIP("no exFAT test volume");
    QByteArray image = readImage(m_exfat);
    const QByteArray original = readImage(QStringLiteral(TAMSEL_TEST_DATA "/pdf_lo_writer_text.pdf"));
    const QString name = QStringLiteral("简历.pdf");
    const int at = image.indexOf(QByteArray(reinterpret_cast<const char*>(name.utf16()), name.size() * 2));
    QVERIFY(at > 0);
    qint64 set = (at - 2) / 32 * 32;
    while (set > 0 && quint8(image[int(set)]) != 0x05)
        set -= 32;
    QCOMPARE(quint8(image[int(set + 32)]), quint8(0x40)); // its stream extension, deleted
    const quint32 valid = 5000;
    putU32(image, set + 32 + 8, valid);
    putU32(image, set + 32 + 12, 0);
    const int count = quint8(image[int(set + 1)]) + 1;
    QByteArray entries = image.mid(int(set), count * 32);
    for (int k = 0; k < count; ++k)
        entries[k * 32] = char(quint8(entries[k * 32]) | 0x80);
    putU16(image, set + 2, CExfatScanner::entrySetChecksum(reinterpret_cast<const uint8_t*>(entries.constData()), count));
    // Its last cluster, past the valid bytes, taken by another file since.
    const int sectorShift = quint8(image[108]);
    const qint64 heap = qint64(u32(image, 88)) << sectorShift;
    const qint64 cluster = qint64(512) << quint8(image[109]);
    const qint64 rootAt = heap + (qint64(u32(image, 96)) - 2) * cluster;
    qint64 bitmap = 0;
    for (qint64 e = rootAt; e < rootAt + cluster && bitmap == 0; e += 32)
        if (quint8(image[int(e)]) == 0x81)
            bitmap = heap + (qint64(u32(image, e + 20)) - 2) * cluster;
    QVERIFY(bitmap > 0);
    const qint64 last = (image.indexOf(original) + original.size() - 1 - heap) / cluster; // bit of cluster last + 2
    image[int(bitmap + last / 8)] = char(quint8(image[int(bitmap + last / 8)]) | (1 << (last % 8)));

    CMemoryVolume volume(image, image.size(), "exfat valid length");
    const Posted posted = scanWith<CExfatScanner>(&volume);
    const CFileNode node = posted.deleted.value("/文档/子目录/简历.pdf");
    QCOMPARE(node.size, qint64(original.size()));
    CDocumentBytes bytes(&volume, node, node.size);
    QCOMPARE(bytes.bytes(0, node.size), original.left(valid) + QByteArray(original.size() - int(valid), '\0'));
    QCOMPARE(node.overwritten, 0.0);
}

void TestExfatExt4Volumes::ext4MatchesDebugfs()
{
    if (!m_ext4Failure.isEmpty() && !QFile::exists("/dev/loop-control"))
        QSKIP("no loop devices here: the ext4 test volume cannot be built");
    QVERIFY2(m_ext4Failure.isEmpty(), qPrintable(m_ext4Failure));
    std::unique_ptr<CFileVolume> volume = CFileVolume::open(m_ext4);
    QVERIFY(volume);
    QString failure;
    QStringList problems;
    const Posted posted = scanWith<CExt4Scanner>(volume.get(), &failure, &problems);
    QVERIFY(failure.isEmpty());
    QVERIFY(problems.isEmpty());
    QVERIFY(posted.deleted.isEmpty());

    const QList<Finding> live = debugfsLiveDocuments(m_ext4, 4096);
    QCOMPARE(live.size(), 5);
    QCOMPARE(posted.live, live);
}

void TestExfatExt4Volumes::ext4Damage()
{
    if (!m_ext4Failure.isEmpty())
        QSKIP("no ext4 test volume");
    const QByteArray image = readImage(m_ext4);
    QVERIFY(!image.isEmpty());
    CMemoryVolume good(image, image.size(), "ext4");
    const Posted whole = scanWith<CExt4Scanner>(&good);

    // Absurd counts: a warning before the library is asked anything.
    QByteArray absurd = image;
    putU32(absurd, 1024 + 4, 0xFFFFFFF0u); // blocks
    CMemoryVolume big(absurd, absurd.size(), "absurd");
    QString failure;
    const Posted none = scanWith<CExt4Scanner>(&big, &failure);
    QVERIFY(failure.contains("absurd"));
    QVERIFY(none.live.isEmpty());

    // The big PDF's extents: one pointed past the volume, then the inode's
    // tree made to point at a block that points at itself.
    const QString imap = run("debugfs", {"-R", "imap \"/Keep/大文件.pdf\"", m_ext4});
    const QRegularExpressionMatch m = QRegularExpression("block (\\d+), offset (0x[0-9a-f]+)").match(imap);
    QVERIFY2(m.hasMatch(), qPrintable(imap));
    const qint64 inodeAt = m.captured(1).toLongLong() * 4096 + m.captured(2).toLongLong(nullptr, 16);
    const qint64 blockField = inodeAt + 40; // i_block: the extent header, then entries
    QCOMPARE(quint8(image[int(blockField)]), quint8(0x0A));
    QByteArray outside = image;
    putU32(outside, blockField + 12 + 8, 0x7FFFFFF0u); // first extent's start, low half
    CMemoryVolume pastEnd(outside, outside.size(), "outside");
    QStringList problems;
    Posted partial = scanWith<CExt4Scanner>(&pastEnd, &failure, &problems);
    QVERIFY(failure.isEmpty());
    QCOMPARE(partial.live.size(), whole.live.size() - 1);
    QVERIFY2(!problems.isEmpty(), "no problem told");

    QByteArray looped = image;
    const quint32 spare = quint32(image.size() / 4096 - 1); // the last block, free
    const qint64 spareAt = qint64(spare) * 4096;
    // In the inode: depth 1, one index entry to the spare block.
    putU16(looped, blockField + 2, 1);
    putU16(looped, blockField + 6, 1);
    putU32(looped, blockField + 12, 0);
    putU32(looped, blockField + 12 + 4, spare);
    putU16(looped, blockField + 12 + 8, 0);
    // In the spare block: an index node of depth 1 that points at itself.
    putU16(looped, spareAt, 0xF30A);
    putU16(looped, spareAt + 2, 1);
    putU16(looped, spareAt + 4, 340);
    putU16(looped, spareAt + 6, 1);
    putU32(looped, spareAt + 12, 0);
    putU32(looped, spareAt + 16, spare);
    CMemoryVolume loop(looped, looped.size(), "loop");
    partial = scanWith<CExt4Scanner>(&loop, &failure, &problems);
    QVERIFY(failure.isEmpty());
    QCOMPARE(partial.live.size(), whole.live.size() - 1);
    QVERIFY(!problems.isEmpty());
}

void TestExfatExt4Volumes::ext4DeletedInPieces()
{
    if (!m_ext4Failure.isEmpty())
        QSKIP("no ext4 test volume");
    const QByteArray image = readImage(m_ext4);
    QVERIFY(!image.isEmpty());
    const qint64 block = 4096;
    std::shared_ptr<IVolume> volume(CFileVolume::open(m_ext4).release());
    QVERIFY(volume);
    CExt4Scanner scanner(volume.get(), nullptr);
    scanner.scan();
    QVERIFY(scanner.failure().isEmpty());
    const std::unique_ptr<IAllocationMap> map = scanner.allocationMap(volume);
    QVERIFY(map);

    // What the whole scan lists, by first block, in its default mode
    // (unused space only) and over the whole volume.
    QList<QMap<qint64, QJsonObject>> scans;
    for (const QStringList& mode : {QStringList(), QStringList{"--whole"}}) {
        int code = 0;
        const QString out = run(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"),
                                QStringList{"scan", m_ext4, "--json"} + mode, &code);
        QCOMPARE(code, 0);
        QMap<qint64, QJsonObject> rows;
        for (const QString& l : out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject row = QJsonDocument::fromJson(l.toUtf8()).object();
            rows.insert(row["sector"].toVariant().toLongLong() * 512 / block, row);
        }
        scans.append(rows);
    }

    // The script wrote each a block at a time, a small live file after
    // every block, and made sure the tree had an index level before it
    // deleted them. Their blocks are found by content.
    int listedWhole = 0;
    for (const char* name : {"doc_tables.doc", "pdf_qpdf_linearized.pdf", "docx_cjk_core.docx"}) {
        QFile f(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/data/") + name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray doc = f.readAll();
        QList<qint64> blocks;
        for (qint64 at = 0; at < doc.size(); at += block) {
            const QByteArray piece = doc.mid(at, block);
            for (qint64 b = 0; b * block < image.size(); ++b) {
                if (image.mid(b * block, piece.size()) == piece) {
                    blocks.append(b);
                    break;
                }
            }
        }
        QCOMPARE(blocks.size(), int((doc.size() + block - 1) / block));
        int pieces = 1;
        for (int i = 1; i < blocks.size(); ++i)
            pieces += blocks[i] != blocks[i - 1] + 1;
        QVERIFY2(pieces > 4, name);
        // Its blocks are free; read on from its first block, it runs into
        // a live file's block before it ends (where the allocator put the
        // small files varies, so not after every piece).
        bool runsIntoLiveFile = false;
        for (int i = 0; i < blocks.size(); ++i) {
            QVERIFY2(!map->inUse(blocks[i] * block), name);
            if (i + 1 < blocks.size() && blocks[i + 1] != blocks[i] + 1)
                runsIntoLiveFile = runsIntoLiveFile || map->inUse((blocks[i] + 1) * block);
        }
        QVERIFY2(runsIntoLiveFile, name);
        // Carving the whole volume reads on from its first block through
        // the live files' blocks: never to be called whole. Carving unused
        // space carries it on past the blocks in use, and calls it whole
        // only when it is the document, byte for byte.
        listedWhole += scans[1].contains(blocks[0]) ? 1 : 0;
        if (scans[1].contains(blocks[0]))
            QVERIFY2(scans[1][blocks[0]]["integrity"].toString() != "whole", name);
        if (scans[0].contains(blocks[0]) && scans[0][blocks[0]]["integrity"].toString() == "whole") {
            QByteArray bytes;
            for (const QJsonValue& e : scans[0][blocks[0]]["extents"].toArray())
                bytes += image.mid(e.toArray()[0].toVariant().toLongLong(), e.toArray()[1].toInt());
            QVERIFY2(bytes == doc, name);
        }
    }
    // Whether a document read on through other files' blocks is listed at
    // all depends on what those blocks hold (a PDF may find no end); some
    // are, and then as damaged.
    QVERIFY(listedWhole >= 1);
}

// bigalloc: the block bitmaps hold a bit per cluster of four 1 KiB blocks,
// and a group holds more blocks than a bitmap block has bits. The volume
// is read, its live documents are left out of the scan whose unused space
// is counted in clusters, and exactly its deleted documents are listed.
void TestExfatExt4Volumes::ext4BigallocCountsClusters()
{
    if (!QFile::exists("/dev/loop-control"))
        QSKIP("no loop devices here: the ext4 test volume cannot be built");
    const QString image = m_dir.filePath("bigalloc.img");
    QProcess make;
    make.setProcessChannelMode(QProcess::MergedChannels);
    make.start(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-ext4-volume.sh"), {image, "bigalloc"});
    QVERIFY(make.waitForFinished(180000));
    QVERIFY2(make.exitCode() == 0, make.readAll().constData());

    std::unique_ptr<CFileVolume> volume = CFileVolume::open(image);
    QVERIFY(volume);
    QString failure;
    const Posted posted = scanWith<CExt4Scanner>(volume.get(), &failure);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const QList<Finding> live = debugfsLiveDocuments(image, 1024);
    QCOMPARE(live.size(), 4);
    QCOMPARE(posted.live, live);

    const QByteArray bytes = readImage(image);
    QSet<qint64> deleted;
    for (const char* name : {"docx_python-docx.docx", "pdf_lo_writer_text.pdf", "ppt_2slides.ppt", "xls_3sheets.xls",
                             "pdf_ghostscript.pdf"}) {
        const qint64 at = bytes.indexOf(readImage(QStringLiteral(TAMSEL_TEST_DATA "/") + name));
        QVERIFY2(at > 0 && at % 4096 == 0, name);
        deleted.insert(at / 512);
    }
    // Every block of a live document's first cluster is in use, of a
    // deleted one's free: the map answers in clusters, group after group.
    std::shared_ptr<IVolume> shared(CFileVolume::open(image).release());
    CExt4Scanner scanner(shared.get(), nullptr);
    scanner.scan();
    const std::unique_ptr<IAllocationMap> map = scanner.allocationMap(shared);
    QVERIFY(map);
    for (qint64 block = 0; block < 4; ++block) {
        for (const Finding& f : live)
            QVERIFY2(map->inUse(f.first * 512 + block * 1024), qPrintable(QString::number(f.first)));
        for (qint64 sector : deleted)
            QVERIFY2(!map->inUse(sector * 512 + block * 1024), qPrintable(QString::number(sector)));
    }

    int code = 0;
    const QString out = run(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"), {"scan", image, "--json"}, &code);
    QCOMPARE(code, 0);
    QSet<qint64> listed;
    for (const QString& l : out.split('\n', Qt::SkipEmptyParts))
        listed.insert(QJsonDocument::fromJson(l.toUtf8()).object()["sector"].toVariant().toLongLong());
    QCOMPARE(listed, deleted);
}

// Deleted documents whose blocks run around backup superblocks, group
// descriptors and a live file (the allocator wrote them into the first free
// blocks), and the same documents whole: carving unused space carries each
// on past the blocks in use and lists it whole, byte for byte; nothing whose
// bytes differ is called whole.
void TestExfatExt4Volumes::ext4DeletedAroundMetadataComeBackWhole()
{
    const QString image = m_dir.filePath("ext4-pieces.img");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-ext4-pieces-volume.sh"), {image});
    QVERIFY(p.waitForFinished(180000));
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, p.readAll().constData());
    QString error;
    const QList<CliScanRow> rows = cliScanRows(image, {}, &error);
    QVERIFY2(!rows.isEmpty(), qPrintable(error));
    const QMap<QByteArray, QString> originals = testDataByHash();

    QMap<QString, QList<int>> piecesOfWhole; // by document
    for (const CliScanRow& row : rows) {
        if (!row.whole())
            continue;
        const QString name = originals.value(sha256(row.bytes));
        QVERIFY2(!name.isEmpty(), qPrintable(row.json["name"].toString()));
        piecesOfWhole[name].append(row.pieces());
    }
    // In two or three pieces, and the control in one.
    const QMap<QString, QList<int>> expected{{"ppt_2slides.ppt", {2, 1}},
                                             {"xls_3sheets.xls", {3, 1}},
                                             {"pptx_pptxgenjs.pptx", {2, 1}},
                                             {"pdf_pdfunite.pdf", {2, 1}}};
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
        QList<int> found = piecesOfWhole.value(it.key());
        std::sort(found.begin(), found.end(), std::greater<int>());
        QCOMPARE(found, it.value());
    }
}

QTEST_GUILESS_MAIN(TestExfatExt4Volumes)
#include "tst_exfatext4volumes.moc"
