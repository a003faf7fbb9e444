#pragma once

#include "app/PopupWindow.h"

// "打赏": a request and the two payment images.
class CDonation : public PopupWindow
{
    Q_OBJECT
public:
    explicit CDonation(QWidget* parent = nullptr);
};
