#include "recovery/CRecoveryDialog.h"

#include "app/CMessageTips.h"
#include "app/CPopParentWind.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

CRecoveryDialog::CRecoveryDialog(uint32_t windowSize)
    : PopupWindow(nullptr)
    , m_statusLabel(new QLabel(this))
    , m_openFolderButton(new QPushButton(this))
    , m_progressBar(new QProgressBar(this))
    , m_closeBar(nullptr)
    , m_layout(new QVBoxLayout)
    , m_errorLabel(new QLabel(this))
    , m_folderOpener([this](const QString& folder) {
        if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
            showFolderPath();
    })
    , m_worker(nullptr, windowSize)
{
    setFixedSize(400, 200);
    setWindowModality(Qt::ApplicationModal);
    setAutoFillBackground(true);
    setStyleSheet(QStringLiteral(
        "QWidget{ text-align:left;border - width: 1px;border - style: solid;border - color: rgb(255, 170, 0);}"));

    m_statusLabel->setFixedSize(250, 20);
    m_openFolderButton->setStyleSheet(QStringLiteral(
        "background: transparent;color:#10bacb;font-size:12px;font-family:Microsoft YaHei;border-width:1px;"
        "border-style:none none solid none;border-color:#10bacb;"));
    m_openFolderButton->setCursor(Qt::PointingHandCursor);
    m_openFolderButton->hide();
    m_openFolderButton->setMaximumWidth(kLinkWidth + 20);
    m_progressBar->setFixedSize(250, 20);
    m_progressBar->setMinimum(0);
    m_progressBar->setValue(0);
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setFixedWidth(300);
    m_errorLabel->setStyleSheet(QStringLiteral("color: #d93025;"));
    m_errorLabel->hide();

    // In no layout: it sits at the top-left corner, over the popup's own
    // title bar, whose cross would close without asking.
    m_closeBar = new CPopParentWind(this);
    m_closeBar->setGeometry(0, 0, width(), m_closeBar->sizeHint().height());

    m_layout->addWidget(m_statusLabel);
    m_layout->addWidget(m_progressBar);
    m_layout->addWidget(m_openFolderButton, 0, Qt::AlignLeft);
    m_layout->addWidget(m_errorLabel);
    m_layout->setContentsMargins(75, 0, 10, 0);
    m_layout->setSpacing(0);
    contentLayout()->addLayout(m_layout);
    m_closeBar->raise();

    connect(&m_worker, &CRecoveryDataFiles::sigRecoveryFinished, this, &CRecoveryDialog::onRecoveryFinished);
    connect(&m_worker, &CRecoveryDataFiles::sigRecoveryFailed, this, &CRecoveryDialog::onRecoveryFailed);
    connect(&m_worker, &CRecoveryDataFiles::sigFileLeftOut, this, &CRecoveryDialog::onFileLeftOut);
    connect(m_closeBar, &CPopParentWind::closeWind, this, &CRecoveryDialog::onCloseWind);
    connect(m_openFolderButton, &QPushButton::clicked, this, &CRecoveryDialog::openSavePath);
}

CRecoveryDialog::~CRecoveryDialog()
{
    stopAndWait();
}

void CRecoveryDialog::stopAndWait()
{
    m_worker.stopRecovery();
    m_worker.wait();
}

void CRecoveryDialog::setRecoveryInfo(const QString& folder, std::shared_ptr<IVolume> volume)
{
    m_savePath = folder;
    m_volume = std::move(volume);
}

bool CRecoveryDialog::startRecovery(const QList<CFileNode>& files)
{
    m_openFolderButton->hide();
    m_errorLabel->hide();
    m_progressBar->show();
    m_total = files.size();
    m_statusLabel->setText(tr("第1个文件正在恢复，总共%1个文件。").arg(m_total));
    m_progressBar->setMaximum(m_total);
    m_progressBar->setValue(0);
    m_files = files;
    m_leftOutDamaged = 0;
    m_leftOutUnreadable = 0;
    // A damaged file keeps its tick only when it was ticked on its own
    // (damage found later takes the tick away): the user asked for it as it
    // is. Any other that turns out damaged or unreadable is left out.
    QVector<bool> writeDamaged;
    writeDamaged.reserve(m_files.size());
    for (const CFileNode& file : m_files)
        writeDamaged.append(file.isDamaged());
    m_worker.setDiskHandle(m_volume);
    m_worker.setSavePath(m_savePath);
    m_worker.setRecoveryFiles(m_files, writeDamaged);
    m_worker.start(QThread::InheritPriority);
    return true;
}

