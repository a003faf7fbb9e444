#pragma once

#include "disk/CPartitionList.h"

#include <QFrame>
#include <QPoint>

class CMainWindow;
class QVBoxLayout;

// The program's one top-level window: frameless, holding the main window,
// and dragged around by any spot that does not take the mouse itself.
class CParentWindow : public QFrame
{
    Q_OBJECT
public:
    explicit CParentWindow(const CPartitionList::Probes* probes = nullptr);

    CMainWindow* mainWindow() const { return m_mainWindow; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    // A close from the window manager (Alt+F4) asks like the close button.
    void closeEvent(QCloseEvent* event) override;

private:
    QVBoxLayout* m_layout;
    bool m_pressed = true;
    QPoint m_dragOffset;
    CMainWindow* m_mainWindow;
};
