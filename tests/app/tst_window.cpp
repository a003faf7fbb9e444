// The window's pages driven through their real widgets, offscreen: page
// switching, the questions asked before quitting or leaving, the partition
// tiles, the recovery dialog and the failures a person can run into.
#include "AppTestSupport.h"

#include "app/CChoiceDiskWnd.h"
#include "app/CDialogFileChooser.h"
#include "app/CDiskButton.h"
#include "app/CCheckHeaderView.h"
#include "app/CMainWindow.h"
#include "app/CMiddleElideDelegate.h"
#include "app/CParentWindow.h"
#include "app/CPopParentWind.h"
#include "app/IFileChooser.h"
#include "app/ITransPage.h"
#include "app/Orvik.h"
#include "disk/CMemoryVolume.h"
#include "recovery/CRecoveryDialog.h"
#include "results/CFolderNode.h"

#include <QDir>
#include <QCheckBox>
#include <QDirIterator>
#include <QRadioButton>
#include <QHeaderView>
#include <QTreeView>
#include <QTableView>
#include <QFile>
#include <QLineEdit>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <unistd.h>

using apptest::BoxAnswerer;
using apptest::Gate;

namespace {

QByteArray readAllOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

struct PageRecorder : ITransPage
{
    QList<int> pages;
    QList<CPartitionInfo> partitions;
    void switchPage(int page, const CPartitionInfo* partition) override
    {
        pages.append(page);
        partitions.append(partition ? *partition : CPartitionInfo());
    }
};

bool makeZeroFile(const QString& path, int bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    return file.write(QByteArray(bytes, '\0')) == bytes;
}

CPartitionInfo memoryPartition(const QString& fileSystem = QStringLiteral("NTFS"))
{
    CPartitionInfo info;
    info.displayName = QStringLiteral("Data(sdz1)");
    info.devicePath = QStringLiteral("/dev/sdz1");
    info.fileSystem = fileSystem;
    return info;
}

// Shows the main window's result page and starts it on `volume`, as a
// forward switch would on a device.
Orvik* startOnVolume(CMainWindow* main, std::shared_ptr<IVolume> volume,
                     const CPartitionInfo& partition = memoryPartition())
{
    Orvik* page = main->resultPage();
    main->diskPage()->hide();
    page->show();
    page->scanWorker().setWindowSize(64 * 1024);
    page->startWithVolume(partition, std::move(volume));
    return page;
}

QColor textColour(QLabel* label)
{
    label->ensurePolished();
    return label->palette().color(label->foregroundRole());
}

bool isGreen(const QColor& c)
{
    return c.green() > c.red() + 40 && c.green() > c.blue();
}

// Every visible widget of the page's upper rows lies inside the page and its
// window, and a button's text fits its width.
void verifyTopRowsFit(Orvik* page)
{
    const QRect inside = page->rect().intersected(QRect(page->mapFrom(page->window(), QPoint(0, 0)), page->window()->size()));
    for (QWidget* w : QList<QWidget*>{page->busyLabel(), page->progressBar(), page->stopButton(), page->doneMark(),
                                      page->detailsLabel(), page->noticeLabel()}) {
        if (!w->isVisible())
            continue;
        const QRect at(w->mapTo(page, QPoint(0, 0)), w->size());
        QVERIFY2(inside.contains(at), qPrintable(w->metaObject()->className() + QStringLiteral(" at %1,%2 %3x%4")
                                                     .arg(at.x()).arg(at.y()).arg(at.width()).arg(at.height())));
    }
    QPushButton* stop = page->stopButton();
    QVERIFY(stop->fontMetrics().horizontalAdvance(stop->text()) + 8 <= stop->width());
    QVERIFY(page->doneMark()->fontMetrics().horizontalAdvance(page->doneMark()->text()) <= page->doneMark()->width());
}

} // namespace

// Gives its answers for the output folder in turn.
class SequenceChooser : public IFileChooser
{
public:
    explicit SequenceChooser(QStringList* answers) : m_answers(answers) {}
    QString chooseImageFile(QWidget*) override { return QString(); }
    QString chooseOutputFolder(QWidget*) override { return m_answers->isEmpty() ? QString() : m_answers->takeFirst(); }

private:
    QStringList* m_answers;
};

class TestWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void tilesGrid_data();
    void tilesGrid();
    void tileClicksAndScanButton();
    void imageButtonScansTheChosenFile();
    void pagesSwitchAndResultPageIsFresh();
    void quitDuringScanAsks();
    void backDuringScanAsks();
    void stopButtonKeepsThePage();
    void recoveryDialogProgressTexts();
    void closeDuringRecoveryAsks();
    void quitDuringRecoveryAsks();
    void stoppedRecoveryNeverBlocksThePage();
    void recoveryFolderNames();
    void uncertainOutputVolumeIsQuestioned();
    void openFailureNamesTheDevice();
    void openFailuresAreWordedByCause();
    void progressRowFitsWithTheNote();
    void progressDetailsAndEmptyResult();
    void recoveryDialogIsCentredAndLinksOnlyAFolder();
    void headerSortsAndSelectsAll();
    void liveFileNote();
    void failingDiskNote();
    void chooserStartFolder();
    void detailsFilterDamageAndTimes();
    void folderViewTicksAndRecoversIntoFolders();
};

void TestWindow::initTestCase()
{
    registerFileNodeMetaType();
}

void TestWindow::tilesGrid_data()
{
    QTest::addColumn<int>("partitions");
    QTest::addColumn<int>("rows");
    QTest::newRow("3") << 3 << 1;
    QTest::newRow("4") << 4 << 2;
    QTest::newRow("5") << 5 << 2;
    QTest::newRow("6") << 6 << 2;
}

void TestWindow::tilesGrid()
{
    QFETCH(int, partitions);
    QFETCH(int, rows);
    const CPartitionList::Probes probes = apptest::partitionProbes(partitions);
    PageRecorder recorder;
    CChoiceDiskWnd page(nullptr, &recorder, &probes);
    QTableWidget* table = page.table();
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(table->rowCount(), rows);
    QCOMPARE(page.tiles().size(), partitions);
    for (int i = 0; i < partitions; ++i) {
        auto* tile = qobject_cast<CDiskButton*>(table->cellWidget(i / 3, i % 3));
        QVERIFY(tile);
        QCOMPARE(tile, page.tiles().at(i));
        QCOMPARE(table->rowHeight(i / 3), 80);
        QCOMPARE(tile->size(), QSize(200, 80));
    }
    // Cells after the last tile are empty.
    for (int i = partitions; i < rows * 3; ++i)
        QVERIFY(!table->cellWidget(i / 3, i % 3));

    CDiskButton* first = page.tiles().at(0);
    QCOMPARE(first->nameText(), QStringLiteral("Data1(sda1)"));
    QCOMPARE(first->spaceText(), QStringLiteral("40GB可用,共100GB"));
    QCOMPARE(first->usedPercent(), 60);
    QCOMPARE(page.tiles().at(1)->nameText(), QStringLiteral("本地磁盘(sda2)"));
}

