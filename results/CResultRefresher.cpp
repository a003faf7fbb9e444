#include "results/CResultRefresher.h"

#include "results/CCreateTreeNode.h"
#include "results/CFileClassfy.h"
#include "results/CFileInfoTableModel.h"
#include "results/CFileNodeModel.h"
#include "results/CFolderNodeModel.h"

CResultRefresher::CResultRefresher(CCreateTreeNode* builder, CFileNodeModel* treeModel,
                                   CFileInfoTableModel* tableModel, QObject* parent)
    : QObject(parent)
    , m_builder(builder)
    , m_treeModel(treeModel)
    , m_tableModel(tableModel)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(100);
    connect(&m_timer, &QTimer::timeout, this, &CResultRefresher::flush);
    // What documents say about themselves arrives in batches too; the rows
    // are repainted at the next refresh, never once per batch.
    connect(m_builder, &CCreateTreeNode::detailsChanged, this, [this]() {
        m_detailsPending = true;
        schedule();
    });
    connect(m_builder, &CCreateTreeNode::foldersMoved, this, [this]() {
        m_foldersMoved = true;
        schedule();
    });
}

void CResultRefresher::setFolderModel(CFolderNodeModel* folderModel)
{
    m_folderModel = folderModel;
    if (m_folderModel)
        connect(m_folderModel, &CFolderNodeModel::folderTicked, this, &CResultRefresher::folderTicked,
                Qt::UniqueConnection);
}

void CResultRefresher::syncFolders()
{
    if (m_folderModel)
        m_folderModel->sync();
}

void CResultRefresher::syncTypeBoxes()
{
    for (int code : m_builder->typeCodes())
        m_treeModel->setTypeCheckState(code, m_builder->typeCheckState(code));
}

void CResultRefresher::folderTicked(CFolderNode* folder, int state)
{
    m_builder->setFolderChecked(folder, state);
    syncTypeBoxes();
    syncFolders();
    m_tableModel->refreshTicks();
    updateCounters();
}

void CResultRefresher::startScan(const QString& partitionLabel)
{
    m_timer.stop();
    m_sinceRefresh.start();
    m_pendingTypes.clear();
    m_firstListPending = true;
    m_tableModel->clearFileList();
    m_treeModel->resetForScan(partitionLabel);
    m_foldersMoved = false;
    if (m_folderModel)
        m_folderModel->resetForScan(partitionLabel, m_builder->folderRoot());
    updateCounters();
}

void CResultRefresher::schedule()
{
    if (!m_timer.isActive()) {
        m_timer.start();
        return;
    }
    // Documents can arrive in such bursts that the interface thread gets no
    // turn for its timers: refresh from here once the interval has passed,
    // so that the views never fall further behind than that.
    if (m_sinceRefresh.isValid() && m_sinceRefresh.elapsed() >= m_timer.interval())
        flush();
}

void CResultRefresher::typeNodeChanged(CFileClassfy* node)
{
    if (!node)
        return;
    // The builder hands over a new heap node exactly for the first file of a
    // type (count 1); later notes are its temporaries.
    const bool handedOver = node->fileCount == 1;
    const int code = node->typeCode;
    if (m_treeModel->typeRowIndex(code).isValid()) {
        m_pendingTypes.insert(code, node->label);
        if (handedOver)
            delete node;
        schedule();
        return;
    }

    // A new type (a handful per scan): its row now, so the tree never lacks
    // a type the table may already show. Its box shows its files' ticks.
    CFileClassfy* row = handedOver ? node : new CFileClassfy(node->label, code, 1);
    row->checkState = m_builder->typeCheckState(code);
    m_treeModel->updateTypeNode(row);
    if (!handedOver)
        m_pendingTypes.insert(code, node->label); // label with its count at the refresh
    emit typeRowAdded();
    schedule(); // counters
    if (m_firstListPending) {
        m_firstListPending = false;
        m_builder->startLookup(-1);
    }
}

void CResultRefresher::setFileList(QList<INode*>* files)
{
    m_tableModel->setFileList(files);
    // The table now lists everything its list holds: the counters follow at
    // once, never a refresh later.
    updateCounters();
}

void CResultRefresher::flush()
{
    m_timer.stop();
    m_sinceRefresh.start();
    for (auto it = m_pendingTypes.cbegin(); it != m_pendingTypes.cend(); ++it) {
        const int code = it.key();
        const QList<INode*>* files = m_builder->filesOfType(code);
        if (!files)
            continue;
        CFileClassfy changed(it.value(), code, files->size());
        m_treeModel->updateTypeNode(&changed);
        m_treeModel->setTypeCheckState(code, m_builder->typeCheckState(code));
    }
    m_pendingTypes.clear();
    if (m_foldersMoved) {
        // Rare (a carved row turned out to be a deleted file's): the shown
        // list is read again whole.
        m_foldersMoved = false;
        m_tableModel->refresh();
    }
    m_tableModel->appendArrivedRows();
    syncFolders();
    if (m_detailsPending) {
        m_detailsPending = false;
        m_tableModel->refreshDetails();
    }
    ++m_refreshes;
    updateCounters();
    emit refreshed();
}

void CResultRefresher::typeTicked(int typeCode, int state)
{
    if (typeCode < 0) {
        // The volume's row: every document of every type.
        m_builder->setAllChecked(state);
        syncTypeBoxes();
        syncFolders();
        m_tableModel->refreshTicks();
        updateCounters();
        return;
    }
    m_builder->setTypeChecked(typeCode, state);
    // The row shows what its files now are (a click on a partial box ticks).
    m_treeModel->setTypeCheckState(typeCode, m_builder->typeCheckState(typeCode));
    // A folder's list holds files of any type.
    if (m_tableModel->fileList())
        m_tableModel->refreshTicks();
    syncFolders();
    updateCounters();
}

void CResultRefresher::fileTicked(int typeCode)
{
    m_treeModel->setTypeCheckState(typeCode, m_builder->typeCheckState(typeCode));
    syncFolders();
    updateCounters();
}

void CResultRefresher::updateCounters()
{
    int found = 0;
    int ticked = 0;
    m_builder->countFiles(found, ticked);
    m_found = found;
    m_ticked = ticked;
    emit countersChanged(found, ticked);
}
