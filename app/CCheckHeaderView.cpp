#include "app/CCheckHeaderView.h"

#include <QMouseEvent>
#include <algorithm>
#include <QPainter>
#include <QStyleOptionButton>

CCheckHeaderView::CCheckHeaderView(QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent)
{
    setSectionsClickable(true);
}

bool CCheckHeaderView::hasBox() const
{
    return model() && model()->headerData(0, orientation(), Qt::CheckStateRole).isValid();
}

QRect CCheckHeaderView::boxIn(const QRect& section) const
{
    QStyleOptionButton option;
    const QRect box = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
    // Where the rows' own boxes sit: at the right of the narrow first column.
    const int x = section.right() - box.width() - 4;
    return QRect(QPoint(std::max(section.left() + 2, x), section.center().y() - box.height() / 2), box.size());
}

QRect CCheckHeaderView::checkBoxRect() const
{
    if (!hasBox())
        return QRect();
    return boxIn(QRect(sectionViewportPosition(0), 0, sectionSize(0), height()));
}

void CCheckHeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    if (logicalIndex != 0 || !hasBox())
        return;
    const int state = model()->headerData(0, orientation(), Qt::CheckStateRole).toInt();
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = boxIn(rect);
    option.state |= QStyle::State_Enabled;
    option.state |= state == Qt::Checked ? QStyle::State_On
                    : state == Qt::PartiallyChecked ? QStyle::State_NoChange
                                                    : QStyle::State_Off;
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, painter, this);
}

void CCheckHeaderView::mousePressEvent(QMouseEvent* event)
{
    // The whole first section is the box's: it sorts nothing.
    if (event->button() == Qt::LeftButton && logicalIndexAt(event->pos()) == 0 && hasBox()) {
        m_pressedOnBox = true;
        event->accept();
        return;
    }
    m_pressedOnBox = false;
    QHeaderView::mousePressEvent(event);
}

void CCheckHeaderView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_pressedOnBox) {
        QHeaderView::mouseReleaseEvent(event);
        return;
    }
    m_pressedOnBox = false;
    event->accept();
    if (logicalIndexAt(event->pos()) != 0 || !hasBox())
        return;
    const int state = model()->headerData(0, orientation(), Qt::CheckStateRole).toInt();
    model()->setHeaderData(0, orientation(), state == Qt::Checked ? Qt::Unchecked : Qt::Checked,
                           Qt::CheckStateRole);
    viewport()->update();
}