void TestWindow::tileClicksAndScanButton()
{
    const CPartitionList::Probes probes = apptest::partitionProbes(4);
    PageRecorder recorder;
    CChoiceDiskWnd page(nullptr, &recorder, &probes);

    page.resize(900, 500);
    page.show();
    QTableWidget* table = page.table();
    // Nothing selected: the scan button waits, and the page says why.
    QVERIFY(!page.scanButton()->isEnabled());
    QVERIFY(page.hint()->isVisible());
    QCOMPARE(page.hint()->text(), QStringLiteral("请先选择一个磁盘"));
    page.scanButton()->click();
    QVERIFY(recorder.pages.isEmpty());

    // Empty cells select nothing and start nothing, by mouse or keyboard.
    page.scanClickPartion(1, 1);
    QVERIFY(!page.selectedPartition());
    page.scanPartion(1, 2);
    QVERIFY(recorder.pages.isEmpty());
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(table->model()->index(1, 2)).center());
    QVERIFY(table->selectionModel()->selectedIndexes().isEmpty());
    QVERIFY(!page.selectedPartition());
    table->setFocus();
    table->setCurrentCell(1, 0);
    QCOMPARE(page.selectedPartition()->devicePath, QStringLiteral("/dev/sda4"));
    QVERIFY(page.scanButton()->isEnabled());
    QVERIFY(!page.hint()->isVisible());
    for (int press = 0; press < 4; ++press) {
        QTest::keyClick(table, Qt::Key_Tab);
        const QModelIndex current = table->currentIndex();
        QVERIFY(!(current.row() == 1 && current.column() > 0));
    }
    page.scanClickPartion(1, 0);

    // A click selects, the scan button goes forward with a copy.
    page.scanClickPartion(1, 0);
    QVERIFY(page.selectedPartition());
    QCOMPARE(page.selectedPartition()->devicePath, QStringLiteral("/dev/sda4"));
    page.scanButton()->click();
    QCOMPARE(recorder.pages, QList<int>{2});
    QCOMPARE(recorder.partitions.last().devicePath, QStringLiteral("/dev/sda4"));

    // Clicking A then double-clicking B scans B.
    page.scanClickPartion(0, 0);
    page.scanClickPartion(0, 2);
    page.scanPartion(0, 2);
    QCOMPARE(recorder.partitions.last().devicePath, QStringLiteral("/dev/sda3"));
    QCOMPARE(page.selectedPartition()->devicePath, QStringLiteral("/dev/sda3"));
}

void TestWindow::imageButtonScansTheChosenFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A FAT32 boot sector is named by its type field.
    QByteArray sector(512 * 64, '\0');
    sector.replace(0x52, 8, "FAT32   ");
    sector[510] = char(0x55);
    sector[511] = char(0xAA);
    const QString image = dir.filePath(QStringLiteral("stick.img"));
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(sector);
    file.close();

    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    PageRecorder recorder;
    CChoiceDiskWnd page(nullptr, &recorder, &probes);
    apptest::FixedChooser chooser;
    page.setFileChooser(&chooser);

    page.imageButton()->click(); // cancelled: empty answer
    QCOMPARE(chooser.asked, 1);
    QVERIFY(recorder.pages.isEmpty());

    chooser.imageFile = image;
    page.imageButton()->click();
    QCOMPARE(recorder.pages, QList<int>{2});
    QCOMPARE(recorder.partitions.last().displayName, QStringLiteral("stick.img"));
    QCOMPARE(recorder.partitions.last().devicePath, image);
    QCOMPARE(recorder.partitions.last().fileSystem, QStringLiteral("FAT32"));
}

void TestWindow::pagesSwitchAndResultPageIsFresh()
{
    QTemporaryDir dir;
    QVERIFY(makeZeroFile(dir.filePath(QStringLiteral("img1")), 256 * 1024));
    const CPartitionList::Probes probes = apptest::partitionProbes(1, dir.filePath(QStringLiteral("img")));
    CParentWindow window(&probes);
    CMainWindow* main = window.mainWindow();
    window.show();

    // At start: the disk page, and an idle result page, hidden.
    QVERIFY(main->diskPage()->isVisible());
    QVERIFY(main->resultPage());
    QVERIFY(!main->resultPage()->isVisible());

    main->diskPage()->scanPartion(0, 0);
    QPointer<Orvik> first = main->resultPage();
    QVERIFY(first->isVisible());
    QVERIFY(!main->diskPage()->isVisible());
    QCOMPARE(first->partition().devicePath, dir.filePath(QStringLiteral("img1")));
    // The scan of a small file finishes: the bar is full and the done mark
    // has taken the stop button's place.
    QTRY_VERIFY(!first->scanWorker().isRunning());
    QTRY_VERIFY(first->doneMark()->isVisible());
    QVERIFY(!first->stopButton()->isVisible());
    QCOMPARE(first->progressBar()->value(), first->progressBar()->maximum());
    QCOMPARE(first->doneMark()->text(), QStringLiteral("完成"));
    QVERIFY(isGreen(textColour(first->doneMark())));

    // Something found on this page, so that freshness can be seen.
    first->scanWorker().relay()->postItem(apptest::record(QStringLiteral("PDF"), 5000, 64));
    QTRY_COMPARE(first->foundText(), QStringLiteral("1"));

    // Back without a question (no scan runs): the page goes, later.
    BoxAnswerer noBox(false);
    first->backButton()->click();
    QVERIFY(main->diskPage()->isVisible());
    QVERIFY(!main->resultPage());
    QTRY_VERIFY(first.isNull());
    QCOMPARE(noBox.answered(), 0);

    // Forward again: a new page with nothing on it and a fresh scan.
    main->diskPage()->scanPartion(0, 0);
    Orvik* second = main->resultPage();
    QVERIFY(second);
    QVERIFY(second->isVisible());
    QCOMPARE(second->foundText(), QStringLiteral("0"));
    QCOMPARE(second->treeModel().rowCount(second->treeModel().rootRowIndex()), 0);
    QTRY_VERIFY(!second->scanWorker().isRunning());
}

void TestWindow::quitDuringScanAsks()
{
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    CParentWindow window(&probes);
    CMainWindow* main = window.mainWindow();
    window.show();
    Gate gate;
    auto volume = std::make_shared<CMemoryVolume>(QByteArray(1 << 20, '\0'));
    volume->setReadHook(gate.hook());
    gate.armed = true;
    Orvik* page = startOnVolume(main, volume);
    QVERIFY(page->isScanning());

    {
        BoxAnswerer cancel(false);
        main->closeButton()->click();
        QCOMPARE(cancel.text(), QStringLiteral("磁盘正在扫描，你确定要退出？"));
    }
    QVERIFY(page->isScanning());
    QVERIFY(window.isVisible());

    {
        BoxAnswerer confirm(true);
        QVERIFY(main->confirmQuit());
        QCOMPARE(confirm.answered(), 1);
    }
    QVERIFY(!page->isScanning());
    gate.open = true;
    QVERIFY(page->scanWorker().wait(10000));

    // The disk page shown: quitting asks nothing.
    BoxAnswerer none(false);
    main->switchPage(1, nullptr);
    QVERIFY(main->confirmQuit());
    QCOMPARE(none.answered(), 0);
}

void TestWindow::backDuringScanAsks()
{
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    CParentWindow window(&probes);
    CMainWindow* main = window.mainWindow();
    window.show();
    Gate gate;
    auto volume = std::make_shared<CMemoryVolume>(QByteArray(1 << 20, '\0'));
    volume->setReadHook(gate.hook());
    gate.armed = true;
    QPointer<Orvik> page = startOnVolume(main, volume);

    {
        BoxAnswerer cancel(false);
        page->backButton()->click();
        QCOMPARE(cancel.text(), QStringLiteral("正在扫描磁盘，你确定要退出？"));
    }
    QVERIFY(page->isScanning());
    QCOMPARE(main->resultPage(), page.data());

    {
        BoxAnswerer confirm(true);
        page->backButton()->click();
        QCOMPARE(confirm.answered(), 1);
    }
    // The page stays until the worker has stopped, then goes.
    QCOMPARE(main->resultPage(), page.data());
    gate.open = true;
    QTRY_VERIFY(!main->resultPage());
    QVERIFY(main->diskPage()->isVisible());
    QTRY_VERIFY(page.isNull());
}

