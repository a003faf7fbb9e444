// The result page under a flood: 100,000 found documents of mixed types
// streamed from a worker thread through the scan worker's relay into a real
// result page (tree view, table view, counters) inside the main window,
// offscreen, while a click lands on a type row every 50 ms. Prints, last:
//   records=N seconds=S max_stall_ms=M max_busy_ms=B clicks=C filter_ms=F
// S: wall time from the first record posted until the page's counter shows
// them all; M: the longest time the interface thread's event loop did not
// turn over the whole run; B: the longest CPU time that thread spent
// between two turns (M without the time other programs held the core);
// C: clicks answered during the stream. Then the user narrows the list of
// every document through the filter bar (a size range, a date range, whole
// only, a name, all cleared): F is the longest of those steps, from the
// change to the table shown again; M and B cover them too.
#include "app/CChoiceDiskWnd.h"
#include "app/CFilterBar.h"
#include "app/CMainWindow.h"
#include "app/CParentWindow.h"
#include "app/Orvik.h"
#include "disk/CMemoryVolume.h"
#include "scan/CFileTypeCatalogue.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <ctime>
#include <functional>
#include <thread>

namespace {

// CPU time of the calling thread.
qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<qint64>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

constexpr int kRecords = 100000;

class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_max = std::max(m_max, now - m_last - 1000000);
            m_last = now;
            const qint64 cpu = threadCpuNs();
            m_maxBusy = std::max(m_maxBusy, cpu - m_lastCpu);
            m_lastCpu = cpu;
        });
        m_lastCpu = threadCpuNs();
        m_clock.start();
        m_timer.start();
    }
    double maxStallMs() const { return m_max / 1e6; }
    // The longest the interface thread itself worked between two turns
    // (its CPU time): what the stall would be on an idle machine, where
    // other programs never take the core away meanwhile.
    double maxBusyMs() const { return m_maxBusy / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_max = 0;
    qint64 m_lastCpu = 0;
    qint64 m_maxBusy = 0;
};

QList<CFileNode> makeRecords()
{
    static const char* const kTypes[] = {"PDF", "ZIP", "DOCX", "XLSX", "DOC", "PDF", "ZIP", "PPTX", "XLS", "PPT", "ZIP"};
    QList<CFileNode> records;
    records.reserve(kRecords);
    quint64 lcg = 12345;
    for (int i = 0; i < kRecords; ++i) {
        lcg = lcg * 6364136223846793005ULL + 1442695040888963407ULL;
        const QString typeName = QString::fromLatin1(kTypes[(lcg >> 33) % 11]);
        const qint64 size = 1024 + static_cast<qint64>((lcg >> 20) % (8 * 1024 * 1024));
        const quint64 sector = static_cast<quint64>(i) * 8 * 64;
        CFileNode record(typeName, size, sector, QString(), QString::number(sector), QString(),
                         CFileTypeCatalogue::typeCodeByName(typeName), 0, CFileTypeCatalogue::sizeText(size),
                         CFileTypeCatalogue::description(typeName));
        // Times over six years, half the documents checked whole: what the
        // filters look at.
        record.modified = QDateTime::fromSecsSinceEpoch(1577836800 + static_cast<qint64>((lcg >> 24) % 189216000), Qt::UTC);
        record.details.examined = true;
        record.details.integrity = i % 2 ? CDocumentDetails::IntegrityWhole : CDocumentDetails::IntegrityUnchecked;
        records.append(record);
    }
    return records;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    registerFileNodeMetaType();

    CPartitionList::Probes probes;
    probes.readLsblk = [] { return QByteArray("{\"blockdevices\":[]}"); };
    CParentWindow window(&probes);
    window.setFixedSize(900, 550);
    window.show();
    CMainWindow* main = window.mainWindow();
    Orvik* page = main->resultPage();
    main->diskPage()->hide();
    page->show();
    CPartitionInfo partition;
    partition.displayName = QStringLiteral("Data(sdb1)");
    partition.fileSystem = QStringLiteral("NTFS");
    // A tiny volume: its own scan ends at once and the flood comes from the
    // thread below, through the same relay.
    page->startWithVolume(partition, std::make_shared<CMemoryVolume>(QByteArray(4096, '\0')));
    app.processEvents();

    const QList<CFileNode> records = makeRecords();
    int clicks = 0;
    QTimer clicker;
    clicker.setInterval(50);
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        QTreeView* tree = page->treeView();
        const QModelIndex root = page->treeModel().rootRowIndex();
        const int types = page->treeModel().rowCount(root);
        if (types == 0)
            return;
        const QModelIndex row = page->treeModel().index(clicks % types, 0, root);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualRect(row).center());
        ++clicks;
    });

    QElapsedTimer wall;
    double shownSeconds = -1;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (page->foundText() == QString::number(kRecords)) {
            shownSeconds = wall.nsecsElapsed() / 1e9;
            app.quit();
        }
    });

    StallMeter stalls;
    wall.start();
    clicker.start();
    watch.start();
    CNotifyFileNode* relay = page->scanWorker().relay();
    std::thread worker([relay, &records] {
        for (const CFileNode& record : records)
            relay->postItem(record);
    });
    QTimer::singleShot(120000, &app, &QApplication::quit);
    app.exec();
    worker.join();
    clicker.stop();

    // The volume's row (every document), then each change a user makes in
    // the filter bar, each timed until the table has taken it.
    const QModelIndex all = page->treeModel().rootRowIndex();
    page->treeView()->setCurrentIndex(all);
    page->showFile(all);
    app.processEvents();
    CFilterBar* bar = page->filterBar();
    const std::function<void()> steps[] = {
        [&] {
            bar->unitBox()->setCurrentIndex(CFilterBar::Kilobytes);
            bar->minSizeEdit()->setValue(100);
            bar->sizeBox()->setChecked(true);
        },
        [&] { bar->maxSizeEdit()->setValue(4096); },
        [&] {
            bar->fromEdit()->setDate(QDate(2021, 1, 1));
            bar->toEdit()->setDate(QDate(2023, 6, 30));
            bar->dateBox()->setChecked(true);
        },
        [&] { bar->wholeOnlyBox()->setChecked(true); },
        [&] { bar->textEdit()->setText(QStringLiteral("1")); },
        [&] { bar->textEdit()->setText(QStringLiteral("12")); },
        [&] { bar->clear(); },
    };
    double filterMs = 0;
    for (const std::function<void()>& step : steps) {
        QElapsedTimer stepClock;
        stepClock.start();
        step();
        app.processEvents();
        filterMs = std::max(filterMs, stepClock.nsecsElapsed() / 1e6);
    }
    app.processEvents(); // lets the stall meter see the last step

    std::printf("types=%d table_rows=%d shown=%s\n", page->treeModel().rowCount(page->treeModel().rootRowIndex()),
                page->tableModel().rowCount(), qPrintable(page->foundText()));
    std::printf("records=%d seconds=%.3f max_stall_ms=%.1f max_busy_ms=%.1f clicks=%d filter_ms=%.1f\n", kRecords,
                shownSeconds, stalls.maxStallMs(), stalls.maxBusyMs(), clicks, filterMs);
    return shownSeconds < 0 ? 1 : 0;
}
