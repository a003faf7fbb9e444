#include "results/CFileInfoTableModel.h"

#include "results/CFileNodeItem.h"
#include "results/CResultIcons.h"

#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <cmath>

CFileInfoTableModel::CFileInfoTableModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    for (int code = 1; code <= 8; ++code)
        m_icons.insert(code, CResultIcons::forType(code));
}

int CFileInfoTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int CFileInfoTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

CFileNodeItem* CFileInfoTableModel::itemAt(int row) const
{
    if (!m_fileList || row < 0 || row >= m_rows || row >= m_fileList->size())
        return nullptr;
    // The list is a type item's children: CFileNodeItem objects only.
    return static_cast<CFileNodeItem*>(m_fileList->at(row));
}

QIcon CFileInfoTableModel::iconFor(int typeCode) const
{
    return m_icons.value(typeCode);
}

QString CFileInfoTableModel::damageOf(const CFileNode& r)
{
    if (r.incomplete)
        return QStringLiteral("文件记录不完整，恢复出的文件会缺少部分内容");
    if (r.overwritten <= 0.0)
        return QString();
    if (r.overwritten >= 1.0)
        return QStringLiteral("已被其他文件覆盖，恢复出的文件不是原来的内容");
    // Never "0%" for a file that is overwritten at all.
    const int percent = std::max(1, std::min(99, static_cast<int>(std::lround(r.overwritten * 100.0))));
    return QStringLiteral("约 %1% 已被其他文件覆盖，恢复出的文件不完整").arg(percent);
}

QString CFileInfoTableModel::toolTipOf(const CFileNode& r)
{
    QStringList lines;
    lines << r.displayName();
    if (!r.folder.isEmpty())
        lines << QStringLiteral("位置：%1").arg(r.folder);
    switch (r.origin) {
    case CFileNode::OriginDeletedEntry:
        lines << QStringLiteral("来源：已删除的文件");
        break;
    case CFileNode::OriginBoth:
        lines << QStringLiteral("来源：已删除的文件，按内容也找到");
        break;
    default:
        lines << QStringLiteral("来源：按内容找到");
        break;
    }
    const QString damage = damageOf(r);
    if (!damage.isEmpty())
        lines << damage;
    return lines.join(QLatin1Char('\n'));
}

QVariant CFileInfoTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const CFileNodeItem* item = itemAt(index.row());
    if (!item)
        return QVariant();
    const int column = index.column();
    if (column == NameColumn && role == Qt::DecorationRole) {
        const QIcon icon = iconFor(item->typeCode());
        return icon.isNull() ? QVariant() : QVariant(icon);
    }
    if (role == Qt::TextAlignmentRole) {
        const Qt::Alignment h = column == CheckColumn ? Qt::AlignRight : Qt::AlignLeft;
        return int(h | Qt::AlignVCenter);
    }
    const CFileNode& r = item->record();
    if (role == Qt::DisplayRole) {
        switch (column) {
        case NameColumn:
            return r.displayName();
        case SizeColumn:
            return r.sizeText;
        case TimeColumn:
            return r.modified.isValid() ? r.modified.toLocalTime().toString(QLatin1String(kTimeFormat)) : r.timeText;
        case TypeColumn:
            return r.isDamaged() ? r.typeDescription + QStringLiteral("（已损坏）") : r.typeDescription;
        default:
            return QVariant();
        }
    }
    if (role == SortRole) {
        switch (column) {
        case CheckColumn:
            return item->isChecked();
        case NameColumn:
            return r.displayName();
        case SizeColumn:
            return r.size;
        case TimeColumn:
            return r.modified;
        default:
            return r.typeDescription;
        }
    }
    if (role == Qt::ToolTipRole)
        return toolTipOf(r);
    if (role == Qt::ForegroundRole && r.isDamaged())
        return QBrush(QColor(0x9a, 0x9a, 0x9a));
    if (role == Qt::CheckStateRole && column == CheckColumn)
        return item->isChecked() ? Qt::Checked : Qt::Unchecked;
    return QVariant();
}

QVariant CFileInfoTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QVariant();
    switch (section) {
    case CheckColumn:
        return QString(QLatin1String(""));
    case NameColumn:
        return QStringLiteral("名字");
    case SizeColumn:
        return QStringLiteral("大小");
    case TimeColumn:
        return QStringLiteral("时间");
    default:
        return QStringLiteral("类型");
    }
}

bool CFileInfoTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != CheckColumn)
        return true;
    if (!m_fileList)
        return false;
    CFileNodeItem* item = itemAt(index.row());
    if (!item)
        return false;
    const int state = value.toInt();
    if (state == Qt::Unchecked || state == Qt::Checked) {
        item->setChecked(state == Qt::Checked);
        emit dataChanged(index, index, {Qt::CheckStateRole});
    }
    const CFileNodeItem* type = item->parent();
    emit checkTableStatus(type ? type->typeCode() : item->typeCode());
    return true;
}

Qt::ItemFlags CFileInfoTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return QAbstractTableModel::flags(index);
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == CheckColumn)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

void CFileInfoTableModel::sort(int column, Qt::SortOrder)
{
    if (column != SizeColumn || !m_fileList)
        return;
    const bool ascending = m_sortToggle;
    m_sortToggle = !m_sortToggle;
    beginResetModel();
    // Stable, so that files of equal size keep their arrival order.
    std::stable_sort(m_fileList->begin(), m_fileList->end(), [ascending](INode* a, INode* b) {
        const qint64 sa = static_cast<CFileNodeItem*>(a)->record().size;
        const qint64 sb = static_cast<CFileNodeItem*>(b)->record().size;
        return ascending ? sa < sb : sa > sb;
    });
    m_rows = m_fileList->size();
    endResetModel();
}

void CFileInfoTableModel::setFileList(QList<INode*>* files)
{
    beginResetModel();
    m_fileList = files;
    m_rows = files ? files->size() : 0;
    endResetModel();
}

void CFileInfoTableModel::clearFileList()
{
    setFileList(nullptr);
}

void CFileInfoTableModel::refresh()
{
    beginResetModel();
    m_rows = m_fileList ? m_fileList->size() : 0;
    endResetModel();
}

void CFileInfoTableModel::appendArrivedRows()
{
    if (!m_fileList)
        return;
    const int size = m_fileList->size();
    if (size <= m_rows)
        return;
    beginInsertRows(QModelIndex(), m_rows, size - 1);
    m_rows = size;
    endInsertRows();
}

void CFileInfoTableModel::refreshTicks()
{
    if (m_rows > 0)
        emit dataChanged(index(0, CheckColumn), index(m_rows - 1, CheckColumn), {Qt::CheckStateRole});
}
