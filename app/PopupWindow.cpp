#include "app/PopupWindow.h"

#include "app/PopupWindowTitle.h"

#include <QPainter>
#include <QVBoxLayout>

namespace {
const QColor kFrameColour(51, 179, 238);
}

PopupWindow::PopupWindow(QWidget* parent, Qt::WindowFlags flags)
    : QDialog(parent ? parent->window() : nullptr, flags | Qt::FramelessWindowHint)
    , m_contentLayout(new QVBoxLayout)
    , m_outerLayout(new QVBoxLayout)
    , m_title(nullptr)
{
    setLayout(m_outerLayout);
    // What the task bar and the window switcher name a dialog without a
    // parent (the recovery dialog) by.
    setWindowTitle(PopupWindowTitle::programTitle());
    m_title = new PopupWindowTitle(this);
    connect(this, &PopupWindow::sigEnableCloseBtn, m_title, &PopupWindowTitle::EnableClose);
    connect(m_title, &PopupWindowTitle::sigMaxWin, this, &PopupWindow::onMaxWin);
    m_title->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    m_outerLayout->addWidget(m_title);
    m_outerLayout->addSpacing(0);
    m_outerLayout->addStretch();
    m_outerLayout->addLayout(m_contentLayout);
    m_outerLayout->addStretch();
    m_outerLayout->setContentsMargins(0, 0, 0, 0);
}

void PopupWindow::reject()
{
    done(0);
}

void PopupWindow::centreOver(const QWidget* widget)
{
    if (!widget)
        return;
    const QWidget* top = widget->window();
    const QRect area = top->frameGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

void PopupWindow::onMaxWin(bool)
{
}

void PopupWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(kFrameColour);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}
