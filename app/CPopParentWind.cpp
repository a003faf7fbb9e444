#include "app/CPopParentWind.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CPopParentWind::CPopParentWind(QWidget* parent)
    : QWidget(parent)
    , m_nameLabel(new QLabel(QStringLiteral("Orvik"), this))
    , m_closeButton(new QPushButton(QStringLiteral("close"), this))
{
    setPalette(QPalette(QColor(25, 25, 255)));
    m_nameLabel->setFixedSize(50, 30);
    m_nameLabel->setStyleSheet(
        QStringLiteral("QLabel{ border - width: 1px;border - style: solid;border - color: rgb(255, 170, 0);}"));
    m_closeButton->setObjectName(QStringLiteral("close"));
    m_closeButton->setFixedSize(50, 30);
    connect(m_closeButton, &QPushButton::clicked, this, &CPopParentWind::onCloseWind);

    auto* line = new QFrame(this);
    line->setFixedSize(400, 2);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(0);
    top->addWidget(m_nameLabel);
    top->addStretch();
    top->addWidget(m_closeButton);
    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(0);
    bottom->addWidget(line);
    column->addLayout(top);
    column->addLayout(bottom);
}

void CPopParentWind::onCloseWind()
{
    emit closeWind();
}
