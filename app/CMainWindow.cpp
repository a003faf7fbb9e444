#include "app/CMainWindow.h"

#include "app/CAboutWnd.h"
#include "app/CAppResources.h"
#include "app/CChoiceDiskWnd.h"
#include "app/CConnectWnd.h"
#include "app/CDonation.h"
#include "app/CFeedBack.h"
#include "app/CImagingPage.h"
#include "app/CMessageTips.h"
#include "app/CParentWindow.h"
#include "app/Orvik.h"
#include "disk/CSameVolumeCheck.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

CMainWindow::CMainWindow(CParentWindow* topWindow, const CPartitionList::Probes* probes)
    : QWidget(topWindow)
    , m_mainLayout(new QVBoxLayout)
    , m_titleRow(new QHBoxLayout)
    , m_pageRow(new QHBoxLayout)
    , m_closeButton(new QPushButton(this))
    , m_minButton(new QPushButton(this))
    , m_menuButton(new QPushButton(this))
    , m_diskPage(nullptr)
    , m_titleLabel(new QLabel(tr("Tamsel文件恢复工具Beta"), this))
    , m_logoLabel(new QLabel(this))
    , m_topWindow(topWindow)
    , m_menu(new QMenu(this))
    , m_fileChooser(&m_dialogChooser)
{
    setWindowIcon(QIcon(CAppResources::path(QStringLiteral("about.png"))));
    setAutoFillBackground(true);
    setPalette(QPalette(QColor(255, 255, 255, 255)));

    auto* separator = new QFrame(this);
    separator->setFixedSize(900, 2);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);

    m_logoLabel->setPixmap(CAppResources::pixmap(QStringLiteral("orvikloge.png"))
                               .scaled(30, 30, Qt::KeepAspectRatio, Qt::FastTransformation));
    m_titleLabel->setMinimumHeight(30);
    m_titleLabel->setStyleSheet(
        QStringLiteral("QLabel{ border - width: 1px;border - style: solid;border - color: rgb(255, 170, 0);}"));

    m_closeButton->setObjectName(QStringLiteral("closeWnd"));
    m_closeButton->setFixedSize(30, 30);
    m_closeButton->setToolTip(tr("退出"));
    connect(m_closeButton, &QPushButton::clicked, this, &CMainWindow::onCloseWind);
    m_minButton->setObjectName(QStringLiteral("minWnd"));
    m_minButton->setFixedSize(30, 30);
    m_minButton->setToolTip(tr("最小化"));
    connect(m_minButton, &QPushButton::clicked, this, &CMainWindow::onMinWind);

    setLayout(m_mainLayout);
    m_diskPage = new CChoiceDiskWnd(this, this, probes);
    m_diskPage->setFileChooser(m_fileChooser);

    m_menuButton->setFixedSize(30, 30);
    m_menuButton->setObjectName(QStringLiteral("menuBtn"));
    QMenu* help = m_menu->addMenu(QIcon(CAppResources::path(QStringLiteral("help.png"))), tr("帮助"));
    QAction* qq = help->addAction(QIcon(CAppResources::path(QStringLiteral("QQ.png"))), QStringLiteral("QQ"));
    QAction* weChat =
        help->addAction(QIcon(CAppResources::path(QStringLiteral("wechat.png"))), tr("微信"));
    QAction* pay = m_menu->addAction(QIcon(CAppResources::path(QStringLiteral("Money.png"))), tr("打赏"));
    QAction* about =
        m_menu->addAction(QIcon(CAppResources::path(QStringLiteral("about.png"))), tr("关于"));
    connect(qq, &QAction::triggered, this, &CMainWindow::onConnect);
    connect(weChat, &QAction::triggered, this, &CMainWindow::onConnect);
    connect(pay, &QAction::triggered, this, &CMainWindow::onPay);
    connect(about, &QAction::triggered, this, &CMainWindow::onAbout);
    m_menuButton->setMenu(m_menu);

    m_resultPage = createResultPage();
    m_resultPage->hide();

    m_titleRow->setSpacing(0);
    m_titleRow->addWidget(m_logoLabel);
    m_titleRow->addWidget(m_titleLabel);
    m_titleRow->addStretch();
    m_titleRow->addWidget(m_menuButton);
    m_titleRow->addWidget(m_minButton);
    m_titleRow->addWidget(m_closeButton);

    m_pageRow->addWidget(m_diskPage);
    m_pageRow->addWidget(m_resultPage);

    m_mainLayout->addLayout(m_titleRow, 1);
    m_mainLayout->addWidget(separator);
    m_mainLayout->addLayout(m_pageRow, 10);
    m_mainLayout->setContentsMargins(0, 0, 0, 0);
    m_mainLayout->setSpacing(0);
}

CMainWindow::~CMainWindow() = default;

Orvik* CMainWindow::createResultPage()
{
    auto* page = new Orvik(this);
    page->setTransPage(this);
    page->setFileChooser(m_fileChooser);
    page->setFixedWidth(900);
    return page;
}

void CMainWindow::setFileChooser(IFileChooser* chooser)
{
    m_fileChooser = chooser ? chooser : &m_dialogChooser;
    m_diskPage->setFileChooser(m_fileChooser);
    if (m_resultPage)
        m_resultPage->setFileChooser(m_fileChooser);
}

