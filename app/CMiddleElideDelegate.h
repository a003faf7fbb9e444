#pragma once

#include <QStyledItemDelegate>

// Draws a column's text cut in the middle when it does not fit, so that its
// end stays in sight: a damaged document's type ends with "（已损坏）",
// which a cut at the end would hide behind a long type name.
class CMiddleElideDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The text of `index` as the cell `rect` of `view` shows it.
    QString shownText(const QWidget* view, const QModelIndex& index, const QRect& rect) const;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
