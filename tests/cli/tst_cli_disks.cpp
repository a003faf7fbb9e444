// tamsel-cli on whole-disk images (an MBR with a FAT32 partition at sector
// 63 and a logical NTFS partition; a GPT) and on a FAT32 volume whose data
// area is off the 4 KiB grid, all built by tests/scripts: it lists exactly
// the deleted documents that The Sleuth Kit finds on each partition (mmls,
// fls -o, istat -o), recovers them byte for byte, and says so when a table
// or a file system cannot be read.

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include "cli/CliTestSupport.h"

namespace {

using clitest::Run;
using clitest::cli;
using clitest::run;

QString script(const QString& name)
{
    return QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/") + name;
}

const QSet<QString> kWantedTypes{"PDF", "ZIP", "DOC", "XLS", "PPT", "DOCX", "XLSX", "PPTX"};

// Start sectors of the file-system partitions, as mmls lists them; {0} for
// a volume without a table.
QList<qint64> tskPartitions(const QString& image)
{
    const Run mmls = run("mmls", {image});
    if (mmls.exitCode != 0)
        return {0};
    QList<qint64> starts;
    static const QRegularExpression row(QStringLiteral("^\\d+:\\s+\\d+(:\\d+)?\\s+(\\d+)\\s"));
    for (const QString& line : mmls.out.split('\n')) {
        const QRegularExpressionMatch m = row.match(line);
        if (m.hasMatch())
            starts << m.captured(2).toLongLong();
    }
    return starts;
}

// "SECTOR TYPE" of every deleted document on every partition, in sectors
// of the whole image.
QSet<QString> tskDeletedDocuments(const QString& image, QList<qint64> starts = {})
{
    QSet<QString> expected;
    if (starts.isEmpty())
        starts = tskPartitions(image);
    for (qint64 start : starts) {
        const QString offset = QString::number(start);
        const Run fsstat = run("fsstat", {"-o", offset, image});
        const bool ntfs = fsstat.out.contains(QStringLiteral("NTFS"));
        static const QRegularExpression clusterRe(QStringLiteral("Cluster Size:\\s*(\\d+)"));
        const qint64 clusterSize = clusterRe.match(fsstat.out).captured(1).toLongLong();
        const Run fls = run("fls", {"-r", "-p", "-F", "-d", "-o", offset, image});
        for (const QString& line : fls.out.split('\n', Qt::SkipEmptyParts)) {
            const int tab = line.indexOf('\t');
            const QString path = line.mid(tab + 1);
            const QString type = path.section('.', -1).toUpper();
            if (tab < 0 || path.contains(':') || !kWantedTypes.contains(type))
                continue;
            const QString inode = line.left(tab - 1).section(' ', -1).section('-', 0, 0);
            const QStringList istat = run("istat", {"-o", offset, image, inode}).out.split('\n');
            for (int i = 0; i + 1 < istat.size(); ++i) {
                const bool runs = ntfs ? istat[i].startsWith("Type: $DATA") && istat[i].contains("Non-Resident")
                                       : istat[i].startsWith("Sectors:");
                if (!runs)
                    continue;
                const qint64 first = istat[i + 1].simplified().section(' ', 0, 0).toLongLong();
                const qint64 sector = start + (ntfs ? first * clusterSize / 512 : first);
                expected.insert(QStringLiteral("%1 %2").arg(sector).arg(type));
                break;
            }
        }
    }
    return expected;
}

QSet<QString> listed(const Run& scan)
{
    QSet<QString> rows;
    for (const QString& line : scan.out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList cells = line.split('\t');
        if (cells.size() >= 3)
            rows.insert(cells[2] + ' ' + cells[1]);
    }
    return rows;
}

// The name each row of the TSV lists, by "SECTOR TYPE".
QMap<QString, QString> names(const Run& scan)
{
    QMap<QString, QString> rows;
    for (const QString& line : scan.out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList cells = line.split('\t');
        if (cells.size() >= 3)
            rows.insert(cells[2] + ' ' + cells[1], cells[0]);
    }
    return rows;
}

bool patch(const QString& path, qint64 offset, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.seek(offset) && f.write(bytes) == bytes.size();
}

QByteArray readAt(const QString& path, qint64 offset, int length)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return QByteArray();
    return f.read(length);
}

