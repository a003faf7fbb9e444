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

void registerFileNodeMetaType()
{
    qRegisterMetaType<CFileNode>("CFileNode");
}
