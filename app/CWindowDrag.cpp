#include "app/CWindowDrag.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

bool CWindowDrag::startSystemMove(QWidget* widget)
{
    if (!widget || !QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return false;
    QWindow* handle = widget->window()->windowHandle();
    return handle && handle->startSystemMove();
}
