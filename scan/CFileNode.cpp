#include "scan/CFileNode.h"

CFileNode::CFileNode(const QString& typeName, qint64 size, quint64 startSector, const QString& reservedText,
                     const QString& name, const QString& timeText, int typeCode, int kind,
                     const QString& sizeText, const QString& typeDescription)
    : size(size)
    , startSector(startSector)
    , typeCode(typeCode)
    , kind(kind)
    , typeName(typeName)
    , sizeText(sizeText)
    , typeDescription(typeDescription)
    , reservedText(reservedText)
    , name(name)
    , timeText(timeText)
{
}

QString CFileNode::displayName() const
{
    if (!originalName.isEmpty())
        return originalName;
    const QString base = name.isEmpty() ? QString::number(startSector) : name;
    return typeName.isEmpty() ? base : base + QLatin1Char('.') + typeName;
}

int64_t CFileNode::firstByteOffset() const
{
    if (hasResidentData)
        return -1;
    if (!extents.isEmpty()) {
        const Extent& first = extents.first();
        return first.offset == Extent::kSparse || first.length <= 0 ? -1 : first.offset;
    }
    if (startSector > static_cast<quint64>(INT64_MAX / 512))
        return -1;
    return static_cast<int64_t>(startSector * 512u);
}

void registerFileNodeMetaType()
{
    qRegisterMetaType<CFileNode>("CFileNode");
}
