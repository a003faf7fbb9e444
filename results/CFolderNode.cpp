#include "results/CFolderNode.h"

#include "results/CFileNodeItem.h"

CFolderNode::CFolderNode(const QString& name, Kind kind, CFolderNode* parent)
    : m_name(name)
    , m_kind(kind)
    , m_parent(parent)
{
}

CFolderNode::~CFolderNode()
{
    qDeleteAll(m_children);
}

int CFolderNode::row() const
{
    return m_parent ? m_parent->m_children.indexOf(const_cast<CFolderNode*>(this)) : 0;
}

CFolderNode* CFolderNode::childNamed(const QString& name, Kind kind)
{
    CFolderNode* found = m_byName.value(name, nullptr);
    if (found)
        return found;
    auto* made = new CFolderNode(name, kind, this);
    m_children.append(made);
    m_byName.insert(name, made);
    return made;
}

void CFolderNode::addFile(CFileNodeItem* file)
{
    m_files.append(file);
    const bool checked = file->isChecked();
    const bool tickable = file->isTickedWithType();
    addTotals(1, checked ? 1 : 0, tickable ? 1 : 0, checked && tickable ? 1 : 0);
}

void CFolderNode::removeFile(CFileNodeItem* file)
{
    if (!m_files.removeOne(file))
        return;
    const bool checked = file->isChecked();
    const bool tickable = file->isTickedWithType();
    addTotals(-1, checked ? -1 : 0, tickable ? -1 : 0, checked && tickable ? -1 : 0);
}

void CFolderNode::fileChanged(bool wasChecked, bool wasTickable, bool checked, bool tickable)
{
    addTotals(0, int(checked) - int(wasChecked), int(tickable) - int(wasTickable),
              int(checked && tickable) - int(wasChecked && wasTickable));
}

void CFolderNode::addTotals(int files, int checked, int tickable, int checkedTickable)
{
    if (files == 0 && checked == 0 && tickable == 0 && checkedTickable == 0)
        return;
    // Up the parents: as deep as the folders go, which the builder bounds.
    for (CFolderNode* node = this; node; node = node->m_parent) {
        node->m_total += files;
        node->m_checked += checked;
        node->m_tickable += tickable;
        node->m_checkedTickable += checkedTickable;
    }
}

int CFolderNode::checkState() const
{
    const bool allTicked = m_tickable > 0 ? m_checkedTickable >= m_tickable : m_checked >= m_total;
    if (allTicked)
        return 2;
    return m_checked > 0 ? 1 : 0;
}

void CFolderNode::setChecked(int state)
{
    const bool ticked = state != 0;
    // Each file tells this node back of its change.
    for (INode* node : m_files) {
        auto* file = static_cast<CFileNodeItem*>(node);
        if (!ticked || file->isTickedWithType())
            file->setChecked(ticked);
    }
    for (CFolderNode* child : m_children)
        child->setChecked(state);
}
