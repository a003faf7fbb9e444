// Streams 100,000 found documents of mixed types from a worker thread through
// the relay into the tree builder and both result models, with a tree view
// and a table view attached (offscreen), then ticks a type, sorts by size,
// collects the ticked files and filters the list of every document (by
// size, date, whole only, name; the longest of those steps is filter_ms). Prints the figures, the last line being
//   records=N seconds=S max_stall_ms=M max_busy_ms=B
// S: wall time from the first record posted until the last one is shown
// (the counter and the tree say so); M: the longest time the interface
// thread's event loop did not turn, over the whole run; B: the longest CPU
// time that thread spent between two turns (M without the time other
// programs held the core: on a busy machine M measures them, B does not).
#include "results/CCreateTreeNode.h"
#include "results/CFileClassfy.h"
#include "results/CFileInfoTableModel.h"
#include "results/CFileNodeModel.h"
#include "results/CRelayInbox.h"
#include "results/CResultFilter.h"
#include "results/CResultRefresher.h"
#include "results/ICopyFileNode.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <ctime>
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
constexpr int kLiveFiles = 2000;

// The result page's part in the wiring, reduced to forwarding.
class Page : public ICopyFileNode
{
public:
    CResultRefresher* refresher = nullptr;
    void typeNodeChanged(CFileClassfy* node) override { refresher->typeNodeChanged(node); }
    void setFileList(QList<INode*>* files) override { refresher->setFileList(files); }
    void hideRecoveryDialog() override {}
};

// Watches how long the event loop goes without turning.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
        m_clock.start();
        m_timer.start();
        m_lastCpu = threadCpuNs();
    }
    double maxStallMs() const { return m_max / 1e6; }
    // The longest the interface thread itself worked between two turns
    // (its CPU time): what the stall would be on an idle machine, where
    // other programs never take the core away meanwhile.
    double maxBusyMs() const { return m_maxBusy / 1e6; }

