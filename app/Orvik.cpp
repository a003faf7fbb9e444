#include "app/Orvik.h"

#include "app/CAppResources.h"
#include "app/CCheckHeaderView.h"
#include "app/CFilterBar.h"
#include "app/CMessageTips.h"
#include "app/CMiddleElideDelegate.h"
#include "app/CPreviewPane.h"
#include "app/IFileChooser.h"
#include "app/ITransPage.h"
#include "disk/CErrnoText.h"
#include "disk/CEwfVolume.h"
#include "disk/CFileVolume.h"
#include "disk/CKnownBadVolume.h"
#include "disk/CSameVolumeCheck.h"
#include "scan/CScanJournal.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSplitter>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The file systems whose live files the scan can tell apart; "auto" finds
// out for itself and warns when it finds none.
bool hasLiveFilePass(const QString& fileSystem)
{
    return fileSystem == QLatin1String("NTFS") || fileSystem == QLatin1String("FAT32")
        || fileSystem == QLatin1String("FAT16") || fileSystem == QLatin1String("FAT12")
        || fileSystem == QLatin1String("exFAT") || fileSystem == QLatin1String("EXT4")
        || fileSystem == CRecoveryControl::autoFileSystem();
}

QPushButton* commonButton(const QString& text, QWidget* parent, int w, int h)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QStringLiteral("commonBtn"));
    button->setFixedSize(w, h);
    return button;
}

QLabel* rowLabel(const QString& text, QWidget* parent, int minimumWidth = 0)
{
    auto* label = new QLabel(text, parent);
    label->setFixedHeight(25);
    label->setMinimumWidth(minimumWidth);
    return label;
}

// The done mark's colours: the green of success only for a scan that ran to
// its end.
const char* const kFinishedStyle = "color: #1f8a4c;";
const char* const kStoppedStyle = "color: #8a5a00;";

// Sizes of the volume in the progress line: "12.3 GB", "120 GB".
QString amountText(double bytes)
{
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB", "PB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 5) {
        bytes /= 1024.0;
        ++unit;
    }
    const int decimals = unit == 0 || bytes >= 100.0 ? 0 : 1;
    return QStringLiteral("%1 %2").arg(bytes, 0, 'f', decimals).arg(QLatin1String(units[unit]));
}

QString timeLeftText(double seconds)
{
    if (seconds < 60.0)
        return QCoreApplication::translate("Orvik", "不到 1 分钟");
    const qint64 minutes = static_cast<qint64>(seconds / 60.0 + 0.5);
    if (minutes < 60)
        return QCoreApplication::translate("Orvik", "%1 分钟").arg(minutes);
    return QCoreApplication::translate("Orvik", "%1 小时 %2 分钟").arg(minutes / 60).arg(minutes % 60);
}

} // namespace

