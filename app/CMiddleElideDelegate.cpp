#include "app/CMiddleElideDelegate.h"

#include <QAbstractItemView>
#include <QTableView>
#include <QApplication>
#include <QStyle>
#include <QTextLayout>

void CMiddleElideDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    option->textElideMode = Qt::ElideMiddle;
    // One line: a table wraps its cells' text, and a row has room for the
    // first line only, which the style then ends with "…" whatever the
    // elide mode says.
    option->features &= ~QStyleOptionViewItem::WrapText;
}

QString CMiddleElideDelegate::shownText(const QWidget* view, const QModelIndex& index, const QRect& rect) const
{
    QStyleOptionViewItem option;
    option.initFrom(view);
    option.rect = rect;
    // As the view gives it to its delegates before they have their say.
    if (const auto* items = qobject_cast<const QAbstractItemView*>(view)) {
        option.textElideMode = items->textElideMode();
        if (const auto* table = qobject_cast<const QTableView*>(view); table && table->wordWrap())
            option.features |= QStyleOptionViewItem::WrapText;
    }
    initStyleOption(&option, index);
    const QStyle* style = view ? view->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &option, view);
    // The style keeps a margin on each side of the text inside its rectangle.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const int width = textRect.width() - 2 * margin;
    QString text = option.text;
    if (option.features & QStyleOptionViewItem::WrapText) {
        // Wrapped, a row shows its first line, "…" after it.
        QTextLayout layout(text, option.font);
        QTextOption wrap;
        wrap.setWrapMode(QTextOption::WordWrap);
        layout.setTextOption(wrap);
        layout.beginLayout();
        QTextLine first = layout.createLine();
        if (first.isValid())
            first.setLineWidth(width);
        layout.endLayout();
        if (first.isValid() && first.textLength() < text.size())
            text = text.left(first.textLength()).trimmed() + QChar(0x2026);
    }
    return option.fontMetrics.elidedText(text, option.textElideMode, width);
}
