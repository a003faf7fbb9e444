#pragma once

#include <QWidget>

// The frameless main window, fixed at 900 x 550.
class CMainWindow : public QWidget
{
    Q_OBJECT
public:
    explicit CMainWindow(QWidget* parent = nullptr);
};
