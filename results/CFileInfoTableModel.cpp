#include "results/CFileInfoTableModel.h"

#include "results/CFileNodeItem.h"
#include "results/CResultIcons.h"

#include <QBrush>
#include <QPixmap>
#include <QCollator>
#include <QColor>
#include <QDateTime>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <vector>

CFileInfoTableModel::CFileInfoTableModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    // Whatever changes rows or ticks changes what the header box shows.
    const auto forget = [this]() { m_headerCheck = -1; };
    connect(this, &QAbstractItemModel::modelReset, this, forget);
    connect(this, &QAbstractItemModel::rowsInserted, this, forget);
    connect(this, &QAbstractItemModel::rowsRemoved, this, forget);
    connect(this, &QAbstractItemModel::dataChanged, this, forget);
    for (int code = 1; code <= 8; ++code)
        m_icons.insert(code, CResultIcons::forType(code));
    m_damagedIcon = QIcon::fromTheme(QStringLiteral("dialog-warning"));
    if (m_damagedIcon.isNull()) {
        QPixmap mark(12, 12);
        mark.fill(QColor(0xc0, 0x39, 0x2b));
        m_damagedIcon = QIcon(mark);
    }
}

int CFileInfoTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : shownRows();
}

int CFileInfoTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

CFileNodeItem* CFileInfoTableModel::itemAt(int row) const
{
    if (!m_fileList || row < 0 || row >= shownRows())
        return nullptr;
    const int at = m_filter.isActive() ? m_shown.at(row) : row;
    if (at >= m_fileList->size())
        return nullptr;
    // The list is a type item's children: CFileNodeItem objects only.
    return static_cast<CFileNodeItem*>(m_fileList->at(at));
}

QIcon CFileInfoTableModel::iconFor(int typeCode) const
{
    return m_icons.value(typeCode);
}

QString CFileInfoTableModel::damageOf(const CFileNode& r)
{
    if (r.incomplete)
        return tr("文件记录不完整，恢复出的文件会缺少部分内容");
    if (r.undecodable)
        return tr("部分压缩数据已无法解压，恢复出的文件会缺少这部分内容");
    if (r.overwritten <= 0.0)
        return QString();
    if (r.overwritten >= 1.0)
        return tr("已被其他文件覆盖，恢复出的文件不是原来的内容");
    // Never "0%" for a file that is overwritten at all.
    const int percent = std::max(1, std::min(99, static_cast<int>(std::lround(r.overwritten * 100.0))));
    return tr("约 %1% 已被其他文件覆盖，恢复出的文件不完整").arg(percent);
}

