#include "app/CMainWindow.h"

CMainWindow::CMainWindow(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowFlags(Qt::FramelessWindowHint | Qt::Window);
    setFixedSize(900, 550);
}
