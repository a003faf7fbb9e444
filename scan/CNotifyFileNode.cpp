#include "scan/CNotifyFileNode.h"

CNotifyFileNode::CNotifyFileNode(QObject* parent)
    : QObject(parent)
{
    registerFileNodeMetaType();
}

void CNotifyFileNode::postItem(CFileNode node)
{
    emit notifyItem(node);
}

void CNotifyFileNode::postItem(long long startSector, int typeCode)
{
    emit notifyItem(startSector, typeCode);
}