void TestWindow::stopButtonKeepsThePage()
{
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    CParentWindow window(&probes);
    CMainWindow* main = window.mainWindow();
    window.show();
    Gate gate;
    auto volume = std::make_shared<CMemoryVolume>(QByteArray(1 << 20, '\0'));
    volume->setReadHook(gate.hook());
    gate.armed = true;
    Orvik* page = startOnVolume(main, volume);
    QSignalSpy finished(&page->scanWorker(), &CRecoveryControl::scanThreadFinish);

    page->updateProcess(1000, 250);
    page->stopButton()->click();
    QVERIFY(page->doneMark()->isVisible());
    QVERIFY(!page->busyLabel()->isVisible());
    // Stopped at a quarter: the bar stays there, the mark says stopped and
    // is not drawn in the green of a finished scan.
    QCOMPARE(double(page->progressBar()->value()) / page->progressBar()->maximum(), 0.25);
    QCOMPARE(page->doneMark()->text(), QStringLiteral("已停止"));
    QVERIFY(!isGreen(textColour(page->doneMark())));
    QVERIFY(page->detailsLabel()->text().startsWith(QStringLiteral("25.0%")));
    // A window already in flight reports nothing new.
    page->updateProcess(1000, 500);
    QCOMPARE(page->progressBar()->value() * 4, page->progressBar()->maximum());
    QVERIFY(!page->stopButton()->isVisible());
    gate.open = true;
    QTRY_COMPARE(finished.count(), 1);
    QTest::qWait(50);
    QCOMPARE(main->resultPage(), page);
    QVERIFY(page->isVisible());

    // Progress that was in flight when the stop came changes nothing.
    page->updateProcess(1000, 10);
    QVERIFY(!page->stopButton()->isVisible());
    QVERIFY(page->doneMark()->isVisible());
    QCOMPARE(page->doneMark()->text(), QStringLiteral("已停止"));

    // Back now leaves without a question.
    BoxAnswerer none(false);
    page->backButton()->click();
    QVERIFY(!main->resultPage());
    QCOMPARE(none.answered(), 0);
}

void TestWindow::recoveryDialogProgressTexts()
{
    QTemporaryDir out;
    QByteArray bytes(64 * 1024, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + 3);
    auto volume = std::make_shared<CMemoryVolume>(bytes);

    CRecoveryDialog dialog(4096);
    QString opened;
    dialog.setFolderOpener([&opened](const QString& folder) { opened = folder; });
    QList<CFileNode> files;
    for (int i = 0; i < 3; ++i)
        files.append(apptest::wholeRecord(QStringLiteral("PDF"), 3000 + i, 8 + i * 16));
    const QString folder = out.filePath(QStringLiteral("恢复"));
    dialog.setRecoveryInfo(folder, volume);

    // What the worker's signals make of the status, in order.
    dialog.startRecovery({});
    QTRY_COMPARE_WITH_TIMEOUT(dialog.statusText(), QStringLiteral("恢复完成！"), apptest::kRecoveryWaitMs);
    QVERIFY(dialog.openFolderButton()->isVisibleTo(&dialog));

    QSignalSpy values(&dialog.worker(), &CRecoveryDataFiles::sigRecoveryFinished);
    dialog.startRecovery(files);
    QCOMPARE(dialog.statusText(), QStringLiteral("第1个文件正在恢复，总共3个文件。"));
    QVERIFY(dialog.openFolderButton()->isHidden());
    dialog.onRecoveryFinished(2);
    QCOMPARE(dialog.statusText(), QStringLiteral("第2个文件正在恢复,总共3个文件。"));
    QTRY_VERIFY(!dialog.isRecovering());
    QTRY_COMPARE_WITH_TIMEOUT(dialog.statusText(), QStringLiteral("恢复完成！"), apptest::kRecoveryWaitMs);
    QVERIFY(dialog.progressBar()->isHidden());
    QVERIFY(!dialog.openFolderButton()->isHidden());
    QCOMPARE(dialog.linkPath(), folder);
    dialog.openFolderButton()->click();
    QCOMPARE(opened, folder);

    for (int i = 0; i < 3; ++i) {
        QFile file(folder + QStringLiteral("/%1.PDF").arg(8 + i * 16));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        QCOMPARE(file.readAll(), bytes.mid((8 + i * 16) * 512, 3000 + i));
    }

    // A failure is shown with the file and the reason, never as complete.
    dialog.onRecoveryFailed(folder + QStringLiteral("/9.PDF"), QStringLiteral("No space left on device."));
    QVERIFY(dialog.statusText() != QStringLiteral("恢复完成！"));
    QVERIFY(dialog.errorText().contains(QStringLiteral("9.PDF")));
    QVERIFY(dialog.errorText().contains(QStringLiteral("No space left on device.")));

    // A document over an unreadable sector, and one that is damaged: the
    // others are written, and the end says what was left out. A damaged
    // one still ticked was ticked on its own (damage takes the tick away),
    // so it is written as it is.
    auto damaged = std::make_shared<CMemoryVolume>(bytes);
    damaged->failRange(9 * 512, 512, EIO);
    const QString second = out.filePath(QStringLiteral("二"));
    dialog.setRecoveryInfo(second, damaged);
    QList<CFileNode> mixed = files;
    mixed[2].details.integrity = CDocumentDetails::IntegrityDamaged;
    mixed[2].details.integrityReason = QStringLiteral("cut short");
    dialog.startRecovery(mixed);
    QTRY_VERIFY(!dialog.isRecovering());
    QTRY_COMPARE_WITH_TIMEOUT(dialog.statusText(), QStringLiteral("恢复完成！"), apptest::kRecoveryWaitMs);
    QVERIFY2(dialog.errorText().startsWith(QStringLiteral("1 个文件没有恢复：0 个已损坏，1 个所在扇区无法读取。")),
             qPrintable(dialog.errorText()));
    QCOMPARE(QDir(second).entryList({QStringLiteral("*.PDF")}, QDir::Files | QDir::Hidden),
             (QStringList{QStringLiteral("24.PDF"), QStringLiteral("40.PDF")}));
}

void TestWindow::closeDuringRecoveryAsks()
{
    QTemporaryDir out;
    Gate gate;
    auto volume = std::make_shared<CMemoryVolume>(QByteArray(256 * 1024, 'a'));
    volume->setReadHook(gate.hook());
    CRecoveryDialog dialog(4096);
    dialog.setRecoveryInfo(out.filePath(QStringLiteral("r")), volume);
    gate.armed = true;
    dialog.startRecovery({apptest::wholeRecord(QStringLiteral("PDF"), 20000, 0),
                          apptest::wholeRecord(QStringLiteral("PDF"), 20000, 100)});
    dialog.show();
    QTRY_VERIFY(gate.waiting.load() > 0);

    {
        BoxAnswerer cancel(false);
        dialog.closeBar()->closeButton()->click();
        QCOMPARE(cancel.text(), QStringLiteral("数据正在恢复，你确定要退出？"));
    }
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.isRecovering());

    {
        // Escape asks the same question instead of hiding a running recovery.
        BoxAnswerer cancel(false);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCOMPARE(cancel.answered(), 1);
        QVERIFY(dialog.isVisible());
    }

    {
        BoxAnswerer confirm(true);
        dialog.closeBar()->closeButton()->click();
        QCOMPARE(confirm.answered(), 1);
    }
    QVERIFY(!dialog.isVisible());
    gate.open = true;
    QVERIFY(dialog.worker().wait(10000));
    // The file being copied was finished, whole, and the next one never
    // begun: a stop leaves no half file.
    QCOMPARE(dialog.worker().writtenCount(), 1);
    QCOMPARE(QDir(out.filePath(QStringLiteral("r"))).entryList(QDir::Files | QDir::Hidden),
             QStringList({QStringLiteral("0.PDF"), QStringLiteral("report.xml")}));
    QCOMPARE(QFileInfo(out.filePath(QStringLiteral("r/0.PDF"))).size(), 20000);

    {
        // Closing after the end asks nothing.
        dialog.show();
        BoxAnswerer none(false);
        dialog.closeBar()->closeButton()->click();
        QVERIFY(!dialog.isVisible());
        QCOMPARE(none.answered(), 0);
    }

    // The recovery ends while the question is open: the question goes, and
    // the result stays in view with its folder link.
    gate.open = false;
    dialog.setRecoveryInfo(out.filePath(QStringLiteral("s")), volume);
    dialog.startRecovery({apptest::record(QStringLiteral("PDF"), 20000, 0)});
    dialog.show();
    QTRY_VERIFY(gate.waiting.load() > 0);
    QString asked;
    QTimer release;
    release.setInterval(10);
    QObject::connect(&release, &QTimer::timeout, [&]() {
        if (auto* box = qobject_cast<CMessageTips*>(QApplication::activeModalWidget())) {
            asked = box->message();
            gate.open = true;
        }
    });
    release.start();
    dialog.closeBar()->closeButton()->click();
    release.stop();
    QCOMPARE(asked, QStringLiteral("数据正在恢复，你确定要退出？"));
    QVERIFY(dialog.isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(dialog.statusText(), QStringLiteral("恢复完成！"), apptest::kRecoveryWaitMs);
    QVERIFY(!dialog.openFolderButton()->isHidden());
}

