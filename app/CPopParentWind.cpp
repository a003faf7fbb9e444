#include "app/CPopParentWind.h"

#include "app/PopupWindowTitle.h"

#include <QPushButton>
#include <QVBoxLayout>

CPopParentWind::CPopParentWind(QWidget* parent)
    : QWidget(parent)
    , m_title(new PopupWindowTitle(this))
{
    // The bar's own parent is no dialog, so its cross is ours alone.
    connect(m_title->closeButton(), &QPushButton::clicked, this, &CPopParentWind::onCloseWind);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_title);
}

QPushButton* CPopParentWind::closeButton() const
{
    return m_title->closeButton();
}

void CPopParentWind::onCloseWind()
{
    emit closeWind();
}
