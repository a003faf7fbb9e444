#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Running a program, tamsel-cli above all, to its end and keeping what it
// said (the CLI tests, and the hardening tests through HardeningSupport.h).
namespace clitest {

struct Run
{
    int exitCode = -1; // -1: it crashed or did not end in time
    QString out;
    QString err;
};

inline Run run(const QString& program, const QStringList& args, int timeoutMs = 180000)
{
    QProcess p;
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("%1 did not end within %2 s").arg(program).arg(timeoutMs / 1000);
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err += QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline Run cli(const QStringList& args, int timeoutMs = 180000)
{
    return run(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"), args, timeoutMs);
}

} // namespace clitest
