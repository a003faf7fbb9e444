#include "app/CFeedBack.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

CFeedBack::CFeedBack(QWidget* parent)
    : PopupWindow(parent)
{
    setFixedSize(360, 250);
    auto* column = new QVBoxLayout;
    column->setContentsMargins(20, 0, 20, 0);
    column->addWidget(new QLabel(QStringLiteral("write something in hear:"), this));
    auto* text = new QTextEdit(this);
    text->setFixedSize(200, 100);
    column->addWidget(text);
    column->addWidget(new QLabel(QStringLiteral("write something in hear:"), this));
    column->addWidget(new QLineEdit(this));

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(50, 0, 20, 0);
    buttons->addWidget(new QPushButton(QStringLiteral("OK"), this));
    buttons->addWidget(new QPushButton(QStringLiteral("cancel"), this));
    column->addLayout(buttons);
    contentLayout()->addLayout(column);
}
