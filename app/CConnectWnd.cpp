#include "app/CConnectWnd.h"

#include "app/CAppResources.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#ifndef TAMSEL_PROJECT_URL
#define TAMSEL_PROJECT_URL ""
#endif

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

    // Where to ask: a link to the project's issue list where the build
    // names the project's page, plain words otherwise (nothing that looks
    // clickable and is not).
    m_ask = new QLabel(this);
    m_ask->setAlignment(Qt::AlignCenter);
    m_ask->setStyleSheet(QStringLiteral("color: #888888;"));
    const QString projectUrl = QStringLiteral(TAMSEL_PROJECT_URL);
    const QString ask = tr("请在项目的问题列表中提出");
    if (projectUrl.isEmpty()) {
        m_ask->setText(ask);
    } else {
        const QString issues = projectUrl + (projectUrl.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/"))
            + QStringLiteral("issues");
        m_ask->setText(QStringLiteral("<a href=\"%1\">%2</a>").arg(issues.toHtmlEscaped(), ask.toHtmlEscaped()));
        m_ask->setOpenExternalLinks(true);
        m_ask->setToolTip(issues);
    }

    contentLayout()->setContentsMargins(0, 0, 0, 20);
    contentLayout()->addWidget(picture, 0, Qt::AlignHCenter);
    contentLayout()->addWidget(m_ask);
    contentLayout()->addLayout(row);
}

QString CConnectWnd::prefixText() const
{
    return m_prefix->text();
}