QString CFileInfoTableModel::toolTipOf(const CFileNode& r)
{
    QStringList lines;
    lines << r.displayName();
    if (!r.folder.isEmpty())
        lines << tr("位置：%1").arg(r.folder);
    switch (r.origin) {
    case CFileNode::OriginDeletedEntry:
        lines << tr("来源：已删除的文件");
        break;
    case CFileNode::OriginBoth:
        lines << tr("来源：已删除的文件，按内容也找到");
        break;
    default:
        lines << tr("来源：按内容找到");
        break;
    }
    if (r.orphaned)
        lines << tr("在已占用却无文件使用的簇中找到（孤立簇）");
    if (r.insideLiveFile)
        lines << tr("在一个现有文件内部找到（扫描整个卷时列出）");
    if (r.origin == CFileNode::OriginCarved && r.extents.size() > 1)
        lines << tr("分 %1 段").arg(r.extents.size());
    const QString damage = damageOf(r);
    if (!damage.isEmpty())
        lines << damage;
    const CDocumentDetails& d = r.details;
    const auto time = [](const QDateTime& t) { return t.toLocalTime().toString(QLatin1String(kTimeFormat)); };
    if (!d.title.isEmpty())
        lines << tr("标题：%1").arg(d.title);
    if (!d.author.isEmpty())
        lines << tr("作者：%1").arg(d.author);
    if (d.created.isValid())
        lines << tr("创建：%1").arg(time(d.created));
    if (d.modified.isValid())
        lines << tr("修改：%1").arg(time(d.modified));
    if (d.pages >= 0)
        lines << tr("页数：%1").arg(d.pages);
    if (d.examined) {
        switch (d.integrity) {
        case CDocumentDetails::IntegrityWhole:
            lines << tr("完整");
            break;
        case CDocumentDetails::IntegrityDamaged:
            lines << tr("损坏：%1").arg(d.integrityReason);
            break;
        default:
            lines << (d.integrityReason.isEmpty() ? tr("未校验") : tr("未校验：%1").arg(d.integrityReason));
            break;
        }
        if (!d.found)
            lines << tr("无文档信息");
    }
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
            return r.details.title.isEmpty() ? r.displayName()
                                             : r.displayName() + QStringLiteral(" — ") + r.details.title;
        case SizeColumn:
            return r.sizeText;
        case TimeColumn:
            return r.bestModified().isValid() ? r.bestModified().toLocalTime().toString(QLatin1String(kTimeFormat))
                                              : r.timeText;
        case TypeColumn:
            return r.isDamaged() ? r.typeDescription + tr("（已损坏）") : r.typeDescription;
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
            return r.bestModified();
        default:
            return r.typeDescription;
        }
    }
    if (role == Qt::ToolTipRole)
        return toolTipOf(r);
    if (role == Qt::ForegroundRole && r.isDamaged())
        return QBrush(QColor(0x9a, 0x9a, 0x9a));
    // A document whose own structure is broken: red, and its reason in the
    // tooltip.
    if (role == Qt::ForegroundRole && r.details.integrity == CDocumentDetails::IntegrityDamaged)
        return QBrush(QColor(0xc0, 0x39, 0x2b));
    if (role == Qt::DecorationRole && column == TypeColumn && r.details.integrity == CDocumentDetails::IntegrityDamaged)
        return m_damagedIcon;
    if (role == IntegrityRole)
        return r.details.integrity;
    if (role == Qt::CheckStateRole && column == CheckColumn)
        return item->isChecked() ? Qt::Checked : Qt::Unchecked;
    return QVariant();
}

// The text the name and type columns sort by.
QString CFileInfoTableModel::displayText(const CFileNodeItem& item, int column) const
{
    const CFileNode& r = item.record();
    switch (column) {
    case NameColumn:
        return r.displayName();
    case TypeColumn:
        return r.typeDescription;
    default:
        return QString();
    }
}

QVariant CFileInfoTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return QVariant();
    if (role == Qt::CheckStateRole && section == CheckColumn) {
        if (m_headerCheck >= 0)
            return Qt::CheckState(m_headerCheck);
        // As a type's box: damaged files are not ticked by this box, so
        // "all" means all the others (when there are any).
        int ticked = 0;
        int whole = 0;
        int wholeTicked = 0;
        for (int row = 0; row < shownRows(); ++row) {
            const CFileNodeItem* item = itemAt(row);
            if (!item)
                continue;
            ticked += item->isChecked() ? 1 : 0;
            if (item->isTickedWithType()) {
                ++whole;
                wholeTicked += item->isChecked() ? 1 : 0;
            }
        }
        if (shownRows() == 0 || ticked == 0) {
            m_headerCheck = Qt::Unchecked;
        } else {
            const bool all = whole > 0 ? wholeTicked == whole : ticked == shownRows();
            m_headerCheck = all ? Qt::Checked : Qt::PartiallyChecked;
        }
        return Qt::CheckState(m_headerCheck);
    }
    if (role == Qt::InitialSortOrderRole)
        return section == SizeColumn || section == TimeColumn ? Qt::DescendingOrder : Qt::AscendingOrder;
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case CheckColumn:
        return QString(QLatin1String(""));
    case NameColumn:
        return tr("名字");
    case SizeColumn:
        return tr("大小");
    case TimeColumn:
        return tr("时间");
    default:
        return tr("类型");
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
        notifyHeaderCheck();
    }
    const CFileNodeItem* type = item->parent();
    emit checkTableStatus(type ? type->typeCode() : item->typeCode());
    return true;
}

