#include "disk/CMemoryVolume.h"
#include "scan/CRecoveryControl.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <sys/stat.h>

namespace {

// Holds a reading thread until the test opens it.
class Gate
{
public:
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_open; });
    }
    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
};

struct ScanRecord
{
    QList<long long> progress;
    int stopped = 0;
    QStringList openFailures;
    QStringList scanFailures;
};

// Runs the worker until its thread has finished (never until the final
// progress signal, which comes before run() returns).
void connectRecord(CRecoveryControl& control, ScanRecord& record)
{
    QObject::connect(&control, &CRecoveryControl::notifyProcess,
                     [&record](long long total, long long current) {
                         QCOMPARE(total, 1000LL);
                         record.progress << current;
                     });
    QObject::connect(&control, &CRecoveryControl::scanThreadFinish, [&record] { ++record.stopped; });
    QObject::connect(&control, &CRecoveryControl::notifyOpenFailed,
                     [&record](const QString& r) { record.openFailures << r; });
    QObject::connect(&control, &CRecoveryControl::notifyScanFailed,
                     [&record](const QString& r) { record.scanFailures << r; });
}

bool runToEnd(CRecoveryControl& control)
{
    // Keep the event loop turning: the test's own slots (a stop request,
    // say) run on this thread while the worker goes on.
    QElapsedTimer timer;
    timer.start();
    while (!control.isFinished() && timer.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!control.wait(1000))
        return false;
    QCoreApplication::processEvents();
    return true;
}

} // namespace

class TestScanDriver : public QObject
{
    Q_OBJECT

private slots:
    void completeScanReportsEveryWindow_data()
    {
        QTest::addColumn<qint64>("length");
        QTest::newRow("100 MiB") << qint64(100) * 1024 * 1024;
        QTest::newRow("exact multiple of W") << qint64(96) * 1024 * 1024;
    }