void CMainWindow::switchPage(int page, const CPartitionInfo* partition)
{
    CPartitionInfo copy;
    if (partition)
        copy = *partition;

    if (page == 1) {
        dropResultPage();
        dropImagingPage();
        m_diskPage->show();
        return;
    }
    if (page == kImagingPage) {
        showImagingPage(copy);
        return;
    }
    dropImagingPage();

    if (!m_resultPage) {
        m_resultPage = createResultPage();
        m_pageRow->addWidget(m_resultPage);
    }
    m_resultPage->setFixedWidth(900);
    m_diskPage->hide();
    m_resultPage->show();
    m_resultPage->setWholeVolume(m_diskPage->wholeVolume());
    m_resultPage->startWithPartition(copy);
}

CImagingPage* CMainWindow::imagingPage() const
{
    return m_imagingPage;
}

void CMainWindow::dropResultPage()
{
    if (Orvik* old = m_resultPage) {
        // This runs inside one of the page's own slots: the page is
        // hidden now and deleted from the event loop once its workers
        // have ended (a read in flight is never waited for here).
        m_pageRow->removeWidget(old);
        old->hide();
        old->setTransPage(nullptr);
        m_resultPage = nullptr;
        old->deleteWhenIdle();
    }
}

void CMainWindow::dropImagingPage()
{
    if (CImagingPage* old = m_imagingPage) {
        // Only ever dropped once its copy has ended (the page offers no way
        // out before): deleting it waits for nothing.
        m_pageRow->removeWidget(old);
        old->hide();
        m_imagingPage = nullptr;
        old->deleteLater();
    }
}

void CMainWindow::stayOrGoBack()
{
    // The result page that asked keeps its list; else the disks again.
    if (m_resultPage && m_resultPage->isVisible())
        m_resultPage->stayOnPage();
    else
        switchPage(1, nullptr);
}

void CMainWindow::showImagingPage(const CPartitionInfo& source)
{
    // The image and its map go into a folder of the user's choice, named
    // after the disk; an image there already is gone on from by its map.
    const QString folder = m_fileChooser ? m_fileChooser->chooseOutputFolder(this) : QString();
    if (folder.isEmpty()) {
        stayOrGoBack();
        return;
    }
    // Written onto the disk it copies, the image would overwrite what it
    // is saving.
    if (CSameVolumeCheck().check(source.devicePath, folder).verdict == CSameVolumeCheck::Verdict::Same) {
        CMessageTips tips(this);
        tips.setNotice(true);
        tips.setMessage(tr("所选文件夹在要复制的磁盘上：映像会覆盖它要保存的数据。请选择另一块磁盘上的文件夹。"));
        tips.exec();
        stayOrGoBack();
        return;
    }
    QString name = source.kernelName.isEmpty() ? source.displayName : source.kernelName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (name.isEmpty())
        name = QStringLiteral("disk");
    const QString image = QDir(folder).filePath(name + QStringLiteral(".img"));

    dropResultPage();
    dropImagingPage();
    m_diskPage->hide();
    m_imagingPage = new CImagingPage(this);
    m_imagingPage->setFixedWidth(900);
    m_pageRow->addWidget(m_imagingPage);
    connect(m_imagingPage, &CImagingPage::backRequested, this, [this]() { switchPage(1, nullptr); });
    connect(m_imagingPage, &CImagingPage::scanImageRequested, this, [this](const QString& path) {
        const CPartitionInfo image = CChoiceDiskWnd::describeImage(path);
        switchPage(2, &image);
    });
    m_imagingPage->show();
    m_imagingPage->start(source, image);
}

bool CMainWindow::confirmQuit()
{
    if (m_imagingPage && m_imagingPage->isRunning()) {
        CMessageTips tips(this);
        tips.setMessage(tr("正在创建磁盘映像，你确定要退出？已读的部分会留在映像中，下次可以接着做。"));
        if (tips.exec() != 1)
            return false;
        m_imagingPage->stop();
        return true;
    }
    if (!m_resultPage || !m_resultPage->isVisible())
        return true;
    if (m_resultPage->isRecovering()) {
        CMessageTips tips(this);
        tips.setMessage(tr("数据正在恢复，你确定要退出？"));
        if (tips.exec() != 1)
            return false;
    } else if (m_resultPage->isScanning()) {
        CMessageTips tips(this);
        tips.setMessage(tr("磁盘正在扫描，你确定要退出？"));
        if (tips.exec() != 1)
            return false;
    }
    m_resultPage->endScan();
    return true;
}

void CMainWindow::onCloseWind()
{
    if (confirmQuit())
        QCoreApplication::exit(0);
}

void CMainWindow::onMinWind()
{
    if (m_topWindow)
        m_topWindow->showMinimized();
}

void CMainWindow::onAbout()
{
    CAboutWnd dialog(this);
    dialog.exec();
}

void CMainWindow::onPay()
{
    CDonation dialog(this);
    dialog.exec();
}

void CMainWindow::onFeedback()
{
    CFeedBack dialog(this);
    dialog.exec();
}

void CMainWindow::onConnect()
{
    auto* action = qobject_cast<QAction*>(sender());
    const int mode = action && action->text() == QLatin1String("QQ") ? 0 : 1;
    CConnectWnd dialog(mode, this);
    dialog.exec();
}
