#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class CCreateTreeNode;
class CFileClassfy;
class CFileInfoTableModel;
class CFileNodeModel;
class CFolderNode;
class CFolderNodeModel;
class INode;

// Keeps the result page's two models and its counters in step with the tree
// builder, at O(1) cost per found document: the builder's notifications are
// only noted, and at most every interval() ms (100 by default) one refresh
// updates the label and check box of each changed type row, inserts the new
// rows of the shown table and recounts (also when the table is handed a new
// list, so "找到：" never lags behind the rows shown) (the builder keeps its counts as
// files arrive and ticks change, so recounting walks nothing). A new type's
// row is added at once, and the user's ticks are applied at once. After each
// refresh the views show what a refresh after every single document would
// show.
//
// The result page owns one, next to the builder and the models, and wires it
// like this (the page stays the builder's receiver, as ICopyFileNode says):
//
//   builder.setReceiver(this);
//   CResultRefresher refresher(&builder, &treeModel, &tableModel);
//   connect(&treeModel, &CFileNodeModel::checkStatus, this, &Page::reciveStatusFromTree);
//   connect(&tableModel, &CFileInfoTableModel::checkTableStatus, this, &Page::reciveStatusFromTable);
//   connect(&refresher, &CResultRefresher::countersChanged, ...);   // labels, recover button
//   connect(&refresher, &CResultRefresher::typeRowAdded, treeView, &QTreeView::expandAll);
//
//   void Page::typeNodeChanged(CFileClassfy* node) { refresher.typeNodeChanged(node); }
//   void Page::setFileList(QList<INode*>* files)   { refresher.setFileList(files); }
//   void Page::reciveStatusFromTree(int code, int state) { refresher.typeTicked(code, state); }
//   void Page::reciveStatusFromTable(int code)           { refresher.fileTicked(code); }
//   void Page::showFile(const QModelIndex& i) { builder.startLookup(treeModel.typeCodeAt(i)); }
//   startScan():  refresher.startScan(partition.displayName); then beginScan(...)
//   scan over (notifyProcess(n, n), scanThreadFinish): refresher.flush();
//   recover:      QList<CFileNode> list; builder.collectChecked(list);
//
// Declare the builder first, then the two models, then the refresher, so
// that they go in the reverse order (the table shows the builder's lists;
// the refresher's timer must not outlive the models). Raise the builder's
// requestStop() in the page's destructor.
//
// Everything runs on the interface thread.
class CResultRefresher : public QObject
{
    Q_OBJECT
public:
    CResultRefresher(CCreateTreeNode* builder, CFileNodeModel* treeModel, CFileInfoTableModel* tableModel,
                     QObject* parent = nullptr);

    // The folder view's model, kept in step as the type model is (optional;
    // not owned). Its boxes are connected to folderTicked().
    void setFolderModel(CFolderNodeModel* folderModel);

    void setInterval(int milliseconds) { m_timer.setInterval(milliseconds); }
    int interval() const { return m_timer.interval(); }

    // Empties both models and the counters; the next new type fills the
    // table with the first type's files.
    void startScan(const QString& partitionLabel);

    // The page's ICopyFileNode calls, passed on. For a new type the row is
    // added at once (the tree model takes `node` over); for a known type
    // the change is noted for the next refresh (`node` is not kept).
    void typeNodeChanged(CFileClassfy* node);
    void setFileList(QList<INode*>* files);

public slots:
    // The user changed a type row's check box: tick or untick its files
    // (type code -1: the volume's row, every file).
    // (CFileNodeModel::checkStatus may be connected here directly.)
    void typeTicked(int typeCode, int state);
    // The user ticked or unticked a file of the type in the table.
    // (CFileInfoTableModel::checkTableStatus may be connected here directly.)
    void fileTicked(int typeCode);
    // The user changed a folder row's box: tick or untick the files under
    // it (the builder's folder root: every file).
    void folderTicked(CFolderNode* folder, int state);

    // Applies whatever is pending now (the end of a scan, tests).
    void flush();

public:
    bool hasPending() const { return m_timer.isActive(); }

    int foundCount() const { return m_found; }
    int tickedCount() const { return m_ticked; }
    int refreshCount() const { return m_refreshes; }

signals:
    // After every refresh or tick, with the numbers to show in "找到：" and
    // "勾选：" (the recover button is enabled when ticked > 0).
    void countersChanged(int found, int ticked);
    // A new type row was inserted (the page expands the tree).
    void typeRowAdded();
    // A refresh applied pending document arrivals.
    void refreshed();

private:
    void schedule();
    void updateCounters();
    // Every type row's box from its files (after ticks across types).
    void syncTypeBoxes();
    void syncFolders();

    CCreateTreeNode* m_builder;
    CFileNodeModel* m_treeModel;
    CFileInfoTableModel* m_tableModel;
    CFolderNodeModel* m_folderModel = nullptr;
    // A file moved between folders: a folder's list the table shows may
    // have lost a row.
    bool m_foldersMoved = false;
    QTimer m_timer;
    QElapsedTimer m_sinceRefresh;
    // Type code -> bare type name of types that gained files since the last
    // refresh.
    QHash<int, QString> m_pendingTypes;
    bool m_firstListPending = true;
    bool m_detailsPending = false;
    int m_found = 0;
    int m_ticked = 0;
    int m_refreshes = 0;
};
