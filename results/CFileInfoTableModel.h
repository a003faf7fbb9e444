#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QList>

class CFileNode;
class CFileNodeItem;
class INode;

// The table on the right of the result page: the files of one type, five
// columns (check box, name with type icon, size, time, type description).
//
// It shows a type item's own children list through a pointer (no copy), so
// ticks made here go straight into the file items, and a size sort reorders
// that list for everyone (also for what is collected for recovery). The list
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
// short) is greyed and says why.
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

    explicit CFileInfoTableModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // The check box of column 0 ticks (2) or unticks (0) the file item and
    // emits checkTableStatus; anything else is accepted and changes nothing.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Only the size column sorts, and each request flips the direction
    // (descending first), whatever `order` says. A click on the header of a
    // view with sorting enabled asks once; QTableView::sortByColumn() asks
    // twice (Qt 5.15), so call sort() itself to sort from code.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Shows `files` (a type item's children list; null for none).
    void setFileList(QList<INode*>* files);
    void clearFileList();
    QList<INode*>* fileList() const { return m_fileList; }
    // Re-reads the whole list (a model reset).
    void refresh();
    // Inserts the rows that arrived since the model last looked. Cheap when
    // nothing arrived.
    void appendArrivedRows();
    // The ticks of the shown rows changed behind the model's back (a whole
    // type was ticked in the tree): repaint the check boxes.
    void refreshTicks();

    CFileNodeItem* itemAt(int row) const;

signals:
    // The user ticked or unticked a file of the type `id`.
    void checkTableStatus(int id);

private:
    QIcon iconFor(int typeCode) const;
    static QString toolTipOf(const CFileNode& record);
    static QString damageOf(const CFileNode& record);

    bool m_sortToggle = false;
    QList<INode*>* m_fileList = nullptr;
    // Rows the views know about; the list may already hold more.
    int m_rows = 0;
    QHash<int, QIcon> m_icons;
};
