// tamsel-screenshots OUTDIR: opens every page, state and dialog of the
// window in turn and saves a picture of the screen for each, so that a
// person can check how the window looks. Run it under a display (see
// scripts/screenshot.sh, which uses Xvfb). It lives beside the program, so
// that it finds Resources/ as the program does.
#include "AppTestSupport.h"

#include "app/CAboutWnd.h"
#include "app/CAppResources.h"
#include "app/CChoiceDiskWnd.h"
#include "app/CConnectWnd.h"
#include "app/CDonation.h"
#include "app/CFeedBack.h"
#include "app/CFilterBar.h"
#include "app/CImagingPage.h"
#include "app/CLanguage.h"
#include "app/CMainWindow.h"
#include "app/CMessageTips.h"
#include "app/CParentWindow.h"
#include "app/CPreviewPane.h"
#include "app/CSavedScanQuestion.h"
#include "app/ITransPage.h"
#include "app/Orvik.h"
#include "disk/CErrnoText.h"
#include "disk/CMemoryVolume.h"
#include "recovery/CRecoveryDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>
#include <QRadioButton>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QTableView>
#include <QElapsedTimer>
#include <QFrame>
#include <QGuiApplication>
#include <QMenu>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>

#include <cerrno>
#include <cstdio>

namespace {

QString g_out;
int g_shot = 0;

void settle(int ms = 150)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The whole screen, so that popups over the window are in the picture; cut
// to `area` when given.
void shoot(const QString& name, const QRect& area = QRect())
{
    settle();
    QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    if (area.isValid())
        shot = shot.copy(area.adjusted(-10, -10, 10, 10));
    const QString path = QStringLiteral("%1/%2-%3.png").arg(g_out).arg(++g_shot, 2, 10, QLatin1Char('0')).arg(name);
    shot.save(path);
    std::printf("%s\n", qPrintable(path));
}

void shootDialog(QWidget* dialog, const QString& name)
{
    dialog->show();
    dialog->raise();
    settle();
    shoot(name, dialog->frameGeometry());
    dialog->hide();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tamsel-screenshots OUTDIR\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    // The window in the language TAMSEL_LANG or the locale picks, as the
    // program itself does.
    CLanguage language;
    language.install(CLanguage::fromEnvironment());
    QDir().mkpath(g_out);
    registerFileNodeMetaType();

    // One tile whose free space cannot be known: its line is the longest.
    CPartitionList::Probes probes = apptest::partitionProbes(5);
    probes.freeSpace = [](const QString& mountPoint, int64_t* freeBytes) {
        *freeBytes = int64_t(40) << 30;
        return mountPoint != QLatin1String("/mnt/p3");
    };
    // The fourth tile's drive says it is failing.
    probes.driveHealth = [](const QString& device, CDriveHealth::Health* health) {
        health->known = true;
        health->failing = device == QLatin1String("/dev/sda4");
        health->badSectors = health->failing ? 96 : 0;
        return true;
    };
    CParentWindow window(&probes);
    window.setFixedSize(900, 550);
    window.move(40, 40);
    window.show();
    app.setStyleSheet(CAppResources::loadStyleSheet(CAppResources::root()));
    CMainWindow* main = window.mainWindow();
    const QRect windowArea(40, 40, 900, 550);

    // The disk choice page, a tile selected.
    main->diskPage()->table()->setCurrentCell(0, 1);
    main->diskPage()->scanClickPartion(0, 1);
    shoot(QStringLiteral("disk-page"), windowArea);

    // The menu.
    main->menu()->popup(main->menuButton()->mapToGlobal(QPoint(0, 30)));
    settle();
    shoot(QStringLiteral("menu"), windowArea);
    main->menu()->hide();

    // A running scan: a volume that holds the reader until released, and
    // documents reported as the carving pass reports them.
    apptest::Gate gate;
    auto volume = std::make_shared<CMemoryVolume>(QByteArray(8 << 20, '\0'), QStringLiteral("/dev/sdb1"));
    volume->setReadHook(gate.hook());
    gate.armed = true;
    CPartitionInfo partition = *main->diskPage()->selectedPartition();
    // A volume without a live-file pass, so that the note shows.
    partition.fileSystem = QStringLiteral("EXT4");
    // The page the main window keeps ready, started on the held volume
    // instead of the (made-up) device.
    Orvik* page = main->resultPage();
    main->diskPage()->hide();
    page->show();
    page->scanWorker().setWindowSize(1 << 20);
    page->startWithVolume(partition, volume);
    const char* types[] = {"PDF", "DOCX", "PDF", "XLSX", "ZIP", "PDF", "DOC", "PPTX", "XLS", "PDF", "PPT"};
    for (int i = 0; i < 60; ++i) {
        const QString type = QString::fromLatin1(types[i % 11]);
        page->scanWorker().relay()->postItem(apptest::record(type, 4096 + (i * 7919) % 900000, 2048 + i * 96));
    }
    // Deleted files in their folders, for the folder view.
    const char* const deleted[][3] = {
        {"/论文/2024", "毕业论文终稿.docx", "DOCX"}, {"/论文/2024", "开题报告.pdf", "PDF"},
        {"/论文", "文献综述.docx", "DOCX"},          {"/Team A", "report.docx", "DOCX"},
        {"/Team B/2024", "report.docx", "DOCX"},     {"/Team B/2024", "budget.xlsx", "XLSX"},
        {"/", "notes.pdf", "PDF"},                   {"?/Reports", "Q3 review.pptx", "PPTX"},
        {"?", "scan.pdf", "PDF"},
    };
    for (int i = 0; i < int(sizeof deleted / sizeof deleted[0]); ++i) {
        const QString type = QString::fromLatin1(deleted[i][2]);
        CFileNode n = apptest::record(type, 20000 + i * 3331, 100000 + i * 512);
        n.origin = CFileNode::OriginDeletedEntry;
        n.folder = QString::fromUtf8(deleted[i][0]);
        n.originalName = QString::fromUtf8(deleted[i][1]);
        page->scanWorker().relay()->postItem(n);
    }
    settle(300);
    // Progress from the raw pass's first report on: after two seconds the
    // time left can be estimated.
    page->updateProcess(1000, 10);
    settle(2100);
    page->updateProcess(1000, 420);
    shoot(QStringLiteral("scan-running"), windowArea);
    // The same with a filter set: the count of the rows it hides joins the
    // counters, and the bar makes room for it.
    page->filterBar()->wholeOnlyBox()->setChecked(true);
    shoot(QStringLiteral("scan-running-filtered"), windowArea);
    page->filterBar()->wholeOnlyBox()->setChecked(false);

    // The result table: the PDF type ticked and shown.
    const QModelIndex pdfRow = page->treeModel().typeRowIndex(5);
    page->treeModel().setData(pdfRow, Qt::Checked, Qt::CheckStateRole);
    page->treeView()->setCurrentIndex(pdfRow);
    page->showFile(pdfRow);
    page->flushRefresh();
    shoot(QStringLiteral("result-table"), windowArea);

    // Every document (the volume's row), sorted by size as a click on 大小
    // does, largest first: the arrow, the header's box and the volume's
    // partial box.
    const QModelIndex volumeRow = page->treeModel().rootRowIndex();
    page->treeView()->setCurrentIndex(volumeRow);
    page->showFile(volumeRow);
    page->tableView()->horizontalHeader()->setSortIndicator(2, Qt::DescendingOrder);
    page->tableModel().setData(page->tableModel().index(1, 0), Qt::Checked, Qt::CheckStateRole);
    shoot(QStringLiteral("result-all-sorted"), windowArea);

    // The same documents by folder: a folder ticked and shown.
    page->byFolderButton()->click();
    page->flushRefresh();
    const QModelIndex rootFolder = page->folderModel().index(1, 0, page->folderModel().rootRowIndex());
    const QModelIndex thesis = page->folderModel().index(0, 0, rootFolder);
    page->treeView()->expandAll();
    page->folderModel().setData(thesis, Qt::Checked, Qt::CheckStateRole);
    page->treeView()->setCurrentIndex(thesis);
    page->showFile(thesis);
    page->keepFoldersBox()->setChecked(true);
    shoot(QStringLiteral("result-by-folder"), windowArea);
    page->keepFoldersBox()->setChecked(false);
    page->byTypeButton()->click();

    // The scan finished.
    gate.open = true;
    QElapsedTimer wait;
    wait.start();
    while (page->scanWorker().isRunning() && wait.elapsed() < 10000)
        settle(20);
    settle(200);
    shoot(QStringLiteral("scan-finished"), windowArea);

    // The filter bar's popup over the table with a size range set, and the
    // table it leaves: the rows it hides are counted beside the others.
    {
        CFilterBar* bar = page->filterBar();
        bar->unitBox()->setCurrentIndex(CFilterBar::Kilobytes);
        bar->minSizeEdit()->setValue(100);
        bar->maxSizeEdit()->setValue(500);
        bar->sizeBox()->setChecked(true);
        bar->showPopup();
        shoot(QStringLiteral("result-filter-popup"), windowArea);
        bar->popup()->hide();
        shoot(QStringLiteral("result-filtered"), windowArea);
        bar->clear();
    }

    // The preview pane beside the table (these rows' bytes hold no
    // document: 无法预览).
    auto waitForPreview = [](CPreviewPane* pane) {
        QElapsedTimer previewWait;
        previewWait.start();
        while (pane->showing() == CPreviewPane::Showing::Waiting && previewWait.elapsed() < 20000)
            settle(20);
    };
    page->tableView()->setCurrentIndex(page->tableModel().index(0, 1));
    waitForPreview(page->previewPane());
    shoot(QStringLiteral("result-preview-pane"), windowArea);
    page->previewPane()->clear();
    page->previewPane()->hide();

    // Each kind of preview, of documents from tests/data.
    {
        struct Kind
        {
            const char* file;
            const char* type;
            const char* shot;
            bool hex;
            double overwritten;
        };
        const Kind kinds[] = {
            {"pdf_pdfunite.pdf", "PDF", "preview-pdf-page", false, 0.0},
            {"docx_python-docx.docx", "DOCX", "preview-docx-thumbnail", false, 0.0},
            {"docx_lo_short.docx", "DOCX", "preview-docx-text", false, 0.0},
            {"pptx_pptxgenjs.pptx", "PPTX", "preview-pptx-text", false, 0.0},
            {"doc_tables.doc", "DOC", "preview-doc-text", false, 0.0},
            {"zip_deflated.zip", "ZIP", "preview-zip-members", false, 0.0},
            {"xls_small.xls", "XLS", "preview-xls-text", false, 0.0},
            {"xls_small.xls", "XLS", "preview-hex", true, 0.0},
            {"pdf_lo_writer_text.pdf", "PDF", "preview-damaged", false, 0.3},
        };
        for (const Kind& kind : kinds) {
            QFile file(QStringLiteral(TAMSEL_SOURCE_DIR "/tests/data/") + QString::fromLatin1(kind.file));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray bytes = file.readAll();
            CFileNode node = apptest::record(QString::fromLatin1(kind.type), bytes.size(), 0);
            node.overwritten = kind.overwritten;
            CPreviewPane pane;
            pane.setWindowFlags(Qt::FramelessWindowHint);
            pane.resize(360, 480);
            pane.move(windowArea.topLeft() + QPoint(20, 20));
            pane.show();
            pane.showDocument(std::make_shared<CMemoryVolume>(bytes), node);
            waitForPreview(&pane);
            if (kind.hex)
                pane.hexButton()->click();
            shoot(QString::fromLatin1(kind.shot), pane.frameGeometry());
        }
    }

    // Image files for the states below: zeros, which hold nothing.
    QTemporaryDir imageDir;
    const auto zeroImage = [&](const QString& name, qint64 bytes) {
        QFile file(imageDir.filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.resize(bytes);
        CPartitionInfo info = CChoiceDiskWnd::describeImage(file.fileName());
        return info;
    };

    // Stopped at a quarter: the bar stays there, "已停止" not in green.
    main->switchPage(1, nullptr);
    settle();
    CPartitionInfo big = zeroImage(QStringLiteral("stick.img"), qint64(256) << 20);
    main->switchPage(2, &big);
    main->resultPage()->updateProcess(1000, 250);
    main->resultPage()->endScan();
    settle(300);
    shoot(QStringLiteral("scan-stopped"), windowArea);

    // A scan that found nothing, on a source that does not look like a disk.
    main->switchPage(1, nullptr);
    settle();
    CPartitionInfo blank = zeroImage(QStringLiteral("blank.img"), qint64(4) << 20);
    main->switchPage(2, &blank);
    wait.restart();
    while (main->resultPage()->scanWorker().isRunning() && wait.elapsed() < 10000)
        settle(20);
    settle(300);
    shoot(QStringLiteral("scan-nothing-found"), windowArea);

    // Questions and notices, in the words (and the language) of the pages
    // that ask them.
    {
        CMessageTips tips(main);
        tips.setMessage(QCoreApplication::translate("CMainWindow", "磁盘正在扫描，你确定要退出？"));
        tips.move(355, 240);
        shootDialog(&tips, QStringLiteral("confirm-quit-scan"));
    }
    {
        CMessageTips tips(main);
        tips.setMessage(QCoreApplication::translate("Orvik", "正在扫描磁盘，你确定要退出？"));
        tips.move(355, 240);
        shootDialog(&tips, QStringLiteral("confirm-back-scan"));
    }

    {
        CMessageTips tips(main);
        tips.setMessage(QCoreApplication::translate("CMainWindow", "数据正在恢复，你确定要退出？"));
        tips.move(355, 240);
        shootDialog(&tips, QStringLiteral("confirm-quit-recovery"));
    }
    // The resume question in both its forms, as the result page asks it.
    for (const bool finished : {false, true}) {
        CMessageTips tips(main);
        CScanJournal::State state;
        state.finished = finished;
        tips.setMessage(CSavedScanQuestion::message(state, QString(), false));
        tips.setButtonTexts(finished ? QCoreApplication::translate("CSavedScanQuestion", "打开上次的结果")
                                     : QCoreApplication::translate("CSavedScanQuestion", "继续上次的扫描"),
                            QCoreApplication::translate("CSavedScanQuestion", "重新扫描"));
        tips.move(340, 240);
        shootDialog(&tips, finished ? QStringLiteral("confirm-resume-finished") : QStringLiteral("confirm-resume"));
    }
    {
        CMessageTips tips(main);
        tips.setNotice(true);
        tips.setMessage(QCoreApplication::translate(
            "CSavedScanQuestion", "上次保存的扫描记录已损坏、来自其他版本或不属于此卷，已忽略；将重新扫描。"));
        tips.move(300, 200);
        shootDialog(&tips, QStringLiteral("notice-saved-scan-ignored"));
    }
    {
        CMessageTips tips(main);
        tips.setNotice(true);
        tips.cancelButton()->show();
        tips.setMessage(
            QCoreApplication::translate("COutputFolderChoice", "筛选隐藏了 %1 个已勾选的文档，它们也会被恢复。继续吗？").arg(3));
        tips.move(300, 200);
        shootDialog(&tips, QStringLiteral("confirm-hidden-ticked"));
    }
    {
        CMessageTips tips(main);
        tips.setNotice(true);
        tips.cancelButton()->show();
        tips.setMessage(QCoreApplication::translate("COutputFolderChoice",
                                                    "无法确定所选文件夹是否在正在恢复的磁盘上；如果是，写入会覆盖尚未恢复的文档。\n"
                                                    "仍要恢复到这里吗？"));
        tips.move(300, 200);
        shootDialog(&tips, QStringLiteral("confirm-maybe-same-volume"));
    }
    {
        CMessageTips tips(main);
        tips.setNotice(true);
        tips.cancelButton()->show();
        tips.setMessage(QCoreApplication::translate("CRecoveryDialog", "没有找到可以打开文件夹的程序。恢复的文档在：\n%1")
                            .arg(QStringLiteral("/home/user/recovered/Tamsel2026.12.07_21_5_7")));
        tips.setButtonTexts(QCoreApplication::translate("CRecoveryDialog", "复制路径"),
                            QCoreApplication::translate("CRecoveryDialog", "关闭"));
        tips.move(300, 200);
        shootDialog(&tips, QStringLiteral("notice-folder-path"));
    }

    {
        // The question before recovering onto the scanned volume, in the
        // words the result page uses.
        CMessageTips tips(main);
        tips.setNotice(true);
        tips.cancelButton()->show();
        tips.setMessage(QCoreApplication::translate("COutputFolderChoice",
                                                    "所选文件夹在正在恢复的磁盘上：写入会覆盖尚未恢复的文档。\n"
                                                    "请选择另一块磁盘上的文件夹。仍要恢复到这里吗？"));
        tips.move(300, 200);
        shootDialog(&tips, QStringLiteral("confirm-same-volume"));
    }

    // The recovery dialog, running and done.
    QTemporaryDir outDir;
    {
        apptest::Gate recoveryGate;
        auto source = std::make_shared<CMemoryVolume>(QByteArray(4 << 20, 'x'), QStringLiteral("/dev/sdb1"));
        source->setReadHook(recoveryGate.hook());
        CRecoveryDialog dialog;
        dialog.move(290, 200);
        QList<CFileNode> files;
        for (int i = 0; i < 3; ++i)
            files.append(apptest::wholeRecord(QStringLiteral("PDF"), 10000, 100 + i * 40));
        const QString folder = Orvik::recoveryFolder(outDir.path(), QDateTime::currentDateTime());
        dialog.setRecoveryInfo(folder, source);
        recoveryGate.armed = true;
        dialog.startRecovery(files);
        dialog.show();
        settle(200);
        shoot(QStringLiteral("recovery-running"), dialog.frameGeometry());
        {
            // Asked as the dialog asks it: a box of its own, not a child.
            CMessageTips tips;
            tips.setMessage(QCoreApplication::translate("CRecoveryDialog", "数据正在恢复，你确定要退出？"));
            tips.move(355, 240);
            shootDialog(&tips, QStringLiteral("confirm-close-recovery"));
        }
        recoveryGate.open = true;
        wait.restart();
        while (dialog.isRecovering() && wait.elapsed() < 10000)
            settle(20);
        settle(200);
        shoot(QStringLiteral("recovery-done"), dialog.frameGeometry());
        dialog.onRecoveryFailed(folder + QStringLiteral("/2148.PDF"),
                                // The worker's own wording, in the window's language.
                                QCoreApplication::translate("CRecoveryDataFiles",
                                                            "%1: the disk holding the output folder is full. Free "
                                                            "some space there or choose a folder on another disk.")
                                    .arg(CErrnoText::text(ENOSPC)));
        shoot(QStringLiteral("recovery-failed"), dialog.frameGeometry());
        dialog.hide();
    }

    // A source that cannot be opened.
    main->switchPage(1, nullptr);
    settle();
    CPartitionInfo missing = partition;
    missing.devicePath = QStringLiteral("/dev/tamsel-no-such-disk");
    main->switchPage(2, &missing);
    settle(300);
    shoot(QStringLiteral("open-failed"), windowArea);
    if (CMessageTips* notice = main->resultPage()->failureNotice())
        notice->close();
    main->switchPage(1, nullptr);
    settle();

    // A disk that fails reads: the scan page notes it and offers the image.
    {
        CPartitionInfo scratch = zeroImage(QStringLiteral("scratch.img"), qint64(1) << 20);
        main->switchPage(2, &scratch);
        wait.restart();
        while (main->resultPage()->scanWorker().isRunning() && wait.elapsed() < 10000)
            settle(20);
        auto sick = std::make_shared<CMemoryVolume>(QByteArray(16 << 20, '\0'));
        sick->failRange(5 << 20, 3 * 512, EIO);
        CPartitionInfo disk = partition;
        disk.deviceType = QStringLiteral("part");
        main->resultPage()->startWithVolume(disk, sick);
        wait.restart();
        while (main->resultPage()->scanWorker().isRunning() && wait.elapsed() < 10000)
            settle(20);
        settle(600);
        shoot(QStringLiteral("scan-read-errors"), windowArea);
        main->switchPage(1, nullptr);
        settle();
    }

    // A failing drive's tile chosen: the disk page offers the image first.
    main->diskPage()->table()->setCurrentCell(1, 0);
    main->diskPage()->scanClickPartion(1, 0);
    shoot(QStringLiteral("disk-page-failing-drive"), windowArea);

    // The imaging page: copying, stopped, and done.
    {
        QTemporaryDir imagingDir;
        apptest::FixedChooser chooser;
        chooser.outputFolder = imagingDir.path();
        main->setFileChooser(&chooser);
        CPartitionInfo source = zeroImage(QStringLiteral("sdc.img"), qint64(2) << 30);
        source.displayName = QStringLiteral("Backup(sdc1)");
        source.kernelName = QStringLiteral("sdc1");
        source.deviceType = QStringLiteral("part");
        main->switchPage(ITransPage::kImagingPage, &source);
        settle(400);
        shoot(QStringLiteral("imaging-running"), windowArea);
        if (CImagingPage* imaging = main->imagingPage()) {
            imaging->stop();
            wait.restart();
            while (imaging->isRunning() && wait.elapsed() < 20000)
                settle(20);
            settle(300);
            shoot(QStringLiteral("imaging-stopped"), windowArea);
        }
        main->switchPage(1, nullptr);
        settle();
        CPartitionInfo small = zeroImage(QStringLiteral("sdd.img"), qint64(32) << 20);
        small.displayName = QStringLiteral("Photos(sdd1)");
        small.kernelName = QStringLiteral("sdd1");
        small.deviceType = QStringLiteral("part");
        main->switchPage(ITransPage::kImagingPage, &small);
        if (CImagingPage* imaging = main->imagingPage()) {
            wait.restart();
            while (imaging->isRunning() && wait.elapsed() < 20000)
                settle(20);
        }
        settle(300);
        shoot(QStringLiteral("imaging-done"), windowArea);
        main->switchPage(1, nullptr);
        settle();
        main->setFileChooser(nullptr);
    }

    // The side dialogs.
    {
        CAboutWnd about(main);
        about.move(310, 180);
        shootDialog(&about, QStringLiteral("about"));
        CDonation donation(main);
        donation.move(280, 120);
        shootDialog(&donation, QStringLiteral("donation"));
        CConnectWnd qq(0, main);
        qq.move(330, 100);
        shootDialog(&qq, QStringLiteral("contact-qq"));
        CConnectWnd weChat(1, main);
        weChat.move(330, 100);
        shootDialog(&weChat, QStringLiteral("contact-wechat"));
        CFeedBack feedback(main);
        feedback.move(310, 180);
        shootDialog(&feedback, QStringLiteral("feedback"));
    }
    return 0;
}
