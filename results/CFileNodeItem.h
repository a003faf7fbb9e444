#pragma once

#include "results/INode.h"
#include "scan/CFileNode.h"

#include <QList>

class CFolderNode;

// One item of the found-file tree. The tree has three levels: the root
// (no record), one type item per type in order of first arrival (its record
// is that type's first document), and under each type item its file items in
// arrival order (the first document again, then every later one).
//
// The tick flags of the file items are the only store of the user's choice.
// Each item counts its ticked children as ticks change, so checkState() and
// the builder's counters never walk the files.
//
// The children list may be reordered in place (the table sorts it), but
// items are added only through appendChild() and never removed: the ticked
// count relies on it.
//
// A damaged document (partly overwritten, or its entry cut short) is never
// ticked by ticking its type, only one by one; so a type counts as wholly
// ticked once all its undamaged files are.
class CFileNodeItem : public INode
{
public:
    // Without a record the item is the root and keeps a default record.
    explicit CFileNodeItem(const CFileNode* record = nullptr);
    ~CFileNodeItem() override;

    CFileNodeItem(const CFileNodeItem&) = delete;
    CFileNodeItem& operator=(const CFileNodeItem&) = delete;

    // Takes ownership of `child` and sets its parent to this item.
    void appendChild(CFileNodeItem* child);

    // The child list itself; its address is stable for the item's life, so
    // the table model can show it through a pointer.
    QList<INode*>& children() { return m_children; }
    const QList<INode*>& children() const { return m_children; }
    int childCount() const { return m_children.size(); }
    CFileNodeItem* child(int row) const;

    const CFileNode& record() const { return m_record; }
    // Replaces the record (a carved document turned out to be a deleted
    // file's); the type stays, the parent's counts follow, and so does the
    // tick unless the file turned out damaged.
    void setRecord(const CFileNode& record);
    // What the document says about itself (the details pass). A failed
    // check makes the file damaged: it loses its tick, and ticking its type
    // no longer ticks it.
    void setDetails(const CDocumentDetails& details);
    // Whether ticking the type ticks this file.
    bool isTickedWithType() const { return !m_record.isDamaged(); }
    CFileNodeItem* parent() const { return m_parent; }

    bool isChecked() const { return m_checked; }
    // Also keeps the parent's ticked-children count in step.
    void setChecked(bool checked);

    int typeCode() const { return m_typeCode; }

    // The folder view's node that lists this file (null: none); it is told
    // of every change of the tick and of whether ticking a folder ticks it.
    // Not owned.
    void setFolder(CFolderNode* folder) { m_folder = folder; }
    CFolderNode* folder() const { return m_folder; }

    // Qt::CheckState of this item from its children: 2 when all that ticking
    // the type ticks are ticked (when there are none of those: when all
    // are, also when there are no children), 1 when some file is, 0 when
    // none is.
    int checkState() const;
    int checkedChildCount() const { return m_checkedChildren; }

    QString name() const override { return m_record.name; }
    QString typeName() const override { return m_record.typeName; }

private:
    // Keeps the parent's counts in step after the record changed.
    void typeTickChanged(bool before);

    CFileNode m_record;
    QList<INode*> m_children;
    CFileNodeItem* m_parent = nullptr;
    CFolderNode* m_folder = nullptr;
    bool m_checked = false;
    int m_typeCode = 0;
    int m_checkedChildren = 0;
    // Children that ticking the type ticks, and how many of them are ticked.
    int m_typeTickedChildren = 0;
    int m_checkedTypeTickedChildren = 0;
};
