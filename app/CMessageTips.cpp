#include "app/CMessageTips.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

CMessageTips::CMessageTips(QWidget* parent)
    : PopupWindow(parent)
    , m_message(new QLabel(this))
    , m_confirm(new QPushButton(tr("确认"), this))
    , m_cancel(new QPushButton(tr("取消"), this))
{
    setFixedSize(m_baseWidth, 150);
    m_confirm->setFixedSize(kButtonWidth, kButtonHeight);
    m_cancel->setFixedSize(kButtonWidth, kButtonHeight);
    m_confirm->setObjectName(QStringLiteral("commonBtn"));
    m_cancel->setObjectName(QStringLiteral("commonBtn"));
    // A question asked over another dialog keeps its own look: the
    // recovery dialog's left-aligned text must not reach these buttons.
    setStyleSheet(QStringLiteral("QPushButton { text-align: center; }"));
    // A question longer than the dialog is wide (English) takes two lines.
    m_message->setWordWrap(true);
    // A path or a reason in it can be copied.
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* column = new QVBoxLayout;
    column->addStretch();
    m_textLayout = new QVBoxLayout;
    m_textLayout->setContentsMargins(50, 0, 10, 10);
    m_textLayout->addWidget(m_message);
    column->addLayout(m_textLayout);
    // Centred, with the same gap whatever the buttons' widths.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_confirm);
    buttons->addSpacing(20);
    buttons->addWidget(m_cancel);
    buttons->addStretch();
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
    m_baseWidth = notice ? 380 : 270;
    setFixedSize(m_baseWidth, notice ? 210 : 150);
    fitButtons();
}

void CMessageTips::setButtonTexts(const QString& confirm, const QString& cancel)
{
    m_confirm->setText(confirm);
    m_cancel->setText(cancel);
    fitButtons();
}

void CMessageTips::showEvent(QShowEvent* event)
{
    // The style sheet's font is known only once the buttons are polished.
    fitButtons();
    PopupWindow::showEvent(event);
}

void CMessageTips::fitButtons()
{
    int needed = 0;
    for (QPushButton* button : {m_confirm, m_cancel}) {
        button->ensurePolished();
        const int text = button->fontMetrics().horizontalAdvance(button->text());
        // Room for the rounded border on either side of the text.
        const int width = std::max(kButtonWidth, text + 24);
        button->setFixedSize(width, kButtonHeight);
        if (!button->isHidden())
            needed += width;
    }
    // The gap between the buttons and a margin on either side.
    needed += 20 + 2 * 30;
    setFixedSize(std::max(m_baseWidth, needed), height());
}
