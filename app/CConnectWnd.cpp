#include "app/CConnectWnd.h"

#include "app/CAppResources.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

CConnectWnd::CConnectWnd(int mode, QWidget* parent)
    : PopupWindow(parent)
    , m_prefix(new QLabel(this))
    , m_account(new QLabel(this))
{
    setFixedSize(320, 400);
    // The project answers through its issue tracker; no personal QQ or
    // WeChat account is published.
    if (mode == 0) {
        m_prefix->setText(tr("QQ号:"));
        m_account->setText(tr("未公开"));
        m_imageName = QStringLiteral("qqadd.png");
    } else {
        m_prefix->setText(tr("微信号:"));
        m_account->setText(tr("未公开"));
        m_imageName = QStringLiteral("addwebchant.png");
    }
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("contactImage"));
    picture->setPixmap(CAppResources::pixmap(CAppResources::localName(m_imageName))
                           .scaled(250, 350, Qt::KeepAspectRatio, Qt::FastTransformation));
    m_prefix->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 50, 0);
    row->addWidget(m_prefix);
    row->addWidget(m_account);

    contentLayout()->setContentsMargins(0, 0, 0, 20);
    contentLayout()->addWidget(picture, 0, Qt::AlignHCenter);
    contentLayout()->addLayout(row);
}

QString CConnectWnd::prefixText() const
{
    return m_prefix->text();
}
