#pragma once

#include <QHeaderView>

// A horizontal header whose first section shows a check box for the rows
// below it: the model's headerData(0, Horizontal, Qt::CheckStateRole) is
// drawn, and a click on that section asks setHeaderData() to tick every row
// (or untick them when all are ticked) instead of sorting.
class CCheckHeaderView : public QHeaderView
{
    Q_OBJECT
public:
    explicit CCheckHeaderView(QWidget* parent = nullptr);

    // Where the box is drawn inside the first section (viewport coordinates).
    QRect checkBoxRect() const;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRect boxIn(const QRect& section) const;
    bool hasBox() const;

    bool m_pressedOnBox = false;
};
