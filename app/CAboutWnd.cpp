#include "app/CAboutWnd.h"

#include "app/CAppResources.h"

#include <QLabel>
#include <QVBoxLayout>

CAboutWnd::CAboutWnd(QWidget* parent)
    : PopupWindow(parent)
{
    setFixedSize(360, 250);
    auto* logo = new QLabel(this);
    logo->setPixmap(CAppResources::pixmap(QStringLiteral("orvikloge.png"))
                        .scaled(80, 80, Qt::KeepAspectRatio, Qt::FastTransformation));
    auto* title = new QLabel(tr("Tamsel文件恢复工具Beta"), this);
    auto* version = new QLabel(QStringLiteral("Version 1.0"), this);
    auto* html = new QLabel(QStringLiteral("Html"), this);
    auto* notice = new QLabel(
        tr("<font size=3>只读扫描磁盘，恢复的文件请保存到另一块磁盘。</font>"), this);
    notice->setTextFormat(Qt::RichText);

    auto* column = new QVBoxLayout;
    column->setSpacing(10);
    for (QLabel* label : {logo, title, version, html, notice})
        column->addWidget(label, 0, Qt::AlignHCenter);
    contentLayout()->addLayout(column);
}