quint64 le(const QByteArray& bytes, int at, int width)
{
    quint64 v = 0;
    for (int i = 0; i < width; ++i)
        v |= quint64(quint8(bytes.at(at + i))) << (8 * i);
    return v;
}

QByteArray sha(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

} // namespace

class TestCliDisks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listsExactlyTheDeletedDocuments_data();
    void listsExactlyTheDeletedDocuments();
    void recoversTheDeletedDocumentsOfEachPartition();
    void damagedTablesAreReportedAndTheSourceIsStillSearched();
    void fileSystemsThatCannotBeReadAreReported();
    void aRepeatedEntryIsReadOnce();
    void deletedAndLostPartitionsAreReadByName();

private:
    QString copyOf(const QString& image, const QString& name);

    QTemporaryDir m_dir;
    QString m_mbr;
    QString m_gpt;
    QString m_unaligned;
};

void TestCliDisks::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_mbr = m_dir.filePath("mbr.img");
    m_gpt = m_dir.filePath("gpt.img");
    m_unaligned = m_dir.filePath("unaligned.img");
    const Run mbr = run("bash", {script("make-disk-image.sh"), m_mbr, "mbr"});
    if (mbr.exitCode != 0)
        QSKIP(qPrintable("the disk images need root, /dev/fuse and ntfs-3g: " + mbr.err));
    const Run gpt = run("bash", {script("make-disk-image.sh"), m_gpt, "gpt"});
    QVERIFY2(gpt.exitCode == 0, qPrintable(gpt.err));
    const Run fat = run("bash", {script("make-fat32-volume.sh"), m_unaligned, "unaligned"});
    QVERIFY2(fat.exitCode == 0, qPrintable(fat.err));
}

void TestCliDisks::listsExactlyTheDeletedDocuments_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<int>("deleted");
    QTest::newRow("MBR: FAT32 at sector 63, logical NTFS") << "mbr" << 8;
    QTest::newRow("GPT: FAT32 and NTFS") << "gpt" << 8;
    QTest::newRow("FAT32, data area off the 4 KiB grid") << "unaligned" << 4;
}

void TestCliDisks::listsExactlyTheDeletedDocuments()
{
    QFETCH(QString, which);
    QFETCH(int, deleted);
    const QString image = which == "mbr" ? m_mbr : which == "gpt" ? m_gpt : m_unaligned;
    const QSet<QString> expected = tskDeletedDocuments(image);
    QCOMPARE(expected.size(), deleted);

    const Run scan = cli({"scan", image, "--tsv"});
    QCOMPARE(scan.exitCode, 0);
    QVERIFY2(!scan.err.contains("Warning"), qPrintable(scan.err));
    QCOMPARE(listed(scan), expected);
    if (which != "unaligned")
        QVERIFY2(scan.err.contains(QRegularExpression("File systems read: FAT32 \\(partition 1\\), NTFS \\(partition [25]\\)")),
                 qPrintable(scan.err));
}