private:
    void tick()
    {
        const qint64 cpu = threadCpuNs();
        m_maxBusy = std::max(m_maxBusy, cpu - m_lastCpu);
        m_lastCpu = cpu;
        const qint64 now = m_clock.nsecsElapsed();
        const qint64 gap = now - m_last - 1000000; // beyond the timer's own 1 ms
        if (gap > m_max)
            m_max = gap;
        m_last = now;
    }
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
    constexpr int kTypeCount = sizeof(kTypes) / sizeof(kTypes[0]);
    QList<CFileNode> records;
    records.reserve(kRecords);
    quint64 lcg = 12345;
    for (int i = 0; i < kRecords; ++i) {
        lcg = lcg * 6364136223846793005ULL + 1442695040888963407ULL;
        const QString typeName = QString::fromLatin1(kTypes[(lcg >> 33) % kTypeCount]);
        const qint64 size = 1024 + static_cast<qint64>((lcg >> 20) % (8 * 1024 * 1024));
        const quint64 sector = static_cast<quint64>(i) * 8 * 64;
        CFileNode record(typeName, size, sector, QString(), QString::number(sector), QString(),
                         CFileTypeCatalogue::typeCodeByName(typeName), 2, CFileTypeCatalogue::sizeText(size),
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

// Posts as fast as the relay takes them: the records are made beforehand,
// so the interface thread faces the worst burst a scan could send.
void produce(CNotifyFileNode* relay, const QList<CFileNode>* records)
{
    // Live files at odd sectors: looked up for every record, never hit.
    for (int i = 0; i < kLiveFiles; ++i)
        relay->postItem(static_cast<long long>(i) * 16 + 1, 1 + i % 8);
    for (const CFileNode& record : *records)
        relay->postItem(record);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    CNotifyFileNode relay;
    CCreateTreeNode builder;
    CFileNodeModel treeModel;
    CFileInfoTableModel tableModel;
    CResultRefresher refresher(&builder, &treeModel, &tableModel);
    Page page;
    page.refresher = &refresher;
    builder.setReceiver(&page);

    // As the result page takes them: a few milliseconds at a time.
    CRelayInbox inbox(&builder);
    inbox.attach(&relay);

    QObject::connect(&treeModel, &CFileNodeModel::checkStatus, &refresher, &CResultRefresher::typeTicked);
    QObject::connect(&tableModel, &CFileInfoTableModel::checkTableStatus, &refresher, &CResultRefresher::fileTicked);

    QTreeView treeView;
    treeView.setModel(&treeModel);
    treeView.resize(200, 500);
    QTableView tableView;
    tableView.setModel(&tableModel);
    tableView.setSortingEnabled(true);
    tableView.resize(700, 500);
    QObject::connect(&refresher, &CResultRefresher::typeRowAdded, &treeView, &QTreeView::expandAll);
    treeView.show();
    tableView.show();

    refresher.startScan(QStringLiteral("本地磁盘 (D:)"));
    treeView.expandAll();
    app.processEvents();

    QElapsedTimer wall;
    double shownSeconds = -1;
    QObject::connect(&refresher, &CResultRefresher::refreshed, [&] {
        if (shownSeconds < 0 && refresher.foundCount() == kRecords) {
            shownSeconds = wall.nsecsElapsed() / 1e9;
            app.quit();
        }
    });

    const QList<CFileNode> records = makeRecords();
    StallMeter stalls;
    wall.start();
    std::thread worker(produce, &relay, &records);
    app.exec();
    worker.join();

    // The user's part: tick the first type in the tree, sort its files by
    // size, collect what is ticked.
    QElapsedTimer step;
    step.start();
    const QModelIndex firstType = treeModel.index(0, 0, treeModel.rootRowIndex());
    treeModel.setData(firstType, Qt::Checked, Qt::CheckStateRole);
    app.processEvents();
    const double tickMs = step.nsecsElapsed() / 1e6;

    step.restart();
    // What a click on the size header does (QTableView::sortByColumn would
    // sort twice with sorting enabled, and the size sort alternates).
    tableModel.sort(CFileInfoTableModel::SizeColumn);
    app.processEvents();
    const double sortMs = step.nsecsElapsed() / 1e6;

    step.restart();
    QList<CFileNode> ticked;
    builder.collectChecked(ticked);
    const double collectMs = step.nsecsElapsed() / 1e6;
    app.processEvents();

    // Filters on the list of every document, one change at a time.
    builder.startLookup(CCreateTreeNode::AllTypes);
    app.processEvents();
    const int everyDocument = tableModel.rowCount();
    CResultFilter filter;
    QVector<CResultFilter> changes;
    filter.setSizeRange(100 * 1024, -1);
    changes << filter;
    filter.setSizeRange(100 * 1024, 4 * 1024 * 1024);
    changes << filter;
    filter.setModifiedRange(QDate(2021, 1, 1), QDate(2023, 6, 30));
    changes << filter;
    filter.setWholeOnly(true);
    changes << filter;
    filter.setText(QStringLiteral("1"));
    changes << filter;
    filter.setText(QStringLiteral("12"));
    changes << filter;
    changes << CResultFilter();
    double filterMs = 0;
    int narrowest = everyDocument;
    for (const CResultFilter& change : changes) {
        step.restart();
        tableModel.setFilter(change);
        app.processEvents();
        filterMs = std::max(filterMs, step.nsecsElapsed() / 1e6);
        narrowest = std::min(narrowest, tableModel.rowCount());
    }
    app.processEvents(); // lets the stall meter see the steps above

    std::printf("types=%d table_rows=%d refreshes=%d\n", treeModel.rowCount(treeModel.rootRowIndex()),
                tableModel.rowCount(), refresher.refreshCount());
    std::printf("tick_ms=%.1f sort_ms=%.1f collect_ms=%.1f collected=%d ticked=%d\n", tickMs, sortMs, collectMs,
                ticked.size(), refresher.tickedCount());
    std::printf("filter_ms=%.1f rows=%d narrowest=%d\n", filterMs, everyDocument, narrowest);
    std::printf("records=%d seconds=%.3f max_stall_ms=%.1f max_busy_ms=%.1f\n", refresher.foundCount(), shownSeconds,
                stalls.maxStallMs(), stalls.maxBusyMs());
    return 0;
}