Orvik::Orvik(QWidget* parent)
    : QWidget(parent)
    , m_topRow(new QHBoxLayout)
    , m_countersRow(new QHBoxLayout)
    , m_progressRow(new QHBoxLayout)
    , m_panesRow(new QHBoxLayout)
    , m_bottomRow(new QHBoxLayout)
    , m_mainLayout(new QVBoxLayout(this))
    , m_detailsRow(new QHBoxLayout)
    , m_stopButton(new QPushButton(tr("停止"), this))
    , m_recoverButton(commonButton(tr("恢复"), this, 100, 30))
    , m_backButton(commonButton(tr("返回"), this, 100, 30))
    , m_doneMark(rowLabel(tr("完成"), this, 50))
    , m_busyLabel(new QLabel(this))
    , m_busyMovie(new QMovie(CAppResources::path(QStringLiteral("scaning.gif")), QByteArray(), this))
    , m_foundCaption(rowLabel(tr("找到："), this, 30))
    , m_tickedCaption(rowLabel(tr("勾选："), this, 30))
    , m_foundCount(rowLabel(QStringLiteral("0"), this, 40))
    , m_tickedCount(rowLabel(QStringLiteral("0"), this, 40))
    , m_hiddenCaption(rowLabel(tr("筛选隐藏："), this, 30))
    , m_hiddenCount(rowLabel(QStringLiteral("0"), this, 40))
    , m_noticeLabel(new QLabel(this))
    , m_imageFirstButton(new QPushButton(tr("先创建磁盘映像"), this))
    , m_detailsLabel(new QLabel(this))
    , m_readPlanLabel(new QLabel(tr("只扫描未使用空间"), this))
    , m_emptyLabel(nullptr)
    , m_progressBar(new QProgressBar(this))
    , m_treeView(new QTreeView(this))
    , m_byTypeButton(new QRadioButton(tr("按类型"), this))
    , m_byFolderButton(new QRadioButton(tr("按文件夹"), this))
    , m_keepFoldersBox(new QCheckBox(tr("按原文件夹恢复"), this))
    , m_tableView(new QTableView(this))
    , m_filterBar(new CFilterBar(this))
    , m_refresher(&m_treeBuilder, &m_treeModel, &m_tableModel)
    , m_inbox(&m_treeBuilder)
{
    registerFileNodeMetaType();
    m_treeBuilder.setReceiver(this);

    // Counters and progress on the first line; below it what the progress
    // means (share, amount, time left); below that, on a line of its own
    // so that it wraps instead of pushing the stop button out of the
    // window, the note about the volume.
    m_countersRow->addWidget(m_foundCaption);
    m_countersRow->addWidget(m_foundCount);
    m_countersRow->addWidget(m_tickedCaption);
    m_countersRow->addWidget(m_tickedCount);
    // Only while a filter hides rows.
    m_countersRow->addWidget(m_hiddenCaption);
    m_countersRow->addWidget(m_hiddenCount);
    m_hiddenCaption->hide();
    m_hiddenCount->hide();
    m_noticeLabel->setStyleSheet(QStringLiteral("color: #b26a00;"));
    m_noticeLabel->setWordWrap(true);
    m_noticeLabel->hide();
    m_progressRow->setSpacing(5);
    m_busyMovie->setScaledSize(QSize(20, 20));
    m_busyLabel->setFixedSize(20, 20);
    m_busyLabel->setMovie(m_busyMovie);
    m_busyMovie->start();
    // Up to 500 wide; narrower when the counters need the room (the count
    // of rows a filter hides, longer words in English).
    m_progressBar->setFixedHeight(15);
    m_progressBar->setMinimumWidth(240);
    m_progressBar->setMaximumWidth(500);
    m_progressBar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_progressBar->setTextVisible(false);
    m_progressBar->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Sized by its text (and the style sheet's font), never clipped.
    m_stopButton->setObjectName(QStringLiteral("commonBtn"));
    // Never narrower than 50 x 25; wider only for a longer word.
    m_stopButton->setFixedHeight(25);
    m_stopButton->setMinimumWidth(50);
    m_stopButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_doneMark->setAlignment(Qt::AlignCenter);
    m_doneMark->setStyleSheet(QLatin1String(kFinishedStyle));
    m_doneMark->hide();
    m_progressRow->addWidget(m_busyLabel);
    m_progressRow->addWidget(m_progressBar, 1);
    m_progressRow->addWidget(m_stopButton);
    m_progressRow->addWidget(m_doneMark);
    m_progressRow->addStretch();
    m_topRow->addLayout(m_countersRow);
    m_topRow->addSpacing(20);
    m_topRow->addLayout(m_progressRow, 1);
    m_detailsLabel->setStyleSheet(QStringLiteral("color: #555555;"));
    m_readPlanLabel->setStyleSheet(QStringLiteral("color: #555555;"));
    m_readPlanLabel->hide();
    m_detailsRow->addWidget(m_readPlanLabel);
    m_detailsRow->addStretch();
    m_detailsRow->addWidget(m_detailsLabel);

    // The two panes.
    m_treeView->setModel(&m_treeModel);
    m_treeView->setFixedWidth(200);
    m_treeView->expandAll();
    m_tableView->setHorizontalHeader(new CCheckHeaderView(m_tableView));
    m_tableView->setModel(&m_tableModel);
    m_tableView->setSortingEnabled(true);
    // No arrow until the user picks a column (enabling sorting points it
    // at the check box column).
    m_tableView->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tableView->verticalHeader()->hide();
    m_tableView->verticalHeader()->setDefaultSectionSize(24);
    m_tableView->setShowGrid(false);
    m_tableView->setAlternatingRowColors(true);
    const int widths[] = {40, 200, 90, 130, 170};
    for (int column = 0; column < 5; ++column)
        m_tableView->setColumnWidth(column, widths[column]);
    m_tableView->horizontalHeader()->setStretchLastSection(true);
    // A long type name must not hide that the document is damaged.
    m_tableView->setItemDelegateForColumn(CFileInfoTableModel::TypeColumn, new CMiddleElideDelegate(m_tableView));
    // Beside the preview the columns may not fit: the table then scrolls
    // sideways rather than cutting the last ones off.
    m_tableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_tableView->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    // Tab leaves the table for the buttons instead of walking its cells.
    m_tableView->setTabKeyNavigation(false);
    connect(m_treeView, &QTreeView::clicked, this, &Orvik::showFile);
    m_refresher.setFolderModel(&m_folderModel);
    // The tree shows the files by type, or in the folders they were deleted
    // from; the same files and ticks either way.
    auto* viewGroup = new QButtonGroup(this);
    viewGroup->addButton(m_byTypeButton);
    viewGroup->addButton(m_byFolderButton);
    m_byTypeButton->setChecked(true);
    m_byTypeButton->setToolTip(tr("按文档类型列出找到的文档"));
    m_byFolderButton->setToolTip(tr("按已删除文件原来所在的文件夹列出；只凭内容找到的文档单独列在一处"));
    connect(m_byFolderButton, &QRadioButton::toggled, this, &Orvik::setFolderView);
    auto* switchRow = new QHBoxLayout;
    switchRow->setContentsMargins(2, 0, 0, 0);
    switchRow->setSpacing(10);
    switchRow->addWidget(m_byTypeButton);
    switchRow->addWidget(m_byFolderButton);
    switchRow->addStretch();
    auto* treeColumn = new QVBoxLayout;
    treeColumn->addLayout(switchRow);
    treeColumn->addWidget(m_treeView);
    auto* tableColumn = new QVBoxLayout;
    connect(m_filterBar, &CFilterBar::filterChanged, &m_tableModel, &CFileInfoTableModel::setFilter);
    connect(m_filterBar, &CFilterBar::filterChanged, this, &Orvik::updateFilterNote);
    connect(&m_refresher, &CResultRefresher::refreshed, this, &Orvik::updateFilterNote);
    // Another type's list, or one that grew, hides another number of rows.
    connect(&m_tableModel, &QAbstractItemModel::modelReset, this, &Orvik::updateFilterNote);
    tableColumn->addWidget(m_filterBar);
    tableColumn->addWidget(m_tableView);
    // Says so when a scan ends with nothing found, over the empty table.
    m_emptyLabel = new QLabel(m_tableView->viewport());
    m_emptyLabel->setAlignment(Qt::AlignCenter);
    m_emptyLabel->setWordWrap(true);
    m_emptyLabel->setStyleSheet(QStringLiteral("color: #555555; font-size: 14px;"));
    m_emptyLabel->hide();
    m_tableView->viewport()->installEventFilter(this);
    // Space ticks the selected rows.
    m_tableView->installEventFilter(this);
    m_panesRow->setSpacing(0);
    m_panesRow->addLayout(treeColumn, 1);
    // The preview beside the table, in a splitter the user can drag or
    // close; it appears with the first row chosen.
    auto* tableBox = new QWidget(this);
    tableColumn->setContentsMargins(0, 0, 0, 0);
    tableBox->setLayout(tableColumn);
    m_previewPane = new CPreviewPane(this);
    m_previewSplitter = new QSplitter(Qt::Horizontal, this);
    m_previewSplitter->setChildrenCollapsible(false);
    m_previewSplitter->addWidget(tableBox);
    m_previewSplitter->addWidget(m_previewPane);
    m_previewSplitter->setStretchFactor(0, 3);
    m_previewSplitter->setStretchFactor(1, 2);
    m_previewPane->hide();
    m_panesRow->addWidget(m_previewSplitter, 4);
    connect(m_tableView->selectionModel(), &QItemSelectionModel::currentRowChanged, this, &Orvik::previewRow);
    connect(m_previewPane, &CPreviewPane::closeRequested, this, [this] {
        m_previewClosed = true;
        m_previewPane->hide();
    });
    connect(m_tableView, &QTableView::doubleClicked, this, &Orvik::popupPreview);
    for (int key : {int(Qt::Key_Return), int(Qt::Key_Enter)}) {
        auto* enter = new QShortcut(QKeySequence(key), m_tableView, nullptr, nullptr, Qt::WidgetShortcut);
        connect(enter, &QShortcut::activated, this, [this] { popupPreview(m_tableView->currentIndex()); });
    }

    m_recoverButton->setEnabled(false);
    m_keepFoldersBox->setToolTip(tr("在输出文件夹中重建每个已删除文件原来的文件夹；"
                                    "只凭内容找到的文档和上级文件夹已丢失的文件放在 lost 文件夹中"));
    m_bottomRow->addWidget(m_backButton);
    m_bottomRow->addStretch();
    m_bottomRow->addWidget(m_keepFoldersBox);
    m_bottomRow->addSpacing(10);
    m_bottomRow->addWidget(m_recoverButton);

    m_mainLayout->addLayout(m_topRow);
    m_mainLayout->addLayout(m_detailsRow);
    // A disk that fails reads is best imaged before anything else reads it:
    // the scan stops, and the imaging page copies it.
    m_imageFirstButton->setObjectName(QStringLiteral("commonBtn"));
    m_imageFirstButton->setFixedHeight(30);
    m_imageFirstButton->setMinimumWidth(m_imageFirstButton->fontMetrics().horizontalAdvance(m_imageFirstButton->text()) + 24);
    m_imageFirstButton->hide();
    connect(m_imageFirstButton, &QPushButton::clicked, this, [this]() {
        m_leaveTo = ITransPage::kImagingPage;
        if (m_control.isScanning()) {
            m_control.stopScan(); // the page is left once the scan has ended
            return;
        }
        leavePage();
    });
    auto* noticeRow = new QHBoxLayout;
    noticeRow->addWidget(m_noticeLabel, 1);
    noticeRow->addWidget(m_imageFirstButton);
    m_mainLayout->addLayout(noticeRow);
    m_mainLayout->addLayout(m_panesRow, 1);
    m_mainLayout->addLayout(m_bottomRow);
    // The keyboard goes the way the eye does: the types, the filter, the
    // table, then the buttons under it.
    // The view switch sits over the tree and comes before it.
    setTabOrder(m_byTypeButton, m_byFolderButton);
    setTabOrder(m_byFolderButton, m_treeView);
    setTabOrder(m_treeView, m_filterBar->textEdit());
    setTabOrder(m_filterBar->textEdit(), m_filterBar->filterButton());
    setTabOrder(m_filterBar->filterButton(), m_tableView);
    setTabOrder(m_tableView, m_backButton);
    setTabOrder(m_backButton, m_keepFoldersBox);
    setTabOrder(m_keepFoldersBox, m_recoverButton);
    // Enter in the name box goes on to the rows it left.
    connect(m_filterBar->textEdit(), &QLineEdit::returnPressed, this, [this] {
        m_tableView->setFocus(Qt::OtherFocusReason);
        if (!m_tableView->currentIndex().isValid() && m_tableModel.rowCount() > 0)
            m_tableView->setCurrentIndex(m_tableModel.index(0, CFileInfoTableModel::NameColumn));
    });

    connect(&m_refresher, &CResultRefresher::countersChanged, this, &Orvik::showCounters);
    connect(&m_refresher, &CResultRefresher::typeRowAdded, this, [this]() {
        if (!isFolderView())
            m_treeView->expandAll();
    });
    // New folders at the top two levels show at once; deeper ones as the
    // user opens their parents.
    // (Each opened on its own: expanding the whole tree at every insertion
    // would walk every folder each time.)
    connect(&m_folderModel, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex& parent, int first, int last) {
                if (!isFolderView() || !parent.isValid() || parent.parent().isValid())
                    return;
                m_treeView->expand(parent);
                for (int row = first; row <= last; ++row)
                    m_treeView->expand(m_folderModel.index(row, 0, parent));
            });
    connect(&m_treeBuilder, &CCreateTreeNode::documentListed, &m_details, &CDetailsWorker::enqueue);
    connect(&m_details, &CDetailsWorker::detailsReady, &m_treeBuilder, &CCreateTreeNode::applyDetails);

    connect(m_stopButton, &QPushButton::clicked, this, &Orvik::endScan);
    connect(&m_control, &CRecoveryControl::notifyProcess, this, &Orvik::updateProcess);
    m_inbox.attach(m_control.relay());
    connect(&m_inbox, &CRelayInbox::drained, this, [this]() {
        const QVector<std::function<void()>> actions = std::move(m_afterDelivery);
        m_afterDelivery.clear();
        for (const std::function<void()>& action : actions)
            action();
    });
    connect(&m_treeModel, &CFileNodeModel::checkStatus, this, &Orvik::reciveStatusFromTree);
    connect(&m_tableModel, &CFileInfoTableModel::checkTableStatus, this, &Orvik::reciveStatusFromTable);
    connect(m_recoverButton, &QPushButton::clicked, this, &Orvik::recoveryData);
    connect(m_backButton, &QPushButton::clicked, this, &Orvik::backPage);
    connect(&m_control, &CRecoveryControl::scanThreadFinish, this, &Orvik::onScanThreadFinish);
    connect(&m_control, &CRecoveryControl::notifyOpenFailed, this, &Orvik::onOpenFailed);
    connect(&m_control, &CRecoveryControl::notifyScanFailed, this, &Orvik::onScanFailed);
    connect(&m_control, &CRecoveryControl::notifyWarning, this, &Orvik::onScanWarning);
    connect(&m_control, &CRecoveryControl::notifyFoundPartition, this, &Orvik::onFoundPartition);
    connect(&m_control, &CRecoveryControl::notifyReadPlan, this, &Orvik::onReadPlan);
}

