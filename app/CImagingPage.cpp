#include "app/CImagingPage.h"

#include "app/CScanProgressText.h"

#include "disk/CVolumeImager.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

CImagingPage::CImagingPage(QWidget* parent)
    : QWidget(parent)
    , m_title(new QLabel(tr("先创建磁盘映像"), this))
    , m_source(new QLabel(this))
    , m_progress(new QProgressBar(this))
    , m_status(new QLabel(this))
    , m_result(new QLabel(this))
    , m_stopButton(new QPushButton(tr("停止"), this))
    , m_scanButton(new QPushButton(tr("扫描映像"), this))
    , m_backButton(new QPushButton(tr("返回"), this))
    , m_timer(new QTimer(this))
{
    m_title->setStyleSheet(QStringLiteral("font-size: 18px; font-weight: bold;"));
    m_source->setWordWrap(true);
    m_result->setWordWrap(true);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setStyleSheet(QStringLiteral("color: #555555;"));
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setFixedHeight(16);
    for (QPushButton* b : {m_stopButton, m_scanButton, m_backButton}) {
        b->setObjectName(QStringLiteral("commonBtn"));
        b->setFixedSize(120, 40);
    }
    m_scanButton->hide();
    m_backButton->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_backButton);
    buttons->addSpacing(20);
    buttons->addWidget(m_scanButton);
    buttons->addWidget(m_stopButton);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(60, 60, 60, 30);
    column->setSpacing(16);
    column->addWidget(m_title);
    column->addWidget(m_source);
    column->addSpacing(10);
    column->addWidget(m_progress);
    column->addWidget(m_status);
    column->addWidget(m_result);
    column->addStretch();
    column->addLayout(buttons);

    m_timer->setInterval(200);
    connect(m_timer, &QTimer::timeout, this, &CImagingPage::showProgress);
    connect(m_stopButton, &QPushButton::clicked, this, &CImagingPage::stop);
    connect(m_scanButton, &QPushButton::clicked, this, [this]() { emit scanImageRequested(m_image); });
    connect(m_backButton, &QPushButton::clicked, this, &CImagingPage::backRequested);
}

CImagingPage::~CImagingPage()
{
    m_keepGoing = false;
    joinWorker();
}

void CImagingPage::joinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}

void CImagingPage::start(const CPartitionInfo& source, const QString& image)
{
    if (m_running)
        return;
    joinWorker();
    m_image = QDir::cleanPath(image);
    m_map = CVolumeImager::mapBeside(m_image);
    m_sourceInfo = source;
    m_running = true;
    m_stopped = false;
    m_keepGoing = true;
    m_done = 0;
    m_total = source.totalBytes;
    m_unreadable = 0;
    m_lastPass = false;
    m_source->setText(tr("正在把 %1（%2）复制到 %3。先读能读的部分，跳过读不出的地方，最后再回头重读它们；"
                         "之后的扫描和恢复都在映像上进行，不再读这块磁盘。")
                          .arg(source.displayName, source.devicePath, m_image));
    m_result->clear();
    m_progress->setValue(0);
    m_stopButton->setEnabled(true);
    m_stopButton->show();
    m_scanButton->hide();
    m_backButton->hide();
    showProgress();
    m_timer->start();

    const QString from = source.devicePath;
    const QString to = m_image;
    m_worker = std::thread([this, from, to]() {
        CVolumeImager imager(from, to, QString());
        QString error;
        const bool ok = imager.run(
            [this](const CVolumeImager::Progress& p) {
                m_done = p.done;
                m_total = p.total;
                m_unreadable = p.unreadable;
                m_lastPass = p.lastPass;
            },
            [this]() { return m_keepGoing.load(); }, &error);
        // Queued to this page: dropped if the page is gone by then (its
        // destructor waits for this thread first).
        QMetaObject::invokeMethod(this, [this, ok, error]() { onFinished(ok, error); }, Qt::QueuedConnection);
    });
}

void CImagingPage::stop()
{
    if (!m_running)
        return;
    m_stopped = true;
    m_keepGoing = false;
    m_stopButton->setEnabled(false);
    m_status->setText(tr("正在停止……"));
}

void CImagingPage::showProgress()
{
    const int64_t total = m_total.load();
    const int64_t done = m_done.load();
    const int64_t unreadable = m_unreadable.load();
    if (total > 0)
        m_progress->setValue(static_cast<int>(std::min<int64_t>(1000, done * 1000 / total)));
    if (m_stopped && m_running)
        return;
    QString text = tr("已读 %1 / %2").arg(CScanProgressText::amountText(static_cast<double>(done)), CScanProgressText::amountText(static_cast<double>(total)));
    if (unreadable > 0)
        text += tr("  无法读取 %1").arg(CScanProgressText::amountText(static_cast<double>(unreadable)));
    if (m_lastPass.load() && m_running)
        text += tr("  正在重读跳过的区域");
    m_status->setText(text);
}

void CImagingPage::onFinished(bool ok, const QString& error)
{
    m_timer->stop();
    joinWorker();
    m_running = false;
    showProgress();
    m_stopButton->hide();
    m_backButton->show();
    // The copy is over: the line above the bar says what it was of.
    m_source->setText(tr("%1（%2）的映像：%3").arg(m_sourceInfo.displayName, m_sourceInfo.devicePath, m_image));
    const int64_t unreadable = m_unreadable.load();
    QString text;
    if (!ok && !error.isEmpty()) {
        text = tr("映像没有完成：%1").arg(error);
    } else if (m_stopped) {
        text = tr("已停止。已读的部分在映像 %1 中，读取记录在 %2；再次为这块磁盘创建映像到同一位置，会从停下的地方继续。")
                   .arg(m_image, m_map);
    } else {
        text = tr("映像已写入 %1\n读取记录（ddrescue 映射文件）已写入 %2").arg(m_image, m_map);
        if (unreadable > 0)
            text += QLatin1Char('\n')
                + tr("有 %1 读不出来，在映像中以零代替；扫描映像时这些位置算作无法读取。")
                      .arg(CScanProgressText::amountText(static_cast<double>(unreadable)));
    }
    m_result->setText(text);
    // Whatever was copied can be scanned: a map says what was not.
    const bool anything = m_done.load() > 0 && QFileInfo::exists(m_image);
    m_scanButton->setVisible(anything);
    emit finished(ok && !m_stopped);
}
