#pragma once

#include "app/PopupWindow.h"

class QLabel;

// "帮助": how to reach us, by QQ (mode 0) or WeChat (any other mode).
class CConnectWnd : public PopupWindow
{
    Q_OBJECT
public:
    explicit CConnectWnd(int mode, QWidget* parent = nullptr);

    QString prefixText() const;
    QString imageName() const { return m_imageName; }
    // Where to ask, under the card.
    QLabel* askLabel() const { return m_ask; }

private:
    QLabel* m_prefix;
    QLabel* m_account;
    QLabel* m_ask;
    QString m_imageName;
};
