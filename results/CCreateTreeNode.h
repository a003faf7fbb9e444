#pragma once

#include "details/CDetailsWorker.h"
#include "disk/CUnreadableRanges.h"
#include "results/CFileNodeItem.h"
#include "results/CFolderNode.h"
#include "scan/CFileNode.h"

#include <QHash>
#include <QList>
#include <QObject>

#include <memory>

class ICopyFileNode;

// Builds the found-file tree of one scan from the relay's reports and
// leaves out the documents that live files still own.
//
// Wiring (the result page, and the command line's scan session, do this):
//   builder.setReceiver(page);                // optional: the tree is built without one too
//   connect(relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem),
//           &builder, qOverload<const CFileNode&>(&CCreateTreeNode::reciveFileItem));
//   connect(relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem),
//           &builder, qOverload<long long, int>(&CCreateTreeNode::reciveFileItem));
// The builder lives on the interface thread; the relay's signals come from
// the scan threads and so arrive queued, in the order they were posted. The
// file-system pass ends before the raw pass starts, so every live file is
// known before the first carved record arrives.
//
// A deleted file's record (origin OriginDeletedEntry) and a carved record
// that starts at the same byte of the source, of the same type family, are
// one document: one row, origin OriginBoth, with the entry's name, folder,
// size, time and layout (the entry knows the exact size; carving only
// infers it). The two may arrive in either order; the row keeps the type
// it was listed under first. Only carved records go through the live-file
// filter: a deleted file's sector is often a live file's again, and the
// entry's own record says how much of it was overwritten.
//
// Every operation runs on the builder's own (interface) thread; nothing here
// starts a thread. Each carved record costs O(1): the type item is found by
// a hash, and counts are kept as items arrive and ticks change.
class CCreateTreeNode : public QObject
{
    Q_OBJECT
public:
    explicit CCreateTreeNode(QObject* parent = nullptr);
    ~CCreateTreeNode() override;

    // Not owned. Told of every added document (typeNodeChanged) and handed
    // the file lists that startLookup finds (setFileList).
    void setReceiver(ICopyFileNode* receiver) { m_receiver = receiver; }
    ICopyFileNode* receiver() const { return m_receiver; }

    // startLookup(AllTypes) hands over every document of every type.
    static constexpr int AllTypes = -2;

    // Finds the type item of `typeCode` (-1: the first type) and hands its
    // children list to the receiver's setFileList, at once and on the
    // calling (interface) thread; AllTypes hands over the list of every
    // document. Nothing is handed over when no document of the type exists
    // yet, when there is no receiver, or after requestStop().
    void startLookup(int typeCode);
    // The look-up itself, for the type last given to startLookup.
    void run();
    // Raised by the page just before it destroys the builder: no more
    // look-ups are answered.
    void requestStop() { m_stopFlag = true; }

    // Ticks (state != 0) every file of the type that is not damaged, or
    // unticks every file of the type.
    void setTypeChecked(int typeCode, int state);
    // The same for every file of every type.
    void setAllChecked(int state);
    // Qt::CheckState of the type's files (2 all ticked, 1 some, 0 none);
    // 0 for a type that has no item.
    int typeCheckState(int typeCode) const;

    // Appends a copy of every ticked record: types in tree order, and
    // within a type in the list's current order (a size sort changes it).
    void collectChecked(QList<CFileNode>& out) const;
    // The same, for every file, ticked or not: what the tree lists.
    void collectAll(QList<CFileNode>& out) const;
    // Adds the number of files and of ticked files to the two counters.
    void countFiles(int& total, int& ticked) const;

    // The children list of the type's item, or null when it has none.
    QList<INode*>* filesOfType(int typeCode);
    // Every file item of every type, in arrival order (a sort may reorder
    // it); what the volume's own row shows.
    QList<INode*>* allFiles() { return &m_allFiles; }
    // Type codes in tree order (order of first arrival).
    QList<int> typeCodes() const;
    const CFileNodeItem* root() const { return m_root.get(); }

