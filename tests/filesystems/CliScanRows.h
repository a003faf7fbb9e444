#pragma once

// What `tamsel-cli scan IMAGE --json` lists, with the bytes each row's
// extents hold on the image, and the documents of tests/data by hash: for
// tests that check a listed document is the very one that was written.

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>

struct CliScanRow
{
    QJsonObject json;
    QByteArray bytes; // read along its extents
    bool whole() const { return json["integrity"].toString() == QLatin1String("whole"); }
    int pieces() const { return json["extents"].toArray().size(); }
};

inline QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

// Empty, with `error` set, when the scan fails.
inline QList<CliScanRow> cliScanRows(const QString& image, const QStringList& extra, QString* error)
{
    QList<CliScanRow> rows;
    QProcess p;
    p.start(QStringLiteral(TAMSEL_BIN_DIR "/tamsel-cli"), QStringList{"scan", image, "--json"} + extra);
    if (!p.waitForFinished(180000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        p.kill();
        p.waitForFinished();
        *error = QString::fromUtf8(p.readAllStandardError());
        return rows;
    }
    QFile f(image);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + image;
        return rows;
    }
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        const QJsonObject json = QJsonDocument::fromJson(line).object();
        if (json.isEmpty())
            continue;
        CliScanRow row;
        row.json = json;
        for (const QJsonValue& e : json["extents"].toArray()) {
            const QJsonArray run = e.toArray();
            f.seek(run[0].toVariant().toLongLong());
            row.bytes += f.read(run[1].toVariant().toLongLong());
        }
        rows.append(row);
    }
    return rows;
}

inline QMap<QByteArray, QString> testDataByHash()
{
    QMap<QByteArray, QString> out;
    const QDir dir(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/data"));
    for (const QString& name : dir.entryList(QDir::Files)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            out.insert(sha256(f.readAll()), name);
    }
    return out;
}
