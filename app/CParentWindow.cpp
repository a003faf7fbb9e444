#include "app/CParentWindow.h"

#include "app/CMainWindow.h"
#include "app/CWindowDrag.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QMouseEvent>
#include <QVBoxLayout>

CParentWindow::CParentWindow(const CPartitionList::Probes* probes)
    : QFrame(nullptr, Qt::FramelessWindowHint)
    , m_layout(new QVBoxLayout(this))
    , m_mainWindow(nullptr)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(tr("Tamsel文件恢复工具Beta"));
    m_layout->setContentsMargins(1, 0, 0, 1);
    m_mainWindow = new CMainWindow(this, probes);
    m_layout->addWidget(m_mainWindow);
    setWindowIcon(m_mainWindow->windowIcon());
}

void CParentWindow::mousePressEvent(QMouseEvent* event)
{
    m_pressed = true;
    m_dragOffset = event->globalPos() - pos();
    if (event->button() == Qt::LeftButton && CWindowDrag::startSystemMove(this))
        m_pressed = false;
    QFrame::mousePressEvent(event);
}

void CParentWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressed && event->buttons() != Qt::NoButton) {
        const QPoint target = event->globalPos() - m_dragOffset;
        if (target.manhattanLength() > QApplication::startDragDistance()) {
            move(target);
            m_dragOffset = event->globalPos() - pos();
        }
    }
    QFrame::mouseMoveEvent(event);
}

void CParentWindow::mouseReleaseEvent(QMouseEvent* event)
{
    m_pressed = false;
    QFrame::mouseReleaseEvent(event);
}

void CParentWindow::closeEvent(QCloseEvent* event)
{
    if (m_mainWindow->confirmQuit()) {
        event->accept();
        QCoreApplication::exit(0);
    } else {
        event->ignore();
    }
}