Orvik::~Orvik()
{
    // The table's viewport is watched; a view half destroyed must not be
    // asked for it.
    m_tableView->viewport()->removeEventFilter(this);
    m_tableView->removeEventFilter(this);
    // Nor may the model's resets reach the counters and the note, which
    // the views below take with them.
    disconnect(&m_tableModel, nullptr, this, nullptr);
    delete m_backButton;
    delete m_treeView;
    delete m_tableView;
    delete m_recoverButton;
    m_treeBuilder.requestStop();
    // Both workers read the volume and feed the models: they end first.
    m_control.stopScan();
    m_control.wait();
    m_details.stop();
    m_recoveryDialog.stopAndWait();
}

void Orvik::startWithPartition(const CPartitionInfo& partition)
{
    m_partition = partition;
    startScan();
}

void Orvik::startWithVolume(const CPartitionInfo& partition, std::shared_ptr<IVolume> volume)
{
    m_partition = partition;
    m_presetVolume = std::move(volume);
    startScan();
}

void Orvik::startScan()
{
    m_scanning = true;
    m_finished = false;
    m_previewPane->clear();
    m_currentTypeIndex = QPersistentModelIndex();
    m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(0);
    m_lastPermille = 0;
    m_rawPassClock.invalidate();
    m_detailsLabel->clear();
    m_readPlanLabel->hide();
    m_bytesToRead = -1;
    m_planKnown = false;
    m_control.setWholeVolume(m_wholeVolume);
    m_emptyLabel->hide();
    m_foundCount->setText(QStringLiteral("0"));
    m_tickedCount->setText(QStringLiteral("0"));
    m_refresher.startScan(m_partition.displayName);
    m_treeView->expandAll();
    if (!hasLiveFilePass(m_partition.fileSystem)) {
        m_noticeLabel->setText(tr("此卷不是 NTFS、FAT32、exFAT 或 ext4：现有文件的文档也会列出。"));
        m_noticeLabel->setToolTip(
            tr("只有 NTFS、FAT32、exFAT 和 ext4 能读出哪些文档仍属于现有文件；其他卷上找到的全部文档都会列出。"));
        m_noticeLabel->show();
    } else if (m_partition.fileSystem == QLatin1String("EXT4")) {
        showExt4Note();
    } else {
        m_noticeLabel->hide();
    }
    m_warningRank = 0;
    m_imageFirstButton->hide();
    m_warningDetails.clear();
    // A source this window can open itself is read for its identity, so
    // that the scan is saved as it goes and a saved one can be offered;
    // anything else is opened by the worker as before.
    std::shared_ptr<IVolume> volume = std::move(m_presetVolume);
    if (!volume && !m_partition.devicePath.isEmpty()) {
        if (CEwfVolume::isEwfImage(m_partition.devicePath))
            volume = CEwfVolume::open(m_partition.devicePath, nullptr);
        else
            volume = CFileVolume::open(m_partition.devicePath);
    }
    if (volume) {
        offerSavedScan(*volume);
        // An image made of a failing disk is read with its map beside it:
        // what the copy could not read is unreadable here too, not zeros.
        if (m_partition.deviceType == QLatin1String("image")) {
            const QString map = CKnownBadVolume::mapBeside(m_partition.devicePath);
            QString why;
            std::shared_ptr<IVolume> mapped = map.isEmpty() ? nullptr : CKnownBadVolume::withMap(volume, map, &why);
            if (mapped)
                volume = std::move(mapped);
            else if (!why.isEmpty()) {
                m_noticeLabel->setText(tr("映像旁的读取记录无法使用，映像按原样扫描：%1").arg(why));
                m_noticeLabel->show();
            }
        }
        m_control.beginScan(std::move(volume), m_partition.fileSystem);
    } else {
        m_control.beginScan(m_partition.devicePath, m_partition.fileSystem);
    }
    // Documents reach the builder queued, after this: the details pass
    // reads them from the volume the scan opened.
    m_details.setVolume(m_control.diskHandle());
}

