#pragma once

// Helpers shared by the tests of damaged volumes and of the read-only
// promise: tamsel-cli runs, image patching, hashes.

#include "cli/CliTestSupport.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace hardening {

using clitest::Run;

// Volumes made to be damaged take their time: four minutes before a run
// counts as hung.
inline Run run(const QString& program, const QStringList& args, int timeoutMs = 240000)
{
    return clitest::run(program, args, timeoutMs);
}

inline Run cli(const QStringList& args)
{
    return clitest::cli(args, 240000);
}

// What a sanitizer prints when it finds something (the suite's sanitizer
// build also aborts, but a report must not pass unnoticed either way).
inline bool hasSanitizerReport(const QString& text)
{
    return text.contains(QLatin1String("AddressSanitizer")) || text.contains(QLatin1String("LeakSanitizer"))
        || text.contains(QLatin1String("runtime error:"));
}

inline QString script(const QString& name)
{
    return QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/") + name;
}

inline QByteArray readFile(const QString& path, qint64 offset = 0, qint64 length = -1)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return QByteArray();
    return length < 0 ? f.readAll() : f.read(length);
}

inline bool patchFile(const QString& path, qint64 offset, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite) || !f.seek(offset))
        return false;
    return f.write(bytes) == bytes.size();
}

inline bool copyFile(const QString& from, const QString& to)
{
    QFile::remove(to);
    return run(QStringLiteral("cp"), {QStringLiteral("--sparse=always"), from, to}).exitCode == 0;
}

inline QByteArray sha256(const QString& path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        return QByteArray();
    return hash.result().toHex();
}

inline QByteArray le16(uint16_t v)
{
    QByteArray b(2, 0);
    b[0] = char(v & 0xFF);
    b[1] = char(v >> 8);
    return b;
}

inline QByteArray le32(uint32_t v)
{
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

inline uint16_t u16At(const QByteArray& b, int at)
{
    return uint16_t(uint8_t(b[at]) | (uint8_t(b[at + 1]) << 8));
}

inline uint32_t u32At(const QByteArray& b, int at)
{
    return uint32_t(u16At(b, at)) | (uint32_t(u16At(b, at + 2)) << 16);
}

} // namespace hardening
