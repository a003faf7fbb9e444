#pragma once

#include "results/INode.h"

#include <QHash>
#include <QList>
#include <QString>

class CFileNodeItem;

// A folder of the found-file tree's folder view: the deleted files that sat
// directly in it (their file items, owned by the type items) and the folders
// under it. The view's top nodes are the volume's root folder "/", the
// folder "?" for files whose chain of parent folders broke, and one node
// for the documents only carving found.
//
// Each node keeps what its whole subtree holds: how many files, how many
// of them are ticked, how many ticking the folder ticks (damaged ones are
// ticked only one by one, as in a type) and how many of those are ticked.
// A file item tells its folder of every change (CFileNodeItem::setFolder),
// and the folder passes it up, so a folder's box and count never walk its
// files.
//
// Folders are only added (in order of first arrival), never removed; the
// children list of a node only grows, which the item model relies on.
class CFolderNode
{
public:
    enum Kind { Folder = 0, UnknownParent = 1, CarvedOnly = 2, Root = 3 };

    CFolderNode(const QString& name, Kind kind, CFolderNode* parent = nullptr);
    ~CFolderNode();

    CFolderNode(const CFolderNode&) = delete;
    CFolderNode& operator=(const CFolderNode&) = delete;

    const QString& name() const { return m_name; }
    Kind kind() const { return m_kind; }
    CFolderNode* parent() const { return m_parent; }
    int childCount() const { return m_children.size(); }
    CFolderNode* child(int row) const { return row >= 0 && row < m_children.size() ? m_children.at(row) : nullptr; }
    int row() const;
    // The folder of that name under this one, made (of `kind`) when missing.
    CFolderNode* childNamed(const QString& name, Kind kind = Folder);

    // The files directly in this folder (CCreateTreeNode::filesUnder adds
    // its subfolders' for the table).
    QList<INode*>& files() { return m_files; }
    void addFile(CFileNodeItem* file);
    void removeFile(CFileNodeItem* file);

    // Totals over the subtree.
    int fileCount() const { return m_total; }
    int checkedCount() const { return m_checked; }
    // Qt::CheckState, worked out as a type item's is.
    int checkState() const;
    // Ticks (state != 0) every file of the subtree that is not damaged, or
    // unticks every file of the subtree.
    void setChecked(int state);

    // A file of this folder changed from (wasChecked, wasTickable) to
    // (checked, tickable); the totals up to the top follow.
    void fileChanged(bool wasChecked, bool wasTickable, bool checked, bool tickable);

    // What the item model showed of this node at its last look: rows it
    // announced, and the count and box it painted.
    int shownChildren = 0;
    int shownCount = -1;
    int shownState = -1;

private:
    void addTotals(int files, int checked, int tickable, int checkedTickable);

    QString m_name;
    Kind m_kind;
    CFolderNode* m_parent;
    QList<CFolderNode*> m_children;
    QHash<QString, CFolderNode*> m_byName;
    QList<INode*> m_files;
    int m_total = 0;
    int m_checked = 0;
    int m_tickable = 0;
    int m_checkedTickable = 0;
};
