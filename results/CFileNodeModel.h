#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <QMap>
#include <QPersistentModelIndex>

class CFileClassfy;

// The tree on the left of the result page: one top-level row for the
// scanned partition and under it one row per file type, in order of first
// arrival, labelled "PDF", then "PDF(2)", "PDF(3)"..., with a tri-state check
// box (the state is computed from the files and set by the page). The
// partition's row has a box too: it shows whether all, some or none of the
// types are ticked, and a click on it emits checkStatus(-1, state).
//
// Rows are CFileClassfy nodes; the model owns every node it has received.
// New type rows are inserted (rowsInserted under the top-level row), count
// and tick changes are data changes of that row alone: nothing here resets
// the model during a scan, so expansion and selection survive. Each type
// row is remembered by a persistent index of its own row.
class CFileNodeModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    explicit CFileNodeModel(QObject* parent = nullptr);
    ~CFileNodeModel() override;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // The check state role stores the row's state and emits checkStatus;
    // other roles are accepted and change nothing.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Adds the row of a new type (the model takes `node` over) or updates
    // the label and count of a known one from `node` (then not kept; the
    // caller still owns it). Returns true when the type already had a row.
    bool updateTypeNode(CFileClassfy* node);
    // Shows `state` (Qt::CheckState) in the type's check box.
    void setTypeCheckState(int typeCode, int state);
    // Back to a single top-level row labelled `label`.
    void resetForScan(const QString& label);

    // The top-level row, and the row of a type (invalid if it has none).
    QModelIndex rootRowIndex() const;
    QModelIndex typeRowIndex(int typeCode) const;
    // Type code of a row: -1 for the top-level row or an invalid index.
    int typeCodeAt(const QModelIndex& index) const;

signals:
    // The user changed a type row's check box: (type code, new state); the
    // partition's row gives type code -1.
    void checkStatus(int typeCode, int state);

private:
    CFileClassfy* nodeOf(const QModelIndex& index) const;
    int rootCheckState() const;
    void notifyRootCheck();
    void deleteTypeNodes();

    CFileClassfy* m_topRoot = nullptr;
    CFileClassfy* m_dataRoot = nullptr;
    QMap<int, CFileClassfy*> m_typeNodes;
    QMap<int, QPersistentModelIndex> m_typeIndexes;
    QString m_rootLabel;
    QIcon m_folderIcon;
};
