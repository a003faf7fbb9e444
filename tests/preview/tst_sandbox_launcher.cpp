// Ordinary commands run through the launcher, each doing one thing the
// sandbox must refuse, with bubblewrap and in the reduced sandbox without
// it.
#include "preview/CSandboxLauncher.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>

class tst_sandbox_launcher : public QObject
{
    Q_OBJECT

private:
    CSandboxLauncher launcher(bool bubblewrap)
    {
        CSandboxLauncher l;
        l.setBubblewrapAllowed(bubblewrap);
        CSandboxLauncher::Limits limits;
        limits.timeoutMs = 10000;
        limits.addressSpace = int64_t(256) << 20;
        l.setLimits(limits);
        return l;
    }
    CSandboxLauncher::Result shell(const CSandboxLauncher& l, const QString& script, const QByteArray& input = {})
    {
        return l.run(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, input);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty(), "python3 is needed");
    }

    void refusals_data()
    {
        QTest::addColumn<bool>("bubblewrap");
        QTest::newRow("bubblewrap") << true;
        QTest::newRow("reduced") << false;
    }

    void refusals()
    {
        QFETCH(bool, bubblewrap);
        const CSandboxLauncher l = launcher(bubblewrap);
        // Installed by scripts/install-deps.sh: where it is there, the full
        // sandbox must work (a fault of ours must not pass as a skip).
        if (bubblewrap && !QFile::exists(QStringLiteral("/usr/bin/bwrap")))
            QSKIP("bubblewrap is not installed");
        QVERIFY2(!bubblewrap || l.bubblewrapUsable(), "bubblewrap is installed but the sandbox could not start");

        // It runs at all: input in, output out, and it says which sandbox.
        CSandboxLauncher::Result r = shell(l, QStringLiteral("tr a-z A-Z"), QByteArray("hello\n"));
        QVERIFY2(r.succeeded(), r.errors.constData());
        QCOMPARE(r.output, QByteArray("HELLO\n"));
        QCOMPARE(r.reduced, !bubblewrap);

        // Writing a file, in a folder anyone may write to and in one of ours.
        QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tst_sandbox_XXXXXX"));
        QVERIFY(dir.isValid());
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7777)));
        for (const QString& target : {dir.filePath(QStringLiteral("written")), QStringLiteral("/dev/shm/tst_sandbox_%1").arg(::getpid())}) {
            r = shell(l, QStringLiteral("echo x > '%1' || exit 3; mkdir '%1.d' || exit 4").arg(target));
            QVERIFY2(!r.succeeded(), qPrintable(target));
            QVERIFY2(!QFile::exists(target), qPrintable(target));
            QFile::remove(target);
        }
        // Appending to and removing an existing file.
        QFile existing(dir.filePath(QStringLiteral("existing")));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("kept");
        existing.close();
        r = shell(l, QStringLiteral("echo more >> '%1'; rm -f '%1'").arg(existing.fileName()));
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QCOMPARE(existing.readAll(), QByteArray("kept"));

        // Opening a socket, of any family.
        r = l.run(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-c"),
                   QStringLiteral("import socket\n"
                                  "for f in (socket.AF_INET, socket.AF_INET6, socket.AF_UNIX):\n"
                                  "    try:\n        socket.socket(f); print('open')\n"
                                  "    except OSError: pass\n")},
                  {});
        QVERIFY2(r.succeeded(), r.errors.constData());
        QCOMPARE(r.output, QByteArray());

        // Eating memory: the address space limit stops it.
        r = l.run(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QStringLiteral("b = bytearray(1 << 30)")}, {});
        QVERIFY(!r.succeeded());
        QVERIFY2(r.errors.contains("MemoryError"), r.errors.constData());

        // Hanging, and handing the output on to a child that keeps it open:
        // killed once its time is up.
        CSandboxLauncher quick = l;
        CSandboxLauncher::Limits limits = quick.limits();
        limits.timeoutMs = 300;
        quick.setLimits(limits);
        r = shell(quick, QStringLiteral("sleep 30 & sleep 30"));
        QCOMPARE(int(r.outcome), int(CSandboxLauncher::Outcome::TimedOut));
        // Or sooner, once its caller gives up on it.
        int asked = 0;
        r = l.run(QStringLiteral("/bin/sleep"), {QStringLiteral("30")}, {}, [&asked] { return ++asked > 3; });
        QCOMPARE(int(r.outcome), int(CSandboxLauncher::Outcome::Cancelled));
        // Printing without end.
        limits.timeoutMs = 10000;
        limits.maxOutput = 1 << 20;
        quick.setLimits(limits);
        r = shell(quick, QStringLiteral("yes"));
        QCOMPARE(int(r.outcome), int(CSandboxLauncher::Outcome::OutputTooLarge));
        // A crash is told from an exit.
        r = shell(l, QStringLiteral("kill -SEGV $$"));
        QCOMPARE(int(r.outcome), int(CSandboxLauncher::Outcome::Signalled));
        QCOMPARE(r.signal, SIGSEGV);
    }

    // The user's files stay out of reach (only bubblewrap can do that: the
    // reduced sandbox leaves the file system readable and says so).
    void homeFolderUnreadable()
    {
        const CSandboxLauncher l = launcher(true);
        if (!l.bubblewrapUsable())
            QSKIP("bubblewrap cannot make its namespaces here");
        const QString home = QDir::homePath();
        QVERIFY(QDir(home).exists());
        const CSandboxLauncher::Result r = shell(l, QStringLiteral("ls -A '%1'; cat '%2'").arg(home, QStringLiteral(TAMSEL_SOURCE_DIR "/CMakeLists.txt")));
        QCOMPARE(r.output, QByteArray());
        QVERIFY(!r.succeeded());
    }
};

QTEST_GUILESS_MAIN(tst_sandbox_launcher)
#include "tst_sandbox_launcher.moc"
