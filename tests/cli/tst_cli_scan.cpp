#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run cli(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"), args);
    Run r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace

class TestCliScan : public QObject
{
    Q_OBJECT

private slots:
    void usageAndExitCodes()
    {
        const Run help = cli({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY(help.out.contains(QStringLiteral("scan SOURCE")));
        QVERIFY(help.out.contains(QStringLiteral("; 130 interrupted (Ctrl-C).")));

        QCOMPARE(cli({}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("scan")}).exitCode, 2);
        QCOMPARE(cli({QStringLiteral("frobnicate")}).exitCode, 2);
        const Run badFs = cli({QStringLiteral("scan"), QStringLiteral("x.img"), QStringLiteral("--fs"), QStringLiteral("ext9")});
        QCOMPARE(badFs.exitCode, 2);
        QVERIFY(badFs.err.contains(QStringLiteral("Usage")));
    }

    void unreadableSourcesExitOne()
    {
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("no-such.img"));
        const Run r = cli({QStringLiteral("scan"), missing});
        QCOMPARE(r.exitCode, 1);
        QVERIFY(r.err.contains(missing));
        QVERIFY(r.out.isEmpty());

        const QString fifo = dir.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(cli({QStringLiteral("scan"), fifo}).exitCode, 1);
    }

    void emptyVolumeScansCleanly()
    {
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("blank.img"));
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(40 * 1024 * 1024));
        f.close();
        const Run r = cli({QStringLiteral("scan"), image, QStringLiteral("--tsv")});
        QCOMPARE(r.exitCode, 0);
        QVERIFY(r.out.isEmpty());
        QVERIFY(r.err.contains(QStringLiteral("0 lost document")));

        // An empty file is a volume of length 0, not an error.
        const QString empty = dir.filePath(QStringLiteral("empty.img"));
        QFile e(empty);
        QVERIFY(e.open(QIODevice::WriteOnly));
        e.close();
        QCOMPARE(cli({QStringLiteral("scan"), empty}).exitCode, 0);
    }
};

QTEST_GUILESS_MAIN(TestCliScan)
#include "tst_cli_scan.moc"