void TestWindow::quitDuringRecoveryAsks()
{
    QTemporaryDir out;
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    CParentWindow window(&probes);
    CMainWindow* main = window.mainWindow();
    window.show();
    auto volume = std::make_shared<CMemoryVolume>(QByteArray(256 * 1024, 'b'));
    Orvik* page = startOnVolume(main, volume);
    QTRY_VERIFY(!page->scanWorker().isRunning());

    Gate gate;
    volume->setReadHook(gate.hook());
    gate.armed = true;
    page->recoveryDialog().setRecoveryInfo(out.filePath(QStringLiteral("r")), volume);
    page->recoveryDialog().startRecovery({apptest::wholeRecord(QStringLiteral("PDF"), 20000, 0)});
    QTRY_VERIFY(gate.waiting.load() > 0);
    QVERIFY(page->isRecovering());

    {
        BoxAnswerer cancel(false);
        QVERIFY(!main->confirmQuit());
        QCOMPARE(cancel.text(), QStringLiteral("数据正在恢复，你确定要退出？"));
    }
    QVERIFY(page->isRecovering());
    // Going back while it runs stops it after its current file, and the
    // page is freed only once the worker has ended.
    QPointer<Orvik> guard(page);
    page->backButton()->click();
    QVERIFY(!main->resultPage());
    gate.open = true;
    QTRY_VERIFY(guard.isNull());
    QVERIFY(QFile::exists(out.filePath(QStringLiteral("r/0.PDF"))));
}

void TestWindow::stoppedRecoveryNeverBlocksThePage()
{
    QTemporaryDir out;
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    CParentWindow window(&probes);
    CMainWindow* main = window.mainWindow();
    apptest::FixedChooser chooser;
    chooser.outputFolder = out.path();
    main->setFileChooser(&chooser);
    window.show();
    auto volume = std::make_shared<CMemoryVolume>(QByteArray(256 * 1024, 'd'), QStringLiteral("not-a-device"));
    QPointer<Orvik> page = startOnVolume(main, volume);
    QTRY_VERIFY(!page->scanWorker().isRunning());
    page->scanWorker().relay()->postItem(apptest::wholeRecord(QStringLiteral("PDF"), 5000, 8));
    QTRY_COMPARE(page->foundText(), QStringLiteral("1"));
    page->treeModel().setData(page->treeModel().typeRowIndex(5), Qt::Checked, Qt::CheckStateRole);

    // Reads are held until the test lets them go, or for 5 s at most: a
    // page that waits for the worker shows as a read held that long.
    std::atomic<bool> armed{true};
    std::atomic<bool> release{false};
    std::atomic<int> held{0};
    std::atomic<bool> heldTooLong{false};
    volume->setReadHook([&](int64_t, size_t) {
        if (!armed)
            return;
        ++held;
        QElapsedTimer timer;
        timer.start();
        while (!release && timer.elapsed() < 5000)
            QThread::msleep(2);
        if (!release)
            heldTooLong = true;
    });
    {
        BoxAnswerer accept(true);
        page->recoverButton()->click();
    }
    QTRY_VERIFY(held.load() > 0);
    {
        BoxAnswerer confirm(true);
        page->recoveryDialog().closeBar()->closeButton()->click();
        QCOMPARE(confirm.text(), QStringLiteral("数据正在恢复，你确定要退出？"));
    }
    // 恢复 again while the stopped run still holds its read: it returns.
    {
        BoxAnswerer accept(true);
        page->recoverButton()->click();
    }
    QVERIFY(page->recoveryDialog().isVisible());
    QVERIFY(!heldTooLong);
    page->recoveryDialog().hide();
    // 返回 while it is still held: the page leaves at once and goes later.
    page->backButton()->click();
    QVERIFY(!main->resultPage());
    QTest::qWait(100);
    QVERIFY(!heldTooLong);
    QVERIFY(!page.isNull());
    release = true;
    QTRY_VERIFY(page.isNull());
    QVERIFY(!heldTooLong);
    // Nothing half-written anywhere (the held read was the document's last,
    // so it may have been finished), and the queued run never began.
    QStringList files;
    QDirIterator it(out.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).fileName() == QLatin1String("report.xml"))
            continue; // the record of what was written
        files << QFileInfo(path).fileName();
        QCOMPARE(QFileInfo(path).size(), qint64(5000));
    }
    QVERIFY2(files.isEmpty() || files == QStringList{QStringLiteral("8.PDF")}, qPrintable(files.join(' ')));
}

void TestWindow::recoveryFolderNames()
{
    QTemporaryDir out;
    const QDateTime when(QDate(2026, 12, 6), QTime(9, 5, 7));
    const QString first = Orvik::recoveryFolder(out.path(), when);
    QCOMPARE(first, out.path() + QStringLiteral("/Tamsel2026.12.06_9_5_7"));
    QVERIFY(QDir().mkpath(first));
    QCOMPARE(Orvik::recoveryFolder(out.path(), when), first + QStringLiteral(" (1)"));
    QVERIFY(QDir().mkpath(first + QStringLiteral(" (1)")));
    QCOMPARE(Orvik::recoveryFolder(out.path(), when), first + QStringLiteral(" (2)"));
}

