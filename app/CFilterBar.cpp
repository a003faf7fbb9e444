#include "app/CFilterBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <utility>

namespace {

constexpr int kRowHeight = 24;
// Up to 999,999 of the unit: under a terabyte in MB, which no document here
// reaches, and no product of it overflows.
constexpr int kSizeLimit = 999999;

QDateEdit* dateEdit(const QDate& date, QWidget* parent)
{
    auto* edit = new QDateEdit(date, parent);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    edit->setCalendarPopup(true);
    edit->setFixedHeight(kRowHeight);
    return edit;
}

QSpinBox* sizeEdit(QWidget* parent)
{
    auto* edit = new QSpinBox(parent);
    edit->setRange(0, kSizeLimit);
    edit->setFixedHeight(kRowHeight);
    edit->setMinimumWidth(90);
    return edit;
}

} // namespace

CFilterBar::CFilterBar(QWidget* parent)
    : QWidget(parent)
    , m_textEdit(new QLineEdit(this))
    , m_filterButton(new QPushButton(tr("筛选"), this))
    , m_popup(new QFrame(this, Qt::Popup))
    , m_dateBox(new QCheckBox(tr("修改日期"), m_popup))
    , m_fromEdit(dateEdit(QDate::currentDate().addYears(-1), m_popup))
    , m_toEdit(dateEdit(QDate::currentDate(), m_popup))
    , m_sizeBox(new QCheckBox(tr("大小"), m_popup))
    , m_minSize(sizeEdit(m_popup))
    , m_maxSize(sizeEdit(m_popup))
    , m_unitBox(new QComboBox(m_popup))
    , m_wholeOnly(new QCheckBox(tr("只显示完整的文档"), m_popup))
    , m_clearButton(new QPushButton(tr("清除筛选"), m_popup))
{
    m_textEdit->setPlaceholderText(tr("按名字或标题筛选"));
    m_textEdit->setClearButtonEnabled(true);
    m_textEdit->setFixedHeight(kRowHeight);
    m_filterButton->setObjectName(QStringLiteral("filterBtn"));
    m_filterButton->setFixedHeight(kRowHeight);
    m_filterButton->setToolTip(tr("按修改日期、大小筛选，或只显示完整的文档"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(m_textEdit, 1);
    row->addWidget(m_filterButton);

    m_popup->setObjectName(QStringLiteral("filterPopup"));
    m_popup->setFrameShape(QFrame::StyledPanel);
    // A plain background of its own: the popup is a window, and the page's
    // style does not reach behind it.
    m_popup->setAutoFillBackground(true);
    m_maxSize->setSpecialValueText(tr("不限"));
    m_unitBox->addItem(QStringLiteral("KB"));
    m_unitBox->addItem(QStringLiteral("MB"));
    m_unitBox->setCurrentIndex(Megabytes);
    m_unitBox->setFixedHeight(kRowHeight);
    m_wholeOnly->setToolTip(tr("只显示经检查完整、没有被覆盖的文档"));
    m_clearButton->setFixedHeight(kRowHeight);
    auto* grid = new QGridLayout(m_popup);
    grid->setContentsMargins(10, 10, 10, 10);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(8);
    grid->addWidget(m_dateBox, 0, 0);
    grid->addWidget(m_fromEdit, 0, 1);
    grid->addWidget(new QLabel(tr("至"), m_popup), 0, 2);
    grid->addWidget(m_toEdit, 0, 3);
    grid->addWidget(m_sizeBox, 1, 0);
    grid->addWidget(m_minSize, 1, 1);
    grid->addWidget(new QLabel(tr("至"), m_popup), 1, 2);
    grid->addWidget(m_maxSize, 1, 3);
    grid->addWidget(m_unitBox, 1, 4);
    grid->addWidget(m_wholeOnly, 2, 0, 1, 5);
    grid->addWidget(m_clearButton, 3, 3, 1, 2, Qt::AlignRight);
    setTabOrder(m_dateBox, m_fromEdit);
    setTabOrder(m_fromEdit, m_toEdit);
    setTabOrder(m_toEdit, m_sizeBox);
    setTabOrder(m_sizeBox, m_minSize);
    setTabOrder(m_minSize, m_maxSize);
    setTabOrder(m_maxSize, m_unitBox);
    setTabOrder(m_unitBox, m_wholeOnly);
    setTabOrder(m_wholeOnly, m_clearButton);

    const auto enableRanges = [this] {
        m_fromEdit->setEnabled(m_dateBox->isChecked());
        m_toEdit->setEnabled(m_dateBox->isChecked());
        m_minSize->setEnabled(m_sizeBox->isChecked());
        m_maxSize->setEnabled(m_sizeBox->isChecked());
        m_unitBox->setEnabled(m_sizeBox->isChecked());
    };
    enableRanges();
    connect(m_dateBox, &QCheckBox::toggled, this, enableRanges);
    connect(m_sizeBox, &QCheckBox::toggled, this, enableRanges);
    connect(m_textEdit, &QLineEdit::textChanged, this, &CFilterBar::apply);
    connect(m_dateBox, &QCheckBox::toggled, this, &CFilterBar::apply);
    connect(m_sizeBox, &QCheckBox::toggled, this, &CFilterBar::apply);
    connect(m_wholeOnly, &QCheckBox::toggled, this, &CFilterBar::apply);
    connect(m_fromEdit, &QDateEdit::dateChanged, this, &CFilterBar::apply);
    connect(m_toEdit, &QDateEdit::dateChanged, this, &CFilterBar::apply);
    connect(m_minSize, QOverload<int>::of(&QSpinBox::valueChanged), this, &CFilterBar::apply);
    connect(m_maxSize, QOverload<int>::of(&QSpinBox::valueChanged), this, &CFilterBar::apply);
    connect(m_unitBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &CFilterBar::apply);
    connect(m_clearButton, &QPushButton::clicked, this, [this] {
        const QString text = m_textEdit->text();
        clear();
        // The button clears what the popup sets; the text has its own.
        m_textEdit->setText(text);
    });
    connect(m_filterButton, &QPushButton::clicked, this, &CFilterBar::showPopup);
}

void CFilterBar::showPopup()
{
    m_popup->adjustSize();
    // Under the button, its right edge on the button's, kept inside the
    // window.
    const QPoint below = m_filterButton->mapToGlobal(QPoint(m_filterButton->width(), m_filterButton->height() + 2));
    const QRect area = window()->frameGeometry();
    int x = below.x() - m_popup->width();
    x = std::max(area.left(), std::min(x, area.right() - m_popup->width()));
    int y = below.y();
    if (y + m_popup->height() > area.bottom())
        y = std::max(area.top(), m_filterButton->mapToGlobal(QPoint(0, 0)).y() - m_popup->height() - 2);
    m_popup->move(x, y);
    m_popup->show();
    m_dateBox->setFocus(Qt::PopupFocusReason);
}

void CFilterBar::clear()
{
    m_resetting = true;
    m_textEdit->clear();
    m_dateBox->setChecked(false);
    m_sizeBox->setChecked(false);
    m_wholeOnly->setChecked(false);
    m_minSize->setValue(0);
    m_maxSize->setValue(0);
    m_resetting = false;
    apply();
}

void CFilterBar::apply()
{
    if (m_resetting)
        return;
    CResultFilter filter;
    filter.setText(m_textEdit->text());
    if (m_dateBox->isChecked()) {
        // Given the wrong way round, the range is still the days between.
        const QDate a = m_fromEdit->date();
        const QDate b = m_toEdit->date();
        filter.setModifiedRange(std::min(a, b), std::max(a, b));
    }
    if (m_sizeBox->isChecked()) {
        const qint64 unit = m_unitBox->currentIndex() == Kilobytes ? 1024 : 1024 * 1024;
        qint64 low = m_minSize->value() * unit;
        // "不限" at 0 leaves the upper end open; bounds given the wrong way
        // round still mean the sizes between.
        qint64 high = m_maxSize->value() == 0 ? -1 : m_maxSize->value() * unit;
        if (high >= 0 && high < low)
            std::swap(low, high);
        filter.setSizeRange(low, high);
    }
    filter.setWholeOnly(m_wholeOnly->isChecked());
    const int set = filter.narrowingCount();
    m_filterButton->setText(set == 0 ? tr("筛选") : tr("筛选（%1）").arg(set));
    if (filter == m_filter)
        return;
    m_filter = filter;
    emit filterChanged(m_filter);
}
