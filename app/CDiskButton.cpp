#include "app/CDiskButton.h"

#include "app/CAppResources.h"
#include "disk/CPartitionInfo.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

CDiskButton::CDiskButton()
    : m_nameLabel(new QLabel(this))
    , m_spaceLabel(new QLabel(this))
    , m_usageBar(new QProgressBar(this))
{
    setFixedSize(200, 80);
    m_usageBar->setRange(0, 100);
    m_usageBar->setOrientation(Qt::Horizontal);
    m_usageBar->setTextVisible(false);
    m_usageBar->setFixedHeight(10);
    m_usageBar->setValue(0);

    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("diskImage"));
    image->setPixmap(CAppResources::pixmap(QStringLiteral("diskPartion.png")));
    image->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_spaceLabel->setStyleSheet(QStringLiteral("color: #7a8691;"));
    // "unknown free of 256GB" is wider than the tile's text column: the
    // English line breaks rather than losing its unit.
    m_spaceLabel->setWordWrap(true);
    // Clicks belong to the table cell that holds the tile.
    setAttribute(Qt::WA_TransparentForMouseEvents);

    auto* column = new QVBoxLayout;
    column->setSpacing(5);
    column->addStretch();
    column->addWidget(m_nameLabel);
    column->addWidget(m_usageBar);
    column->addWidget(m_spaceLabel);
    column->addStretch();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 4, 4, 4);
    row->addWidget(image);
    row->addLayout(column);
}

void CDiskButton::setPartition(const CPartitionInfo* partition)
{
    if (!partition)
        return;
    m_partition = partition;
    m_nameLabel->setText(partition->displayName);
    m_nameLabel->setToolTip(partition->devicePath);
    if (partition->healthWarning()) {
        // A failing drive reads worse with every pass: one copy first, and
        // every later pass over the copy.
        m_nameLabel->setText(QStringLiteral("\u26A0 ") + partition->displayName);
        m_nameLabel->setStyleSheet(QStringLiteral("color: #c0392b;"));
        const QString why = partition->failing
            ? tr("磁盘自检报告这块磁盘正在损坏")
            : tr("磁盘自检报告 %1 个坏扇区").arg(partition->badSectors);
        m_nameLabel->setToolTip(tr("%1：%2。每读一遍它都可能更糟：请先为它创建磁盘映像（tamsel-cli image %3 "
                                   "磁盘.img），再扫描映像。")
                                    .arg(partition->devicePath, why, partition->devicePath));
    } else {
        m_nameLabel->setStyleSheet(QString());
    }
    m_spaceLabel->setText(tr("%1可用,共%2").arg(partition->freeText, partition->totalText));
    m_usageBar->setValue(qBound(0, partition->usedPercent, 100));
}

QString CDiskButton::nameText() const
{
    return m_nameLabel->text();
}

QString CDiskButton::spaceText() const
{
    return m_spaceLabel->text();
}

QString CDiskButton::nameToolTip() const
{
    return m_nameLabel->toolTip();
}

int CDiskButton::usedPercent() const
{
    return m_usageBar->value();
}
