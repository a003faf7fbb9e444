#include "app/CPopParentWind.h"

#include "app/CWindowDrag.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

CPopParentWind::CPopParentWind(QWidget* parent)
    : QWidget(parent)
    , m_name(new QLabel(QStringLiteral("Orvik"), this))
    , m_close(new QPushButton(QStringLiteral("close"), this))
{
    // Filled, so that the popup's own title bar under it does not show
    // through; the rest of the palette is the bar's blue.
    QPalette palette(QColor(25, 25, 255));
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);
    m_name->setFixedSize(50, 30);
    // A 1-pixel orange frame (written without the spaces inside the
    // property names, which would make Qt ignore every one of them).
    m_name->setStyleSheet(QStringLiteral(
        "QLabel{ border-width: 1px;border-style: solid;border-color: rgb(255, 170, 0);}"));
    m_close->setObjectName(QStringLiteral("close"));
    m_close->setFixedSize(50, 30);
    connect(m_close, &QPushButton::clicked, this, &CPopParentWind::onCloseWind);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(0);
    top->addWidget(m_name);
    top->addStretch();
    top->addWidget(m_close);

    auto* line = new QFrame(this);
    line->setFixedSize(400, 2);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(0);
    bottom->addWidget(line);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(top);
    column->addLayout(bottom);
}

void CPopParentWind::onCloseWind()
{
    emit closeWind();
}

void CPopParentWind::mousePressEvent(QMouseEvent* event)
{
    m_pressPos = event->pos();
    m_pressed = true;
    if (event->button() == Qt::LeftButton && CWindowDrag::startSystemMove(this))
        m_pressed = false;
    QWidget::mousePressEvent(event);
}

void CPopParentWind::mouseReleaseEvent(QMouseEvent* event)
{
    m_pressed = false;
    QWidget::mouseReleaseEvent(event);
}

void CPopParentWind::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() == Qt::LeftButton && m_pressed) {
        QWidget* popup = window();
        popup->move(popup->pos() + (event->pos() - m_pressPos));
    }
    QWidget::mouseMoveEvent(event);
}
