#pragma once

#include "disk/CFileVolume.h"
#include "disk/CPartitionInfo.h"
#include "recovery/CRecoveryDialog.h"
#include "results/CCreateTreeNode.h"
#include "results/CFileInfoTableModel.h"
#include "results/CFileNodeModel.h"
#include "results/CFolderNodeModel.h"
#include "results/CRelayInbox.h"
#include "results/CResultRefresher.h"
#include "results/ICopyFileNode.h"
#include "details/CDetailsWorker.h"
#include "scan/CRecoveryControl.h"

#include <QElapsedTimer>
#include <QVector>
#include <QModelIndex>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>

#include "app/CMessageTips.h"
#include "app/CScanProgressText.h"
class CFilterBar;
class CPreviewPane;
class IFileChooser;
class QCheckBox;
class QRadioButton;
class ITransPage;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMovie;
class QProgressBar;
class QSplitter;
class QPushButton;
class QTableView;
class QTreeView;
class QVBoxLayout;

// The scan and result page: runs the scan of one partition and shows what
// it finds while it comes in: progress, a tree of types (or of the deleted
// files' folders) on the left, the files of the chosen type or folder with
// check boxes on the right, and the buttons to stop, go back and recover
// the ticked files.
//
// Each page scans once: going back destroys it (later, once its workers
// have ended: see deleteWhenIdle) and the next scan gets a new one.
class Orvik : public QWidget, public ICopyFileNode
{
    Q_OBJECT
    // Places the page's widgets, which stay the page's own.
    friend class CScanPageLayout;

public:
    explicit Orvik(QWidget* parent = nullptr);
    // Stops the scan and any recovery and waits for both workers before
    // anything they read is freed.
    ~Orvik() override;

    void setTransPage(ITransPage* transPage) { m_transPage = transPage; }
    // Not owned; asks for the output folder.
    void setFileChooser(IFileChooser* chooser) { m_fileChooser = chooser; }
    void startWithPartition(const CPartitionInfo& partition);
    // The same on a volume that is already open (a memory volume in tests).
    void startWithVolume(const CPartitionInfo& partition, std::shared_ptr<IVolume> volume);
    // The next scans read every byte, not only what no live file holds.
    void setWholeVolume(bool whole) { m_wholeVolume = whole; }
    bool isScanning() const { return m_control.isScanning(); }
    bool isRecovering() const { return m_recoveryDialog.isRecovering(); }
    // Stops a running recovery after its current file and waits for it.
    void stopRecoveryAndWait();
    // Stops the scan and any recovery and deletes the page (deleteLater)
    // once both workers have ended, without waiting for them.
    void deleteWhenIdle();

    // The folder a recovery into `chosen` at `now` writes to: chosen/Tamsel
    // yyyy.MM.dd_H_m_s, with " (1)", " (2)" ... when that name is taken.
    static QString recoveryFolder(const QString& chosen, const QDateTime& now);

    // ICopyFileNode
    void typeNodeChanged(CFileClassfy* node) override;
    void setFileList(QList<INode*>* files) override;
    void hideRecoveryDialog() override;

