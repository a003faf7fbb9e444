#include "app/CDonation.h"

#include "app/CAppResources.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QVBoxLayout* paymentColumn(QWidget* owner, const QString& image, const QString& caption)
{
    auto* picture = new QLabel(owner);
    picture->setFixedSize(160, 197);
    picture->setStyleSheet(QStringLiteral("border:1px solid blue;"));
    picture->setPixmap(CAppResources::pixmap(CAppResources::localName(image))
                           .scaled(158, 195, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    picture->setAlignment(Qt::AlignCenter);
    auto* text = new QLabel(caption, owner);
    text->setAlignment(Qt::AlignCenter);
    auto* column = new QVBoxLayout;
    column->setContentsMargins(20, 20, 20, 20);
    column->addWidget(picture);
    column->addWidget(text);
    return column;
}

} // namespace

CDonation::CDonation(QWidget* parent)
    : PopupWindow(parent)
{
    setFixedSize(420, 350);
    auto* request = new QLabel(
        tr("此软件为免费软件,如果对你有所帮助,请打赏.你的支持,会让软件变得更加完美.谢谢!"), this);
    request->setWordWrap(true);
    auto* upper = new QHBoxLayout;
    upper->setContentsMargins(20, 10, 20, 0);
    upper->addWidget(request);

    auto* lower = new QHBoxLayout;
    lower->addLayout(paymentColumn(this, QStringLiteral("webpay.png"), tr("微信打赏")));
    lower->addLayout(paymentColumn(this, QStringLiteral("alipay.png"), tr("支付宝打赏")));

    contentLayout()->addLayout(upper);
    contentLayout()->addLayout(lower);
}
