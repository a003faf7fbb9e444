#include "app/CPreviewPane.h"

#include "results/CFileInfoTableModel.h"

#include <QEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

CPreviewPane::CPreviewPane(QWidget* parent)
    : QWidget(parent)
    , m_heading(new QLabel(this))
    , m_notice(new QLabel(this))
    , m_hexButton(new QToolButton(this))
    , m_closeButton(new QToolButton(this))
    , m_stack(new QStackedWidget(this))
    , m_status(new QLabel(this))
    , m_imageArea(new QScrollArea(this))
    , m_image(new QLabel(this))
    , m_text(new QPlainTextEdit(this))
    , m_hex(new QPlainTextEdit(this))
{
    setMinimumWidth(160);
    m_heading->setWordWrap(true);
    m_heading->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_notice->setWordWrap(true);
    m_notice->setStyleSheet(QStringLiteral("color: #b3261e;"));
    m_notice->hide();
    m_hexButton->setCheckable(true);
    m_hexButton->setAutoRaise(true);
    m_closeButton->setAutoRaise(true);
    m_closeButton->setText(QStringLiteral("\u00d7"));
    connect(m_hexButton, &QToolButton::toggled, this, [this] { showCurrent(); });
    connect(m_closeButton, &QToolButton::clicked, this, &CPreviewPane::closeRequested);

    m_status->setAlignment(Qt::AlignCenter);
    m_status->setWordWrap(true);
    m_status->setStyleSheet(QStringLiteral("color: #555555;"));
    m_image->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_imageArea->setWidget(m_image);
    m_imageArea->setWidgetResizable(true);
    m_imageArea->setFrameShape(QFrame::NoFrame);
    for (QPlainTextEdit* edit : {m_text, m_hex}) {
        edit->setReadOnly(true);
        edit->setFrameShape(QFrame::NoFrame);
    }
    m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_hex->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Its columns line up only in a fixed-pitch font, which the window's
    // style sheet (one font family for every widget) would override: the
    // family is named in a style sheet of the view's own.
    // Some platforms name a proportional font as their fixed one: then
    // whatever the font configuration gives for a typewriter face.
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (!QFontInfo(fixed).fixedPitch()) {
        fixed = QFont(QStringLiteral("monospace"));
        fixed.setStyleHint(QFont::TypeWriter);
    }
    m_hex->setFont(fixed);
    m_hex->setStyleSheet(QStringLiteral("font-family: \"%1\";").arg(QFontInfo(fixed).family()));
    m_stack->addWidget(m_status);
    m_stack->addWidget(m_imageArea);
    m_stack->addWidget(m_text);
    m_stack->addWidget(m_hex);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(m_heading, 1);
    top->addWidget(m_hexButton);
    top->addWidget(m_closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 0, 0, 0);
    layout->setSpacing(4);
    layout->addLayout(top);
    layout->addWidget(m_notice);
    layout->addWidget(m_stack, 1);
    retranslate();
    clear();
}

CPreviewPane::~CPreviewPane()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_pending.reset();
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CPreviewPane::retranslate()
{
    m_hexButton->setText(tr("十六进制"));
    m_hexButton->setToolTip(tr("显示文档开头 64 KiB 的十六进制内容"));
    m_closeButton->setToolTip(tr("关闭预览"));
    if (!m_hasNode)
        m_status->setText(tr("选择一行以预览文档"));
    else
        showCurrent();
}

void CPreviewPane::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}

void CPreviewPane::setClosable(bool closable)
{
    m_closeButton->setVisible(closable);
}

void CPreviewPane::clear()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.reset();
        ++m_lastId;
    }
    m_hasNode = false;
    m_waiting = false;
    m_outcome.reset();
    m_pixmap = QPixmap();
    m_heading->clear();
    m_notice->hide();
    m_hexButton->setEnabled(false);
    m_status->setText(tr("选择一行以预览文档"));
    m_stack->setCurrentWidget(m_status);
}

void CPreviewPane::showDocument(std::shared_ptr<IVolume> volume, const CFileNode& node)
{
    m_hasNode = true;
    m_waiting = true;
    m_node = node;
    m_outcome.reset();
    m_pixmap = QPixmap();
    m_hexButton->setEnabled(false);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending = Request{++m_lastId, std::move(volume), node};
        if (!m_thread.joinable())
            m_thread = std::thread([this] { run(); });
    }
    m_wake.notify_one();
    showCurrent();
}

