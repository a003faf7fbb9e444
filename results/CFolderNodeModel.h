#pragma once

#include <QAbstractItemModel>
#include <QIcon>

class CFolderNode;

// The tree on the left of the result page in its folder view: one top-level
// row for the scanned partition and under it the builder's folder nodes
// (CCreateTreeNode::folderRoot): "/" with the deleted files' original
// folders, "?" for those whose parent folders are lost, and the documents
// only carving found. Each row is labelled with its name and the number of
// files under it, "论文(3)", and has a tri-state box for them all.
//
// The builder adds folders and files as they arrive; the model shows them
// at sync() (the refresher calls it at each refresh and after each tick):
// new folders are inserted, changed counts and boxes are data changes of
// their rows alone. Until then it shows what it showed, so a view never
// sees rows it was not told of.
class CFolderNodeModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    explicit CFolderNodeModel(QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // A box clicked: emits folderTicked; the refresher ticks the files and
    // the next sync() shows their states.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Shows the folders under `root` (not owned; it must outlive the
    // model's use, or be replaced first) below a top row labelled `label`.
    void resetForScan(const QString& label, CFolderNode* root);
    // Shows what changed under the root since the last look.
    void sync();

    QModelIndex rootRowIndex() const { return index(0, 0); }
    // The node of a row: the builder's root for the top row, null for an
    // invalid index.
    CFolderNode* nodeAt(const QModelIndex& index) const;
    QModelIndex indexOf(CFolderNode* node) const;

signals:
    // The user changed a row's box; the top row gives the root.
    void folderTicked(CFolderNode* folder, int state);

private:
    QString labelOf(const CFolderNode* node) const;
    void syncNode(CFolderNode* node, const QModelIndex& at, int depth);
    void forgetShown(CFolderNode* node, int depth);

    CFolderNode* m_root = nullptr;
    QString m_rootLabel;
    QIcon m_folderIcon;
};