void TestWindow::uncertainOutputVolumeIsQuestioned()
{
    // A source that is no device and no file: where it lives cannot be told,
    // so recovering from it asks first; declining starts nothing.
    QTemporaryDir out;
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    CParentWindow window(&probes);
    CMainWindow* main = window.mainWindow();
    apptest::FixedChooser chooser;
    chooser.outputFolder = out.path();
    main->setFileChooser(&chooser);
    window.show();
    auto volume = std::make_shared<CMemoryVolume>(QByteArray(256 * 1024, 'c'), QStringLiteral("not-a-device"));
    Orvik* page = startOnVolume(main, volume);
    QTRY_VERIFY(!page->scanWorker().isRunning());
    page->scanWorker().relay()->postItem(apptest::wholeRecord(QStringLiteral("PDF"), 5000, 8));
    QTRY_COMPARE(page->foundText(), QStringLiteral("1"));
    QVERIFY(!page->recoverButton()->isEnabled());
    page->treeModel().setData(page->treeModel().typeRowIndex(5), Qt::Checked, Qt::CheckStateRole);
    QCOMPARE(page->tickedText(), QStringLiteral("1"));
    QVERIFY(page->recoverButton()->isEnabled());

    {
        // 取消 goes back to the folder chooser; cancelling that ends it.
        QStringList answers{out.path(), QString()};
        SequenceChooser again(&answers);
        page->setFileChooser(&again);
        BoxAnswerer decline(false);
        page->recoverButton()->click();
        QCOMPARE(decline.answered(), 1);
        QVERIFY(decline.text().contains(QStringLiteral("覆盖")));
        QVERIFY(answers.isEmpty());
        page->setFileChooser(&chooser);
    }
    QVERIFY(!page->recoveryDialog().isVisible());
    QVERIFY(QDir(out.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

    {
        BoxAnswerer accept(true);
        page->recoverButton()->click();
        QCOMPARE(accept.answered(), 1);
    }
    QVERIFY(page->recoveryDialog().isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(page->recoveryDialog().statusText(), QStringLiteral("恢复完成！"), apptest::kRecoveryWaitMs);
    QVERIFY(page->recoveryDialog().savePath().startsWith(out.path() + QStringLiteral("/Tamsel")));
    QVERIFY(QFile::exists(page->recoveryDialog().savePath() + QStringLiteral("/8.PDF")));
    page->recoveryDialog().hide();
}

void TestWindow::openFailureNamesTheDevice()
{
    QTemporaryDir dir;
    CPartitionList::Probes probes = apptest::partitionProbes(1, dir.filePath(QStringLiteral("missing")));
    // lsblk names no file system: the page would otherwise show its note.
    probes.readLsblk = [json = probes.readLsblk()]() {
        return QByteArray(json).replace("\"fstype\":\"ntfs\"", "\"fstype\":null");
    };
    CParentWindow window(&probes);
    CMainWindow* main = window.mainWindow();
    window.show();
    main->diskPage()->scanPartion(0, 0);
    Orvik* page = main->resultPage();
    QTRY_VERIFY(page->failureNotice());
    const QString text = page->failureNotice()->message();
    QVERIFY2(text.contains(dir.filePath(QStringLiteral("missing1"))), qPrintable(text));
    // A missing image: said so, without the advice for raw disks.
    QVERIFY2(text.contains(QStringLiteral("找不到")), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("sudo")));
    QVERIFY(!text.contains(QStringLiteral("disk 组")));
    // Nothing was read, so nothing is said about its file system.
    QVERIFY(!page->noticeLabel()->isVisible());
    QVERIFY(page->doneMark()->isVisible());
    QVERIFY(!page->stopButton()->isVisible());
    page->failureNotice()->confirmButton()->click();

    BoxAnswerer none(false);
    page->backButton()->click();
    QVERIFY(!main->resultPage());
    QCOMPARE(none.answered(), 0);
}

void TestWindow::openFailuresAreWordedByCause()
{
    using Kind = CFileVolume::SourceKind;
    const auto text = [](int error, Kind kind, bool root) {
        CFileVolume::OpenError e;
        e.error = error;
        e.kind = kind;
        e.privileged = root;
        return Orvik::openFailureText(QStringLiteral("/x/disk.img"), e);
    };
    // An image file another user keeps to themselves: its permissions, not
    // the disk group.
    const QString image = text(EACCES, Kind::RegularFile, false);
    QVERIFY2(image.contains(QStringLiteral("权限")) && image.contains(QStringLiteral("镜像文件")), qPrintable(image));
    QVERIFY(!image.contains(QStringLiteral("sudo")) && !image.contains(QStringLiteral("disk 组")));
    // Already root and still refused: sudo would change nothing.
    for (Kind kind : {Kind::BlockDevice, Kind::RegularFile}) {
        const QString refused = text(EPERM, kind, true);
        QVERIFY2(refused.contains(QStringLiteral("系统拒绝")), qPrintable(refused));
        QVERIFY(!refused.contains(QStringLiteral("sudo")));
    }
    // A raw disk as a user: the one case for sudo or the disk group.
    QVERIFY(text(EACCES, Kind::BlockDevice, false).contains(QStringLiteral("sudo")));
    QVERIFY(text(ENOENT, Kind::Missing, false).contains(QStringLiteral("找不到")));
    QVERIFY(text(0, Kind::Other, false).contains(QStringLiteral("既不是磁盘")));

    // The volume layer tells what it found at the path.
    QTemporaryDir dir;
    CFileVolume::OpenError error;
    QVERIFY(!CFileVolume::open(dir.filePath(QStringLiteral("none.img")), &error));
    QCOMPARE(error.kind, Kind::Missing);
    QVERIFY(!CFileVolume::open(dir.path(), &error));
    QCOMPARE(error.kind, Kind::Other);
    QCOMPARE(error.privileged, ::geteuid() == 0);
}

// A disk with bad sectors: the details line says how much could not be
// read, and the note, above any other, advises imaging the disk first.
void TestWindow::failingDiskNote()
{
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    CParentWindow window(&probes);
    window.show();
    auto volume = std::make_shared<CMemoryVolume>(QByteArray(4 << 20, '\0'));
    volume->failRange(1 << 20, 3 * 512, EIO);
    Orvik* page = startOnVolume(window.mainWindow(), volume, memoryPartition(QString()));
    QTRY_VERIFY(!page->scanWorker().isRunning());
    QCoreApplication::processEvents();
    QVERIFY2(page->detailsLabel()->text().contains(QStringLiteral("无法读取 ")), qPrintable(page->detailsLabel()->text()));
    QVERIFY(page->noticeLabel()->isVisible());
    QVERIFY2(page->noticeLabel()->text().contains(QStringLiteral("tamsel-cli image")), qPrintable(page->noticeLabel()->text()));
}

void TestWindow::liveFileNote()
{
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    for (const QString& fileSystem : {QStringLiteral("EXT4"), QString(), QStringLiteral("NTFS"), QStringLiteral("FAT32"),
                                      CPartitionInfo::autoFileSystem()}) {
        CParentWindow window(&probes);
        window.show();
        Orvik* page = startOnVolume(window.mainWindow(), std::make_shared<CMemoryVolume>(QByteArray(64 * 1024, '\0')),
                                    memoryPartition(fileSystem));
        // ext4 has a live-file pass, but its deleted files keep no names.
        const bool ext4 = fileSystem == QLatin1String("EXT4");
        const bool livePass = fileSystem == QLatin1String("NTFS") || fileSystem == QLatin1String("FAT32")
            || fileSystem == CPartitionInfo::autoFileSystem() || ext4;
        QCOMPARE(page->noticeLabel()->isVisible(), !livePass || ext4);
        if (!livePass)
            QVERIFY(page->noticeLabel()->text().contains(QStringLiteral("现有文件")));
        if (ext4)
            QCOMPARE(page->noticeLabel()->text(), QStringLiteral("已删除文件只能按内容找回，没有原文件名"));
        QTRY_VERIFY(!page->scanWorker().isRunning());
        QCoreApplication::processEvents();
        // Zeros are no NTFS or FAT32: a pass that was asked for says it
        // could not read one; "auto" says it found none.
        QVERIFY(page->noticeLabel()->isVisible());
        if (fileSystem == QLatin1String("NTFS") || fileSystem == QLatin1String("FAT32") || ext4) {
            QCOMPARE(page->noticeLabel()->text(), QStringLiteral("无法读取文件系统：现有文件的文档也会列出"));
            QVERIFY(page->noticeLabel()->toolTip().contains(fileSystem));
        } else {
            QVERIFY(page->noticeLabel()->text().contains(QStringLiteral("exFAT 或 ext4")));
        }
    }
}

void TestWindow::chooserStartFolder()
{
    QTemporaryDir home;
    QProcessEnvironment env;
    // No desktop folder: the home folder.
    QCOMPARE(CDialogFileChooser::startFolder(env, home.path(), home.path()), home.path());
    QCOMPARE(CDialogFileChooser::startFolder(env, home.path(), home.filePath(QStringLiteral("Desktop"))),
             home.path());
    QVERIFY(QDir(home.path()).mkdir(QStringLiteral("Desktop")));
    QCOMPARE(CDialogFileChooser::startFolder(env, home.path(), home.filePath(QStringLiteral("Desktop"))),
             home.filePath(QStringLiteral("Desktop")));

    // A localised desktop folder named in user-dirs.dirs.
    QVERIFY(QDir(home.path()).mkpath(QStringLiteral(".config")));
    QVERIFY(QDir(home.path()).mkdir(QStringLiteral("桌面")));
    QFile dirs(home.filePath(QStringLiteral(".config/user-dirs.dirs")));
    QVERIFY(dirs.open(QIODevice::WriteOnly));
    dirs.write("# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/\xe6\xa1\x8c\xe9\x9d\xa2\"\n");
    dirs.close();
    QCOMPARE(CDialogFileChooser::desktopIn(home.path()), home.filePath(QStringLiteral("桌面")));
}

void TestWindow::progressRowFitsWithTheNote()
{
    // A volume with no live-file pass shows the note; the stop button, the
    // bar and later the done mark stay inside the 900x550 window.
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    CParentWindow window(&probes);
    window.setFixedSize(900, 550);
    window.show();
    Gate gate;
    auto volume = std::make_shared<CMemoryVolume>(QByteArray(1 << 20, '\0'));
    volume->setReadHook(gate.hook());
    gate.armed = true;
    Orvik* page = startOnVolume(window.mainWindow(), volume, memoryPartition(QString()));
    // Whatever fails below, the reader is let go at the end.
    struct Release { Gate& g; ~Release() { g.open = true; } } release{gate};
    page->updateProcess(1000, 420);
    QTest::qWait(20);
    QVERIFY(page->noticeLabel()->isVisible());
    QVERIFY(page->stopButton()->isVisible());
    verifyTopRowsFit(page);
    gate.open = true;
    QTRY_VERIFY(page->doneMark()->isVisible());
    QTRY_VERIFY(!page->scanWorker().isRunning());
    QVERIFY(page->noticeLabel()->isVisible());
    verifyTopRowsFit(page);
}

void TestWindow::progressDetailsAndEmptyResult()
{
    // The line under the bar: share, amount, and the time left once the
    // rate is known.
    const qint64 gib = qint64(1) << 30;
    QCOMPARE(Orvik::progressDetails(120 * gib, 103, 1.0, true), QStringLiteral("10.3%  已扫描 12.4 GB / 120 GB"));
    QCOMPARE(Orvik::progressDetails(120 * gib, 250, 600.0, true),
             QStringLiteral("25.0%  已扫描 30.0 GB / 120 GB  剩余 30 分钟"));
    QCOMPARE(Orvik::progressDetails(120 * gib, 500, 7200.0, true),
             QStringLiteral("50.0%  已扫描 60.0 GB / 120 GB  剩余 2 小时 0 分钟"));
    QVERIFY(!Orvik::progressDetails(120 * gib, 500, 7200.0, false).contains(QStringLiteral("剩余")));

    // A scan that finds nothing says so; zeros without a file system, or a
    // source smaller than a sector, do not look like a disk.
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    struct Case { QString fileSystem; int bytes; QString says; };
    for (const Case& c : {Case{QStringLiteral("NTFS"), 256 * 1024, QString()},
                          Case{QString(), 256 * 1024, QStringLiteral("不像磁盘")},
                          Case{QString(), 100, QStringLiteral("不到一个扇区")}}) {
        CParentWindow window(&probes);
        window.show();
        Orvik* page = startOnVolume(window.mainWindow(), std::make_shared<CMemoryVolume>(QByteArray(c.bytes, '\0')),
                                    memoryPartition(c.fileSystem));
        QTRY_VERIFY(page->doneMark()->isVisible());
        QTRY_VERIFY(page->emptyLabel()->isVisible());
        const QString text = page->emptyLabel()->text();
        QVERIFY2(text.startsWith(QStringLiteral("没有找到丢失的文档")), qPrintable(text));
        QCOMPARE(text.contains(QStringLiteral("不像磁盘")), !c.says.isEmpty());
        if (!c.says.isEmpty())
            QVERIFY2(text.contains(c.says), qPrintable(text));
        QVERIFY(page->detailsLabel()->text().startsWith(QStringLiteral("100.0%")));
        QTRY_VERIFY(!page->scanWorker().isRunning());
    }
}

void TestWindow::recoveryDialogIsCentredAndLinksOnlyAFolder()
{
    QTemporaryDir out;
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    CParentWindow window(&probes);
    apptest::FixedChooser chooser;
    chooser.outputFolder = out.path();
    window.mainWindow()->setFileChooser(&chooser);
    window.setFixedSize(900, 550);
    window.move(130, 70);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto volume = std::make_shared<CMemoryVolume>(QByteArray(256 * 1024, 'c'), QStringLiteral("not-a-device"));
    Orvik* page = startOnVolume(window.mainWindow(), volume);
    QTRY_VERIFY(!page->scanWorker().isRunning());
    page->scanWorker().relay()->postItem(apptest::record(QStringLiteral("PDF"), 5000, 8));
    QTRY_COMPARE(page->foundText(), QStringLiteral("1"));
    page->treeModel().setData(page->treeModel().typeRowIndex(5), Qt::Checked, Qt::CheckStateRole);
    {
        BoxAnswerer accept(true);
        page->recoverButton()->click();
    }
    CRecoveryDialog& dialog = page->recoveryDialog();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.statusText(), QStringLiteral("恢复完成！"), apptest::kRecoveryWaitMs);
    const QPoint offset = dialog.frameGeometry().center() - window.frameGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("%1,%2").arg(offset.x()).arg(offset.y())));
    QVERIFY(!dialog.openFolderButton()->isHidden());

    // A folder that was never made gets no link.
    dialog.setRecoveryInfo(out.filePath(QStringLiteral("never-made")), volume);
    dialog.onRecoveryFailed(out.filePath(QStringLiteral("never-made/8.PDF")), QStringLiteral("Read-only file system."));
    QVERIFY(dialog.openFolderButton()->isHidden());
    dialog.hide();
}