bool CFileInfoTableModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role)
{
    if (section != CheckColumn || orientation != Qt::Horizontal || role != Qt::CheckStateRole)
        return false;
    const int state = value.toInt();
    if (state != Qt::Unchecked && state != Qt::Checked)
        return false;
    // The types whose files changed, each reported once, in the order met.
    QList<int> changedTypes;
    QSet<int> seen;
    for (int row = 0; row < shownRows(); ++row) {
        CFileNodeItem* item = itemAt(row);
        if (!item || item->isChecked() == (state == Qt::Checked))
            continue;
        // A damaged file is ticked only one by one.
        if (state == Qt::Checked && !item->isTickedWithType())
            continue;
        item->setChecked(state == Qt::Checked);
        const CFileNodeItem* type = item->parent();
        const int code = type ? type->typeCode() : item->typeCode();
        if (!seen.contains(code)) {
            seen.insert(code);
            changedTypes.append(code);
        }
    }
    if (shownRows() > 0)
        emit dataChanged(index(0, CheckColumn), index(shownRows() - 1, CheckColumn), {Qt::CheckStateRole});
    notifyHeaderCheck();
    for (int code : changedTypes)
        emit checkTableStatus(code);
    return true;
}

void CFileInfoTableModel::notifyHeaderCheck()
{
    m_headerCheck = -1;
    emit headerDataChanged(Qt::Horizontal, CheckColumn, CheckColumn);
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

int CFileInfoTableModel::compareNames(const QString& a, const QString& b, const QCollator& collator)
{
    const auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    int i = 0;
    int j = 0;
    // Each step consumes at least one character of each name.
    while (i < a.size() && j < b.size()) {
        const bool digits = isDigit(a.at(i));
        if (digits != isDigit(b.at(j)))
            return collator.compare(a.midRef(i), b.midRef(j)) < 0 ? -1 : 1;
        const int startA = i;
        const int startB = j;
        while (i < a.size() && isDigit(a.at(i)) == digits)
            ++i;
        while (j < b.size() && isDigit(b.at(j)) == digits)
            ++j;
        QStringRef runA = a.midRef(startA, i - startA);
        QStringRef runB = b.midRef(startB, j - startB);
        int c = 0;
        if (digits) {
            // By value, of any length: leading zeros dropped, then the
            // longer run is the larger number.
            while (runA.size() > 1 && runA.at(0) == QLatin1Char('0'))
                runA = runA.mid(1);
            while (runB.size() > 1 && runB.at(0) == QLatin1Char('0'))
                runB = runB.mid(1);
            c = runA.size() != runB.size() ? (runA.size() < runB.size() ? -1 : 1) : runA.compare(runB);
        } else {
            c = collator.compare(runA, runB);
        }
        if (c != 0)
            return c < 0 ? -1 : 1;
    }
    const int restA = a.size() - i;
    const int restB = b.size() - j;
    return restA == restB ? 0 : (restA < restB ? -1 : 1);
}

void CFileInfoTableModel::sort(int column, Qt::SortOrder order)
{
    if (column == CheckColumn || column >= ColumnCount)
        return;
    m_sortColumn = column < 0 ? -1 : column;
    m_sortOrder = order;
    if (!m_fileList || m_sortColumn < 0)
        return;
    beginResetModel();
    sortList();
    m_rows = m_fileList->size();
    rebuildShown();
    endResetModel();
}

void CFileInfoTableModel::sortList()
{
    if (!m_fileList || m_sortColumn < 0)
        return;
    const bool descending = m_sortOrder == Qt::DescendingOrder;
    const auto item = [](INode* node) { return static_cast<const CFileNodeItem*>(node); };
    // Stable, so that equal keys keep their arrival order.
    switch (m_sortColumn) {
    case SizeColumn:
        std::stable_sort(m_fileList->begin(), m_fileList->end(), [&](INode* a, INode* b) {
            const qint64 sa = item(a)->record().size;
            const qint64 sb = item(b)->record().size;
            return descending ? sa > sb : sa < sb;
        });
        break;
    case TimeColumn:
        std::stable_sort(m_fileList->begin(), m_fileList->end(), [&](INode* a, INode* b) {
            const QDateTime ta = item(a)->record().bestModified();
            const QDateTime tb = item(b)->record().bestModified();
            // Documents of unknown time go last either way.
            if (!ta.isValid() || !tb.isValid())
                return ta.isValid() && !tb.isValid();
            return descending ? ta > tb : ta < tb;
        });
        break;
    default: {
        // The texts are made once, not once per comparison.
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        const int column = m_sortColumn;
        std::vector<std::pair<QString, INode*>> keyed;
        keyed.reserve(static_cast<size_t>(m_fileList->size()));
        for (INode* node : *m_fileList)
            keyed.emplace_back(displayText(*item(node), column), node);
        std::stable_sort(keyed.begin(), keyed.end(), [&](const auto& a, const auto& b) {
            const int c = column == NameColumn ? compareNames(a.first, b.first, collator)
                                               : collator.compare(a.first, b.first);
            return descending ? c > 0 : c < 0;
        });
        for (int k = 0; k < m_fileList->size(); ++k)
            (*m_fileList)[k] = keyed[static_cast<size_t>(k)].second;
        break;
    }
    }
}

void CFileInfoTableModel::setFileList(QList<INode*>* files)
{
    beginResetModel();
    m_fileList = files;
    // The user's sort stays when another list is shown.
    sortList();
    m_rows = files ? files->size() : 0;
    rebuildShown();
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
    rebuildShown();
    endResetModel();
}

void CFileInfoTableModel::appendArrivedRows()
{
    if (!m_fileList)
        return;
    const int size = m_fileList->size();
    if (size <= m_rows)
        return;
    if (m_filter.isActive()) {
        // Only the new documents that match join the rows shown.
        QVector<int> matching;
        for (int at = m_rows; at < size; ++at) {
            if (matches(*static_cast<const CFileNodeItem*>(m_fileList->at(at))))
                matching.append(at);
        }
        m_rows = size;
        if (matching.isEmpty())
            return;
        beginInsertRows(QModelIndex(), m_shown.size(), m_shown.size() + matching.size() - 1);
        m_shown += matching;
        endInsertRows();
        notifyHeaderCheck();
        return;
    }
    beginInsertRows(QModelIndex(), m_rows, size - 1);
    m_rows = size;
    endInsertRows();
    notifyHeaderCheck();
}

void CFileInfoTableModel::refreshTicks()
{
    if (shownRows() > 0)
        emit dataChanged(index(0, CheckColumn), index(shownRows() - 1, CheckColumn), {Qt::CheckStateRole});
    notifyHeaderCheck();
}

int CFileInfoTableModel::shownRows() const
{
    return m_filter.isActive() ? m_shown.size() : m_rows;
}

bool CFileInfoTableModel::matches(const CFileNodeItem& item) const
{
    return m_filter.matches(item.record());
}

int CFileInfoTableModel::hiddenByFilter() const
{
    return m_filter.isActive() ? std::max(0, m_rows - m_shown.size()) : 0;
}

int CFileInfoTableModel::tickedHiddenByFilter() const
{
    if (!m_filter.isActive() || !m_fileList)
        return 0;
    int hidden = 0;
    for (int at = 0; at < m_rows && at < m_fileList->size(); ++at) {
        const auto* item = static_cast<const CFileNodeItem*>(m_fileList->at(at));
        if (item->isChecked() && !matches(*item))
            ++hidden;
    }
    return hidden;
}

void CFileInfoTableModel::rebuildShown()
{
    m_shown.clear();
    if (!m_filter.isActive() || !m_fileList)
        return;
    for (int at = 0; at < m_rows && at < m_fileList->size(); ++at) {
        if (matches(*static_cast<const CFileNodeItem*>(m_fileList->at(at))))
            m_shown.append(at);
    }
}

void CFileInfoTableModel::setFilterText(const QString& text)
{
    CResultFilter filter = m_filter;
    filter.setText(text);
    setFilter(filter);
}

void CFileInfoTableModel::setFilter(const CResultFilter& filter)
{
    if (filter == m_filter)
        return;
    beginResetModel();
    m_filter = filter;
    rebuildShown();
    endResetModel();
    notifyHeaderCheck();
}

void CFileInfoTableModel::refreshDetails()
{
    if (m_filter.isActive()) {
        // A title or a verdict that arrived may make a document match or
        // no longer match: the rows are worked out again, and the rows that
        // stay keep their selection (the details pass goes on for minutes,
        // a refresh every 100 ms).
        const QVector<int> before = m_shown;
        rebuildShown();
        QVector<int> next;
        next.swap(m_shown);
        m_shown = before;
        moveToShown(next);
        if (shownRows() > 0)
            emit dataChanged(index(0, NameColumn), index(shownRows() - 1, ColumnCount - 1));
        notifyHeaderCheck();
        return;
    }
    if (shownRows() > 0)
        emit dataChanged(index(0, NameColumn), index(shownRows() - 1, ColumnCount - 1));
}

void CFileInfoTableModel::moveToShown(const QVector<int>& next)
{
    // Both lists hold list positions in ascending order: one walk finds
    // the runs that go and the runs that come.
    const auto countRuns = [&]() {
        int runs = 0;
        int i = 0;
        int j = 0;
        bool inRun = false;
        while (i < m_shown.size() || j < next.size()) {
            const bool same = i < m_shown.size() && j < next.size() && m_shown.at(i) == next.at(j);
            if (same) {
                ++i;
                ++j;
                inRun = false;
                continue;
            }
            if (!inRun)
                ++runs;
            inRun = true;
            if (j >= next.size() || (i < m_shown.size() && m_shown.at(i) < next.at(j)))
                ++i;
            else
                ++j;
        }
        return runs;
    };
    // Each run costs the views a pass over their rows: many scattered
    // changes are cheaper as one reset.
    constexpr int kMaxRuns = 32;
    const int runs = countRuns();
    if (runs == 0)
        return;
    if (runs > kMaxRuns) {
        beginResetModel();
        m_shown = next;
        endResetModel();
        return;
    }
    const QVector<int> old = m_shown;
    int i = 0;
    int j = 0;
    int row = 0; // where the walk is in m_shown as it changes
    while (i < old.size() || j < next.size()) {
        if (i < old.size() && j < next.size() && old.at(i) == next.at(j)) {
            ++i;
            ++j;
            ++row;
            continue;
        }
        if (j >= next.size() || (i < old.size() && old.at(i) < next.at(j))) {
            int count = 0;
            while (i + count < old.size() && (j >= next.size() || old.at(i + count) < next.at(j)))
                ++count;
            beginRemoveRows(QModelIndex(), row, row + count - 1);
            m_shown.remove(row, count);
            endRemoveRows();
            i += count;
            continue;
        }
        int count = 0;
        while (j + count < next.size() && (i >= old.size() || next.at(j + count) < old.at(i)))
            ++count;
        beginInsertRows(QModelIndex(), row, row + count - 1);
        // One copy per run, however long it is.
        m_shown = m_shown.mid(0, row) + next.mid(j, count) + m_shown.mid(row);
        endInsertRows();
        j += count;
        row += count;
    }
}
