#pragma once

#include <QWidget>

class CPartitionInfo;
class QLabel;
class QProgressBar;

// One partition tile: disk image, name, usage bar and free/total text.
class CDiskButton : public QWidget
{
    Q_OBJECT
public:
    CDiskButton();

    // Shows `partition` (not owned); a null pointer leaves the tile as it is.
    void setPartition(const CPartitionInfo* partition);
    const CPartitionInfo* partition() const { return m_partition; }

    QString nameText() const;
    QString spaceText() const;
    int usedPercent() const;
    // The name's tool tip: the device, and a failing drive's warning.
    QString nameToolTip() const;

private:
    QLabel* m_nameLabel;
    QLabel* m_spaceLabel;
    QProgressBar* m_usageBar;
    const CPartitionInfo* m_partition = nullptr;
};