void Orvik::offerSavedScan(IVolume& volume)
{
    // Only real disks and images: a volume made in memory has nothing to
    // come back to.
    if (!dynamic_cast<CFileVolume*>(&volume))
        return;
    const CScanJournal::Identity identity = CScanJournal::identify(volume);
    const QString file = CScanJournal::fileFor(identity);
    m_control.setSessionFile(file, identity);
    CScanJournal::State state;
    QString notice;
    if (!CScanJournal::load(file, identity, &state, &notice)) {
        if (!notice.isEmpty()) {
            CMessageTips tips(this);
            tips.setNotice(true);
            tips.setMessage(tr("上次保存的扫描记录已损坏、来自其他版本或不属于此卷，已忽略；将重新扫描。"));
            tips.setToolTip(notice);
            tips.exec();
        }
        return;
    }
    // The saved scan goes on, or opens, the way it was made (the worker
    // follows its settings): say so where they differ from today's.
    QString message = state.finished ? tr("此卷上次的扫描已完成，可以直接打开它的结果。")
                                     : tr("此卷上次的扫描没有完成，可以从停下的地方继续。");
    const auto noFileSystem = [](const QString& name) {
        return name.isEmpty() || name.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0;
    };
    if (noFileSystem(state.fileSystem) && !noFileSystem(m_partition.fileSystem))
        message += QLatin1Char('\n') + tr("上次的扫描没有读取文件系统，现有文件的文档也列出；继续或打开时照旧。");
    else if (state.fileSystem == CRecoveryControl::autoFileSystem() && m_partition.fileSystem != state.fileSystem)
        message += QLatin1Char('\n') + tr("上次的扫描自动识别文件系统；继续或打开时照旧。");
    else if (!noFileSystem(state.fileSystem) && state.fileSystem != m_partition.fileSystem)
        message += QLatin1Char('\n') + tr("上次的扫描按 %1 读取文件系统；继续或打开时照旧。").arg(state.fileSystem);
    if (state.wholeVolumeSaved && state.wholeVolume != m_wholeVolume)
        message += QLatin1Char('\n')
            + (state.wholeVolume ? tr("上次的扫描读取了整个卷；继续或打开时照旧。")
                                 : tr("上次的扫描只读取了未使用空间；继续或打开时照旧。"));
    CMessageTips tips(this);
    tips.setMessage(message);
    tips.setButtonTexts(state.finished ? tr("打开上次的结果") : tr("继续上次的扫描"), tr("重新扫描"));
    if (tips.exec() == 1) {
        m_control.resumeFrom(std::move(state));
    }
}

void Orvik::showStoppedLook()
{
    m_busyLabel->hide();
    m_busyMovie->stop();
    m_stopButton->hide();
    m_doneMark->show();
}

void Orvik::setDoneMark(const QString& text, bool success)
{
    m_doneMark->setText(text);
    m_doneMark->setStyleSheet(QLatin1String(success ? kFinishedStyle : kStoppedStyle));
}

void Orvik::endScan()
{
    m_scanning = false;
    showStoppedLook();
    // The bar stays where the scan got to.
    setDoneMark(tr("已停止"), false);
    showReadPlan(PlanStage::Stopped);
    showDetails(false);
    m_control.stopScan();
}

