#pragma once

#include "app/PopupWindow.h"

// A feedback form. Nothing is sent anywhere: the program has no network
// code, and the buttons are not wired.
class CFeedBack : public PopupWindow
{
    Q_OBJECT
public:
    explicit CFeedBack(QWidget* parent = nullptr);
};
