#include "app/CMessageTips.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CMessageTips::CMessageTips(QWidget* parent)
    : PopupWindow(parent)
    , m_message(new QLabel(this))
    , m_confirm(new QPushButton(tr("确认"), this))
    , m_cancel(new QPushButton(tr("取消"), this))
{
    setFixedSize(270, 150);
    m_confirm->setFixedSize(60, 25);
    m_cancel->setFixedSize(60, 25);
    m_confirm->setObjectName(QStringLiteral("commonBtn"));
    m_cancel->setObjectName(QStringLiteral("commonBtn"));
    // A question asked over another dialog keeps its own look: the
    // recovery dialog's left-aligned text must not reach these buttons.
    setStyleSheet(QStringLiteral("QPushButton { text-align: center; }"));
    // A question longer than the dialog is wide (English) takes two lines.
    m_message->setWordWrap(true);

    auto* column = new QVBoxLayout;
    column->addStretch();
    m_textLayout = new QVBoxLayout;
    m_textLayout->setContentsMargins(50, 0, 10, 10);
    m_textLayout->addWidget(m_message);
    column->addLayout(m_textLayout);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_confirm);
    buttons->addWidget(m_cancel);
    column->addLayout(buttons);
    column->addStretch();
    contentLayout()->addLayout(column);

    connect(m_confirm, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_cancel, &QPushButton::clicked, this, &PopupWindow::reject);
}

void CMessageTips::setMessage(const QString& text)
{
    m_message->setText(text);
}

QString CMessageTips::message() const
{
    return m_message->text();
}

void CMessageTips::setNotice(bool notice)
{
    m_cancel->setVisible(!notice);
    m_textLayout->setContentsMargins(notice ? 20 : 50, 0, notice ? 20 : 10, 10);
    if (notice)
        setFixedSize(380, 210);
    else
        setFixedSize(270, 150);
}