qint64 Orvik::sourceLength() const
{
    const std::shared_ptr<IVolume> volume = m_control.diskHandle();
    return volume ? volume->length() : 0;
}

QString Orvik::progressDetails(qint64 length, long long permille, double seconds, bool running)
{
    permille = std::max(0LL, std::min(1000LL, permille));
    const double share = static_cast<double>(permille) / 1000.0;
    QString text = tr("%1%  已扫描 %2 / %3")
                       .arg(share * 100.0, 0, 'f', 1)
                       .arg(amountText(static_cast<double>(length) * share), amountText(static_cast<double>(length)));
    // An estimate from the first moments or the first permille would jump
    // about: wait for both.
    if (running && permille > 0 && permille < 1000 && seconds >= 2.0) {
        const double left = seconds * static_cast<double>(1000 - permille) / static_cast<double>(permille);
        text += tr("  剩余 %1").arg(timeLeftText(left));
    }
    return text;
}

void Orvik::showDetails(bool running)
{
    const double seconds =
        m_rawPassClock.isValid() ? static_cast<double>(m_rawPassClock.elapsed()) / 1000.0 : 0.0;
    const qint64 total = m_bytesToRead >= 0 ? m_bytesToRead : sourceLength();
    QString text = progressDetails(total, m_lastPermille, seconds, running);
    // A failing disk: how much it would not give, and how much it gave only
    // slowly, so that the user sees why the scan takes its time.
    const qint64 unreadable = m_control.unreadableBytes();
    if (unreadable > 0) {
        text += tr("  无法读取 %1").arg(amountText(static_cast<double>(unreadable)));
        // The worst news of a scan: the disk itself is failing, and every
        // further pass over it may cost more of it.
        constexpr int kFailingDiskRank = 4;
        if (m_warningRank < kFailingDiskRank) {
            m_warningRank = kFailingDiskRank;
            m_noticeLabel->setText(tr("这块磁盘有读不出的扇区，可能正在损坏：扫描结束后请先为它创建磁盘映像"
                                      "（tamsel-cli image），再扫描映像、从映像恢复"));
            m_noticeLabel->show();
            // An image is made of a disk, not of an image.
            m_imageFirstButton->setVisible(m_partition.deviceType != QLatin1String("image"));
        }
    }
    const qint64 slow = m_control.slowBytes();
    if (slow > 0)
        text += tr("  读取缓慢 %1").arg(amountText(static_cast<double>(slow)));
    m_detailsLabel->setText(text);
}

void Orvik::showReadPlan(PlanStage stage)
{
    // Before the raw pass (or with a saved scan that never said) there is
    // no plan to tell.
    if (!m_planKnown) {
        m_readPlanLabel->hide();
        return;
    }
    QString text;
    if (m_planUnusedOnly) {
        text = stage == PlanStage::Running    ? tr("只扫描未使用空间")
            : stage == PlanStage::Finished ? tr("已扫描全部未使用空间")
                                           : tr("只扫描了部分未使用空间");
        m_readPlanLabel->setToolTip(tr("只读取现有文件没有占用的部分：空闲的簇、丢失的簇链、文件系统之外的区域。"
                                       "要逐字节扫描整个卷，请返回并勾选“扫描整个卷”。"));
    } else {
        text = stage == PlanStage::Running    ? tr("扫描整个卷")
            : stage == PlanStage::Finished ? tr("已扫描整个卷")
                                           : tr("只扫描了部分卷");
        m_readPlanLabel->setToolTip(tr("逐字节读取整个卷：现有文件内部的文档也会列出。"));
    }
    m_readPlanLabel->setText(text);
    m_readPlanLabel->show();
}

void Orvik::showExt4Note()
{
    m_noticeLabel->setText(tr("已删除文件只能按内容找回，没有原文件名"));
    m_noticeLabel->setToolTip(tr("ext4 删除文件时会清除它的数据位置，所以找回的文档以扇区号命名。"));
    m_noticeLabel->show();
}

void Orvik::onReadPlan(bool unusedSpaceOnly, long long bytesToRead)
{
    m_bytesToRead = bytesToRead;
    m_planKnown = true;
    m_planUnusedOnly = unusedSpaceOnly;
    showReadPlan(m_scanning ? PlanStage::Running : PlanStage::Stopped);
    // An image or a whole disk learns only now that it holds ext4 (in a
    // partition): its carved-only names are explained as a tile's are.
    if (m_noticeLabel->isHidden()) {
        for (const CRecoveryControl::FileSystemPass& pass : m_control.fileSystemPasses()) {
            if (pass.read && pass.fileSystem == QLatin1String("EXT4")) {
                showExt4Note();
                break;
            }
        }
    }
}

void Orvik::updateProcess(long long total, long long current)
{
    // A window already on its way when the user stopped reports nothing new.
    if (!m_scanning || total <= 0)
        return;
    if (!m_rawPassClock.isValid())
        m_rawPassClock.start();
    m_lastPermille = current * 1000 / total;
    m_progressBar->setRange(0, 1000);
    m_progressBar->setValue(static_cast<int>(m_lastPermille));
    if (total == current) {
        m_finished = true;
        // Documents over sectors that could not be read are damaged.
        m_treeBuilder.markUnreadable(m_control.unreadableRanges());
        setDoneMark(tr("完成"), true);
        m_doneMark->show();
        // No longer "scanning": what was read.
        showReadPlan(PlanStage::Finished);
        m_stopButton->hide();
        m_busyLabel->hide();
        m_busyMovie->stop();
        showDetails(false);
        // What is shown at the end is complete: once every report of the
        // scan has reached the list (a backlog is handed over in turns, so
        // the window keeps answering meanwhile).
        afterDelivery([this]() {
            m_refresher.flush();
            if (m_refresher.foundCount() == 0)
                showEmptyResult(emptyResultText(m_partition, sourceLength()));
        });
    } else {
        m_stopButton->show();
        m_doneMark->hide();
        showDetails(true);
    }
}

QString Orvik::emptyResultText(const CPartitionInfo& partition, qint64 length)
{
    const QString nothing = tr("没有找到丢失的文档");
    const QString name = partition.displayName.isEmpty() ? partition.devicePath : partition.displayName;
    if (length < 512)
        return nothing + tr("。\n%1 不到一个扇区（512 字节）：它看起来不像磁盘或磁盘镜像。").arg(name);
    if (partition.fileSystem.isEmpty())
        return nothing + tr("。\n%1 上既没有可识别的文件系统，也没有任何文档：它看起来不像磁盘或磁盘镜像。")
                             .arg(name);
    return nothing + tr("。");
}

