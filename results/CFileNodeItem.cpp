#include "results/CFileNodeItem.h"

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
    if (m_parent)
        m_parent->m_checkedChildren += checked ? 1 : -1;
}

int CFileNodeItem::checkState() const
{
    if (m_checkedChildren >= m_children.size())
        return 2;
    return m_checkedChildren > 0 ? 1 : 0;
}
