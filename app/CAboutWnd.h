#pragma once

#include "app/PopupWindow.h"

// "关于": logo, name, version and a notice line.
class CAboutWnd : public PopupWindow
{
    Q_OBJECT
public:
    explicit CAboutWnd(QWidget* parent = nullptr);
};