    void completeScanReportsEveryWindow()
    {
        QFETCH(qint64, length);
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("volume.img"));
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(length));
        f.close();

        CRecoveryControl control;
        ScanRecord record;
        connectRecord(control, record);
        QVERIFY(control.beginScan(image, QStringLiteral("none")));
        QVERIFY(control.isScanning());
        QVERIFY(runToEnd(control));
        QCoreApplication::processEvents();

        const qint64 w = control.windowSize();
        QCOMPARE(w, qint64(32) * 1024 * 1024);
        // Windows start at 0, W, 2W ... up to the last start not beyond the
        // length (the window at the length itself too, when W divides it).
        const qint64 windows = length / w + 1;
        QCOMPARE(record.progress.size(), int(windows + 2));
        QCOMPARE(record.progress.first(), 0LL);
        QCOMPARE(record.progress.last(), 1000LL);
        for (qint64 k = 0; k < windows; ++k)
            QCOMPARE(record.progress[int(k + 1)], static_cast<long long>(float(k * w) * 1000.0f / float(length)));
        QCOMPARE(record.stopped, 0);
        QVERIFY(record.scanFailures.isEmpty());
        QVERIFY(!control.isScanning());
        QCOMPARE(control.unreadableBytes(), qint64(0));
        // The volume stays open for recovery.
        QVERIFY(control.diskHandle());
    }

    void stopDuringRawPassEndsWithoutCompletion()
    {
        const quint32 w = 64 * 1024;
        auto volume = std::make_shared<CMemoryVolume>(QByteArray(8 * w, '\0'));
        Gate gate;
        // The read of the third window waits until the test has asked for a stop.
        volume->setReadHook([&gate, w](int64_t offset, size_t) {
            if (offset >= 2 * static_cast<int64_t>(w))
                gate.wait();
        });

        CRecoveryControl control;
        control.setWindowSize(w);
        ScanRecord record;
        connectRecord(control, record);
        QObject::connect(&control, &CRecoveryControl::notifyProcess, [&](long long, long long current) {
            if (current > 0 && control.isScanning()) {
                control.stopScan();
                gate.open();
            }
        });
        QVERIFY(control.beginScan(volume, QString()));
        const bool ended = runToEnd(control);
        gate.open();
        QVERIFY(ended);
        QCoreApplication::processEvents();

        QCOMPARE(record.stopped, 1);
        QVERIFY(!record.progress.contains(1000));
        QVERIFY(record.scanFailures.isEmpty());
        QVERIFY(!control.isScanning());
    }

    void stopDuringFileSystemPassEndsTheScanThere()
    {
        // The FAT32 pass reads the boot sector first; the stop comes while
        // it is held there.
        auto volume = std::make_shared<CMemoryVolume>(QByteArray(1 << 20, '\0'));
        Gate gate;
        std::atomic<bool> entered{false};
        std::atomic<bool> stopped{false};
        std::atomic<int> readsAfterStop{0};
        volume->setReadHook([&](int64_t, size_t) {
            if (stopped)
                ++readsAfterStop;
            if (!entered.exchange(true))
                gate.wait();
        });
        CRecoveryControl control;
        control.setWindowSize(64 * 1024);
        ScanRecord record;
        connectRecord(control, record);
        QVERIFY(control.beginScan(volume, QStringLiteral("FAT32")));
        QTRY_VERIFY(entered.load());
        control.stopScan();
        stopped = true;
        gate.open();
        QVERIFY(runToEnd(control));

        QCOMPARE(record.stopped, 1);
        // No raw pass: no progress at all and no window read.
        QCOMPARE(record.progress, QList<long long>());
        QVERIFY(record.scanFailures.isEmpty());
        QCOMPARE(readsAfterStop.load(), 0);
    }

    void sourcesThatCannotBeOpened()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

        for (const QString& source : {dir.filePath(QStringLiteral("missing.img")), fifo}) {
            CRecoveryControl control;
            ScanRecord record;
            connectRecord(control, record);
            QSignalSpy failed(&control, &CRecoveryControl::notifyOpenFailed);
            QVERIFY(!control.beginScan(source, QStringLiteral("NTFS")));
            // Nobody runs inside beginScan: the failure arrives queued.
            QCOMPARE(failed.count(), 0);
            QVERIFY(!control.isScanning());
            QVERIFY(failed.wait(5000));
            QCOMPARE(record.openFailures.size(), 1);
            QVERIFY(record.openFailures.first().contains(source));
            QVERIFY(record.progress.isEmpty());
            QVERIFY(!control.isRunning());
        }
    }

    void deviceLostEndsWithFailure()
    {
        const quint32 w = 64 * 1024;
        auto volume = std::make_shared<CMemoryVolume>(QByteArray(6 * w, '\0'), QStringLiteral("/dev/sdz1"));
        volume->failRange(3 * w, 3 * w, ENODEV);
        CRecoveryControl control;
        control.setWindowSize(w);
        ScanRecord record;
        connectRecord(control, record);
        QVERIFY(control.beginScan(volume, QString()));
        QVERIFY(runToEnd(control));
        QCoreApplication::processEvents();
        QCOMPARE(record.scanFailures.size(), 1);
        QVERIFY(record.scanFailures.first().contains(QStringLiteral("/dev/sdz1")));
        QVERIFY(!record.progress.contains(1000));
        QCOMPARE(record.stopped, 0);
    }

    void readErrorsAreCountedNotFatal()
    {
        const quint32 w = 64 * 1024;
        auto volume = std::make_shared<CMemoryVolume>(QByteArray(6 * w, '\0'));
        volume->failRange(2 * w + 100, 10, EIO);
        CRecoveryControl control;
        control.setWindowSize(w);
        ScanRecord record;
        connectRecord(control, record);
        QVERIFY(control.beginScan(volume, QString()));
        QVERIFY(runToEnd(control));
        QCoreApplication::processEvents();
        QVERIFY(record.scanFailures.isEmpty());
        QCOMPARE(record.progress.last(), 1000LL);
        QVERIFY(control.unreadableBytes() > 0);
    }

    void recordCrossesThreadsIntact()
    {
        CNotifyFileNode relay;
        QList<CFileNode> received;
        QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem),
                         [&received](const CFileNode& n) { received << n; });
        QList<QPair<long long, int>> live;
        QObject::connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem),
                         [&live](long long s, int t) { live << qMakePair(s, t); });

        const quint64 beyond32Bits = (quint64(1) << 32) + 7;
        std::unique_ptr<QThread> worker(QThread::create([&relay, beyond32Bits] {
            relay.postItem(5000000000LL, 5);
            {
                CFileNode node(QStringLiteral("PDF"), 5000, beyond32Bits, QString(), QString::number(beyond32Bits),
                               QString(), 5, 2, QStringLiteral("4.88 KB"), QStringLiteral("Portable Document Format"));
                relay.postItem(node);
            } // the sender's copy is gone before the receiver runs
        }));
        worker->start();
        QVERIFY(worker->wait(10000));
        QTRY_COMPARE(received.size(), 1);
        const CFileNode& n = received.first();
        QCOMPARE(n.size, qint64(5000));
        QCOMPARE(n.startSector, beyond32Bits);
        QCOMPARE(n.byteOffset(), beyond32Bits * 512);
        QCOMPARE(n.name, QStringLiteral("4294967303"));
        QCOMPARE(n.typeName, QStringLiteral("PDF"));
        QCOMPARE(n.typeDescription, QStringLiteral("Portable Document Format"));
        QCOMPARE(n.kind, 2);
        QVERIFY(n.timeText.isEmpty() && n.reservedText.isEmpty() && n.extraMaps.isEmpty());
        QCOMPARE(live.size(), 1);
        QCOMPARE(live.first().first, 5000000000LL);
    }
};

QTEST_GUILESS_MAIN(TestScanDriver)
#include "tst_scan_driver.moc"