    // For tests and screenshots.
    CRecoveryControl& scanWorker() { return m_control; }
    CCreateTreeNode& treeBuilder() { return m_treeBuilder; }
    CFileNodeModel& treeModel() { return m_treeModel; }
    CFolderNodeModel& folderModel() { return m_folderModel; }
    // The switch above the tree: 按类型 (the type model) or 按文件夹 (the
    // folder model).
    QRadioButton* byTypeButton() const { return m_byTypeButton; }
    QRadioButton* byFolderButton() const { return m_byFolderButton; }
    bool isFolderView() const;
    // Beside 恢复: recreate each file's original folder under the output
    // folder.
    QCheckBox* keepFoldersBox() const { return m_keepFoldersBox; }
    CFileInfoTableModel& tableModel() { return m_tableModel; }
    CResultRefresher& refresher() { return m_refresher; }
    CRecoveryDialog& recoveryDialog() { return m_recoveryDialog; }
    QTreeView* treeView() const { return m_treeView; }
    QTableView* tableView() const { return m_tableView; }
    // Narrows the table: a name or title, a range of dates or sizes, whole
    // documents only.
    CFilterBar* filterBar() const { return m_filterBar; }
    // The bar's box for a name or title.
    QLineEdit* filterEdit() const;
    // How many rows of the table the filter hides ("" while none is set).
    QString hiddenText() const;
    CDetailsWorker& detailsWorker() { return m_details; }
    QPushButton* stopButton() const { return m_stopButton; }
    QPushButton* recoverButton() const { return m_recoverButton; }
    QPushButton* backButton() const { return m_backButton; }
    QProgressBar* progressBar() const { return m_progressBar; }
    QLabel* doneMark() const { return m_doneMark; }
    QLabel* busyLabel() const { return m_busyLabel; }
    QLabel* noticeLabel() const { return m_noticeLabel; }
    // "先创建磁盘映像", beside the notice once the disk failed reads.
    QPushButton* imageFirstButton() const { return m_imageFirstButton; }
    // The page it asked to go to did not open: it stays, and may be left
    // again.
    void stayOnPage()
    {
        m_leaving = false;
        m_leaveTo = 1;
    }
    // Share scanned, amount and time left, under the bar.
    QLabel* detailsLabel() const { return m_detailsLabel; }
    // How the scan reads the source ("只扫描未使用空间" or the whole volume),
    // and once it has ended, what it read.
    QLabel* readPlanLabel() const { return m_readPlanLabel; }
    // What the table says when a finished scan found nothing.
    QLabel* emptyLabel() const { return m_emptyLabel; }
    QString foundText() const;
    QString tickedText() const;
    const CPartitionInfo& partition() const { return m_partition; }
    // The notice shown when the source could not be opened or read.
    CMessageTips* failureNotice() const { return m_failureNotice; }
    // Applies pending document arrivals to the views now.
    void flushRefresh()
    {
        m_inbox.deliverAll();
        m_refresher.flush();
    }
    // The preview beside the table, and the splitter that holds them.
    CPreviewPane* previewPane() const { return m_previewPane; }
    QSplitter* previewSplitter() const { return m_previewSplitter; }
    // The preview of the table's row in a popup of its own (double click,
    // Enter); returns it (it deletes itself when closed).
    QWidget* popupPreview(const QModelIndex& index);

    // The line under the bar: "42.0%  已扫描 12.3 GB / 120 GB  剩余 3 分钟" for
    // `permille` of a source of `length` bytes read in `seconds`; the time
    // left only while `running` and once it can be estimated.
    static QString progressDetails(qint64 length, long long permille, double seconds, bool running);
    // What a finished scan that found nothing says, and whether the source
    // looks like a disk at all.
    static QString emptyResultText(const CPartitionInfo& partition, qint64 length);
    // Why `source` could not be opened, in the user's words, from the
    // cause the volume layer found.
    static QString openFailureText(const QString& source, const CFileVolume::OpenError& error);

public slots:
    void startScan();
    // A scan of this volume was saved before: asks whether to go on with it
    // (or open its list, when it had finished) instead of scanning afresh.
    void offerSavedScan(IVolume& volume);
    void endScan();
    void updateProcess(long long total, long long current);
    void reciveFileItem(const CFileNodeItem& item);
    void showFile(const QModelIndex& index);
    void reciveStatusFromTree(int typeCode, int state);
    void reciveStatusFromTable(int id);
    void recoveryData();
    void backPage();
    void onScanThreadFinish();
    void onOpenFailed(const QString& reason);
    void onScanFailed(const QString& reason);
    // A damaged partition table or a file system that could not be read:
    // the note says so, its tooltip gives the details.
    void onScanWarning(int kind, const QString& text);
    void onFoundPartition(const QString& fileSystem, long long sector, long long bytes);
    void onReadPlan(bool unusedSpaceOnly, long long bytesToRead);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showCounters(int found, int ticked);
    // Shows the folder model in the tree (else the type model).
    void setFolderView(bool folders);
    void showStoppedLook();
    void setDoneMark(const QString& text, bool success);
    using PlanStage = CScanProgressText::PlanStage;
    // The read plan's line for the scan's stage.
    void showReadPlan(PlanStage stage);
    void previewRow(const QModelIndex& current);
    void showDetails(bool running);
    void showEmptyResult(const QString& text);
    qint64 sourceLength() const;
    void showFailure(const QString& text);
    void leavePage();

