#include "app/Orvik.h"

#include "app/CAppResources.h"
#include "app/CMessageTips.h"
#include "app/IFileChooser.h"
#include "app/ITransPage.h"
#include "disk/CFileVolume.h"
#include "disk/CSameVolumeCheck.h"

#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTreeView>
#include <QVBoxLayout>

#include <cerrno>

namespace {

// The file systems whose live files the scan can tell apart.
bool hasLiveFilePass(const QString& fileSystem)
{
    return fileSystem == QLatin1String("NTFS") || fileSystem == QLatin1String("FAT32");
}

QPushButton* commonButton(const QString& text, QWidget* parent, int w, int h)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QStringLiteral("commonBtn"));
    button->setFixedSize(w, h);
    return button;
}

QLabel* fixedLabel(const QString& text, QWidget* parent, int w, int h)
{
    auto* label = new QLabel(text, parent);
    label->setFixedSize(w, h);
    return label;
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
    , m_stopButton(commonButton(QStringLiteral("停止"), this, 50, 25))
    , m_recoverButton(commonButton(QStringLiteral("恢复"), this, 100, 30))
    , m_backButton(commonButton(QStringLiteral("返回"), this, 100, 30))
    , m_doneMark(fixedLabel(QStringLiteral("完成"), this, 50, 25))
    , m_busyLabel(new QLabel(this))
    , m_busyMovie(new QMovie(CAppResources::path(QStringLiteral("scaning.gif")), QByteArray(), this))
    , m_foundCaption(fixedLabel(QStringLiteral("找到："), this, 30, 25))
    , m_tickedCaption(fixedLabel(QStringLiteral("勾选："), this, 30, 25))
    , m_foundCount(fixedLabel(QStringLiteral("0"), this, 40, 25))
    , m_tickedCount(fixedLabel(QStringLiteral("0"), this, 40, 25))
    , m_noticeLabel(new QLabel(this))
    , m_progressBar(new QProgressBar(this))
    , m_treeView(new QTreeView(this))
    , m_tableView(new QTableView(this))
    , m_refresher(&m_treeBuilder, &m_treeModel, &m_tableModel)
{
    registerFileNodeMetaType();
    m_treeBuilder.setReceiver(this);

    // Counters and progress.
    m_countersRow->addWidget(m_foundCaption);
    m_countersRow->addWidget(m_foundCount);
    m_countersRow->addWidget(m_tickedCaption);
    m_countersRow->addWidget(m_tickedCount);
    m_noticeLabel->setStyleSheet(QStringLiteral("color: #b26a00;"));
    m_noticeLabel->hide();
    m_progressRow->setSpacing(5);
    m_busyMovie->setScaledSize(QSize(20, 20));
    m_busyLabel->setFixedSize(20, 20);
    m_busyLabel->setMovie(m_busyMovie);
    m_busyMovie->start();
    m_progressBar->setFixedSize(500, 15);
    m_progressBar->setTextVisible(false);
    m_progressBar->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_doneMark->setAlignment(Qt::AlignCenter);
    m_doneMark->setStyleSheet(QStringLiteral("color: #1f8a4c;"));
    m_doneMark->hide();
    m_progressRow->addWidget(m_busyLabel);
    m_progressRow->addWidget(m_progressBar);
    m_progressRow->addWidget(m_stopButton);
    m_progressRow->addWidget(m_doneMark);
    m_topRow->addLayout(m_countersRow);
    m_topRow->addWidget(m_noticeLabel);
    m_topRow->addStretch();
    m_topRow->addLayout(m_progressRow);

    // The two panes.
    m_treeView->setModel(&m_treeModel);
    m_treeView->setFixedWidth(200);
    m_treeView->expandAll();
    m_tableView->setModel(&m_tableModel);
    m_tableView->setSortingEnabled(true);
    m_tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_tableView->verticalHeader()->hide();
    m_tableView->verticalHeader()->setDefaultSectionSize(24);
    m_tableView->setShowGrid(false);
    m_tableView->setAlternatingRowColors(true);
    const int widths[] = {40, 200, 140, 145, 150};
    for (int column = 0; column < 5; ++column)
        m_tableView->setColumnWidth(column, widths[column]);
    // Only the size column sorts, and every click flips its direction: an
    // arrow would point the wrong way half of the time.
    m_tableView->horizontalHeader()->setSortIndicatorShown(false);
    m_tableView->horizontalHeader()->setStretchLastSection(true);
    m_tableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(m_treeView, &QTreeView::clicked, this, &Orvik::showFile);
    auto* treeColumn = new QVBoxLayout;
    treeColumn->addWidget(m_treeView);
    auto* tableColumn = new QVBoxLayout;
    tableColumn->addWidget(m_tableView);
    m_panesRow->setSpacing(0);
    m_panesRow->addLayout(treeColumn, 1);
    m_panesRow->addLayout(tableColumn, 4);

    m_recoverButton->setEnabled(false);
    m_bottomRow->addWidget(m_backButton);
    m_bottomRow->addStretch();
    m_bottomRow->addWidget(m_recoverButton);

    m_mainLayout->addLayout(m_topRow);
    m_mainLayout->addLayout(m_panesRow);
    m_mainLayout->addLayout(m_bottomRow);

    connect(&m_refresher, &CResultRefresher::countersChanged, this, &Orvik::showCounters);
    connect(&m_refresher, &CResultRefresher::typeRowAdded, m_treeView, &QTreeView::expandAll);

    connect(m_stopButton, &QPushButton::clicked, this, &Orvik::endScan);
    connect(&m_control, &CRecoveryControl::notifyProcess, this, &Orvik::updateProcess);
    connect(m_control.relay(), qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &m_treeBuilder,
            qOverload<const CFileNode&>(&CCreateTreeNode::reciveFileItem));
    connect(m_control.relay(), qOverload<long long, int>(&CNotifyFileNode::notifyItem), &m_treeBuilder,
            qOverload<long long, int>(&CCreateTreeNode::reciveFileItem));
    connect(&m_treeModel, &CFileNodeModel::checkStatus, this, &Orvik::reciveStatusFromTree);
    connect(&m_tableModel, &CFileInfoTableModel::checkTableStatus, this, &Orvik::reciveStatusFromTable);
    connect(m_recoverButton, &QPushButton::clicked, this, &Orvik::recoveryData);
    connect(m_backButton, &QPushButton::clicked, this, &Orvik::backPage);
    connect(&m_control, &CRecoveryControl::scanThreadFinish, this, &Orvik::onScanThreadFinish);
    connect(&m_control, &CRecoveryControl::notifyOpenFailed, this, &Orvik::onOpenFailed);
    connect(&m_control, &CRecoveryControl::notifyScanFailed, this, &Orvik::onScanFailed);
}

Orvik::~Orvik()
{
    delete m_backButton;
    delete m_treeView;
    delete m_tableView;
    delete m_recoverButton;
    m_treeBuilder.requestStop();
    // Both workers read the volume and feed the models: they end first.
    m_control.stopScan();
    m_control.wait();
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
    m_currentTypeIndex = QPersistentModelIndex();
    m_progressBar->setValue(0);
    m_foundCount->setText(QStringLiteral("0"));
    m_tickedCount->setText(QStringLiteral("0"));
    m_refresher.startScan(m_partition.displayName);
    m_treeView->expandAll();
    if (!hasLiveFilePass(m_partition.fileSystem)) {
        m_noticeLabel->setText(QStringLiteral("此卷不是 NTFS 或 FAT32：现有文件的文档也会列出。"));
        m_noticeLabel->setToolTip(
            QStringLiteral("只有 NTFS 和 FAT32 能读出哪些文档仍属于现有文件；其他卷上找到的全部文档都会列出。"));
        m_noticeLabel->show();
    } else {
        m_noticeLabel->hide();
    }
    if (m_presetVolume)
        m_control.beginScan(std::move(m_presetVolume), m_partition.fileSystem);
    else
        m_control.beginScan(m_partition.devicePath, m_partition.fileSystem);
}

void Orvik::showStoppedLook()
{
    m_busyLabel->hide();
    m_busyMovie->stop();
    m_stopButton->hide();
    m_doneMark->show();
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(100);
}

void Orvik::endScan()
{
    m_scanning = false;
    showStoppedLook();
    m_doneMark->setText(QStringLiteral("已停止"));
    m_control.stopScan();
}

void Orvik::updateProcess(long long total, long long current)
{
    // After a stop the page keeps its stopped look, whatever was in flight.
    if (!m_scanning)
        return;
    m_progressBar->setMinimum(0);
    m_progressBar->setMaximum(static_cast<int>(total));
    m_progressBar->setValue(static_cast<int>(current));
    if (total == current) {
        m_doneMark->show();
        m_stopButton->hide();
        m_busyLabel->hide();
        m_busyMovie->stop();
        // What is shown at the end is complete.
        flushRefresh();
    } else {
        m_stopButton->show();
        m_doneMark->hide();
    }
}

void Orvik::reciveFileItem(const CFileNodeItem&)
{
    m_treeView->expandAll();
}

void Orvik::showFile(const QModelIndex& index)
{
    Q_UNUSED(index);
    m_currentTypeIndex = m_treeView->currentIndex();
    m_treeBuilder.startLookup(m_treeModel.typeCodeAt(m_currentTypeIndex));
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
                ? QStringLiteral("所选文件夹在正在恢复的磁盘上：写入会覆盖尚未恢复的文档。\n"
                                 "请选择另一块磁盘上的文件夹。仍要恢复到这里吗？")
                : QStringLiteral("无法确定所选文件夹是否在正在恢复的磁盘上；如果是，写入会覆盖尚未恢复的文档。\n"
                                 "仍要恢复到这里吗？"));
        if (warning.exec() == 1)
            break;
        chosen.clear();
    }
    if (chosen.isEmpty())
        return;

    const QString folder = recoveryFolder(chosen, QDateTime::currentDateTime());
    m_recoveryDialog.setRecoveryInfo(folder, m_control.diskHandle());
    QList<CFileNode> files;
    m_treeBuilder.collectChecked(files);
    m_recoveryDialog.startRecovery(files);
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
        tips.setMessage(QStringLiteral("正在扫描磁盘，你确定要退出？"));
        if (tips.exec() == 1)
            m_control.stopScan();
        return;
    }
    m_control.stopScan();
    leavePage();
}

