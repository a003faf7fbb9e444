#include "app/PopupWindowTitle.h"

#include "app/CAppResources.h"
#include "app/CWindowDrag.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>

PopupWindowTitle::PopupWindowTitle(QWidget* parent)
    : QWidget(parent)
    , m_closeButton(new QPushButton(this))
    , m_titleLabel(new QLabel(programTitle(), this))
{
    setFixedHeight(33);
    auto* row = new QHBoxLayout(this);
    row->setSpacing(0);
    row->setContentsMargins(0, 0, 0, 0);

    auto* logo = new QLabel(this);
    logo->setFixedSize(30, 30);
    logo->setPixmap(CAppResources::pixmap(QStringLiteral("orvikloge.png"))
                        .scaled(30, 30, Qt::KeepAspectRatio, Qt::FastTransformation));
    m_titleLabel->setStyleSheet(QStringLiteral("color: rgb(34, 34, 34); font-size: 14px;"));
    m_closeButton->setObjectName(QStringLiteral("closeWnd"));
    m_closeButton->setFixedSize(30, 30);

    row->addWidget(logo);
    row->addWidget(m_titleLabel);
    row->addWidget(m_closeButton);

    if (auto* dialog = qobject_cast<QDialog*>(parent))
        connect(m_closeButton, &QPushButton::clicked, dialog, &QDialog::reject);
}

QString PopupWindowTitle::programTitle()
{
    return tr("Tamsel文件恢复工具Beta");
}

void PopupWindowTitle::EnableClose(bool enable)
{
    m_closeButton->setEnabled(enable);
}

void PopupWindowTitle::mousePressEvent(QMouseEvent* event)
{
    m_pressPos = event->pos();
    m_pressed = true;
    if (event->button() == Qt::LeftButton && CWindowDrag::startSystemMove(this))
        m_pressed = false;
    QWidget::mousePressEvent(event);
}

void PopupWindowTitle::mouseReleaseEvent(QMouseEvent* event)
{
    m_pressed = false;
    QWidget::mouseReleaseEvent(event);
}

void PopupWindowTitle::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() == Qt::LeftButton && m_pressed && parentWidget()) {
        // The popup itself, also when the bar sits inside another bar.
        QWidget* popup = window();
        popup->move(popup->pos() + (event->pos() - m_pressPos));
    }
    QWidget::mouseMoveEvent(event);
}

void PopupWindowTitle::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect().adjusted(1, 1, -1, -1), Qt::white);
    painter.setPen(QColor(220, 220, 220));
    painter.drawLine(rect().bottomLeft(), rect().bottomRight());
}