void Orvik::updateFilterNote()
{
    // An empty table under a filter says why, rather than looking as if
    // nothing had been found.
    const CResultFilter& filter = m_tableModel.filter();
    const bool nothingMatches = filter.isActive() && m_tableModel.rowCount() == 0 && m_tableModel.fileList()
        && !m_tableModel.fileList()->isEmpty();
    if (nothingMatches) {
        showEmptyResult(filter.narrowingCount() == 0 ? tr("没有名字或标题含有“%1”的文档。").arg(filter.text())
                                                     : tr("没有符合筛选条件的文档。"));
        m_filterNoteShown = true;
    } else if (m_filterNoteShown) {
        m_filterNoteShown = false;
        m_emptyLabel->hide();
    }
    m_hiddenCount->setText(QString::number(m_tableModel.hiddenByFilter()));
    m_hiddenCaption->setVisible(filter.isActive());
    m_hiddenCount->setVisible(filter.isActive());
}

QLineEdit* Orvik::filterEdit() const
{
    return m_filterBar->textEdit();
}

QString Orvik::hiddenText() const
{
    return m_hiddenCount->isHidden() ? QString() : m_hiddenCount->text();
}

void Orvik::fitColumns()
{
    QHeaderView* header = m_tableView->horizontalHeader();
    int others = 0;
    for (int column = 0; column < CFileInfoTableModel::ColumnCount; ++column) {
        if (column != CFileInfoTableModel::NameColumn && column != CFileInfoTableModel::ColumnCount - 1)
            others += header->sectionSize(column);
    }
    // The last column stretches into what is left over.
    const int lastMinimum = 170;
    const int nameMinimum = 160;
    const int width = m_tableView->viewport()->width();
    header->resizeSection(CFileInfoTableModel::NameColumn, std::max(nameMinimum, width - others - lastMinimum));
}

void Orvik::showEmptyResult(const QString& text)
{
    m_emptyLabel->setText(text);
    m_emptyLabel->setGeometry(m_tableView->viewport()->rect().adjusted(20, 0, -20, 0));
    m_emptyLabel->show();
}

