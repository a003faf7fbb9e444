#pragma once

#include "scan/CFileNode.h"

#include <QObject>

// The relay through which every scanner reports. It lives on the thread
// that created the scan worker; scanners post from their own threads, so
// receivers get the reports queued, in the order they were posted.
class CNotifyFileNode : public QObject
{
    Q_OBJECT
public:
    explicit CNotifyFileNode(QObject* parent = nullptr);

    // A carved document.
    void postItem(CFileNode node);
    // A document still owned by a live file: (start sector, type code).
    void postItem(long long startSector, int typeCode);

signals:
    void notifyItem(CFileNode node);
    void notifyItem(long long startSector, int typeCode);
};