void TestWindow::headerSortsAndSelectsAll()
{
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    CParentWindow window(&probes);
    window.setFixedSize(900, 550);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Orvik* page = startOnVolume(window.mainWindow(), std::make_shared<CMemoryVolume>(QByteArray(64 * 1024, '\0')));
    QTRY_VERIFY(!page->scanWorker().isRunning());
    const struct { const char* type; qint64 size; quint64 sector; } docs[] = {
        {"PDF", 300, 10240}, {"PDF", 100, 2048}, {"PDF", 500, 999}, {"DOC", 200, 20480}};
    for (const auto& d : docs)
        page->scanWorker().relay()->postItem(apptest::wholeRecord(QString::fromLatin1(d.type), d.size, d.sector));
    QTRY_COMPARE(page->foundText(), QStringLiteral("4"));
    page->flushRefresh();

    QTableView* table = page->tableView();
    auto* header = qobject_cast<CCheckHeaderView*>(table->horizontalHeader());
    QVERIFY(header);
    QVERIFY(header->isSortIndicatorShown());
    const auto clickSection = [&](int section) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                                 header->height() / 2));
    };
    const auto names = [&] {
        QStringList shown;
        for (int row = 0; row < table->model()->rowCount(); ++row)
            shown << table->model()->index(row, 1).data().toString();
        return shown.join(QLatin1Char(' '));
    };

    // 名字: natural order, arrow up.
    clickSection(1);
    QCOMPARE(names(), QStringLiteral("999.PDF 2048.PDF 10240.PDF"));
    QCOMPARE(header->sortIndicatorSection(), 1);
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);
    // 大小 alternates, largest first, and the arrow follows.
    clickSection(2);
    QCOMPARE(names(), QStringLiteral("999.PDF 10240.PDF 2048.PDF"));
    QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    clickSection(2);
    QCOMPARE(names(), QStringLiteral("2048.PDF 10240.PDF 999.PDF"));
    QCOMPARE(header->sortIndicatorOrder(), Qt::AscendingOrder);

    // The volume's row: every document, still by size, arrow kept.
    QTreeView* tree = page->treeView();
    const QModelIndex top = page->treeModel().rootRowIndex();
    tree->setCurrentIndex(top);
    page->showFile(top);
    QCOMPARE(names(), QStringLiteral("2048.PDF 20480.DOC 10240.PDF 999.PDF"));
    QCOMPARE(header->sortIndicatorSection(), 2);

    // The header's box ticks the rows shown; the volume's box shows it.
    QCOMPARE(page->tickedText(), QStringLiteral("0"));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, header->checkBoxRect().center());
    QCOMPARE(page->tickedText(), QStringLiteral("4"));
    QCOMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(header->sortIndicatorSection(), 2); // the box sorts nothing
    // The volume's box unticks everything again.
    const QRect topRow = tree->visualRect(top);
    QStyleOptionViewItem option;
    option.initFrom(tree);
    option.rect = topRow;
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    const QRect box = tree->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, tree);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, box.center());
    QCOMPARE(page->tickedText(), QStringLiteral("0"));
    QCOMPARE(table->model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));

    // Space ticks the selected rows, wherever the current cell is, and the
    // header's box follows; again, it unticks them.
    const auto tickAt = [&](int row) { return table->model()->index(row, 0).data(Qt::CheckStateRole).toInt(); };
    const auto headerBox = [&] { return table->model()->headerData(0, Qt::Horizontal, Qt::CheckStateRole).toInt(); };
    QCOMPARE(headerBox(), int(Qt::Unchecked));
    table->setFocus();
    table->setCurrentIndex(table->model()->index(0, 1));
    table->selectionModel()->select(table->model()->index(2, 1),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(table, Qt::Key_Space);
    QCOMPARE(page->tickedText(), QStringLiteral("2"));
    QCOMPARE(QVector<int>({tickAt(0), tickAt(1), tickAt(2), tickAt(3)}),
             QVector<int>({Qt::Checked, Qt::Unchecked, Qt::Checked, Qt::Unchecked}));
    QCOMPARE(headerBox(), int(Qt::PartiallyChecked));
    QTest::keyClick(table, Qt::Key_Space);
    QCOMPARE(page->tickedText(), QStringLiteral("0"));
    QCOMPARE(headerBox(), int(Qt::Unchecked));

    // A damaged document of a long type name: what the cell shows still
    // ends with the mark, in the window's narrowest width.
    CFileNode damaged = apptest::record(QStringLiteral("PDF"), 700, 40960);
    damaged.overwritten = 0.5;
    page->scanWorker().relay()->postItem(damaged);
    QTRY_COMPARE(page->foundText(), QStringLiteral("5"));
    page->flushRefresh();
    auto* types = qobject_cast<CMiddleElideDelegate*>(table->itemDelegateForColumn(CFileInfoTableModel::TypeColumn));
    QVERIFY(types);
    int shown = 0;
    for (int row = 0; row < table->model()->rowCount(); ++row) {
        const QModelIndex type = table->model()->index(row, CFileInfoTableModel::TypeColumn);
        const QString full = type.data().toString();
        if (!full.endsWith(QStringLiteral("（已损坏）")))
            continue;
        const QString text = types->shownText(table, type, table->visualRect(type));
        QVERIFY2(text != full && text.endsWith(QStringLiteral("（已损坏）")), qPrintable(text));
        ++shown;
    }
    QCOMPARE(shown, 1);
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"

void TestWindow::detailsFilterDamageAndTimes()
{
    // Three documents of known titles and times, and a copy of the DOCX with
    // a byte flipped inside a deflated member, on a volume the window scans.
    const auto data = [](const char* name) {
        QFile f(QStringLiteral(TAMSEL_TEST_DATA "/") + QLatin1String(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QByteArray broken = data("docx_cjk_core.docx");
    const int member = broken.indexOf("word/document.xml");
    QVERIFY(member > 0);
    broken[member + 217] = char(broken[member + 217] ^ 0x5A);
    QByteArray bytes(64 * 1024, '\0');
    for (const QByteArray& doc : {data("pdf_utf16_title.pdf"), data("docx_cjk_core.docx"), data("pdf_xref_stream.pdf"),
                                  broken}) {
        QVERIFY(!doc.isEmpty());
        bytes += doc + QByteArray(64 * 1024 - doc.size() % (64 * 1024), '\0');
    }
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    CParentWindow window(&probes);
    window.setFixedSize(900, 550);
    window.show();
    Orvik* page = startOnVolume(window.mainWindow(), std::make_shared<CMemoryVolume>(bytes), memoryPartition(QString()));
    QTRY_VERIFY(!page->scanWorker().isRunning());
    // What the worker posted before it ended may still wait in the queue.
    QCoreApplication::sendPostedEvents();
    page->flushRefresh();
    // The volume's own list: every document of every type.
    page->treeBuilder().startLookup(CCreateTreeNode::AllTypes);
    CFileInfoTableModel& table = page->tableModel();
    QTRY_COMPARE(table.rowCount(), 4);
    const auto column = [&](int c) {
        QStringList texts;
        for (int row = 0; row < table.rowCount(); ++row)
            texts << table.index(row, c).data().toString();
        return texts;
    };
    // Every row gets its details; the broken copy is marked, with its reason.
    QTRY_COMPARE_WITH_TIMEOUT(column(CFileInfoTableModel::NameColumn).filter(QStringLiteral(" — ")).size(), 4, 10000);
    page->flushRefresh();
    QCOMPARE(table.rowCount(), 4);
    int damaged = 0;
    for (int row = 0; row < table.rowCount(); ++row) {
        const QModelIndex name = table.index(row, CFileInfoTableModel::NameColumn);
        if (table.index(row, 0).data(CFileInfoTableModel::IntegrityRole).toInt() != CDocumentDetails::IntegrityDamaged)
            continue;
        ++damaged;
        QVERIFY(name.data(Qt::ToolTipRole).toString().contains(QStringLiteral("损坏：member word/document.xml")));
        QVERIFY(name.data(Qt::ForegroundRole).isValid());
        QVERIFY(!table.index(row, CFileInfoTableModel::TypeColumn).data(Qt::DecorationRole).isNull());
    }
    QCOMPARE(damaged, 1);
    QVERIFY(column(CFileInfoTableModel::TimeColumn).contains(
        QDateTime(QDate(2024, 6, 1), QTime(14, 3), Qt::UTC).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))));

    // The time column sorts by the documents' own times, newest first.
    page->tableView()->sortByColumn(CFileInfoTableModel::TimeColumn, Qt::DescendingOrder);
    QStringList times = column(CFileInfoTableModel::TimeColumn);
    QStringList sorted = times;
    std::sort(sorted.begin(), sorted.end(), std::greater<QString>());
    QCOMPARE(times, sorted);

    // The filter narrows to names or titles, any case; the counts stay true.
    const QString found = page->foundText();
    page->filterEdit()->setText(QStringLiteral("quarterly"));
    QCOMPARE(table.rowCount(), 1);
    QVERIFY(column(CFileInfoTableModel::NameColumn).first().endsWith(QStringLiteral("Quarterly figures")));
    page->filterEdit()->setText(QStringLiteral("毕业论文"));
    QCOMPARE(table.rowCount(), 2);
    QCOMPARE(page->foundText(), found);
    // Ticking the type while filtered ticks all its documents, shown or not,
    // but the copy that failed its check (though its file-system record is
    // whole): that one is ticked only on its own.
    page->reciveStatusFromTree(page->treeBuilder().typeCodes().first(), Qt::Checked);
    page->reciveStatusFromTree(-1, Qt::Checked);
    QCOMPARE(page->tickedText(), QString::number(found.toInt() - 1));
    page->filterEdit()->clear();
    QCOMPARE(table.rowCount(), 4);
    // The clear button fades out through an animation that deletes itself
    // when it ends; let it end before the window goes.
    QTest::qWait(500);
    QVERIFY(page->filterEdit()->geometry().bottom() < page->tableView()->geometry().top() + 1);
    QVERIFY(page->filterEdit()->mapTo(&window, QPoint(0, 0)).y() + page->filterEdit()->height() <= 550);
}

void TestWindow::folderViewTicksAndRecoversIntoFolders()
{
    QTemporaryDir out;
    const CPartitionList::Probes probes = apptest::partitionProbes(1);
    CParentWindow window(&probes);
    apptest::FixedChooser chooser;
    chooser.outputFolder = out.path();
    window.mainWindow()->setFileChooser(&chooser);
    window.show();
    QByteArray bytes(256 * 1024, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i / 512) * 7 + i % 251);
    auto volume = std::make_shared<CMemoryVolume>(bytes, QStringLiteral("not-a-device"));
    Orvik* page = startOnVolume(window.mainWindow(), volume);
    QTRY_VERIFY(!page->scanWorker().isRunning());

    const auto deleted = [](const QString& folder, const QString& name, quint64 sector) {
        CFileNode n = apptest::wholeRecord(QStringLiteral("PDF"), 5000, sector);
        n.origin = CFileNode::OriginDeletedEntry;
        n.originalName = name;
        n.folder = folder;
        return n;
    };
    CFileNode broken = deleted("/A", "broken.pdf", 88);
    broken.overwritten = 0.5;
    for (const CFileNode& n : {deleted("/A", "report.pdf", 8), deleted("/B/2024", "report.pdf", 24),
                               deleted("?", "orphan.pdf", 40), deleted("?/X", "deep.pdf", 56),
                               apptest::wholeRecord(QStringLiteral("PDF"), 5000, 72), broken})
        page->scanWorker().relay()->postItem(n);
    QTRY_COMPARE(page->foundText(), QStringLiteral("6"));
    page->flushRefresh();

    page->byFolderButton()->click();
    QVERIFY(page->isFolderView());
    CFolderNodeModel& folders = page->folderModel();
    QCOMPARE(page->treeView()->model(), &folders);
    const QModelIndex top = folders.rootRowIndex();
    const auto label = [](const QModelIndex& i) { return i.data().toString(); };
    const auto box = [](const QModelIndex& i) { return i.data(Qt::CheckStateRole).toInt(); };
    QCOMPARE(label(top), QStringLiteral("Data(sdz1)(6)"));
    QCOMPARE(folders.rowCount(top), 3);
    const QModelIndex root = folders.index(0, 0, top);
    const QModelIndex lost = folders.index(1, 0, top);
    const QModelIndex carved = folders.index(2, 0, top);
    QCOMPARE(label(root), QStringLiteral("/(3)"));
    QCOMPARE(label(lost), QStringLiteral("?(2)"));
    QCOMPARE(label(carved), QStringLiteral("仅按内容找到(1)"));
    const QModelIndex a = folders.index(0, 0, root);
    const QModelIndex b = folders.index(1, 0, root);
    QCOMPARE(label(a), QStringLiteral("A(2)"));
    QCOMPARE(label(folders.index(0, 0, b)), QStringLiteral("2024(1)"));
    QCOMPARE(label(folders.index(0, 0, lost)), QStringLiteral("X(1)"));
    QVERIFY(page->treeView()->isExpanded(root) && page->treeView()->isExpanded(lost));

    // A folder's box ticks what lies under it, except what is damaged,
    // and every other box and the counter follow.
    QVERIFY(folders.setData(a, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(page->tickedText(), QStringLiteral("1"));
    QCOMPARE(box(a), int(Qt::Checked));
    QCOMPARE(box(root), int(Qt::PartiallyChecked));
    QCOMPARE(box(top), int(Qt::PartiallyChecked));
    QCOMPARE(box(page->treeModel().typeRowIndex(5)), int(Qt::PartiallyChecked));
    folders.setData(lost, Qt::Checked, Qt::CheckStateRole);
    QCOMPARE(page->tickedText(), QStringLiteral("3"));
    QCOMPARE(box(folders.index(0, 0, lost)), int(Qt::Checked));

    // A folder's files in the table, its subfolders' too; a tick there
    // reaches the tree.
    page->treeView()->setCurrentIndex(b);
    page->showFile(b);
    QCOMPARE(page->tableModel().rowCount(), 1);
    QCOMPARE(page->tableModel().itemAt(0)->record().folder, QStringLiteral("/B/2024"));
    page->treeView()->setCurrentIndex(a);
    page->showFile(a);
    QCOMPARE(page->tableModel().rowCount(), 2);
    const QModelIndex first = page->tableModel().index(0, CFileInfoTableModel::CheckColumn);
    const bool firstIsReport = page->tableModel().itemAt(0)->record().originalName == QLatin1String("report.pdf");
    const QModelIndex reportRow = firstIsReport ? first : page->tableModel().index(1, CFileInfoTableModel::CheckColumn);
    page->tableModel().setData(reportRow, Qt::Unchecked, Qt::CheckStateRole);
    QCOMPARE(box(a), int(Qt::Unchecked));
    QCOMPARE(page->tickedText(), QStringLiteral("2"));

    // The two report.pdf, each into its own folder.
    folders.setData(lost, Qt::Unchecked, Qt::CheckStateRole);
    folders.setData(root, Qt::Checked, Qt::CheckStateRole);
    QCOMPARE(page->tickedText(), QStringLiteral("2"));
    QCOMPARE(box(folders.index(0, 0, b)), int(Qt::Checked));
    page->keepFoldersBox()->setChecked(true);
    {
        BoxAnswerer accept(true);
        page->recoverButton()->click();
    }
    CRecoveryDialog& dialog = page->recoveryDialog();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.statusText(), QStringLiteral("恢复完成！"), apptest::kRecoveryWaitMs);
    const QString saved = dialog.savePath();
    QCOMPARE(readAllOf(saved + "/A/report.pdf"), bytes.mid(8 * 512, 5000));
    QCOMPARE(readAllOf(saved + "/B/2024/report.pdf"), bytes.mid(24 * 512, 5000));
    QStringList written;
    QDirIterator it(saved, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        written << QDir(saved).relativeFilePath(it.next());
    written.sort();
    QCOMPARE(written, QStringList({"A/report.pdf", "B/2024/report.pdf", "report.xml"}));
    dialog.hide();

    // Back to the types: the same ticks.
    page->byTypeButton()->click();
    QCOMPARE(page->treeView()->model(), &page->treeModel());
    QCOMPARE(box(page->treeModel().typeRowIndex(5)), int(Qt::PartiallyChecked));
}