    QHBoxLayout* m_topRow;
    QHBoxLayout* m_countersRow;
    QHBoxLayout* m_progressRow;
    QHBoxLayout* m_panesRow;
    QHBoxLayout* m_bottomRow;
    QVBoxLayout* m_mainLayout;
    QHBoxLayout* m_detailsRow;
    QPushButton* m_stopButton;
    QPushButton* m_recoverButton;
    QPushButton* m_backButton;
    QLabel* m_doneMark;
    QLabel* m_busyLabel;
    QMovie* m_busyMovie;
    QLabel* m_foundCaption;
    QLabel* m_tickedCaption;
    QLabel* m_foundCount;
    QLabel* m_tickedCount;
    QLabel* m_hiddenCaption;
    QLabel* m_hiddenCount;
    QLabel* m_noticeLabel;
    QPushButton* m_imageFirstButton;
    // The page leavePage() goes to: the disks, or the imaging page.
    int m_leaveTo = 1;
    QLabel* m_detailsLabel;
    QLabel* m_readPlanLabel;
    bool m_wholeVolume = false;
    // Bytes the raw pass reads (-1 until it says): the progress's 100 %.
    qint64 m_bytesToRead = -1;
    // Whether the raw pass said how it reads, and if only unused space.
    bool m_planKnown = false;
    bool m_planUnusedOnly = false;
    QLabel* m_emptyLabel;
    QProgressBar* m_progressBar;
    QTreeView* m_treeView;
    QRadioButton* m_byTypeButton;
    QRadioButton* m_byFolderButton;
    QCheckBox* m_keepFoldersBox;
    QTableView* m_tableView;
    CFilterBar* m_filterBar;

    // Declaration order is destruction order in reverse: the recovery
    // dialog (and its worker) and the scan worker go first, then what they
    // fed.
    CFileNodeModel m_treeModel;
    CFolderNodeModel m_folderModel;
    CFileInfoTableModel m_tableModel;
    CCreateTreeNode m_treeBuilder;
    // Keeps the models and counters in step with the builder, refreshing at
    // most every 100 ms however fast documents arrive.
    CResultRefresher m_refresher;
    CRecoveryControl m_control;
    // Hands the scan's reports to the builder a few milliseconds at a time.
    CRelayInbox m_inbox;
    // Why ext4's deleted documents carry sector names.
    void showExt4Note();
    // Shows or hides the note over a table the filter emptied, and the
    // count of the rows it hides.
    void updateFilterNote();
    // The name column takes what the others leave of the table's width,
    // down to a width that still shows a name; below that the table
    // scrolls sideways (a narrow table beside the preview).
    void fitColumns();
    bool m_filterNoteShown = false;
    // Space in the table: ticks the selected rows, or unticks them when all
    // are ticked.
    void tickSelectedRows();
    // What waits for the inbox to hand over everything that has arrived.
    QVector<std::function<void()>> m_afterDelivery;
    void afterDelivery(std::function<void()> action);
    // Reads what each listed document says about itself; after the scan
    // worker in this list, so it stops first.
    CDetailsWorker m_details;
    CRecoveryDialog m_recoveryDialog;

    ITransPage* m_transPage = nullptr;
    IFileChooser* m_fileChooser = nullptr;
    CPartitionInfo m_partition;
    int m_warningRank = 0;
    QStringList m_warningDetails;
    std::shared_ptr<IVolume> m_presetVolume;
    QPersistentModelIndex m_currentTypeIndex;
    bool m_scanning = true;
    bool m_finished = false;
    long long m_lastPermille = 0;
    // Runs from the raw pass's first progress report: the rate behind the
    // time left.
    QElapsedTimer m_rawPassClock;
    bool m_leaving = false;
    QPointer<CMessageTips> m_failureNotice;
    CPreviewPane* m_previewPane = nullptr;
    QSplitter* m_previewSplitter = nullptr;
    // The user closed the pane: rows chosen later do not bring it back.
    bool m_previewClosed = false;
};
