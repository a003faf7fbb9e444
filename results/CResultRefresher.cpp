#include "results/CResultRefresher.h"

#include "results/CCreateTreeNode.h"
#include "results/CFileClassfy.h"
#include "results/CFileInfoTableModel.h"
#include "results/CFileNodeModel.h"

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
}

void CResultRefresher::startScan(const QString& partitionLabel)
{
    m_timer.stop();
    m_sinceRefresh.start();
    m_pendingTypes.clear();
    m_firstListPending = true;
    m_tableModel->clearFileList();
    m_treeModel->resetForScan(partitionLabel);
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
    m_tableModel->appendArrivedRows();
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
        for (int code : m_builder->typeCodes())
            m_treeModel->setTypeCheckState(code, m_builder->typeCheckState(code));
        m_tableModel->refreshTicks();
        updateCounters();
        return;
    }
    m_builder->setTypeChecked(typeCode, state);
    // The row shows what its files now are (a click on a partial box ticks).
    m_treeModel->setTypeCheckState(typeCode, m_builder->typeCheckState(typeCode));
    if (m_tableModel->fileList()
        && (m_tableModel->fileList() == m_builder->filesOfType(typeCode)
            || m_tableModel->fileList() == m_builder->allFiles()))
        m_tableModel->refreshTicks();
    updateCounters();
}

void CResultRefresher::fileTicked(int typeCode)
{
    m_treeModel->setTypeCheckState(typeCode, m_builder->typeCheckState(typeCode));
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
