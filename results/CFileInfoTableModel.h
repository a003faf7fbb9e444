#pragma once

#include "results/CResultFilter.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QVector>

class CFileNode;
class CFileNodeItem;
class QCollator;
class INode;

// The table on the right of the result page: the files of one type, five
// columns (check box, name with type icon, size, time, type description).
//
// It shows a type item's own children list (or the builder's list of every
// file) through a pointer (no copy), so ticks made here go straight into the
// file items, and a sort reorders that list for everyone (also for what is
// collected for recovery). Every column but the check box sorts: names in
// natural order (2048 before 10240, letters by the locale), sizes by bytes,
// times by the modification time (unknown ones last), types by text. The
// chosen sort is kept and applied to each list shown next. Column 0's header
// carries a check box for the rows shown (CheckStateRole). The list
// keeps growing while the scan runs; the model shows the rows it has been
// told about: appendArrivedRows() inserts the new ones (the result page's
// refresher calls it on its timer), refresh() and setFileList() reset.
//
// The list belongs to the tree builder: the builder must outlive this model,
// or clearFileList() be called before the builder goes.
//
// Names are the documents' original names where a deleted file's entry gave
// one, else their sector names ("2048.PDF"); times are modification times in
// local time. A row's tooltip says where the file was (its folder) and how
// it was found; a damaged document (partly overwritten, or its entry cut
// short) is greyed and says why. Once the details pass has read a document,
// its title follows its name ("2048.PDF — 年度报告"), its own modified time
// stands in where the file system kept none, the tooltip lists what it says
// about itself, and a document whose structure is broken is red with a
// warning mark and says why.
class CFileInfoTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { CheckColumn = 0, NameColumn = 1, SizeColumn = 2, TimeColumn = 3, TypeColumn = 4, ColumnCount = 5 };
    // What a column sorts by, for every column: the name and type texts,
    // the size in bytes (qint64), the modification time (QDateTime, invalid
    // when unknown), the tick (bool).
    static constexpr int SortRole = Qt::UserRole + 1;
    static constexpr const char* kTimeFormat = "yyyy-MM-dd HH:mm";
    // CDocumentDetails::Integrity of the row's document.
    static constexpr int IntegrityRole = Qt::UserRole + 2;

    explicit CFileInfoTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Column 0 also answers Qt::CheckStateRole: whether all, some or none of
    // the rows shown are ticked. Size and time sort descending first
    // (Qt::InitialSortOrderRole): the largest and the newest are looked for.
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // Column 0's Qt::CheckStateRole ticks (2) or unticks (0) every row shown.
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    // The check box of column 0 ticks (2) or unticks (0) the file item and
    // emits checkTableStatus; anything else is accepted and changes nothing.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Sorts the shown list by `column` and keeps that choice for the lists
    // shown later; column 0 changes nothing, a negative column drops the
    // choice (the list keeps its order).
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

    // Natural order of names: digit runs by value, the rest by `collator`.
    static int compareNames(const QString& a, const QString& b, const QCollator& collator);

    // Shows `files` (a type item's children list; null for none).
    void setFileList(QList<INode*>* files);
    void clearFileList();
    QList<INode*>* fileList() const { return m_fileList; }
    // Ticked documents of the list that the filter hides (0 unfiltered).
    int tickedHiddenByFilter() const;
    // Documents of the list that the filter hides (0 unfiltered).
    int hiddenByFilter() const;
    // Re-reads the whole list (a model reset).
    void refresh();
    // Inserts the rows that arrived since the model last looked. Cheap when
    // nothing arrived.
    void appendArrivedRows();
    // The ticks of the shown rows changed behind the model's back (a whole
    // type was ticked in the tree): repaint the check boxes.
    void refreshTicks();

    CFileNodeItem* itemAt(int row) const;
    // What the file system says of a deleted document's damage (overwritten
    // or cut short), or nothing.
    static QString damageOf(const CFileNode& record);
    // A row's tooltip: where the document came from, in how many pieces,
    // its damage and what it says of itself.
    static QString toolTipOf(const CFileNode& record);

    // Shows only the rows `filter` lets through. Ticks, counts and what
    // ticking a type does are not affected: they concern every document.
    void setFilter(const CResultFilter& filter);
    const CResultFilter& filter() const { return m_filter; }
    // The same for the filter's text alone (name or title contains it, any
    // letter case; empty: any), its other parts kept.
    void setFilterText(const QString& text);
    QString filterText() const { return m_filter.text(); }
    // Details arrived for documents of the list: repaint (and, while
    // filtered, work out the rows shown again).
    void refreshDetails();

signals:
    // The user ticked or unticked a file of the type `id`.
    void checkTableStatus(int id);

private:
    QIcon iconFor(int typeCode) const;
    QString displayText(const CFileNodeItem& item, int column) const;
    void sortList();
    void notifyHeaderCheck();

    int shownRows() const;
    bool matches(const CFileNodeItem& item) const;
    void rebuildShown();
    // Changes the rows shown to `next` by removing and inserting rows, so
    // that the views keep their selection on the rows that stay.
    void moveToShown(const QVector<int>& next);

    CResultFilter m_filter;
    // While filtered: the list positions shown, in list order.
    QVector<int> m_shown;
    QIcon m_damagedIcon;
    int m_sortColumn = -1;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QList<INode*>* m_fileList = nullptr;
    // Rows the views know about; the list may already hold more.
    int m_rows = 0;
    QHash<int, QIcon> m_icons;
    // The header box's state (Qt::CheckState), worked out over every shown
    // row when asked and kept until rows or ticks change: the header asks
    // at each paint, and a list may hold 100,000 rows. -1: not known.
    mutable int m_headerCheck = -1;
};
