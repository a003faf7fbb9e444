#include "app/CChoiceDiskWnd.h"

#include "app/CDiskButton.h"
#include "app/IFileChooser.h"
#include "app/ITransPage.h"
#include "disk/CBootSectorProbe.h"
#include "disk/CEwfVolume.h"
#include "disk/CFileVolume.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QCheckBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cstdio>

namespace {
constexpr int kColumns = 3;
constexpr int kRowHeight = 80;
} // namespace

CChoiceDiskWnd::CChoiceDiskWnd(QWidget* parent, ITransPage* transPage, const CPartitionList::Probes* probes)
    : QWidget(parent)
    , m_scanButton(new QPushButton(tr("扫描"), this))
    , m_imageButton(new QPushButton(tr("打开镜像文件"), this))
    , m_imageFirstButton(new QPushButton(tr("先创建磁盘映像"), this))
    , m_wholeVolume(new QCheckBox(tr("扫描整个卷"), this))
    , m_transPage(transPage)
    , m_layout(new QVBoxLayout(this))
    , m_upperRow(new QHBoxLayout)
    , m_lowerRow(new QHBoxLayout)
    , m_table(new QTableWidget(this))
    , m_caption(new QLabel(tr("硬盘："), this))
    , m_hint(new QLabel(tr("请先选择一个磁盘"), this))
{
    if (probes)
        m_partitionList.setProbes(*probes);
    // The window's standard output is its trace of the drives it was shown
    // (tamsel-cli list keeps its own output for the list alone).
    m_partitionList.setDiagnosticStream(stdout);

    m_upperRow->setContentsMargins(20, 100, 60, 40);
    auto* captionColumn = new QVBoxLayout;
    captionColumn->addWidget(m_caption);
    captionColumn->addStretch();
    m_upperRow->addLayout(captionColumn);
    m_upperRow->addWidget(m_table);

    m_lowerRow->setContentsMargins(60, 0, 60, 10);
    m_hint->setStyleSheet(QStringLiteral("color: #555555;"));
    m_lowerRow->addStretch();
    m_lowerRow->addWidget(m_hint);
    m_lowerRow->addSpacing(20);
    m_lowerRow->addWidget(m_wholeVolume);
    m_lowerRow->addSpacing(20);
    m_lowerRow->addWidget(m_imageFirstButton);
    m_lowerRow->addSpacing(20);
    m_lowerRow->addWidget(m_imageButton);
    m_lowerRow->addSpacing(20);
    m_lowerRow->addWidget(m_scanButton, 2);

    m_layout->addLayout(m_upperRow);
    m_layout->addLayout(m_lowerRow);

    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->horizontalHeader()->hide();
    m_table->verticalHeader()->hide();
    m_table->setShowGrid(false);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);

    fillTable();

    m_scanButton->setObjectName(QStringLiteral("commonBtn"));
    m_scanButton->setFixedSize(100, 40);
    m_imageButton->setObjectName(QStringLiteral("commonBtn"));
    m_imageButton->setFixedSize(120, 40);
    m_imageButton->setToolTip(tr("扫描一个磁盘镜像文件（例如用 dd 制作的 .img）"));
    m_imageFirstButton->setObjectName(QStringLiteral("commonBtn"));
    m_imageFirstButton->setFixedSize(140, 40);
    m_imageFirstButton->setToolTip(tr("这块磁盘正在损坏：先把它复制成映像文件（能读的先读），再扫描映像，不再反复读这块磁盘"));
    connect(m_imageFirstButton, &QPushButton::clicked, this, &CChoiceDiskWnd::imageFirst);
    m_wholeVolume->setToolTip(tr("默认只扫描未使用空间（现有文件占用的部分不再读取，快得多）；"
                                 "勾选后逐字节扫描整个卷，现有文件内部的文档（如归档或虚拟磁盘中的文档）也会列出。"));

    connect(m_scanButton, &QPushButton::clicked, this, &CChoiceDiskWnd::nextPage);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, &CChoiceDiskWnd::scanPartion);
    connect(m_table, &QTableWidget::cellClicked, this, &CChoiceDiskWnd::scanClickPartion);
    // The keyboard chooses too (arrows, Tab).
    connect(m_table, &QTableWidget::currentCellChanged, this,
            [this](int row, int column) { scanClickPartion(row, column); });
    showSelection();
    connect(m_imageButton, &QPushButton::clicked, this, &CChoiceDiskWnd::openImageFile);
}

