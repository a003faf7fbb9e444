#include "results/CFolderNodeModel.h"

#include "results/CCreateTreeNode.h"
#include "results/CFolderNode.h"
#include "results/CResultIcons.h"

namespace {

// The builder cuts folders at its depth; the walks here stop there too.
constexpr int kMaxDepth = CCreateTreeNode::kMaxFolderDepth + 4;

} // namespace

CFolderNodeModel::CFolderNodeModel(QObject* parent)
    : QAbstractItemModel(parent)
    , m_folderIcon(CResultIcons::folder())
{
}

CFolderNode* CFolderNodeModel::nodeAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<CFolderNode*>(index.internalPointer());
}

QModelIndex CFolderNodeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!m_root || row < 0 || column != 0 || (parent.isValid() && parent.column() != 0))
        return QModelIndex();
    if (!parent.isValid())
        return row == 0 ? createIndex(0, 0, m_root) : QModelIndex();
    CFolderNode* node = nodeAt(parent);
    if (!node || row >= node->shownChildren)
        return QModelIndex();
    return createIndex(row, 0, node->child(row));
}

QModelIndex CFolderNodeModel::parent(const QModelIndex& index) const
{
    CFolderNode* node = nodeAt(index);
    if (!node || node == m_root)
        return QModelIndex();
    CFolderNode* up = node->parent();
    if (!up || up == m_root)
        return rootRowIndex();
    return createIndex(up->row(), 0, up);
}

QModelIndex CFolderNodeModel::indexOf(CFolderNode* node) const
{
    if (!node || !m_root)
        return QModelIndex();
    if (node == m_root)
        return rootRowIndex();
    return createIndex(node->row(), 0, node);
}

int CFolderNodeModel::rowCount(const QModelIndex& parent) const
{
    if (!m_root || (parent.isValid() && parent.column() != 0))
        return 0;
    if (!parent.isValid())
        return 1;
    const CFolderNode* node = nodeAt(parent);
    return node ? node->shownChildren : 0;
}

int CFolderNodeModel::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return 1;
}

QString CFolderNodeModel::labelOf(const CFolderNode* node) const
{
    QString name;
    if (node == m_root)
        name = m_rootLabel;
    else if (node->kind() == CFolderNode::CarvedOnly)
        name = tr("仅按内容找到");
    else
        name = node->name();
    // Counted as the type rows are: "论文(3)".
    return name + QLatin1Char('(') + QString::number(node->fileCount()) + QLatin1Char(')');
}

QVariant CFolderNodeModel::data(const QModelIndex& index, int role) const
{
    const CFolderNode* node = nodeAt(index);
    if (!node || index.column() != 0)
        return QVariant();
    switch (role) {
    case Qt::DecorationRole:
        return m_folderIcon;
    case Qt::DisplayRole:
        return labelOf(node);
    case Qt::ToolTipRole:
        if (node->kind() == CFolderNode::CarvedOnly)
            return tr("没有文件记录、只凭内容找到的文档：原来的名字和文件夹已无从得知");
        if (node->kind() == CFolderNode::UnknownParent)
            return tr("已删除的文件，它们所在文件夹的上级文件夹已丢失");
        return QVariant();
    case Qt::CheckStateRole:
        return Qt::CheckState(node->checkState());
    default:
        return QVariant();
    }
}

QVariant CFolderNodeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return tr("文件夹");
    return QVariant();
}

bool CFolderNodeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    CFolderNode* node = nodeAt(index);
    if (!node || index.column() != 0)
        return false;
    if (role != Qt::CheckStateRole)
        return true;
    emit folderTicked(node, value.toInt());
    return true;
}

Qt::ItemFlags CFolderNodeModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

void CFolderNodeModel::forgetShown(CFolderNode* node, int depth)
{
    if (!node || depth > kMaxDepth)
        return;
    for (int row = 0; row < node->childCount(); ++row)
        forgetShown(node->child(row), depth + 1);
    node->shownChildren = 0;
    node->shownCount = -1;
    node->shownState = -1;
}

void CFolderNodeModel::resetForScan(const QString& label, CFolderNode* root)
{
    beginResetModel();
    m_rootLabel = label;
    m_root = root;
    forgetShown(m_root, 0);
    endResetModel();
    sync();
}

void CFolderNodeModel::sync()
{
    if (m_root)
        syncNode(m_root, rootRowIndex(), 0);
}

void CFolderNodeModel::syncNode(CFolderNode* node, const QModelIndex& at, int depth)
{
    if (depth > kMaxDepth)
        return;
    if (node->fileCount() != node->shownCount || node->checkState() != node->shownState) {
        node->shownCount = node->fileCount();
        node->shownState = node->checkState();
        emit dataChanged(at, at, {Qt::DisplayRole, Qt::CheckStateRole});
    }
    const int count = node->childCount();
    if (count > node->shownChildren) {
        beginInsertRows(at, node->shownChildren, count - 1);
        node->shownChildren = count;
        endInsertRows();
    }
    for (int row = 0; row < count; ++row)
        syncNode(node->child(row), index(row, 0, at), depth + 1);
}
