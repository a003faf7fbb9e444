#pragma once

#include "disk/CPartitionInfo.h"
#include "disk/CPartitionList.h"

#include <QList>
#include <QWidget>

class CDiskButton;
class IFileChooser;
class ITransPage;
class QHBoxLayout;
class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QVBoxLayout;

// The first page: the machine's partitions as tiles, three to a row. A
// click selects a tile, a double click or "扫描" scans it; "打开镜像文件"
// scans a disk image file instead.
class CChoiceDiskWnd : public QWidget
{
    Q_OBJECT
public:
    // `probes`, when given, replaces what the partition list asks the
    // system (tests feed fixed lsblk answers).
    CChoiceDiskWnd(QWidget* parent, ITransPage* transPage, const CPartitionList::Probes* probes = nullptr);
    ~CChoiceDiskWnd() override;

    // Not owned; without one the image button does nothing.
    void setFileChooser(IFileChooser* chooser) { m_fileChooser = chooser; }

    QTableWidget* table() const { return m_table; }
    QPushButton* scanButton() const { return m_scanButton; }
    QPushButton* imageButton() const { return m_imageButton; }
    // "先创建磁盘映像", offered while a failing drive's tile is chosen.
    QPushButton* imageFirstButton() const { return m_imageFirstButton; }
    // "请先选择一个磁盘", shown while no tile is chosen.
    QLabel* hint() const { return m_hint; }
    const QList<CDiskButton*>& tiles() const { return m_tiles; }
    const CPartitionInfo* selectedPartition() const { return m_selected; }
    // "扫描整个卷": read every byte, not only what no live file holds.
    QCheckBox* wholeVolumeBox() const { return m_wholeVolume; }
    bool wholeVolume() const;

    // The description of a disk image file: named after the file, its file
    // system read from its first sector.
    static CPartitionInfo describeImage(const QString& path);

public slots:
    void nextPage();
    void scanPartion(int row, int column);
    void scanClickPartion(int row, int column);
    void openImageFile();
    void imageFirst();

private:
    void fillTable();
    void showSelection();
    const CPartitionInfo* partitionAt(int row, int column) const;

    QPushButton* m_scanButton;
    QPushButton* m_imageButton;
    QPushButton* m_imageFirstButton;
    QCheckBox* m_wholeVolume;
    ITransPage* m_transPage;
    QVBoxLayout* m_layout;
    QHBoxLayout* m_upperRow;
    QHBoxLayout* m_lowerRow;
    QTableWidget* m_table;
    QLabel* m_caption;
    QLabel* m_hint;
    QList<CDiskButton*> m_tiles;
    CPartitionList m_partitionList;
    QList<CPartitionInfo*> m_partitions;
    const CPartitionInfo* m_selected = nullptr;
    CPartitionInfo m_image;
    IFileChooser* m_fileChooser = nullptr;
};