void CRecoveryDialog::onRecoveryFinished(int value)
{
    m_progressBar->setValue(value);
    m_statusLabel->setText(tr("第%1个文件正在恢复,总共%2个文件。").arg(value).arg(m_total));
    if (value == m_total) {
        m_statusLabel->setText(tr("恢复完成！"));
        const int leftOut = m_leftOutDamaged + m_leftOutUnreadable;
        if (leftOut > 0) {
            m_errorLabel->setText(tr("%1 个文件没有恢复：%2 个已损坏，%3 个所在扇区无法读取。"
                                     "单独勾选这样的文件，可以按原样恢复（无法读取的部分以零填充）。")
                                      .arg(leftOut)
                                      .arg(m_leftOutDamaged)
                                      .arg(m_leftOutUnreadable));
            m_errorLabel->show();
        }
        showFolderLink();
        m_progressBar->hide();
    }
}

void CRecoveryDialog::onFileLeftOut(int, const QString&, const QString&, bool unreadable)
{
    if (unreadable)
        ++m_leftOutUnreadable;
    else
        ++m_leftOutDamaged;
}

void CRecoveryDialog::onRecoveryFailed(const QString& filePath, const QString& reason, bool sourceUnreadable)
{
    m_statusLabel->setText(tr("恢复失败，已停止。"));
    if (sourceUnreadable)
        m_errorLabel->setText(tr("无法读取源磁盘上 %1 的数据（输出文件夹没有问题），此文件未保存。\n%2")
                                  .arg(QFileInfo(filePath).fileName(), reason));
    else
        m_errorLabel->setText(tr("无法写入 %1：\n%2").arg(QDir::toNativeSeparators(filePath), reason));
    m_errorLabel->show();
    m_progressBar->hide();
    // The files written before the failure are there to look at; a folder
    // that was never made gets no link that would open nothing.
    if (QFileInfo(m_savePath).isDir())
        showFolderLink();
    else
        m_openFolderButton->hide();
}

void CRecoveryDialog::showFolderLink()
{
    // A long path is shortened in the middle to fit the dialog; the tool tip
    // and the link itself keep the whole path.
    const QFontMetrics metrics(m_openFolderButton->font());
    m_openFolderButton->setText(metrics.elidedText(m_savePath, Qt::ElideMiddle, kLinkWidth));
    m_openFolderButton->setToolTip(m_savePath);
    m_openFolderButton->show();
}

void CRecoveryDialog::onCloseWind()
{
    if (!m_worker.isBusy()) {
        hide();
        return;
    }
    // A box of its own, not a child: the dialog's style sheet would reach
    // its buttons (text to the left).
    CMessageTips tips;
    tips.setMessage(tr("数据正在恢复，你确定要退出？"));
    // A recovery that ends while the question is open answers it: the
    // result (or the failure) stays in view, and no confirm closes it unseen.
    connect(&m_worker, &QThread::finished, &tips, &PopupWindow::reject);
    if (tips.exec() != 1 || !m_worker.isBusy())
        return;
    // The file being copied is finished, then the run ends. (Quitting the
    // program meanwhile gives up on that file too: see stopAndWait.)
    m_worker.stopAfterCurrentFile();
    hide();
}

void CRecoveryDialog::reject()
{
    onCloseWind();
}

void CRecoveryDialog::showFolderPath()
{
    // No file manager to show the folder (a bare window manager, a server
    // reached over X): its path, to paste where the user wants it.
    CMessageTips tips;
    tips.setNotice(true);
    tips.cancelButton()->show();
    tips.setMessage(tr("没有找到可以打开文件夹的程序。恢复的文档在：\n%1").arg(QDir::toNativeSeparators(m_savePath)));
    tips.setButtonTexts(tr("复制路径"), tr("关闭"));
    if (tips.exec() == 1)
        QGuiApplication::clipboard()->setText(QDir::toNativeSeparators(m_savePath));
}

void CRecoveryDialog::openSavePath()
{
    if (m_folderOpener)
        m_folderOpener(m_savePath);
}

QString CRecoveryDialog::statusText() const
{
    return m_statusLabel->text();
}

QString CRecoveryDialog::errorText() const
{
    return m_errorLabel->isHidden() ? QString() : m_errorLabel->text();
}

QString CRecoveryDialog::linkPath() const
{
    return m_openFolderButton->toolTip();
}
