#include "app/Orvik.h"

#include "app/CAppResources.h"
#include "app/CFilterBar.h"
#include "app/CMessageTips.h"
#include "app/COutputFolderChoice.h"
#include "app/CPreviewPane.h"
#include "app/CSavedScanQuestion.h"
#include "app/CScanNoticeText.h"
#include "app/CScanPageLayout.h"
#include "app/CScanProgressText.h"
#include "app/IFileChooser.h"
#include "app/ITransPage.h"
#include "disk/CEwfVolume.h"
#include "disk/CFileVolume.h"
#include "disk/CKnownBadVolume.h"
#include "scan/CScanJournal.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDialog>
#include <QEvent>
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
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>

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

// The done mark's colours: the green of success only for a scan that ran to
// its end.
const char* const kFinishedStyle = "color: #1f8a4c;";
const char* const kStoppedStyle = "color: #8a5a00;";

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
    , m_recoverButton(CScanPageLayout::commonButton(tr("恢复"), this, 100, 30))
    , m_backButton(CScanPageLayout::commonButton(tr("返回"), this, 100, 30))
    , m_doneMark(CScanPageLayout::rowLabel(tr("完成"), this, 50))
    , m_busyLabel(new QLabel(this))
    , m_busyMovie(new QMovie(CAppResources::path(QStringLiteral("scaning.gif")), QByteArray(), this))
    , m_foundCaption(CScanPageLayout::rowLabel(tr("找到："), this, 30))
    , m_tickedCaption(CScanPageLayout::rowLabel(tr("勾选："), this, 30))
    , m_foundCount(CScanPageLayout::rowLabel(QStringLiteral("0"), this, 40))
    , m_tickedCount(CScanPageLayout::rowLabel(QStringLiteral("0"), this, 40))
    , m_hiddenCaption(CScanPageLayout::rowLabel(tr("筛选隐藏："), this, 30))
    , m_hiddenCount(CScanPageLayout::rowLabel(QStringLiteral("0"), this, 40))
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
    CScanPageLayout::arrange(*this);
    m_doneMark->setStyleSheet(QLatin1String(kFinishedStyle));

    connect(m_treeView, &QTreeView::clicked, this, &Orvik::showFile);
    m_refresher.setFolderModel(&m_folderModel);
    connect(m_byFolderButton, &QRadioButton::toggled, this, &Orvik::setFolderView);
    connect(m_filterBar, &CFilterBar::filterChanged, &m_tableModel, &CFileInfoTableModel::setFilter);
    connect(m_filterBar, &CFilterBar::filterChanged, this, &Orvik::updateFilterNote);
    connect(&m_refresher, &CResultRefresher::refreshed, this, &Orvik::updateFilterNote);
    // Another type's list, or one that grew, hides another number of rows.
    connect(&m_tableModel, &QAbstractItemModel::modelReset, this, &Orvik::updateFilterNote);
    m_tableView->viewport()->installEventFilter(this);
    // Space ticks the selected rows.
    m_tableView->installEventFilter(this);
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

    connect(m_imageFirstButton, &QPushButton::clicked, this, [this]() {
        m_leaveTo = ITransPage::kImagingPage;
        if (m_control.isScanning()) {
            m_control.stopScan(); // the page is left once the scan has ended
            return;
        }
        leavePage();
    });
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
    connect(&m_treeBuilder, &CCreateTreeNode::documentInPieces, &m_control, &CRecoveryControl::recordReassembled,
            Qt::DirectConnection);

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
        m_noticeLabel->setText(CScanNoticeText::noLiveFilePassNote());
        m_noticeLabel->setToolTip(CScanNoticeText::noLiveFilePassTip());
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
        if (!notice.isEmpty())
            CSavedScanQuestion::tellIgnored(this, notice);
        return;
    }
    if (CSavedScanQuestion::ask(this, state, m_partition.fileSystem, m_wholeVolume))
        m_control.resumeFrom(std::move(state));
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
    return CScanProgressText::progressDetails(length, permille, seconds, running);
}

void Orvik::showDetails(bool running)
{
    const double seconds =
        m_rawPassClock.isValid() ? static_cast<double>(m_rawPassClock.elapsed()) / 1000.0 : 0.0;
    const qint64 total = m_bytesToRead >= 0 ? m_bytesToRead : sourceLength();
    const qint64 unreadable = m_control.unreadableBytes();
    if (unreadable > 0 && m_warningRank < CScanNoticeText::kFailingDiskRank) {
        m_warningRank = CScanNoticeText::kFailingDiskRank;
        m_noticeLabel->setText(CScanNoticeText::failingDiskNote());
        m_noticeLabel->show();
        // An image is made of a disk, not of an image.
        m_imageFirstButton->setVisible(m_partition.deviceType != QLatin1String("image"));
    }
    m_detailsLabel->setText(progressDetails(total, m_lastPermille, seconds, running)
                            + CScanProgressText::readTroubleText(unreadable, m_control.slowBytes()));
}

void Orvik::showReadPlan(PlanStage stage)
{
    // Before the raw pass (or with a saved scan that never said) there is
    // no plan to tell.
    if (!m_planKnown) {
        m_readPlanLabel->hide();
        return;
    }
    const CScanProgressText::Plan plan = CScanProgressText::readPlan(m_planUnusedOnly, stage);
    m_readPlanLabel->setText(plan.text);
    m_readPlanLabel->setToolTip(plan.tip);
    m_readPlanLabel->show();
}

void Orvik::showExt4Note()
{
    m_noticeLabel->setText(CScanNoticeText::ext4Note());
    m_noticeLabel->setToolTip(CScanNoticeText::ext4Tip());
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
            // Every document is listed: the details pass may now search
            // the broken ones for their other pieces, on the grids of the
            // file systems read.
            m_details.setPieceSearch(m_control.pieceSearch());
            m_details.finishInput();
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
    return CScanNoticeText::emptyResultText(partition, length);
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
    return COutputFolderChoice::recoveryFolder(chosen, now);
}

void Orvik::recoveryData()
{
    if (!m_fileChooser)
        return;
    const QString chosen = COutputFolderChoice::choose(this, *m_fileChooser, m_control.diskHandle());
    if (chosen.isEmpty() || !COutputFolderChoice::confirmHiddenTicked(this, m_tableModel.tickedHiddenByFilter()))
        return;

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

QString Orvik::openFailureText(const QString& source, const CFileVolume::OpenError& error)
{
    return CScanNoticeText::openFailureText(source, error);
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
    const CScanNoticeText::Warning warning = CScanNoticeText::warning(kind);
    if (kind != CRecoveryControl::WarningNoFileSystem)
        m_warningDetails << text;
    if (warning.rank >= m_warningRank) {
        m_warningRank = warning.rank;
        m_noticeLabel->setText(warning.note);
    }
    m_noticeLabel->setToolTip(m_warningDetails.isEmpty() ? warning.tip : m_warningDetails.join(QLatin1Char('\n')));
    m_noticeLabel->show();
}

void Orvik::onFoundPartition(const QString& fileSystem, long long sector, long long bytes)
{
    // Good news, not a warning: it is said while nothing worse is.
    const QString text = CScanNoticeText::foundPartitionText(fileSystem, sector, bytes);
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
    showFailure(CScanNoticeText::scanFailedText(m_partition.devicePath, reason));
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
