#include "results/CFileNodeModel.h"

#include "results/CFileClassfy.h"
#include "results/CResultIcons.h"

CFileNodeModel::CFileNodeModel(QObject* parent)
    : QAbstractItemModel(parent)
    , m_folderIcon(CResultIcons::folder())
{
    m_dataRoot = new CFileClassfy(m_rootLabel, -1, 0);
    m_topRoot = new CFileClassfy(QStringLiteral(" "), -1, 0);
    m_dataRoot->parentNode = m_topRoot;
    m_topRoot->childNodes.append(m_dataRoot);
}

CFileNodeModel::~CFileNodeModel()
{
    deleteTypeNodes();
    delete m_dataRoot;
    delete m_topRoot;
}

void CFileNodeModel::deleteTypeNodes()
{
    qDeleteAll(m_dataRoot->childNodes);
    m_dataRoot->childNodes.clear();
    m_typeNodes.clear();
    m_typeIndexes.clear();
}

CFileClassfy* CFileNodeModel::nodeOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<CFileClassfy*>(index.internalPointer()) : m_topRoot;
}

QModelIndex CFileNodeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column != 0 || (parent.isValid() && parent.column() != 0))
        return QModelIndex();
    const CFileClassfy* node = nodeOf(parent);
    if (!node || row >= node->childNodes.size())
        return QModelIndex();
    return createIndex(row, 0, node->childNodes.at(row));
}

QModelIndex CFileNodeModel::parent(const QModelIndex& index) const
{
    if (!index.isValid())
        return QModelIndex();
    const CFileClassfy* node = nodeOf(index);
    CFileClassfy* up = node->parentNode;
    if (!up || up == m_topRoot)
        return QModelIndex();
    const CFileClassfy* grand = up->parentNode;
    const int row = grand ? grand->childNodes.indexOf(up) : 0;
    return createIndex(row < 0 ? 0 : row, 0, up);
}

int CFileNodeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return nodeOf(parent)->childNodes.size();
}

int CFileNodeModel::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return 1;
}

QVariant CFileNodeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() != 0)
        return QVariant();
    const CFileClassfy* node = nodeOf(index);
    switch (role) {
    case Qt::DecorationRole:
        return m_folderIcon;
    case Qt::DisplayRole:
        return node->label;
    case Qt::CheckStateRole:
        if (node == m_dataRoot)
            return Qt::CheckState(rootCheckState());
        if (node->checkState == 0)
            return Qt::Unchecked;
        return node->checkState == 1 ? Qt::PartiallyChecked : Qt::Checked;
    default:
        return QVariant();
    }
}

QVariant CFileNodeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return tr("文件格式");
    return QVariant();
}

bool CFileNodeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() != 0)
        return false;
    CFileClassfy* node = nodeOf(index);
    if (role != Qt::CheckStateRole)
        return true;
    const int state = value.toInt();
    if (node == m_dataRoot) {
        // The volume's row ticks or unticks everything; its box then shows
        // what the types' boxes add up to.
        emit checkStatus(-1, state);
        emit dataChanged(index, index, {Qt::CheckStateRole});
        return true;
    }
    node->checkState = state;
    emit checkStatus(node->typeCode, state);
    emit dataChanged(index, index, {Qt::CheckStateRole});
    notifyRootCheck();
    return true;
}

int CFileNodeModel::rootCheckState() const
{
    // A handful of types: walking them costs nothing.
    bool any = false;
    bool all = !m_typeNodes.isEmpty();
    for (const CFileClassfy* node : m_typeNodes) {
        any = any || node->checkState != 0;
        all = all && node->checkState == 2;
    }
    return all ? 2 : any ? 1 : 0;
}

void CFileNodeModel::notifyRootCheck()
{
    const QModelIndex root = rootRowIndex();
    emit dataChanged(root, root, {Qt::CheckStateRole});
}

bool CFileNodeModel::setHeaderData(int, Qt::Orientation, const QVariant&, int)
{
    return false;
}

Qt::ItemFlags CFileNodeModel::flags(const QModelIndex& index) const
{
    // The invisible root takes no flags (item views and the model checker
    // rely on it).
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

bool CFileNodeModel::updateTypeNode(CFileClassfy* node)
{
    if (!node)
        return false;
    const auto known = m_typeNodes.constFind(node->typeCode);
    if (known != m_typeNodes.constEnd()) {
        CFileClassfy* row = known.value();
        if (row == node)
            return true;
        row->fileCount = node->fileCount;
        // The incoming label is the bare type name, so the count never
        // doubles up: PDF(2), PDF(3)...
        row->label = node->label + QLatin1Char('(') + QString::number(row->fileCount) + QLatin1Char(')');
        const QPersistentModelIndex& at = m_typeIndexes.value(node->typeCode);
        if (at.isValid())
            emit dataChanged(at, at, {Qt::DisplayRole});
        return true;
    }

    const QModelIndex under = rootRowIndex();
    const int row = m_dataRoot->childNodes.size();
    // Every type row shows its count, the first document's too: "DOCX(1)".
    node->label += QLatin1Char('(') + QString::number(node->fileCount) + QLatin1Char(')');
    beginInsertRows(under, row, row);
    node->parentNode = m_dataRoot;
    m_dataRoot->childNodes.append(node);
    m_typeNodes.insert(node->typeCode, node);
    endInsertRows();
    m_typeIndexes.insert(node->typeCode, QPersistentModelIndex(index(row, 0, under)));
    notifyRootCheck();
    return false;
}

void CFileNodeModel::setTypeCheckState(int typeCode, int state)
{
    CFileClassfy* node = m_typeNodes.value(typeCode, nullptr);
    if (!node || node->checkState == state)
        return;
    node->checkState = state;
    const QPersistentModelIndex& at = m_typeIndexes.value(typeCode);
    if (at.isValid())
        emit dataChanged(at, at, {Qt::CheckStateRole});
    notifyRootCheck();
}

void CFileNodeModel::resetForScan(const QString& label)
{
    beginResetModel();
    deleteTypeNodes();
    m_rootLabel = label;
    m_dataRoot->label = label;
    m_dataRoot->checkState = 0;
    endResetModel();
}

QModelIndex CFileNodeModel::rootRowIndex() const
{
    return index(0, 0);
}

QModelIndex CFileNodeModel::typeRowIndex(int typeCode) const
{
    return QModelIndex(m_typeIndexes.value(typeCode));
}

int CFileNodeModel::typeCodeAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return -1;
    return nodeOf(index)->typeCode;
}