bool Orvik::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_tableView->viewport() && event->type() == QEvent::Resize && m_emptyLabel) {
        m_emptyLabel->setGeometry(m_tableView->viewport()->rect().adjusted(20, 0, -20, 0));
        fitColumns();
    }
    if (watched == m_tableView && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space
        && static_cast<QKeyEvent*>(event)->modifiers() == Qt::NoModifier) {
        tickSelectedRows();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Orvik::tickSelectedRows()
{
    QModelIndexList rows = m_tableView->selectionModel()->selectedRows(CFileInfoTableModel::CheckColumn);
    if (rows.isEmpty() && m_tableView->currentIndex().isValid())
        rows << m_tableView->currentIndex().siblingAtColumn(CFileInfoTableModel::CheckColumn);
    if (rows.isEmpty())
        return;
    // As a group box does: any unticked row among them ticks them all,
    // otherwise they are all unticked.
    bool allTicked = true;
    for (const QModelIndex& row : rows)
        allTicked = allTicked && row.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    const int state = allTicked ? Qt::Unchecked : Qt::Checked;
    for (const QModelIndex& row : rows)
        m_tableModel.setData(row, state, Qt::CheckStateRole);
}

void Orvik::reciveFileItem(const CFileNodeItem&)
{
    m_treeView->expandAll();
}

bool Orvik::isFolderView() const
{
    return m_treeView->model() == &m_folderModel;
}

void Orvik::setFolderView(bool folders)
{
    if (folders == isFolderView())
        return;
    // The view makes a selection model for each model it is given and
    // keeps the old one: it goes here.
    QItemSelectionModel* oldSelection = m_treeView->selectionModel();
    m_treeView->setModel(folders ? static_cast<QAbstractItemModel*>(&m_folderModel)
                                 : static_cast<QAbstractItemModel*>(&m_treeModel));
    delete oldSelection;
    // Folder names nest deep and run long: the column takes their width and
    // the tree scrolls sideways, rather than cutting off names and counts.
    m_treeView->header()->setStretchLastSection(!folders);
    m_treeView->header()->setSectionResizeMode(0, folders ? QHeaderView::ResizeToContents : QHeaderView::Interactive);
    if (folders) {
        m_folderModel.sync();
        // The top folders open; deeper ones as the user goes.
        m_treeView->expandToDepth(1);
    } else {
        m_treeView->expandAll();
    }
    // The table goes on showing what it showed until a row is chosen.
    m_currentTypeIndex = QPersistentModelIndex();
}

void Orvik::showFile(const QModelIndex& index)
{
    Q_UNUSED(index);
    if (isFolderView()) {
        CFolderNode* folder = m_folderModel.nodeAt(m_treeView->currentIndex());
        m_currentTypeIndex = m_treeView->currentIndex();
        if (!folder || folder == m_treeBuilder.folderRoot())
            m_treeBuilder.startLookup(CCreateTreeNode::AllTypes);
        else
            m_refresher.setFileList(m_treeBuilder.filesUnder(folder));
        return;
    }
    m_currentTypeIndex = m_treeView->currentIndex();
    // The volume's own row lists every document of every type.
    const int code = m_treeModel.typeCodeAt(m_currentTypeIndex);
    m_treeBuilder.startLookup(code < 0 ? CCreateTreeNode::AllTypes : code);
}

void Orvik::reciveStatusFromTree(int typeCode, int state)
{
    m_refresher.typeTicked(typeCode, state);
}

void Orvik::reciveStatusFromTable(int id)
{
    m_refresher.fileTicked(id);
}

void Orvik::typeNodeChanged(CFileClassfy* node)
{
    m_refresher.typeNodeChanged(node);
}

void Orvik::setFileList(QList<INode*>* files)
{
    m_refresher.setFileList(files);
}

void Orvik::hideRecoveryDialog()
{
    m_recoveryDialog.hide();
}

void Orvik::showCounters(int found, int ticked)
{
    m_foundCount->setText(QString::number(found));
    m_tickedCount->setText(QString::number(ticked));
    m_recoverButton->setEnabled(ticked > 0);
}

QString Orvik::foundText() const
{
    return m_foundCount->text();
}

QString Orvik::tickedText() const
{
    return m_tickedCount->text();
}

QString Orvik::recoveryFolder(const QString& chosen, const QDateTime& now)
{
    const QString base = QStringLiteral("Tamsel") + now.toString(QStringLiteral("yyyy.MM.dd")) +
                         QStringLiteral("_%1_%2_%3").arg(now.time().hour()).arg(now.time().minute()).arg(
                             now.time().second());
    const QDir dir(chosen);
    QString candidate = dir.filePath(base);
    for (int k = 1; QFileInfo::exists(candidate) && k <= 9999; ++k)
        candidate = dir.filePath(base + QStringLiteral(" (%1)").arg(k));
    return candidate;
}

void Orvik::recoveryData()
{
    if (!m_fileChooser)
        return;
    // 取消 in the question goes back to the folder chooser; cancelling the
    // chooser ends it. (Bounded, though every round waits for the user.)
    QString chosen;
    for (int round = 0; round < 1000; ++round) {
        chosen = m_fileChooser->chooseOutputFolder(this);
        if (chosen.isEmpty())
            return;
        const std::shared_ptr<IVolume> volume = m_control.diskHandle();
        if (!volume)
            break;
        const CSameVolumeCheck::Result same = CSameVolumeCheck().check(volume->name(), chosen);
        if (same.verdict == CSameVolumeCheck::Verdict::Different)
            break;
        CMessageTips warning(this);
        warning.setNotice(true);
        warning.cancelButton()->show();
        warning.setMessage(
            same.verdict == CSameVolumeCheck::Verdict::Same
                ? tr("所选文件夹在正在恢复的磁盘上：写入会覆盖尚未恢复的文档。\n"
                                 "请选择另一块磁盘上的文件夹。仍要恢复到这里吗？")
                : tr("无法确定所选文件夹是否在正在恢复的磁盘上；如果是，写入会覆盖尚未恢复的文档。\n"
                                 "仍要恢复到这里吗？"));
        if (warning.exec() == 1)
            break;
        chosen.clear();
    }
    if (chosen.isEmpty())
        return;

    // Ticked rows the filter hides are recovered too: said before, not
    // found out afterwards.
    const int hidden = m_tableModel.tickedHiddenByFilter();
    if (hidden > 0) {
        CMessageTips ask(this);
        ask.setNotice(true);
        ask.cancelButton()->show();
        ask.setMessage(tr("筛选隐藏了 %1 个已勾选的文档，它们也会被恢复。继续吗？").arg(hidden));
        if (ask.exec() != 1)
            return;
    }

    const QString folder = recoveryFolder(chosen, QDateTime::currentDateTime());
    m_recoveryDialog.setRecoveryInfo(folder, m_control.diskHandle());
    QList<CFileNode> files;
    m_treeBuilder.collectChecked(files);
    // Documents over sectors the scan could not read are left out without
    // reading them again, and the report lists those sectors.
    m_recoveryDialog.worker().setKnownUnreadable(m_control.unreadableRanges());
    m_recoveryDialog.worker().setKeepFolders(m_keepFoldersBox->isChecked());
    m_recoveryDialog.startRecovery(files);
    m_recoveryDialog.centreOver(window());
    m_recoveryDialog.show();
}

void Orvik::deleteWhenIdle()
{
    // Both workers are told to stop and the page goes once both have
    // ended; the interface thread never waits for a read in flight.
    m_control.stopScan();
    m_recoveryDialog.worker().stopRecovery();
    auto goIfIdle = [this]() {
        if (!m_control.isRunning() && !m_recoveryDialog.worker().isBusy())
            deleteLater();
    };
    connect(&m_control, &QThread::finished, this, goIfIdle, Qt::QueuedConnection);
    connect(&m_recoveryDialog.worker(), &QThread::finished, this, goIfIdle, Qt::QueuedConnection);
    goIfIdle();
}

void Orvik::stopRecoveryAndWait()
{
    m_recoveryDialog.stopAndWait();
}

void Orvik::backPage()
{
    if (m_control.isScanning()) {
        CMessageTips tips(this);
        tips.setMessage(tr("正在扫描磁盘，你确定要退出？"));
        if (tips.exec() == 1)
            m_control.stopScan();
        return;
    }
    m_control.stopScan();
    leavePage();
}

void Orvik::afterDelivery(std::function<void()> action)
{
    if (m_inbox.pending() == 0) {
        action();
        return;
    }
    m_afterDelivery.append(std::move(action));
}

void Orvik::onScanThreadFinish()
{
    afterDelivery([this]() { m_refresher.flush(); });
    if (m_scanning)
        leavePage();
}

void Orvik::leavePage()
{
    if (m_leaving || !m_transPage)
        return;
    m_leaving = true;
    if (m_leaveTo == ITransPage::kImagingPage)
        m_transPage->switchPage(ITransPage::kImagingPage, &m_partition);
    else
        m_transPage->switchPage(1, nullptr);
}

void Orvik::showFailure(const QString& text)
{
    m_scanning = false;
    showStoppedLook();
    setDoneMark(tr("已停止"), false);
    showReadPlan(PlanStage::Stopped);
    if (m_failureNotice)
        m_failureNotice->deleteLater();
    m_failureNotice = new CMessageTips(this);
    m_failureNotice->setAttribute(Qt::WA_DeleteOnClose);
    m_failureNotice->setNotice(true);
    m_failureNotice->setMessage(text);
    m_failureNotice->open();
}

QString Orvik::serviceAnswerText(const CFileVolume::OpenError& failure)
{
    using Answer = CFileVolume::ServiceAnswer;
    switch (failure.service) {
    case Answer::NotAsked:
        break;
    case Answer::Missing:
        return tr("没有读取权限，系统磁盘服务 udisks2 也不可用");
    case Answer::UnknownDevice:
        return tr("没有读取权限，udisks2 也不管理此设备");
    case Answer::Dismissed:
        return tr("授权被取消");
    case Answer::Refused:
        return tr("授权被拒绝");
    case Answer::TimedOut:
        return tr("等待授权超时");
    case Answer::Stopped:
        return tr("等待授权时已停止");
    case Answer::UnsafeDescriptor:
        return tr("udisks2 交回的不是此设备的只读描述符，未使用");
    case Answer::Failed:
        return failure.serviceDetail.isEmpty() ? tr("udisks2 出错") : tr("udisks2 出错：%1").arg(failure.serviceDetail);
    }
    return QString();
}

QString Orvik::openFailureText(const QString& source, const CFileVolume::OpenError& error)
{
    using Kind = CFileVolume::SourceKind;
    using Answer = CFileVolume::ServiceAnswer;
    const bool denied = error.error == EACCES || error.error == EPERM;
    // udisks2 was asked for the device and said no: its answer is the reason.
    if (error.service == Answer::Dismissed || error.service == Answer::Refused || error.service == Answer::TimedOut)
        return tr("无法打开 %1：%2。\n请重新扫描，并在系统询问时输入密码；或用 sudo 运行 Tamsel。")
            .arg(source, serviceAnswerText(error));
    if (error.service != Answer::NotAsked && !(denied && error.privileged))
        return tr("无法打开 %1：%2。\n读取原始磁盘需要管理员权限：请用 sudo 运行 Tamsel，"
                  "或把当前用户加入 disk 组后重新登录。")
            .arg(source, serviceAnswerText(error));
    if (error.kind == Kind::Missing || error.error == ENOENT)
        return tr("找不到 %1：没有这个文件或设备。\n请检查路径；移动硬盘或 U 盘可能已被拔出。").arg(source);
    if (error.kind == Kind::Other && error.error == 0)
        return tr("无法扫描 %1：它既不是磁盘，也不是磁盘镜像文件。").arg(source);
    if (denied && error.privileged)
        return tr("系统拒绝访问 %1，尽管 Tamsel 已经以管理员身份运行。\n"
                              "这个设备可能被锁定或正被独占使用，或者 Tamsel 运行在看不到它的容器中。")
            .arg(source);
    if (denied && error.kind == Kind::RegularFile)
        return tr("无法读取镜像文件 %1：没有读取权限（它属于其他用户，或只允许其所有者读取）。\n"
                              "请让文件的所有者允许读取（例如 chmod a+r），或者用能读取它的用户运行 Tamsel。")
            .arg(source);
    if (denied)
        return tr("无法打开 %1：没有读取权限。\n读取原始磁盘需要管理员权限：请用 sudo 运行 Tamsel，"
                              "或把当前用户加入 disk 组后重新登录。")
            .arg(source);
    if (error.error == ENOMEDIUM)
        return tr("无法打开 %1：驱动器中没有介质。\n请插入介质后重试。").arg(source);
    if (error.error != 0)
        return tr("无法打开 %1：%2").arg(source, CErrnoText::text(error.error));
    return tr("无法打开 %1。").arg(source);
}

void Orvik::onOpenFailed(const QString&)
{
    // Nothing was read: no note about the volume's file system, no figures.
    m_noticeLabel->hide();
    m_detailsLabel->clear();
    m_progressBar->setValue(0);
    showFailure(openFailureText(m_partition.devicePath, m_control.openError()));
}

void Orvik::onScanWarning(int kind, const QString& text)
{
    // The note names the worst of what happened; its tooltip lists it all.
    int rank = 0;
    QString note;
    QString tip;
    switch (kind) {
    case CRecoveryControl::WarningFileSystem:
        rank = 3;
        note = tr("无法读取文件系统：现有文件的文档也会列出");
        break;
    case CRecoveryControl::WarningPartitionTable:
        rank = 2;
        note = tr("分区表已损坏：仍会搜索整个磁盘");
        break;
    case CRecoveryControl::WarningSession:
        rank = 1;
        note = tr("扫描进度无法保存：扫描照常进行，但中断后不能继续");
        break;
    default:
        rank = 1;
        note = tr("此卷不是 NTFS、FAT32、exFAT 或 ext4：现有文件的文档也会列出。");
        tip = tr("只有 NTFS、FAT32、exFAT 和 ext4 能读出哪些文档仍属于现有文件；其他卷上找到的全部文档都会列出。");
        break;
    }
    if (kind != CRecoveryControl::WarningNoFileSystem)
        m_warningDetails << text;
    if (rank >= m_warningRank) {
        m_warningRank = rank;
        m_noticeLabel->setText(note);
    }
    m_noticeLabel->setToolTip(m_warningDetails.isEmpty() ? tip : m_warningDetails.join(QLatin1Char('\n')));
    m_noticeLabel->show();
}

void Orvik::onFoundPartition(const QString& fileSystem, long long sector, long long bytes)
{
    // Good news, not a warning: it is said while nothing worse is.
    const QString text = tr("找到已删除的 %1 分区，位于扇区 %2，%3 GB")
                             .arg(fileSystem)
                             .arg(sector)
                             .arg(static_cast<double>(bytes) / 1e9, 0, 'f', bytes < 100000000 ? 2 : 1);
    m_warningDetails << text;
    if (m_warningRank <= 0)
        m_noticeLabel->setText(text);
    m_noticeLabel->setToolTip(m_warningDetails.join(QLatin1Char('\n')));
    m_noticeLabel->show();
}

void Orvik::onScanFailed(const QString& reason)
{
    m_treeBuilder.markUnreadable(m_control.unreadableRanges());
    flushRefresh();
    showFailure(tr("扫描 %1 时出错，已停止；已找到的文档仍可恢复。\n%2").arg(m_partition.devicePath, reason));
}

void Orvik::previewRow(const QModelIndex& current)
{
    const CFileNodeItem* item = current.isValid() ? m_tableModel.itemAt(current.row()) : nullptr;
    const std::shared_ptr<IVolume> volume = m_control.diskHandle();
    if (!item || !volume) {
        m_previewPane->clear();
        return;
    }
    if (!m_previewClosed)
        m_previewPane->show();
    if (m_previewPane->isVisible())
        m_previewPane->showDocument(volume, item->record());
}

QWidget* Orvik::popupPreview(const QModelIndex& index)
{
    const CFileNodeItem* item = index.isValid() ? m_tableModel.itemAt(index.row()) : nullptr;
    const std::shared_ptr<IVolume> volume = m_control.diskHandle();
    if (!item || !volume)
        return nullptr;
    auto* popup = new QDialog(this);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setWindowTitle(tr("预览 - %1").arg(item->record().displayName()));
    auto* pane = new CPreviewPane(popup);
    pane->setClosable(false);
    auto* layout = new QVBoxLayout(popup);
    layout->addWidget(pane);
    popup->resize(640, 520);
    pane->showDocument(volume, item->record());
    popup->show();
    return popup;
}
