#include "results/CFileNodeItem.h"

#include "results/CFolderNode.h"

CFileNodeItem::CFileNodeItem(const CFileNode* record)
{
    if (record) {
        m_record = *record;
        m_typeCode = record->typeCode;
    }
}

CFileNodeItem::~CFileNodeItem()
{
    qDeleteAll(m_children);
}

void CFileNodeItem::appendChild(CFileNodeItem* child)
{
    if (!child || child == this || child->m_parent)
        return;
    child->m_parent = this;
    m_children.append(child);
    if (child->m_checked)
        ++m_checkedChildren;
    if (child->isTickedWithType()) {
        ++m_typeTickedChildren;
        if (child->m_checked)
            ++m_checkedTypeTickedChildren;
    }
}

void CFileNodeItem::setRecord(const CFileNode& record)
{
    const bool before = isTickedWithType();
    m_record = record;
    typeTickChanged(before);
}

void CFileNodeItem::setDetails(const CDocumentDetails& details)
{
    const bool before = isTickedWithType();
    m_record.details = details;
    typeTickChanged(before);
}

void CFileNodeItem::typeTickChanged(bool before)
{
    const bool after = isTickedWithType();
    if (m_folder && before != after)
        m_folder->fileChanged(m_checked, before, m_checked, after);
    if (!m_parent || before == after)
        return;
    const int step = after ? 1 : -1;
    m_parent->m_typeTickedChildren += step;
    if (m_checked)
        m_parent->m_checkedTypeTickedChildren += step;
    // Ticked before it was known to be damaged: that was no choice of a
    // damaged file, which is only ever ticked on its own, knowingly.
    if (!after)
        setChecked(false);
}

CFileNodeItem* CFileNodeItem::child(int row) const
{
    if (row < 0 || row >= m_children.size())
        return nullptr;
    // Only appendChild() adds children, and it takes CFileNodeItem objects.
    return static_cast<CFileNodeItem*>(m_children.at(row));
}

void CFileNodeItem::setChecked(bool checked)
{
    if (m_checked == checked)
        return;
    m_checked = checked;
    if (m_folder)
        m_folder->fileChanged(!checked, isTickedWithType(), checked, isTickedWithType());
    if (!m_parent)
        return;
    const int step = checked ? 1 : -1;
    m_parent->m_checkedChildren += step;
    if (isTickedWithType())
        m_parent->m_checkedTypeTickedChildren += step;
}

int CFileNodeItem::checkState() const
{
    // With damaged files left out of "all", ticking the type shows as fully
    // ticked, so the next click on the box unticks it instead of ticking
    // the same files again for ever.
    const bool allTicked = m_typeTickedChildren > 0 ? m_checkedTypeTickedChildren >= m_typeTickedChildren
                                                    : m_checkedChildren >= m_children.size();
    if (allTicked)
        return 2;
    return m_checkedChildren > 0 ? 1 : 0;
}