    // The folder view of the same files: under this invisible node, "/" and
    // its folders, "?" for files whose parent folders are lost, and one node
    // for the documents only carving found, in order of first arrival. A
    // file moves when its record changes folder (a carved row turned out to
    // be a deleted file's): foldersMoved() then tells the views.
    CFolderNode* folderRoot() const { return m_folderRoot.get(); }
    // Every file under `folder`, its subfolders' too (what its count
    // counts), in one list the builder keeps up to date as files arrive or
    // move, for one folder at a time: asking for another folder refills the
    // same list. What the table shows for a folder.
    QList<INode*>* filesUnder(CFolderNode* folder);
    // Ticks (state != 0) every undamaged file under `folder`, or unticks them
    // all; the invisible root stands for every file.
    void setFolderChecked(CFolderNode* folder, int state);
    // Folders deeper than this are cut off: their files go to the deepest
    // folder kept (a damaged directory tree can name a path of any depth).
    static constexpr int kMaxFolderDepth = 64;

    // Whether a carved record is a live file's document (see the .cpp).
    bool isDuplicate(const CFileNode& record) const;

    // The scan's unreadable stretches (source offsets): every document over
    // one is damaged from now on, with the places in its reason, whatever
    // its details say, now or when they come. Emits detailsChanged.
    void markUnreadable(const CUnreadableRanges& unreadable);
    const CUnreadableRanges& unreadable() const { return m_unreadable; }

    // The file item a details ticket stands for (null once the item's
    // record was replaced by one with another layout).
    CFileNodeItem* itemOfTicket(quint64 ticket) const { return m_tickets.value(ticket, nullptr); }

signals:
    // A document was listed, or its record now describes other bytes (a
    // carved row turned out to be a deleted file's): the details pass reads
    // it and answers with `ticket` (CDetailsWorker::enqueue).
    void documentListed(quint64 ticket, const CFileNode& record);
    // Details were applied to `count` documents (the refresher repaints).
    void detailsChanged(int count);
    // A file left one folder's list for another's.
    void foldersMoved();
    // A document now lies in the pieces its record lists, found by the
    // details pass's search (a listed one, or one added): the saved scan
    // keeps them (CRecoveryControl::recordReassembled).
    void documentInPieces(const CFileNode& record);

public slots:
    // The details pass's answers (CDetailsWorker::detailsReady); a ticket
    // whose item has another record by now is ignored. A document it found
    // in pieces where nothing was listed is added, read already.
    void applyDetails(const QVector<CDetailsWorker::Result>& batch);
    // One found document: a carved one is added under its type unless a
    // live file owns it; either kind is merged with its counterpart (see
    // above).
    void reciveFileItem(const CFileNode& record);
    // A live file (start sector, type code); the first report of a sector
    // is kept.
    void reciveFileItem(long long fileStart, int exteion);

private:
    CFileNodeItem* typeItem(int typeCode) const;
    CFileNodeItem* addItem(const CFileNode& record);
    CFileNodeItem* addItemOnly(const CFileNode& record);
    // The counterpart waiting in `starts` at the record's first byte, taken
    // out of it, or null.
    static CFileNodeItem* takeCounterpart(QHash<quint64, CFileNodeItem*>& starts, const CFileNode& record);

    int m_requestedType = -1;
    bool m_stopFlag = false;
    std::unique_ptr<CFileNodeItem> m_root;
    QHash<quint64, int> m_liveFiles;
    QHash<int, CFileNodeItem*> m_typeItems;
    // Rows not merged yet, by the byte offset of their first byte: deleted
    // files' rows, and carved rows (carving after the file-system pass
    // finds a row of its own only at a sector no entry claimed).
    QHash<quint64, CFileNodeItem*> m_entryStarts;
    QHash<quint64, CFileNodeItem*> m_carvedStarts;
    // Details tickets of the file items, and the next ticket.
    QHash<quint64, CFileNodeItem*> m_tickets;
    CUnreadableRanges m_unreadable;
    QHash<const CFileNodeItem*, quint64> m_ticketOf;
    quint64 m_nextTicket = 1;
    void listForDetails(CFileNodeItem* item);
    // The same file items as the types' lists (owned there).
    QList<INode*> m_allFiles;
    // Puts the file into the folder its record names, out of the one it
    // was in.
    void placeInFolder(CFileNodeItem* file);
    CFolderNode* folderFor(const CFileNode& record);
    std::unique_ptr<CFolderNode> m_folderRoot;
    // The folder whose files filesUnder() lists, and that list.
    CFolderNode* m_listedFolder = nullptr;
    QList<INode*> m_listedFiles;
    bool isListed(const CFolderNode* folder) const;
    // Most files arrive folder by folder: the last folder looked up.
    QString m_lastFolderPath;
    CFolderNode* m_lastFolder = nullptr;
    ICopyFileNode* m_receiver = nullptr;
};