void TestCliDisks::recoversTheDeletedDocumentsOfEachPartition()
{
    // The same four documents were deleted on each partition.
    const QStringList originals{"pdf_qpdf_linearized.pdf", "docx_lo_short.docx", "xlsx_lo_small.xlsx",
                                "pptx_pptxgenjs.pptx"};
    QMap<QByteArray, QString> byHash;
    for (const QString& name : originals) {
        QFile f(QStringLiteral(TAMSEL_TEST_DATA "/") + name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        byHash.insert(sha(bytes), name);
        // A PDF whose last line end the carver leaves out is the same PDF.
        if (name.endsWith(".pdf"))
            byHash.insert(sha(bytes.left(bytes.size() - 1)), name);
    }
    const QString out = m_dir.filePath("out-gpt");
    QVERIFY(QDir().mkpath(out));
    const Run recover = cli({"recover", m_gpt, out, "--allow-same-volume"});
    QVERIFY2(recover.exitCode == 0, qPrintable(recover.err));
    QMap<QString, int> found;
    for (const QFileInfo& file : QDir(out).entryInfoList(QDir::Files, QDir::Name)) {
        if (file.fileName() == QLatin1String("report.xml"))
            continue;
        QFile f(file.filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString name = byHash.value(sha(f.readAll()));
        QVERIFY2(!name.isEmpty(), qPrintable(file.fileName() + " is no deleted document"));
        found[name] += 1;
    }
    // Each at least once per partition (a deleted NTFS entry may come as a
    // record of its own beside the carved copy): every output above, those
    // copied along an entry's extents too, is the document byte for byte.
    for (const QString& name : originals)
        QVERIFY2(found.value(name) >= 2, qPrintable(name));
}

QString TestCliDisks::copyOf(const QString& image, const QString& name)
{
    const QString copy = m_dir.filePath(name);
    QFile::remove(copy);
    return run("cp", {"--sparse=always", image, copy}).exitCode == 0 ? copy : QString();
}

void TestCliDisks::damagedTablesAreReportedAndTheSourceIsStillSearched()
{
    const QSet<QString> deleted = tskDeletedDocuments(m_gpt);
    const QSet<QString> all = listed(cli({"scan", m_gpt, "--tsv", "--fs", "none"}));
    QVERIFY(all.size() > deleted.size());

    // Both GPT headers fail their CRCs: no partition is read from the
    // table, the whole disk is still carved, and its file systems are found
    // by searching it: they are lost to the user, live files and all.
    const QString gpt = copyOf(m_gpt, "gpt-both-damaged.img");
    QVERIFY(patch(gpt, 512 + 40, "\x7f"));
    QVERIFY(patch(gpt, QFileInfo(gpt).size() - 512 + 40, "\x7f"));
    Run scan = cli({"scan", gpt, "--tsv"});
    QCOMPARE(scan.exitCode, 0);
    QVERIFY2(scan.err.contains("Warning: the partition table of " + gpt + " is damaged: both copies of the GPT"),
             qPrintable(scan.err));
    QVERIFY2(scan.err.contains("Found a deleted FAT32 partition at sector 2048, 0.3 GB.\n")
                 && scan.err.contains("Found a deleted NTFS partition at sector 559104, "),
             qPrintable(scan.err));
    QCOMPARE(listed(scan), all);

    // Only the primary: the backup serves, and the damage is still said.
    QVERIFY(patch(gpt, QFileInfo(gpt).size() - 512 + 40, readAt(m_gpt, QFileInfo(gpt).size() - 512 + 40, 1)));
    scan = cli({"scan", gpt, "--tsv"});
    QVERIFY2(scan.err.contains("backup copy"), qPrintable(scan.err));
    QCOMPARE(listed(scan), deleted);

    // The chain of logical partitions goes on to a link in the gap before
    // partition 5 that names itself as the next: partition 5 is read once.
    const QString mbr = copyOf(m_mbr, "mbr-loop.img");
    const qint64 link = 558080;
    const QByteArray next("\0\0\0\0\x05\0\0\0\x01\0\0\0\x01\0\0\0", 16);
    QVERIFY(patch(mbr, link * 512 + 446 + 16, next));
    QVERIFY(patch(mbr, (link + 1) * 512 + 446 + 16, next));
    QVERIFY(patch(mbr, (link + 1) * 512 + 510, "\x55\xaa"));
    scan = cli({"scan", mbr, "--tsv"});
    QVERIFY2(scan.err.contains("loops back to sector 558081"), qPrintable(scan.err));
    QCOMPARE(listed(scan), tskDeletedDocuments(m_mbr));
}

void TestCliDisks::fileSystemsThatCannotBeReadAreReported()
{
    // The NTFS partition of the GPT image: its $MFT record 0 is damaged,
    // and $MFTMirr still tells where the table lies.
    const qint64 ntfs = 559104LL * 512;
    const QByteArray boot = readAt(m_gpt, ntfs, 512);
    const qint64 cluster = le(boot, 0x0B, 2) * quint8(boot.at(0x0D));
    const qint64 mft = ntfs + qint64(le(boot, 0x30, 8)) * cluster;
    const qint64 mirror = ntfs + qint64(le(boot, 0x38, 8)) * cluster;
    const QString image = copyOf(m_gpt, "gpt-mft.img");
    QVERIFY(patch(image, mft, "BAAD"));
    Run scan = cli({"scan", image, "--tsv"});
    QVERIFY2(!scan.err.contains("Warning"), qPrintable(scan.err));
    QCOMPARE(listed(scan), tskDeletedDocuments(m_gpt));

    // Its copy damaged too: said, and the live NTFS documents are listed.
    QVERIFY(patch(image, mirror, "BAAD"));
    scan = cli({"scan", image, "--tsv"});
    QVERIFY2(scan.err.contains("Warning: the NTFS file system of partition 2 of " + image), qPrintable(scan.err));
    QVERIFY(scan.err.contains("$MFT record 0 is damaged, and its copy in $MFTMirr is damaged"));
    QVERIFY(listed(scan).size() > tskDeletedDocuments(m_gpt).size());

    // A FAT32 boot sector that names FAT32 but does not decode (no bytes
    // per sector), and NTFS asked for on a FAT32 volume.
    const QString fat = copyOf(m_unaligned, "fat-boot.img");
    QVERIFY(patch(fat, 0x0B, QByteArray(2, '\0')));
    scan = cli({"scan", fat});
    QCOMPARE(scan.exitCode, 0);
    QVERIFY2(scan.err.contains("Warning: the FAT32 file system of " + fat + " cannot be read: the first sector is no "
                               "FAT32 boot sector that can be decoded."),
             qPrintable(scan.err));
    scan = cli({"scan", m_unaligned, "--fs", "NTFS"});
    QVERIFY2(scan.err.contains("Warning: the NTFS file system of " + m_unaligned + " cannot be read"),
             qPrintable(scan.err));
}

void TestCliDisks::aRepeatedEntryIsReadOnce()
{
    // The FAT32 entry of sfdisk's table copied into the free fourth slot:
    // one file system, whose deleted documents are each listed once.
    const QString mbr = copyOf(m_mbr, "mbr-repeated.img");
    QVERIFY(patch(mbr, 446 + 3 * 16, readAt(m_mbr, 446, 16)));
    const Run scan = cli({"scan", mbr, "--tsv"});
    QCOMPARE(scan.exitCode, 0);
    QVERIFY2(scan.err.contains("partition 4 repeats partition 1; it is read once."), qPrintable(scan.err));
    const QStringList rows = scan.out.split('\n', Qt::SkipEmptyParts);
    const QSet<QString> expected = tskDeletedDocuments(m_mbr);
    QCOMPARE(rows.size(), expected.size());
    QCOMPARE(listed(scan), expected);

    // The fourth slot moved onto the FAT32 volume's backup boot sector
    // (its sector 6): no volume of its own, left out and said.
    const QByteArray entry = readAt(m_mbr, 446, 16);
    QByteArray shifted = entry;
    qToLittleEndian<quint32>(quint32(le(entry, 8, 4) + 6), shifted.data() + 8);
    qToLittleEndian<quint32>(quint32(le(entry, 12, 4) - 6), shifted.data() + 12);
    QVERIFY(patch(mbr, 446 + 3 * 16, shifted));
    const Run backup = cli({"scan", mbr, "--tsv"});
    QCOMPARE(backup.exitCode, 0);
    QVERIFY2(backup.err.contains("partition 4 starts on the backup copy of the boot sector of partition 1"),
             qPrintable(backup.err));
    QVERIFY2(backup.err.contains("File systems read: FAT32 (partition 1), NTFS (partition 5).\n"), qPrintable(backup.err));
    QCOMPARE(backup.out.split('\n', Qt::SkipEmptyParts).size(), expected.size());
    QCOMPARE(listed(backup), expected);
}

void TestCliDisks::deletedAndLostPartitionsAreReadByName()
{
    // GPT: partition 3 (FAT32, live and deleted documents) deleted from
    // the table; the two partitions left are read as before, and once.
    const QString gpt = m_dir.filePath("gpt-deleted.img");
    const Run made = run("bash", {script("make-lost-partition-disk.sh"), gpt, "gpt"});
    QVERIFY2(made.exitCode == 0, qPrintable(made.err));
    const qint64 start = 110592;
    const QSet<QString> deleted = tskDeletedDocuments(gpt, {start});
    QCOMPARE(deleted.size(), 4);
    Run scan = cli({"scan", gpt, "--tsv"});
    QCOMPARE(scan.exitCode, 0);
    QVERIFY2(scan.err.contains("Found a deleted FAT32 partition at sector 110592, 0.3 GB.\n"), qPrintable(scan.err));
    QVERIFY2(scan.err.contains("File systems read: FAT32 (partition 1), EXT4 (partition 2), FAT32 (deleted partition "
                               "at sector 110592).\n"),
             qPrintable(scan.err));
    QMap<QString, QString> rows = names(scan);
    QCOMPARE(rows.size(), scan.out.split('\n', Qt::SkipEmptyParts).size()); // none twice
    static const QRegularExpression sectorName(QStringLiteral("^\\d+\\."));
    for (const QString& row : deleted)
        QVERIFY2(rows.contains(row) && !sectorName.match(rows.value(row)).hasMatch(), qPrintable(row));
    // Its boot sector zeroed as well: the copy at its sector 6 stands in.
    const QString wiped = copyOf(gpt, "gpt-deleted-wiped.img");
    QVERIFY(patch(wiped, start * 512, QByteArray(512, '\0')));
    const QMap<QString, QString> fromCopy = names(cli({"scan", wiped, "--tsv"}));
    for (const QString& row : deleted)
        QCOMPARE(fromCopy.value(row), rows.value(row));
    // Its live files are lost too: each document among them comes back by
    // its name, as fls lists the partition's files, and none is held back
    // as a live file's.
    const auto liveNames = [](const QString& image, qint64 at) {
        QSet<QString> names;
        const Run fls = run("fls", {"-r", "-u", "-F", "-o", QString::number(at), image});
        for (const QString& line : fls.out.split('\n', Qt::SkipEmptyParts)) {
            const QString name = line.section('\t', 1).section('/', -1);
            if (kWantedTypes.contains(name.section('.', -1).toUpper()))
                names.insert(name);
        }
        return names;
    };
    const QSet<QString> fatLive = liveNames(gpt, start);
    QCOMPARE(fatLive.size(), 12);
    for (const QString& name : fatLive)
        QVERIFY2(rows.values().contains(name), qPrintable(name));

    const QSet<QString> carved = listed(cli({"scan", gpt, "--tsv", "--fs", "none"}));
    for (const QString& row : carved)
        QVERIFY2(row.section(' ', 0, 0).toLongLong() < start || rows.contains(row), qPrintable(row));

    // MBR with its first sector zeroed: FAT32 at sector 63 (the old
    // cylinder grid) and NTFS at sector 559104 (a MiB boundary) are both
    // found, and their deleted documents come back by name.
    const QString mbr = m_dir.filePath("mbr-zeroed.img");
    const Run zeroed = run("bash", {script("make-lost-partition-disk.sh"), mbr, "mbr"});
    QVERIFY2(zeroed.exitCode == 0, qPrintable(zeroed.err));
    scan = cli({"scan", mbr, "--tsv"});
    QCOMPARE(scan.exitCode, 0);
    QVERIFY2(scan.err.contains("Found a deleted FAT32 partition at sector 63, ")
                 && scan.err.contains("Found a deleted NTFS partition at sector 559104, "),
             qPrintable(scan.err));
    rows = names(scan);
    const QSet<QString> expected = tskDeletedDocuments(m_mbr);
    QCOMPARE(expected.size(), 8);
    for (const QString& row : expected)
        QVERIFY2(rows.contains(row) && !sectorName.match(rows.value(row)).hasMatch(), qPrintable(row));
    // The live files of both, by name too.
    const QSet<QString> live = liveNames(mbr, 63) + liveNames(mbr, 559104);
    QCOMPARE(live.size(), 16); // names both volumes hold are one
    for (const QString& name : live)
        QVERIFY2(rows.values().contains(name), qPrintable(name));

    // An exFAT partition deleted from its GPT: its live documents by name
    // as fls lists them, its deleted ones as it finds them.
    const QString exfat = m_dir.filePath("exfat-deleted.img");
    const Run exfatMade = run("bash", {script("make-lost-partition-disk.sh"), exfat, "exfat"});
    QVERIFY2(exfatMade.exitCode == 0, qPrintable(exfatMade.err));
    scan = cli({"scan", exfat, "--tsv"});
    QVERIFY2(scan.err.contains("Found a deleted exFAT partition at sector 2048, "), qPrintable(scan.err));
    rows = names(scan);
    const QSet<QString> exfatLive = liveNames(exfat, 2048);
    QVERIFY2(exfatLive.size() >= 3, qPrintable(QStringList(exfatLive.values()).join(", ")));
    for (const QString& name : exfatLive)
        QVERIFY2(rows.values().contains(name), qPrintable(name));
    for (const QString& row : tskDeletedDocuments(exfat, {2048}))
        QVERIFY2(rows.contains(row) && !sectorName.match(rows.value(row)).hasMatch(), qPrintable(row));
}

QTEST_GUILESS_MAIN(TestCliDisks)
#include "tst_cli_disks.moc"
