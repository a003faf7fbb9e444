// Volumes filled with documents in folders and then quick-formatted
// (tests/scripts/make-formatted-volume.sh): the documents come back by the
// names and folders The Sleuth Kit read on the volume before the format,
// one row each (the old entry and the carved document at its first cluster
// are one), and recover writes each byte for byte; the ones NTFS kept
// inside their records included. On FAT a folder whose clusters lie
// apart has lost what linked them (its chain), so some of its names and
// folders stay unknown: most names must come back, and a folder is either
// the right one or "?", never another.

#include "CliScanRows.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Truth
{
    QString path; // as the volume had it, without the leading "/"
    qint64 size = 0;
    QByteArray sha256Hex;
};

QList<Truth> readTruth(const QString& image)
{
    QList<Truth> out;
    QFile files(image + ".files");
    if (!files.open(QIODevice::ReadOnly))
        return out;
    for (const QByteArray& line : files.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.size() == 3)
            out.append({QString::fromUtf8(fields[0]), fields[1].toLongLong(), fields[2]});
    }
    return out;
}

QStringList readNames(const QString& image)
{
    QFile names(image + ".names");
    if (!names.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(names.readAll()).split('\n', Qt::SkipEmptyParts);
}

QString runProgram(const QString& program, const QStringList& args, int* code)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished();
    }
    *code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAll());
}

} // namespace

class TestFormattedVolumes : public QObject
{
    Q_OBJECT

private slots:
    void documentsComeBackByName_data();
    void documentsComeBackByName();
};

void TestFormattedVolumes::documentsComeBackByName_data()
{
    QTest::addColumn<QString>("kind");
    // How much of a folder's path survives: NTFS's old records chain up
    // to the root; exFAT's old root is where the new one is, so the top
    // folder's name is gone.
    QTest::addColumn<bool>("wholePaths");
    // Per cent of the documents that must come back under their names, in
    // their folders.
    QTest::addColumn<int>("namedShare");
    QTest::newRow("NTFS") << "ntfs" << true << 100;
    // The old table had grown out of its zone into clusters far from it.
    QTest::newRow("NTFS grown") << "ntfs-grown" << true << 100;
    QTest::newRow("exFAT") << "exfat" << false << 100;
    QTest::newRow("FAT32") << "fat32" << false << 90;
    QTest::newRow("FAT16") << "fat16" << false << 90;
    // Clusters of 16 KiB: each folder fits in one.
    QTest::newRow("FAT12") << "fat12" << false << 100;
}

void TestFormattedVolumes::documentsComeBackByName()
{
    QFETCH(QString, kind);
    QFETCH(bool, wholePaths);
    QFETCH(int, namedShare);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString image = dir.filePath(kind + ".img");
    int code = 0;
    const QString made = runProgram(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-formatted-volume.sh"),
                                    {kind, image}, &code);
    if (code != 0 && kind == QLatin1String("exfat") && !QFile::exists("/dev/loop-control"))
        QSKIP("no loop devices here: the exFAT volume cannot be built");
    if (code != 0 && kind.startsWith(QLatin1String("ntfs")) && !QFile::exists("/dev/fuse"))
        QSKIP("no /dev/fuse here: the NTFS volume cannot be filled");
    QVERIFY2(code == 0, qPrintable(made));
    const QList<Truth> truth = readTruth(image);
    const QStringList names = readNames(image);
    QVERIFY(truth.size() > 40);
    QCOMPARE(names.size(), truth.size());

    QString error;
    const QList<CliScanRow> rows = cliScanRows(image, {}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QHash<QString, QString> folderOf; // by name
    for (const CliScanRow& row : rows)
        folderOf.insert(row.json["name"].toString(), row.json["folder"].toString());
    // The names The Sleuth Kit read before the format, in their folders.
    int named = 0;
    int inFolder = 0;
    for (const QString& path : names) {
        const QFileInfo info(path);
        QString folder = info.path() == QLatin1String(".") ? QString() : info.path();
        if (wholePaths) {
            folder = QLatin1Char('/') + folder;
        } else {
            const int slash = folder.indexOf(QLatin1Char('/'));
            folder = slash < 0 ? QStringLiteral("?") : QStringLiteral("?") + folder.mid(slash);
        }
        const auto it = folderOf.constFind(info.fileName());
        if (it == folderOf.constEnd())
            continue;
        ++named;
        QVERIFY2(*it == folder || *it == QLatin1String("?"), qPrintable(path + " listed in " + *it));
        inFolder += *it == folder ? 1 : 0;
    }
    QVERIFY2(named * 100 >= namedShare * names.size(), qPrintable(QString("%1 of %2 by name").arg(named).arg(names.size())));
    if (namedShare == 100)
        QCOMPARE(inFolder, names.size());
    // One row a document: nothing listed twice, nothing carved beside its entry.
    QCOMPARE(rows.size(), truth.size());

    const QString out = dir.filePath("out");
    const QString recovered = runProgram(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"), {"recover", image, out}, &code);
    QVERIFY2(code == 0, qPrintable(recovered));
    // Every document byte for byte, under its own name where it was listed so.
    QHash<QByteArray, QStringList> written; // SHA-256 to the names written
    for (QDirIterator it(out, QDir::Files); it.hasNext();) {
        QFile f(it.next());
        QVERIFY(f.open(QIODevice::ReadOnly));
        written[QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex()].append(it.fileName());
    }
    for (const Truth& t : truth) {
        QVERIFY2(written.contains(t.sha256Hex), qPrintable(t.path));
        const QString name = QFileInfo(t.path).fileName();
        if (folderOf.contains(name))
            QVERIFY2(written[t.sha256Hex].contains(name), qPrintable(t.path));
    }
}

QTEST_GUILESS_MAIN(TestFormattedVolumes)
#include "tst_formattedvolumes.moc"
