// Volumes filled with documents in folders and then quick-formatted
// (tests/scripts/make-formatted-volume.sh): the documents come back by the
// names and folders The Sleuth Kit read on the volume before the format,
// one row each (the old entry and the carved document at its first cluster
// are one), and recover writes each byte for byte under its name; the ones
// NTFS kept inside their records included.

#include "CliScanRows.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
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
    QTest::newRow("NTFS") << "ntfs" << true;
    QTest::newRow("exFAT") << "exfat" << false;
}

void TestFormattedVolumes::documentsComeBackByName()
{
    QFETCH(QString, kind);
    QFETCH(bool, wholePaths);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString image = dir.filePath(kind + ".img");
    int code = 0;
    const QString made = runProgram(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-formatted-volume.sh"),
                                    {kind, image}, &code);
    if (code != 0 && kind == QLatin1String("exfat") && !QFile::exists("/dev/loop-control"))
        QSKIP("no loop devices here: the exFAT volume cannot be built");
    if (code != 0 && kind == QLatin1String("ntfs") && !QFile::exists("/dev/fuse"))
        QSKIP("no /dev/fuse here: the NTFS volume cannot be filled");
    QVERIFY2(code == 0, qPrintable(made));
    const QList<Truth> truth = readTruth(image);
    const QStringList names = readNames(image);
    QVERIFY(truth.size() > 40);
    QCOMPARE(names.size(), truth.size());

    QString error;
    const QList<CliScanRow> rows = cliScanRows(image, {}, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QSet<QString> listed;
    for (const CliScanRow& row : rows) {
        const QString folder = row.json["folder"].toString();
        listed.insert(folder + '\x01' + row.json["name"].toString());
    }
    // Every name The Sleuth Kit read before the format, in its folder.
    for (const QString& path : names) {
        const QFileInfo info(path);
        QString folder = info.path() == QLatin1String(".") ? QString() : info.path();
        if (wholePaths) {
            folder = QLatin1Char('/') + folder;
        } else {
            const int slash = folder.indexOf(QLatin1Char('/'));
            folder = slash < 0 ? QStringLiteral("?") : QStringLiteral("?") + folder.mid(slash);
        }
        QVERIFY2(listed.contains(folder + '\x01' + info.fileName()), qPrintable(folder + " / " + info.fileName()));
    }
    // One row a document: nothing listed twice, nothing carved beside its entry.
    QCOMPARE(rows.size(), truth.size());

    const QString out = dir.filePath("out");
    const QString recovered = runProgram(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"), {"recover", image, out}, &code);
    QVERIFY2(code == 0, qPrintable(recovered));
    for (const Truth& t : truth) {
        QFile f(QDir(out).filePath(QFileInfo(t.path).fileName()));
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(t.path));
        QCOMPARE(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex(), t.sha256Hex);
    }
}

QTEST_GUILESS_MAIN(TestFormattedVolumes)
#include "tst_formattedvolumes.moc"