void Orvik::onScanThreadFinish()
{
    m_refresher.flush();
    if (m_scanning)
        leavePage();
}

void Orvik::leavePage()
{
    if (m_leaving || !m_transPage)
        return;
    m_leaving = true;
    m_transPage->switchPage(1, nullptr);
}

void Orvik::showFailure(const QString& text)
{
    m_scanning = false;
    showStoppedLook();
    m_doneMark->setText(QStringLiteral("已停止"));
    m_progressBar->setValue(0);
    if (m_failureNotice)
        m_failureNotice->deleteLater();
    m_failureNotice = new CMessageTips(this);
    m_failureNotice->setAttribute(Qt::WA_DeleteOnClose);
    m_failureNotice->setNotice(true);
    m_failureNotice->setMessage(text);
    m_failureNotice->open();
}

void Orvik::onOpenFailed(const QString& reason)
{
    const QString device = m_partition.devicePath;
    CFileVolume::OpenError error;
    CFileVolume::open(device, &error);
    QString text;
    if (error.error == EACCES || error.error == EPERM) {
        text = QStringLiteral("无法打开 %1：没有读取权限。\n读取原始磁盘需要管理员权限：请用 sudo 运行 Tamsel，"
                              "或把当前用户加入 disk 组后重新登录。")
                   .arg(device);
    } else {
        text = QStringLiteral("无法打开 %1。\n%2\n读取原始磁盘需要管理员权限（sudo 或 disk 组）。")
                   .arg(device, reason);
    }
    showFailure(text);
}

void Orvik::onScanFailed(const QString& reason)
{
    flushRefresh();
    showFailure(QStringLiteral("扫描 %1 时出错，已停止；已找到的文档仍可恢复。\n%2").arg(m_partition.devicePath, reason));
}