CChoiceDiskWnd::~CChoiceDiskWnd() = default;

void CChoiceDiskWnd::fillTable()
{
    m_table->setColumnCount(kColumns);
    m_partitionList.enumerate();
    m_partitions = m_partitionList.partitions();
    const int n = m_partitions.size();
    m_table->setRowCount((n + kColumns - 1) / kColumns);
    for (int i = 0; i < n; ++i) {
        auto* tile = new CDiskButton;
        tile->setPartition(m_partitions.at(i));
        m_tiles.append(tile);
        m_table->setRowHeight(i / kColumns, kRowHeight);
        m_table->setCellWidget(i / kColumns, i % kColumns, tile);
    }
    // The cells after the last tile can be neither clicked nor reached with
    // Tab: an item without flags is skipped by both.
    for (int i = n; i < m_table->rowCount() * kColumns; ++i) {
        auto* empty = new QTableWidgetItem;
        empty->setFlags(Qt::NoItemFlags);
        m_table->setItem(i / kColumns, i % kColumns, empty);
    }
}

const CPartitionInfo* CChoiceDiskWnd::partitionAt(int row, int column) const
{
    if (row < 0 || column < 0 || column >= kColumns)
        return nullptr;
    const int i = row * kColumns + column;
    return i < m_partitions.size() ? m_partitions.at(i) : nullptr;
}

void CChoiceDiskWnd::scanClickPartion(int row, int column)
{
    if (const CPartitionInfo* partition = partitionAt(row, column))
        m_selected = partition;
    showSelection();
}

void CChoiceDiskWnd::showSelection()
{
    // "扫描" cannot start anything until a tile is chosen; the hint says so.
    m_scanButton->setEnabled(m_selected != nullptr);
    // A failing drive is best copied once before anything else reads it.
    m_imageFirstButton->setVisible(m_selected && m_selected->healthWarning());
    m_hint->setVisible(m_selected == nullptr && !m_partitions.isEmpty());
}

void CChoiceDiskWnd::scanPartion(int row, int column)
{
    const CPartitionInfo* partition = partitionAt(row, column);
    if (partition && m_transPage)
        m_transPage->switchPage(2, partition);
}

bool CChoiceDiskWnd::wholeVolume() const
{
    return m_wholeVolume->isChecked();
}

void CChoiceDiskWnd::nextPage()
{
    if (m_selected && m_transPage)
        m_transPage->switchPage(2, m_selected);
}

void CChoiceDiskWnd::imageFirst()
{
    if (m_selected && m_transPage)
        m_transPage->switchPage(ITransPage::kImagingPage, m_selected);
}

void CChoiceDiskWnd::openImageFile()
{
    if (!m_fileChooser || !m_transPage)
        return;
    const QString path = m_fileChooser->chooseImageFile(this);
    if (path.isEmpty())
        return;
    m_image = describeImage(path);
    m_transPage->switchPage(2, &m_image);
}

CPartitionInfo CChoiceDiskWnd::describeImage(const QString& path)
{
    CPartitionInfo info;
    const QFileInfo file(path);
    info.displayName = file.fileName();
    info.devicePath = file.absoluteFilePath();
    info.kernelName = file.fileName();
    info.deviceType = QStringLiteral("image");
    info.freeText = tr("未知");
    // An E01 image is the acquired disk, read through libewf.
    std::unique_ptr<IVolume> volume;
    if (CEwfVolume::isEwfImage(info.devicePath))
        volume = CEwfVolume::open(info.devicePath, nullptr);
    else
        volume = CFileVolume::open(info.devicePath);
    if (volume) {
        info.totalBytes = volume->length();
        info.totalText = CPartitionList::gibText(info.totalBytes);
        // A volume's image names its file system; a whole disk's image
        // gets each partition's pass from the scan, which reads its table.
        info.fileSystem = CBootSectorProbe::detect(*volume);
        if (info.fileSystem.isEmpty())
            info.fileSystem = CPartitionInfo::autoFileSystem();
    }
    // A source that cannot be opened still goes to the scan page, which
    // says why it cannot be read.
    return info;
}
