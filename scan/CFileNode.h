#pragma once

#include <QList>
#include <QMap>
#include <QMetaType>
#include <QString>

// One found document: where it starts on the volume, how long it is, its
// type, and the texts the result table shows for it. A plain value that
// travels between threads by queued signal.
class CFileNode
{
public:
    CFileNode() = default;
    CFileNode(const QString& typeName, qint64 size, quint64 startSector, const QString& reservedText,
              const QString& name, const QString& timeText, int typeCode, int kind,
              const QString& sizeText, const QString& typeDescription);

    // Byte offset of the document on the volume (sectors are 512 bytes).
    quint64 byteOffset() const { return startSector * 512u; }

    qint64 size = 0;
    // 64-bit: volumes beyond 2 TiB have sector numbers past 2^32.
    quint64 startSector = 0;
    int typeCode = 0;
    int kind = 0;
    QString typeName;
    QString sizeText;
    QString typeDescription;
    QString reservedText;
    QString name;
    QString timeText;
    QList<QMap<qint64, qint64>> extraMaps;
};

Q_DECLARE_METATYPE(CFileNode)

// Registers CFileNode for queued connections (idempotent).
void registerFileNodeMetaType();
