#include "results/CCreateTreeNode.h"

#include "scan/CUnreadableDocument.h"

#include "results/CFileClassfy.h"
#include "results/ICopyFileNode.h"
#include "scan/CFileTypeCatalogue.h"

CCreateTreeNode::CCreateTreeNode(QObject* parent)
    : QObject(parent)
    , m_root(std::make_unique<CFileNodeItem>())
    , m_folderRoot(std::make_unique<CFolderNode>(QString(), CFolderNode::Root))
{
    registerFileNodeMetaType();
}

CCreateTreeNode::~CCreateTreeNode()
{
    // The files go with the type items; they must not tell a folder that
    // is gone already, nor one that goes after them.
    for (INode* node : m_allFiles)
        static_cast<CFileNodeItem*>(node)->setFolder(nullptr);
}

CFolderNode* CCreateTreeNode::folderFor(const CFileNode& record)
{
    CFolderNode* root = m_folderRoot.get();
    const auto topNamed = [root](const QString& name, CFolderNode::Kind kind) { return root->childNamed(name, kind); };
    if (record.origin == CFileNode::OriginCarved)
        return topNamed(QString(), CFolderNode::CarvedOnly);
    if (m_lastFolder && record.folder == m_lastFolderPath)
        return m_lastFolder;
    const bool lostParent = record.folder.isEmpty() || record.folder.startsWith(QLatin1Char('?'));
    CFolderNode* at = lostParent ? topNamed(QStringLiteral("?"), CFolderNode::UnknownParent)
                                 : topNamed(QStringLiteral("/"), CFolderNode::Folder);
    int depth = 0;
    bool first = true;
    for (const QStringRef& name : record.folder.splitRef(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const bool lostMark = first && lostParent && name == QLatin1String("?");
        first = false;
        if (lostMark)
            continue;
        if (++depth > kMaxFolderDepth)
            break;
        at = at->childNamed(name.toString());
    }
    m_lastFolderPath = record.folder;
    m_lastFolder = at;
    return at;
}

void CCreateTreeNode::placeInFolder(CFileNodeItem* file)
{
    CFolderNode* target = folderFor(file->record());
    CFolderNode* was = file->folder();
    if (was == target)
        return;
    if (was) {
        file->setFolder(nullptr);
        was->removeFile(file);
        if (isListed(was))
            m_listedFiles.removeOne(file);
    }
    target->addFile(file);
    file->setFolder(target);
    if (isListed(target))
        m_listedFiles.append(file);
    if (was)
        emit foldersMoved();
}

bool CCreateTreeNode::isListed(const CFolderNode* folder) const
{
    if (!m_listedFolder)
        return false;
    // Up the parents, as deep as folders go (kMaxFolderDepth and the top
    // nodes).
    for (int depth = 0; folder && depth <= kMaxFolderDepth + 2; ++depth, folder = folder->parent()) {
        if (folder == m_listedFolder)
            return true;
    }
    return false;
}

QList<INode*>* CCreateTreeNode::filesUnder(CFolderNode* folder)
{
    m_listedFolder = folder;
    m_listedFiles.clear();
    if (!folder)
        return &m_listedFiles;
    // Depth first, each folder's own files before its subfolders'; a stack
    // of (folder, depth) rather than recursion.
    QVector<QPair<CFolderNode*, int>> stack{{folder, 0}};
    while (!stack.isEmpty()) {
        const auto [node, depth] = stack.takeLast();
        m_listedFiles += node->files();
        if (depth > kMaxFolderDepth + 2)
            continue;
        for (int row = node->childCount() - 1; row >= 0; --row)
            stack.append({node->child(row), depth + 1});
    }
    return &m_listedFiles;
}

void CCreateTreeNode::setFolderChecked(CFolderNode* folder, int state)
{
    if (!folder || folder == m_folderRoot.get()) {
        setAllChecked(state);
        return;
    }
    folder->setChecked(state);
}

void CCreateTreeNode::reciveFileItem(long long fileStart, int exteion)
{
    const quint64 key = static_cast<quint64>(fileStart);
    if (!m_liveFiles.contains(key))
        m_liveFiles.insert(key, exteion);
}

// A carved record is a live file's document when a live file starts at its
// sector and
//  - that file is of no wanted type (code 100): its name hides a container
//    (.odt, .epub, .jar, .msi, ...) whose bytes we carve as one of ours;
//  - or it has the record's type;
//  - or its type is of the record's family: a live DOCX whose member names
//    are unusual is carved as a ZIP, a live XLS may be carved as a DOC.
// A record of another family (a ZIP at a live PDF's sector) is kept.
bool CCreateTreeNode::isDuplicate(const CFileNode& record) const
{
    const auto it = m_liveFiles.constFind(record.startSector);
    if (it == m_liveFiles.constEnd())
        return false;
    const int liveCode = it.value();
    if (liveCode == CFileTypeCatalogue::NotWanted)
        return true;
    const int recordCode = CFileTypeCatalogue::typeCodeByName(record.typeName);
    if (recordCode == liveCode)
        return true;
    const int liveFamily = CFileTypeCatalogue::family(liveCode);
    return liveFamily != 0 && liveFamily == CFileTypeCatalogue::family(recordCode);
}

namespace {

bool sameFamily(int a, int b)
{
    if (a == b)
        return true;
    const int family = CFileTypeCatalogue::family(a);
    return family != 0 && family == CFileTypeCatalogue::family(b);
}

// The entry's record, marked as found both ways, listed under the row's type.
CFileNode mergedRecord(const CFileNode& entry, const CFileNode& row)
{
    CFileNode merged = entry;
    merged.origin = CFileNode::OriginBoth;
    merged.typeName = row.typeName;
    merged.typeCode = row.typeCode;
    merged.typeDescription = row.typeDescription;
    merged.kind = row.kind;
    return merged;
}

} // namespace

CFileNodeItem* CCreateTreeNode::takeCounterpart(QHash<quint64, CFileNodeItem*>& starts, const CFileNode& record)
{
    const int64_t first = record.firstByteOffset();
    if (first < 0)
        return nullptr;
    const auto it = starts.find(static_cast<quint64>(first));
    if (it == starts.end())
        return nullptr;
    CFileNodeItem* item = it.value();
    const int recordCode = CFileTypeCatalogue::typeCodeByName(record.typeName);
    const int itemCode = CFileTypeCatalogue::typeCodeByName(item->record().typeName);
    // A document of another family at that byte is another document: the
    // entry's first cluster was reused.
    if (!sameFamily(recordCode, itemCode))
        return nullptr;
    starts.erase(it);
    return item;
}

void CCreateTreeNode::reciveFileItem(const CFileNode& record)
{
    if (record.origin != CFileNode::OriginCarved) {
        if (CFileNodeItem* carved = takeCounterpart(m_carvedStarts, record)) {
            carved->setRecord(mergedRecord(record, carved->record()));
            placeInFolder(carved);
            // Now read along the entry's layout, not the carved stretch.
            listForDetails(carved);
            return;
        }
        CFileNodeItem* item = addItem(record);
        const int64_t first = record.firstByteOffset();
        if (record.origin == CFileNode::OriginDeletedEntry && first >= 0)
            m_entryStarts.insert(static_cast<quint64>(first), item);
        return;
    }

    if (isDuplicate(record))
        return;
    if (CFileNodeItem* entry = takeCounterpart(m_entryStarts, record)) {
        entry->setRecord(mergedRecord(entry->record(), entry->record()));
        return;
    }
    CFileNodeItem* item = addItem(record);
    m_carvedStarts.insert(record.byteOffset(), item);
}

void CCreateTreeNode::listForDetails(CFileNodeItem* item)
{
    const quint64 old = m_ticketOf.value(item, 0);
    if (old != 0)
        m_tickets.remove(old);
    const quint64 ticket = m_nextTicket++;
    m_tickets.insert(ticket, item);
    m_ticketOf.insert(item, ticket);
    emit documentListed(ticket, item->record());
}

void CCreateTreeNode::applyDetails(const QVector<CDetailsWorker::Result>& batch)
{
    int applied = 0;
    for (const CDetailsWorker::Result& r : batch) {
        if (r.newDocument) {
            // Found in pieces where nothing was listed: a row of its own,
            // already read, unless a live file or a row starts there.
            if (isDuplicate(r.node) || m_carvedStarts.contains(r.node.byteOffset())
                || m_entryStarts.contains(r.node.byteOffset()))
                continue;
            CFileNode node = r.node;
            CUnreadableDocument::mark(node, m_unreadable, &node.details);
            m_carvedStarts.insert(r.node.byteOffset(), addItemOnly(node));
            ++applied;
            emit documentInPieces(node);
            continue;
        }
        CFileNodeItem* item = m_tickets.value(r.ticket, nullptr);
        if (!item)
            continue;
        if (!r.pieces.isEmpty()) {
            // Found in pieces: the record now reads them, in order.
            CFileNode record = item->record();
            int64_t size = 0;
            for (const CFileNode::Extent& e : r.pieces)
                size += e.length;
            record.extents = r.pieces;
            record.size = size;
            record.sizeText = CFileTypeCatalogue::sizeText(size);
            record.details = r.details;
            CUnreadableDocument::mark(record, m_unreadable, &record.details);
            item->setRecord(record);
            ++applied;
            emit documentInPieces(record);
            continue;
        }
        CDocumentDetails details = r.details;
        CUnreadableDocument::mark(item->record(), m_unreadable, &details);
        item->setDetails(details);
        ++applied;
    }
    if (applied > 0)
        emit detailsChanged(applied);
}

void CCreateTreeNode::markUnreadable(const CUnreadableRanges& unreadable)
{
    m_unreadable = unreadable;
    if (unreadable.isEmpty())
        return;
    int marked = 0;
    for (INode* node : m_allFiles) {
        auto* item = static_cast<CFileNodeItem*>(node);
        CDocumentDetails details = item->record().details;
        if (CUnreadableDocument::mark(item->record(), m_unreadable, &details)) {
            item->setDetails(details);
            ++marked;
        }
    }
    if (marked > 0)
        emit detailsChanged(marked);
}

CFileNodeItem* CCreateTreeNode::addItem(const CFileNode& record)
{
    CFileNodeItem* file = addItemOnly(record);
    // A record that comes with its details already read is not read again.
    if (!record.details.examined)
        listForDetails(file);
    return file;
}

CFileNodeItem* CCreateTreeNode::addItemOnly(const CFileNode& record)
{
    auto* item = new CFileNodeItem(&record);
    if (CFileNodeItem* type = typeItem(item->typeCode())) {
        type->appendChild(item);
        m_allFiles.append(item);
        placeInFolder(item);
        if (m_receiver) {
            CFileClassfy changed(item->typeName(), item->typeCode(), type->childCount());
            m_receiver->typeNodeChanged(&changed);
        }
        return item;
    }

    // The first document of a type stands for the type, and is listed again
    // as the type's first file: only the file item's tick counts.
    m_root->appendChild(item);
    m_typeItems.insert(item->typeCode(), item);
    auto* file = new CFileNodeItem(&record);
    item->appendChild(file);
    m_allFiles.append(file);
    placeInFolder(file);
    if (m_receiver)
        m_receiver->typeNodeChanged(new CFileClassfy(item->typeName(), item->typeCode(), 1));
    return file;
}

CFileNodeItem* CCreateTreeNode::typeItem(int typeCode) const
{
    return m_typeItems.value(typeCode, nullptr);
}

void CCreateTreeNode::startLookup(int typeCode)
{
    m_requestedType = typeCode;
    run();
}

void CCreateTreeNode::run()
{
    if (!m_receiver || m_stopFlag)
        return;
    if (m_requestedType == AllTypes) {
        if (!m_allFiles.isEmpty())
            m_receiver->setFileList(&m_allFiles);
        return;
    }
    CFileNodeItem* found = nullptr;
    if (m_requestedType < 0)
        found = m_root->child(0);
    else
        found = typeItem(m_requestedType);
    if (found)
        m_receiver->setFileList(&found->children());
}

void CCreateTreeNode::setTypeChecked(int typeCode, int state)
{
    CFileNodeItem* type = typeItem(typeCode);
    if (!type)
        return;
    const bool ticked = state != 0;
    for (INode* node : type->children()) {
        auto* file = static_cast<CFileNodeItem*>(node);
        // A damaged file is ticked only by the user's own choice.
        if (!ticked || file->isTickedWithType())
            file->setChecked(ticked);
    }
}

void CCreateTreeNode::setAllChecked(int state)
{
    for (INode* typeNode : m_root->children())
        setTypeChecked(static_cast<CFileNodeItem*>(typeNode)->typeCode(), state);
}

int CCreateTreeNode::typeCheckState(int typeCode) const
{
    const CFileNodeItem* type = typeItem(typeCode);
    return type ? type->checkState() : 0;
}

void CCreateTreeNode::collectChecked(QList<CFileNode>& out) const
{
    for (INode* typeNode : m_root->children()) {
        const auto* type = static_cast<const CFileNodeItem*>(typeNode);
        if (type->checkedChildCount() == 0)
            continue;
        for (INode* fileNode : type->children()) {
            const auto* file = static_cast<const CFileNodeItem*>(fileNode);
            if (file->isChecked())
                out.append(file->record());
        }
    }
}

void CCreateTreeNode::collectAll(QList<CFileNode>& out) const
{
    for (INode* typeNode : m_root->children()) {
        for (INode* fileNode : static_cast<const CFileNodeItem*>(typeNode)->children())
            out.append(static_cast<const CFileNodeItem*>(fileNode)->record());
    }
}

void CCreateTreeNode::countFiles(int& total, int& ticked) const
{
    // At most one type item per type code: a handful, whatever the number
    // of files.
    for (INode* typeNode : m_root->children()) {
        const auto* type = static_cast<const CFileNodeItem*>(typeNode);
        total += type->childCount();
        ticked += type->checkedChildCount();
    }
}

QList<INode*>* CCreateTreeNode::filesOfType(int typeCode)
{
    CFileNodeItem* type = typeItem(typeCode);
    return type ? &type->children() : nullptr;
}

QList<int> CCreateTreeNode::typeCodes() const
{
    QList<int> codes;
    for (INode* typeNode : m_root->children())
        codes.append(static_cast<const CFileNodeItem*>(typeNode)->typeCode());
    return codes;
}