void CPreviewPane::run()
{
    for (;;) {
        Request request;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || m_pending.has_value(); });
            if (m_stopping)
                return;
            request = std::move(*m_pending);
            m_pending.reset();
        }
        Outcome outcome;
        // Given up once the pane closes or another row is chosen: a hostile
        // document must not hold either up until the helper's time is up.
        const auto superseded = [this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_stopping || m_pending.has_value();
        };
        outcome.result = CDocumentPreview().preview(request.volume.get(), request.node, superseded);
        if (superseded())
            continue;
        if (outcome.result.ok && outcome.result.reply.kind == CPreviewReply::Kind::Image)
            outcome.image = QImage::fromData(outcome.result.reply.png, "PNG");
        outcome.hex = CDocumentPreview::hexView(CDocumentPreview::firstBytes(request.volume.get(), request.node));
        // Dropped by Qt if the pane is gone by then (it joins this thread
        // first, so it cannot be).
        QMetaObject::invokeMethod(
            this, [this, id = request.id, outcome] { apply(id, outcome); }, Qt::QueuedConnection);
    }
}

void CPreviewPane::apply(quint64 id, const Outcome& outcome)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (id != m_lastId)
            return; // another row was chosen meanwhile
    }
    m_waiting = false;
    m_outcome = outcome;
    if (!outcome.image.isNull())
        m_pixmap = QPixmap::fromImage(outcome.image);
    m_hexButton->setEnabled(!outcome.hex.isEmpty());
    showCurrent();
    emit previewReady();
}

void CPreviewPane::showCurrent()
{
    if (!m_hasNode)
        return;
    QStringList heading{m_node.displayName()};
    QStringList notices;
    const QString damage = CFileInfoTableModel::damageOf(m_node);
    if (!damage.isEmpty())
        notices << damage;
    else if (m_node.details.integrity == CDocumentDetails::IntegrityDamaged)
        notices << tr("已损坏：%1").arg(m_node.details.integrityReason);
    if (m_waiting) {
        m_status->setText(tr("正在生成预览…"));
        m_stack->setCurrentWidget(m_status);
    } else if (m_outcome) {
        const CDocumentPreview::Result& r = m_outcome->result;
        if (r.reducedSandbox)
            notices << tr("沙箱受限：未找到可用的 bubblewrap，预览程序可以读取文件系统");
        if (r.ok && r.reply.pages >= 0)
            heading << tr("共 %1 页").arg(r.reply.pages);
        if (r.ok && !r.reply.title.isEmpty())
            heading << r.reply.title;
        if (m_hexButton->isChecked() && !m_outcome->hex.isEmpty()) {
            if (m_hex->toPlainText() != m_outcome->hex)
                m_hex->setPlainText(m_outcome->hex);
            m_stack->setCurrentWidget(m_hex);
        } else if (r.ok && r.reply.kind == CPreviewReply::Kind::Image && !m_pixmap.isNull()) {
            m_stack->setCurrentWidget(m_imageArea);
            fitImage();
        } else if (r.ok && r.reply.kind == CPreviewReply::Kind::Text) {
            if (m_text->toPlainText() != r.reply.text)
                m_text->setPlainText(r.reply.text);
            m_stack->setCurrentWidget(m_text);
        } else {
            m_status->setText(tr("无法预览"));
            m_stack->setCurrentWidget(m_status);
        }
    }
    m_heading->setText(heading.join(QStringLiteral(" · ")));
    m_notice->setText(notices.join(QLatin1Char('\n')));
    m_notice->setVisible(!notices.isEmpty());
}

void CPreviewPane::fitImage()
{
    if (m_pixmap.isNull())
        return;
    // Room for the vertical scroll bar a page taller than the pane brings,
    // so that no horizontal one follows.
    const int width = std::max(16, m_imageArea->width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 4);
    m_image->setPixmap(m_pixmap.width() > width ? m_pixmap.scaledToWidth(width, Qt::SmoothTransformation) : m_pixmap);
}

void CPreviewPane::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_stack->currentWidget() == m_imageArea)
        fitImage();
}

CPreviewPane::Showing CPreviewPane::showing() const
{
    if (!m_hasNode)
        return Showing::Nothing;
    if (m_waiting)
        return Showing::Waiting;
    QWidget* current = m_stack->currentWidget();
    if (current == m_imageArea)
        return Showing::Image;
    if (current == m_text)
        return Showing::Text;
    if (current == m_hex)
        return Showing::Hex;
    return Showing::NoPreview;
}

QString CPreviewPane::shownText() const
{
    QWidget* current = m_stack->currentWidget();
    if (current == m_text)
        return m_text->toPlainText();
    if (current == m_hex)
        return m_hex->toPlainText();
    return m_status->text();
}

QString CPreviewPane::noticeText() const
{
    return m_notice->isVisible() || !m_notice->isHidden() ? m_notice->text() : QString();
}
