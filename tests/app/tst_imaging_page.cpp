// "先创建磁盘映像" driven through the window's real widgets, offscreen: where
// it is offered (a failing drive's tile, a scan that met read errors on a
// disk, never an image), the copy on its page (the interface free while it
// runs, stopped when asked) and what the page says and offers at its end.
#include "AppTestSupport.h"

#include "app/CChoiceDiskWnd.h"
#include "app/CImagingPage.h"
#include "app/CMainWindow.h"
#include "app/CParentWindow.h"
#include "app/Orvik.h"
#include "disk/CMemoryVolume.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

namespace {

QByteArray patterned(int size)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 13 + i / 4096) & 0xFF);
    return b;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestImagingPage : public QObject
{
    Q_OBJECT

private slots:
    // Two drives, the first failing; their "devices" are files here.
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_source = patterned(3 << 20);
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("disk1")), m_source));
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("disk2")), m_source));
        m_probes = apptest::partitionProbes(2, m_dir.filePath(QStringLiteral("disk")));
        const QString failing = m_dir.filePath(QStringLiteral("disk1"));
        m_probes.driveHealth = [failing](const QString& device, CDriveHealth::Health* health) {
            health->known = true;
            health->failing = device == failing;
            health->badSectors = device == failing ? 12 : 0;
            return true;
        };
    }

    // Offered on a failing drive's tile only; the copy runs on its page
    // and ends with where the image and map are and a button that scans
    // the image; a cancelled folder question leaves the disks as they were.
    void failingTileIsImagedThenScanned()
    {
        CParentWindow window(&m_probes);
        window.show();
        CMainWindow* main = window.mainWindow();
        apptest::FixedChooser chooser;
        main->setFileChooser(&chooser);
        CChoiceDiskWnd* disks = main->diskPage();
        QCOMPARE(disks->tiles().size(), 2);

        QVERIFY(!disks->imageFirstButton()->isVisible());
        disks->scanClickPartion(0, 1);
        QVERIFY(!disks->imageFirstButton()->isVisible());
        disks->scanClickPartion(0, 0);
        QVERIFY(disks->imageFirstButton()->isVisible());

        disks->imageFirstButton()->click(); // no folder chosen
        QCOMPARE(chooser.asked, 1);
        QVERIFY(!main->imagingPage());
        QVERIFY(disks->isVisible());

        QTemporaryDir out;
        QVERIFY(out.isValid());
        chooser.outputFolder = out.path();
        disks->imageFirstButton()->click();
        CImagingPage* imaging = main->imagingPage();
        QVERIFY(imaging);
        QVERIFY(imaging->isVisible());
        QVERIFY(!disks->isVisible());
        QCOMPARE(imaging->titleLabel()->text(), QStringLiteral("先创建磁盘映像"));
        const QString image = out.filePath(QStringLiteral("sda1.img"));
        const QString map = out.filePath(QStringLiteral("sda1.map"));
        QCOMPARE(imaging->imagePath(), image);
        QCOMPARE(imaging->mapPath(), map);
        // The copy is the worker's: the page answers while it runs.
        QSignalSpy finished(imaging, &CImagingPage::finished);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QCOMPARE(readFile(image), m_source);
        QVERIFY(readFile(map).contains("# Mapfile"));
        QVERIFY2(imaging->resultLabel()->text().contains(image) && imaging->resultLabel()->text().contains(map),
                 qPrintable(imaging->resultLabel()->text()));
        QVERIFY(imaging->progressBar()->value() == 1000);
        QVERIFY(!imaging->stopButton()->isVisible());
        QVERIFY(imaging->scanButton()->isVisible());
        QVERIFY(imaging->backButton()->isVisible());

        imaging->scanButton()->click();
        QVERIFY(main->resultPage() && main->resultPage()->isVisible());
        QTRY_VERIFY(!main->imagingPage());
        QTRY_VERIFY(!main->resultPage()->scanWorker().isRunning());
    }

    // The stop button ends the copy where it is and says how to go on; the
    // page then goes back to the disks.
    void stopEndsTheCopy()
    {
        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("disk1")), QByteArray()));
        QFile big(m_dir.filePath(QStringLiteral("disk1")));
        QVERIFY(big.open(QIODevice::ReadWrite) && big.resize(qint64(1) << 30));
        big.close();
        CParentWindow window(&m_probes);
        window.show();
        CMainWindow* main = window.mainWindow();
        QTemporaryDir out;
        QVERIFY(out.isValid());
        apptest::FixedChooser chooser;
        chooser.outputFolder = out.path();
        main->setFileChooser(&chooser);
        main->diskPage()->scanClickPartion(0, 0);
        main->diskPage()->imageFirstButton()->click();
        CImagingPage* imaging = main->imagingPage();
        QVERIFY(imaging && imaging->isRunning());
        QSignalSpy finished(imaging, &CImagingPage::finished);
        imaging->stopButton()->click();
        QVERIFY(!imaging->stopButton()->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
        QCOMPARE(finished.at(0).at(0).toBool(), false);
        QVERIFY2(imaging->resultLabel()->text().contains(QStringLiteral("已停止")), qPrintable(imaging->resultLabel()->text()));
        // The map keeps what was not tried yet, for the copy to go on.
        const QString map = QString::fromUtf8(readFile(imaging->mapPath()));
        QVERIFY2(QRegularExpression(QStringLiteral("\\n0x[0-9A-Fa-f]+\\s+0x[0-9A-Fa-f]+\\s+\\?")).match(map).hasMatch(),
                 qPrintable(map));
        imaging->backButton()->click();
        QVERIFY(main->diskPage()->isVisible());
        QTRY_VERIFY(!main->imagingPage());
    }

    // A scan that meets read errors on a disk offers the image (and goes
    // there once the scan has stopped); on an image it does not.
    void scanWithReadErrorsOffersTheImage()
    {
        for (const bool isImage : {false, true}) {
            CParentWindow window(&m_probes);
            window.show();
            CMainWindow* main = window.mainWindow();
            QTemporaryDir out;
            QVERIFY(out.isValid());
            apptest::FixedChooser chooser;
            main->setFileChooser(&chooser);
            auto volume = std::make_shared<CMemoryVolume>(patterned(4 << 20));
            volume->failRange(1 << 20, 3 * 512, EIO);
            CPartitionInfo partition;
            partition.displayName = QStringLiteral("Data(sda2)");
            partition.kernelName = QStringLiteral("sda2");
            partition.devicePath = m_dir.filePath(QStringLiteral("disk2"));
            partition.deviceType = isImage ? QStringLiteral("image") : QStringLiteral("part");
            Orvik* page = main->resultPage();
            main->diskPage()->hide();
            page->show();
            page->scanWorker().setWindowSize(64 * 1024);
            page->startWithVolume(partition, volume);
            QTRY_VERIFY(!page->scanWorker().isRunning());
            QCoreApplication::processEvents();
            QVERIFY(page->noticeLabel()->isVisible());
            QCOMPARE(page->imageFirstButton()->isVisible(), !isImage);
            if (isImage)
                continue;
            // No folder chosen: the list stays, and the offer still works.
            page->imageFirstButton()->click();
            QTRY_COMPARE(chooser.asked, 1);
            QVERIFY(!main->imagingPage());
            QVERIFY(page->isVisible());
            chooser.outputFolder = out.path();
            page->imageFirstButton()->click();
            QTRY_VERIFY(main->imagingPage());
            QCOMPARE(main->imagingPage()->imagePath(), out.filePath(QStringLiteral("sda2.img")));
            QSignalSpy finished(main->imagingPage(), &CImagingPage::finished);
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
            QCOMPARE(readFile(out.filePath(QStringLiteral("sda2.img"))), m_source);
        }
    }

private:
    QTemporaryDir m_dir{QDir::currentPath() + QStringLiteral("/imaging-XXXXXX")};
    QByteArray m_source;
    CPartitionList::Probes m_probes;
};

QTEST_MAIN(TestImagingPage)
#include "tst_imaging_page.moc"
