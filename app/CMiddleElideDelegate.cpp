#include "app/CMiddleElideDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QStyle>

void CMiddleElideDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->textElideMode = Qt::ElideMiddle;
}

QString CMiddleElideDelegate::shownText(const QWidget* view, const QModelIndex& index, const QRect& rect) const
{
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.rect = rect;
    // As the view gives it to its delegates before they have their say.
    if (const auto* items = qobject_cast<const QAbstractItemView*>(view))
        option.textElideMode = items->textElideMode();
    initStyleOption(&option, index);
    const QStyle* style = view ? view->style() : QApplication::style();
    const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &option, view);
    // The style keeps a margin on each side of the text inside its rectangle.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    return option.fontMetrics.elidedText(option.text, option.textElideMode, text.width() - 2 * margin);
}
