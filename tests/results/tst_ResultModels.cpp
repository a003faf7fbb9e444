#include "results/CCreateTreeNode.h"
#include "results/CFileClassfy.h"
#include "results/CFileInfoTableModel.h"
#include "results/CFileNodeModel.h"
#include "results/CFolderNode.h"
#include "results/CFolderNodeModel.h"
#include "results/CResultIcons.h"
#include "results/CResultRefresher.h"
#include "results/ICopyFileNode.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QAbstractItemModelTester>
#include <QCollator>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTableView>
#include <QTreeView>
#include <QtTest>

#include <QRandomGenerator>

#include <memory>
#include <thread>

namespace {

CFileNode carved(quint64 sector, const QString& typeName, qint64 size = 4096)
{
    return CFileNode(typeName, size, sector, QString(), QString::number(sector), QString(),
                     CFileTypeCatalogue::typeCodeByName(typeName), 2, CFileTypeCatalogue::sizeText(size),
                     CFileTypeCatalogue::description(typeName));
}

// What the result page does with the builder's calls: pass them on.
struct Page : ICopyFileNode
{
    CResultRefresher* refresher = nullptr;
    void typeNodeChanged(CFileClassfy* node) override { refresher->typeNodeChanged(node); }
    void setFileList(QList<INode*>* files) override { refresher->setFileList(files); }
    void hideRecoveryDialog() override {}
};

// One result page's worth of results objects, wired as the page wires them.
struct Results
{
    CCreateTreeNode builder;
    CFileNodeModel tree;
    CFileInfoTableModel table;
    CResultRefresher refresher{&builder, &tree, &table};
    Page page;

    explicit Results(const QString& label = QStringLiteral("Data (D:)"))
    {
        page.refresher = &refresher;
        builder.setReceiver(&page);
        QObject::connect(&tree, &CFileNodeModel::checkStatus, &refresher, &CResultRefresher::typeTicked);
        QObject::connect(&table, &CFileInfoTableModel::checkTableStatus, &refresher, &CResultRefresher::fileTicked);
        refresher.startScan(label);
    }

    QModelIndex typeRow(int typeCode) const { return tree.typeRowIndex(typeCode); }
    QString label(int typeCode) const { return typeRow(typeCode).data().toString(); }
    int rowState(int typeCode) const { return typeRow(typeCode).data(Qt::CheckStateRole).toInt(); }
    void tickRow(int typeCode, Qt::CheckState state) { tree.setData(typeRow(typeCode), state, Qt::CheckStateRole); }
    void tickFile(int row, Qt::CheckState state)
    {
        table.setData(table.index(row, CFileInfoTableModel::CheckColumn), state, Qt::CheckStateRole);
    }
};

QStringList names(const QList<CFileNode>& records)
{
    QStringList out;
    for (const CFileNode& r : records)
        out << r.name + QLatin1Char('.') + r.typeName;
    return out;
}

// What a refresh after every document shows, worked out from the tree
// itself, compared with what the models show.
void verifyShownMatchesTree(const Results& r)
{
    const CFileNodeItem* root = r.builder.root();
    const QModelIndex top = r.tree.rootRowIndex();
    QCOMPARE(r.tree.rowCount(top), root->childCount());
    int total = 0;
    int ticked = 0;
    for (int i = 0; i < root->childCount(); ++i) {
        const CFileNodeItem* type = root->child(i);
        int n = 0;
        int on = 0;
        for (INode* f : type->children()) {
            ++n;
            on += static_cast<CFileNodeItem*>(f)->isChecked() ? 1 : 0;
        }
        total += n;
        ticked += on;
        const QModelIndex row = r.tree.index(i, 0, top);
        QCOMPARE(row, r.typeRow(type->typeCode()));
        const QString name = type->typeName();
        QCOMPARE(row.data().toString(), QStringLiteral("%1(%2)").arg(name).arg(n));
        const int state = on == n ? Qt::Checked : on > 0 ? Qt::PartiallyChecked : Qt::Unchecked;
        QCOMPARE(row.data(Qt::CheckStateRole).toInt(), state);
    }
    QCOMPARE(r.refresher.foundCount(), total);
    QCOMPARE(r.refresher.tickedCount(), ticked);
    if (r.table.fileList())
        QCOMPARE(r.table.rowCount(), r.table.fileList()->size());
}

} // namespace

class TestResultModels : public QObject
{
    Q_OBJECT
private slots:
    void streamingTicksAndSortsStayConsistent();
    void streamFromWorkerThroughRelay();
    void treeModelBeforeAnyDocument();
    void labelsCountUpAndRowIndexIsItsOwn();
    void ticksUpAndDown();
    void tableColumns();
    void deletedFilesShowTheirNamesTimesAndDamage();
    void sizeSortAlternatesAndCollectFollows();
    void coalescedRefreshWaitsForTheTimer();
    void burstsStillRefreshEveryInterval();
    void everyColumnSortsAndTheSortStays();
    void volumeRowListsAndTicksEverything();
    void filteredRowsFollowArrivingDetails();
    void folderViewFollowsFilesThatMove();
};

void TestResultModels::streamingTicksAndSortsStayConsistent()
{
    Results r;
    QAbstractItemModelTester treeTester(&r.tree, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester tableTester(&r.table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QTreeView treeView;
    treeView.setModel(&r.tree);
    QTableView tableView;
    tableView.setModel(&r.table);
    tableView.setSortingEnabled(true);
    QObject::connect(&r.refresher, &CResultRefresher::typeRowAdded, &treeView, &QTreeView::expandAll);
    treeView.show();
    tableView.show();

    const QStringList types = {"ZIP", "PDF", "ZIP", "DOCX", "XLS", "PDF", "PPTX", "DOC"};
    quint64 sector = 8;
    for (int i = 0; i < 1200; ++i) {
        r.builder.reciveFileItem(carved(sector, types[i % types.size()], 1000 + (i * 7919) % 5000));
        sector += 8;
        if (i % 97 == 0)
            QCoreApplication::processEvents();
        if (i % 150 == 149) {
            r.refresher.flush();
            verifyShownMatchesTree(r);
        }
        switch (i) {
        case 300:
            r.tickRow(1, Qt::Checked);
            break;
        case 400:
            r.tickFile(3, Qt::Unchecked); // the table shows ZIP, the first type
            break;
        case 500:
            r.table.sort(CFileInfoTableModel::SizeColumn);
            break;
        case 600:
            r.builder.startLookup(5);
            r.tickFile(0, Qt::Checked);
            break;
        case 700:
            // Sorts twice through the view (Qt's sortByColumn with sorting
            // enabled), which is as good a workout for the tester.
            tableView.sortByColumn(CFileInfoTableModel::SizeColumn, Qt::AscendingOrder);
            r.tickRow(5, Qt::Unchecked);
            break;
        case 800:
            r.builder.startLookup(-1);
            r.tickRow(1, Qt::Unchecked);
            r.tickRow(8, Qt::Checked);
            break;
        default:
            break;
        }
        QVERIFY(!QTest::currentTestFailed());
    }
    r.refresher.flush();
    QCoreApplication::processEvents();
    verifyShownMatchesTree(r);
    QCOMPARE(r.refresher.foundCount(), 1200);
    // The types' rows in order of first arrival, not by code.
    QCOMPARE(r.builder.typeCodes(), (QList<int>{1, 5, 6, 3, 7, 2}));
}

void TestResultModels::streamFromWorkerThroughRelay()
{
    // As in a scan: a worker posts through the relay, the refresher's timer
    // refreshes, and the user ticks and sorts meanwhile.
    Results r;
    r.refresher.setInterval(5);
    QAbstractItemModelTester treeTester(&r.tree, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester tableTester(&r.table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    CNotifyFileNode relay;
    QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &r.builder,
                     qOverload<const CFileNode&>(&CCreateTreeNode::reciveFileItem));
    QObject::connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem), &r.builder,
                     qOverload<long long, int>(&CCreateTreeNode::reciveFileItem));
    QTimer user;
    int step = 0;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (!r.typeRow(5).isValid())
            return;
        switch (step++ % 4) {
        case 0: r.tickRow(5, Qt::Checked); break;
        case 1: r.table.sort(CFileInfoTableModel::SizeColumn); break;
        case 2: r.tickFile(0, Qt::Unchecked); break;
        default: r.tickRow(5, Qt::Unchecked); break;
        }
    });
    user.start(1);

    constexpr int kRecords = 4000;
    std::thread worker([&relay] {
        relay.postItem(8, 5); // a live PDF: the carved one at sector 8 goes
        const char* const types[] = {"PDF", "ZIP", "DOCX", "PDF"};
        for (int i = 0; i <= kRecords; ++i)
            relay.postItem(carved(8 + quint64(i) * 8, QString::fromLatin1(types[i % 4]), 100 + (i * 31) % 900));
    });
    QTRY_COMPARE_WITH_TIMEOUT(r.refresher.foundCount(), kRecords, 20000);
    worker.join();
    user.stop();
    r.refresher.flush();
    verifyShownMatchesTree(r);
}

void TestResultModels::treeModelBeforeAnyDocument()
{
    Results r(QStringLiteral("Data (D:)"));
    QAbstractItemModelTester tester(&r.tree, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(r.tree.rowCount(), 1);
    const QModelIndex top = r.tree.rootRowIndex();
    QCOMPARE(top.data().toString(), QStringLiteral("Data (D:)"));
    QCOMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked)); // the select-all box
    QCOMPARE(r.tree.rowCount(top), 0);
    QCOMPARE(r.tree.typeCodeAt(top), -1);
    QCOMPARE(r.tree.headerData(0, Qt::Horizontal).toString(), QStringLiteral("文件格式"));
    QVERIFY(!r.tree.headerData(0, Qt::Vertical).isValid());
    QVERIFY(!r.tree.setHeaderData(0, Qt::Horizontal, QStringLiteral("x")));

    r.builder.reciveFileItem(carved(8, "PDF"));
    const QModelIndex pdf = r.typeRow(5);
    QVERIFY(r.tree.flags(pdf) & Qt::ItemIsUserCheckable);
    QVERIFY(!(r.tree.flags(pdf) & Qt::ItemIsUserTristate));
    QVERIFY(r.tree.setData(pdf, QStringLiteral("renamed"), Qt::EditRole));
    QCOMPARE(r.label(5), QStringLiteral("PDF(1)"));

    // A new scan's label leaves the single top-level row.
    r.refresher.startScan(QStringLiteral("Other (E:)"));
    QCOMPARE(r.tree.rowCount(), 1);
    QCOMPARE(r.tree.rootRowIndex().data().toString(), QStringLiteral("Other (E:)"));
    QCOMPARE(r.tree.rowCount(r.tree.rootRowIndex()), 0);
    QCOMPARE(r.table.rowCount(), 0);
}

void TestResultModels::labelsCountUpAndRowIndexIsItsOwn()
{
    // The partition label ends with a type name: the type's count updates
    // must still reach the type's row, not the top-level one.
    Results r(QStringLiteral("Scans pdf"));
    QAbstractItemModelTester tester(&r.tree, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy changed(&r.tree, &QAbstractItemModel::dataChanged);

    r.builder.reciveFileItem(carved(8, "ZIP"));
    r.builder.reciveFileItem(carved(16, "PDF"));
    // A type's first document is counted too.
    QCOMPARE(r.label(5), QStringLiteral("PDF(1)"));
    QCOMPARE(r.typeRow(5).row(), 1);
    QCOMPARE(r.typeRow(5).parent(), r.tree.rootRowIndex());

    r.builder.reciveFileItem(carved(24, "PDF"));
    r.refresher.flush();
    QCOMPARE(r.label(5), QStringLiteral("PDF(2)"));
    QCOMPARE(r.tree.rootRowIndex().data().toString(), QStringLiteral("Scans pdf"));
    bool typeRowNotified = false;
    for (const QList<QVariant>& args : changed) {
        const QModelIndex at = args[0].value<QModelIndex>();
        // The top row's box may follow the types; its label never changes.
        if (args[2].value<QVector<int>>() == QVector<int>{Qt::CheckStateRole})
            continue;
        QVERIFY(at != r.tree.rootRowIndex());
        typeRowNotified = typeRowNotified || at == r.typeRow(5);
    }
    QVERIFY(typeRowNotified);

    r.builder.reciveFileItem(carved(32, "PDF"));
    r.refresher.flush();
    QCOMPARE(r.label(5), QStringLiteral("PDF(3)"));
    QCOMPARE(r.label(1), QStringLiteral("ZIP(1)"));

    // The model on its own: a known type's label is built from the bare
    // name each time, so the count never doubles up.
    CFileClassfy again(QStringLiteral("PDF"), 5, 7);
    QVERIFY(r.tree.updateTypeNode(&again));
    QCOMPARE(r.label(5), QStringLiteral("PDF(7)"));
}

void TestResultModels::ticksUpAndDown()
{
    Results r;
    QSignalSpy rowTicks(&r.tree, &CFileNodeModel::checkStatus);
    QSignalSpy fileTicks(&r.table, &CFileInfoTableModel::checkTableStatus);
    QSignalSpy counters(&r.refresher, &CResultRefresher::countersChanged);
    for (quint64 s : {8, 16, 24})
        r.builder.reciveFileItem(carved(s, "PDF"));
    r.builder.reciveFileItem(carved(32, "DOC"));
    r.refresher.flush();
    QCOMPARE(r.table.rowCount(), 3); // the first type is shown at once

    // The type row ticks every file, and the table shows it.
    r.tickRow(5, Qt::Checked);
    QCOMPARE(rowTicks.size(), 1);
    QCOMPARE(rowTicks[0], (QList<QVariant>{5, int(Qt::Checked)}));
    QCOMPARE(r.rowState(5), int(Qt::Checked));
    QCOMPARE(r.refresher.tickedCount(), 3);
    QCOMPARE(counters.last(), (QList<QVariant>{4, 3}));
    for (int row = 0; row < 3; ++row)
        QCOMPARE(r.table.index(row, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

    // A new, unticked file makes the fully ticked type partial.
    r.builder.reciveFileItem(carved(40, "PDF"));
    r.refresher.flush();
    QCOMPARE(r.rowState(5), int(Qt::PartiallyChecked));
    QCOMPARE(r.label(5), QStringLiteral("PDF(4)"));
    QCOMPARE(r.table.rowCount(), 4);
    QCOMPARE(r.table.index(3, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));

    // Ticking that file in the table completes the type again.
    r.tickFile(3, Qt::Checked);
    QCOMPARE(fileTicks.last(), (QList<QVariant>{5}));
    QCOMPARE(r.rowState(5), int(Qt::Checked));
    QCOMPARE(r.refresher.tickedCount(), 4);

    // A partial value from the table changes nothing but is still reported.
    r.tickFile(0, Qt::PartiallyChecked);
    QCOMPARE(fileTicks.size(), 2);
    QCOMPARE(r.refresher.tickedCount(), 4);

    // Down: one file off makes it partial, then the row off clears all.
    r.tickFile(1, Qt::Unchecked);
    QCOMPARE(r.rowState(5), int(Qt::PartiallyChecked));
    QCOMPARE(r.refresher.tickedCount(), 3);
    // A click on a partial box ticks (the view sends Checked).
    r.tickRow(5, Qt::Checked);
    QCOMPARE(r.refresher.tickedCount(), 4);
    r.tickRow(5, Qt::Unchecked);
    QCOMPARE(r.rowState(5), int(Qt::Unchecked));
    QCOMPARE(r.refresher.tickedCount(), 0);
    QCOMPARE(r.rowState(2), int(Qt::Unchecked));
    QList<CFileNode> out;
    r.builder.collectChecked(out);
    QVERIFY(out.isEmpty());
    verifyShownMatchesTree(r);
}

void TestResultModels::tableColumns()
{
    CFileInfoTableModel empty;
    QAbstractItemModelTester tester(&empty, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(empty.rowCount(), 0);
    QCOMPARE(empty.columnCount(), 5);
    const QStringList headers = {"", "名字", "大小", "时间", "类型"};
    for (int c = 0; c < 5; ++c)
        QCOMPARE(empty.headerData(c, Qt::Horizontal).toString(), headers[c]);
    QVERIFY(!empty.headerData(0, Qt::Vertical).isValid());

    Results r;
    r.builder.reciveFileItem(carved(2048, "PDF", 5000));
    const CFileNode odd(QStringLiteral("TXT"), 10, 4096, QString(), QStringLiteral("4096"), QString(), 100, 2,
                        CFileTypeCatalogue::sizeText(10), QString());
    r.builder.reciveFileItem(odd);
    QCOMPARE(r.table.rowCount(), 1);
    const auto cell = [&](int column, int role = Qt::DisplayRole) { return r.table.index(0, column).data(role); };
    QCOMPARE(cell(1).toString(), QStringLiteral("2048.PDF"));
    QCOMPARE(cell(2).toString(), QStringLiteral("4.88 KB"));
    QCOMPARE(cell(3).toString(), QString());
    QCOMPARE(cell(4).toString(), QStringLiteral("Portable Document Format"));
    QVERIFY(!cell(0).isValid());
    QCOMPARE(cell(0, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QVERIFY(!cell(1, Qt::CheckStateRole).isValid());
    QCOMPARE(cell(0, Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    QCOMPARE(cell(3, Qt::TextAlignmentRole).toInt(), int(Qt::AlignLeft | Qt::AlignVCenter));
    QVERIFY(r.table.flags(r.table.index(0, 0)) & Qt::ItemIsUserCheckable);
    QVERIFY(!(r.table.flags(r.table.index(0, 1)) & Qt::ItemIsUserCheckable));

    // Only column 0's check box writes.
    QVERIFY(r.table.setData(r.table.index(0, 2), QStringLiteral("9 KB"), Qt::EditRole));
    QVERIFY(r.table.setData(r.table.index(0, 2), Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(cell(2).toString(), QStringLiteral("4.88 KB"));
    QCOMPARE(cell(0, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));

    // Icons: one file per type, shared by the legacy and Open XML variants;
    // none outside 1 to 8.
    QCOMPARE(CResultIcons::fileNameForType(5), QStringLiteral("pdf.png"));
    QCOMPARE(CResultIcons::fileNameForType(2), CResultIcons::fileNameForType(6));
    QCOMPARE(CResultIcons::fileNameForType(3), QStringLiteral("xlsx.png"));
    QCOMPARE(CResultIcons::fileNameForType(4), CResultIcons::fileNameForType(7));
    QVERIFY(CResultIcons::fileNameForType(100).isEmpty());
    r.builder.startLookup(100);
    QCOMPARE(r.table.rowCount(), 1);
    QVERIFY(!r.table.index(0, 1).data(Qt::DecorationRole).isValid());
    QCOMPARE(r.table.index(0, 1).data().toString(), QStringLiteral("4096.TXT"));
}

void TestResultModels::deletedFilesShowTheirNamesTimesAndDamage()
{
    Results r;
    QAbstractItemModelTester tester(&r.table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QDateTime when(QDate(2023, 11, 30), QTime(23, 59, 40), Qt::UTC);
    CFileNode deleted = carved(4096, "DOCX", 7000);
    deleted.origin = CFileNode::OriginDeletedEntry;
    deleted.originalName = QStringLiteral("毕业论文终稿.docx");
    deleted.folder = QStringLiteral("/论文/2024");
    deleted.modified = when;
    deleted.extents = {{4096 * 512, 7000}};
    CFileNode reused = deleted;
    reused.originalName = QStringLiteral("旧稿.docx");
    reused.extents = {{8192 * 512, 7000}};
    reused.startSector = 8192;
    reused.overwritten = 0.4;
    reused.modified = QDateTime();
    // Through the relay, as the file-system pass posts them; the carving
    // pass then finds the first one again.
    CNotifyFileNode relay;
    QObject::connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &r.builder,
                     qOverload<const CFileNode&>(&CCreateTreeNode::reciveFileItem));
    relay.postItem(deleted);
    relay.postItem(reused);
    relay.postItem(carved(4096, "DOCX", 9999));
    relay.postItem(carved(2048, "DOCX", 5000));
    r.refresher.flush();
    QCOMPARE(r.table.rowCount(), 3);
    QCOMPARE(r.refresher.foundCount(), 3);

    const auto cell = [&](int row, int column, int role = Qt::DisplayRole) {
        return r.table.index(row, column).data(role);
    };
    QCOMPARE(cell(0, 1).toString(), QStringLiteral("毕业论文终稿.docx"));
    QCOMPARE(cell(0, 2).toString(), CFileTypeCatalogue::sizeText(7000));
    QCOMPARE(cell(0, 3).toString(), when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    QCOMPARE(cell(0, 3, CFileInfoTableModel::SortRole).toDateTime(), when);
    QCOMPARE(cell(0, 2, CFileInfoTableModel::SortRole).toLongLong(), qint64(7000));
    const QString tip = cell(0, 4, Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains(QStringLiteral("/论文/2024")) && tip.contains(QStringLiteral("已删除的文件，按内容也找到")),
             qPrintable(tip));
    QVERIFY(!cell(0, 1, Qt::ForegroundRole).isValid());

    // The overwritten one: greyed, and its tooltip and type say why.
    QCOMPARE(cell(1, 1).toString(), QStringLiteral("旧稿.docx"));
    QVERIFY(cell(1, 1, Qt::ForegroundRole).isValid());
    QVERIFY(cell(1, 3, Qt::ForegroundRole).isValid());
    QVERIFY(cell(1, 1, Qt::ToolTipRole).toString().contains(QStringLiteral("40%")));
    QVERIFY(cell(1, 4).toString().contains(QStringLiteral("已损坏")));
    QVERIFY(cell(1, 1, Qt::ToolTipRole).toString().contains(QStringLiteral("来源：已删除的文件")));
    QVERIFY(!cell(1, 3, CFileInfoTableModel::SortRole).toDateTime().isValid());

    // Carved only: the sector name, and no folder.
    QCOMPARE(cell(2, 1).toString(), QStringLiteral("2048.DOCX"));
    QCOMPARE(cell(2, 1, Qt::ToolTipRole).toString(), QStringLiteral("2048.DOCX\n来源：按内容找到"));

    // Ticking the type leaves the overwritten file out; the counters say so.
    r.tickRow(CFileTypeCatalogue::typeCodeByName("DOCX"), Qt::Checked);
    QCOMPARE(cell(0, 0, Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(cell(1, 0, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(r.rowState(CFileTypeCatalogue::typeCodeByName("DOCX")), int(Qt::Checked));
    QCOMPARE(r.refresher.tickedCount(), 2);
    r.tickFile(1, Qt::Checked);
    QCOMPARE(r.refresher.tickedCount(), 3);
    verifyShownMatchesTree(r);

    // The table's header box works as the type's: it leaves the damaged
    // file out and then shows as fully ticked, so its next click unticks.
    const auto header = [&]() { return r.table.headerData(0, Qt::Horizontal, Qt::CheckStateRole).toInt(); };
    QVERIFY(r.table.setHeaderData(0, Qt::Horizontal, Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(r.refresher.tickedCount(), 0);
    QVERIFY(r.table.setHeaderData(0, Qt::Horizontal, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(r.refresher.tickedCount(), 2);
    QCOMPARE(header(), int(Qt::Checked));
    r.tickFile(0, Qt::Unchecked);
    QCOMPARE(header(), int(Qt::PartiallyChecked));
}

void TestResultModels::sizeSortAlternatesAndCollectFollows()
{
    Results r;
    QAbstractItemModelTester tester(&r.table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const qint64 sizes[] = {300, 100, 500, 200, 400};
    quint64 sector = 8;
    for (qint64 size : sizes) {
        r.builder.reciveFileItem(carved(sector, "ZIP", size));
        sector += 8;
    }
    r.builder.reciveFileItem(carved(800, "PDF", 50));
    r.refresher.flush();
    const auto order = [&] {
        QStringList shown;
        for (int row = 0; row < r.table.rowCount(); ++row)
            shown << r.table.index(row, 1).data().toString();
        return shown.join(QLatin1Char(' '));
    };
    const QString arrival = order();
    QCOMPARE(arrival, QStringLiteral("8.ZIP 16.ZIP 24.ZIP 32.ZIP 40.ZIP"));
    for (int column : {0, 1, 3, 4}) {
        r.table.sort(column, Qt::AscendingOrder);
        QCOMPARE(order(), arrival);
    }
    // The header alternates the direction, largest first.
    QCOMPARE(r.table.headerData(2, Qt::Horizontal, Qt::InitialSortOrderRole).toInt(), int(Qt::DescendingOrder));
    r.table.sort(2, Qt::DescendingOrder);
    QCOMPARE(order(), QStringLiteral("24.ZIP 40.ZIP 8.ZIP 32.ZIP 16.ZIP"));
    r.table.sort(2, Qt::AscendingOrder);
    QCOMPARE(order(), QStringLiteral("16.ZIP 32.ZIP 8.ZIP 40.ZIP 24.ZIP"));

    // A file that arrives after the sort joins at the end; the next sort
    // takes it in.
    r.builder.reciveFileItem(carved(48, "ZIP", 250));
    r.refresher.flush();
    QCOMPARE(order(), QStringLiteral("16.ZIP 32.ZIP 8.ZIP 40.ZIP 24.ZIP 48.ZIP"));
    r.table.sort(2, Qt::DescendingOrder);
    QCOMPARE(order(), QStringLiteral("24.ZIP 40.ZIP 8.ZIP 48.ZIP 32.ZIP 16.ZIP"));

    // Recovery takes the ticked files type by type, each in its shown order.
    r.tickRow(5, Qt::Checked);
    r.tickRow(1, Qt::Checked);
    r.tickFile(3, Qt::Unchecked); // 48.ZIP
    QList<CFileNode> out;
    r.builder.collectChecked(out);
    QCOMPARE(names(out), (QStringList{"24.ZIP", "40.ZIP", "8.ZIP", "32.ZIP", "16.ZIP", "800.PDF"}));
}

void TestResultModels::coalescedRefreshWaitsForTheTimer()
{
    Results r;
    r.refresher.setInterval(400);
    QSignalSpy refreshed(&r.refresher, &CResultRefresher::refreshed);
    for (quint64 s = 8; s <= 800; s += 8)
        r.builder.reciveFileItem(carved(s, "PDF"));
    // The new type's row is there at once, and the counter with the one
    // row shown; the other 99 files wait.
    QCOMPARE(r.label(5), QStringLiteral("PDF(1)"));
    QCOMPARE(r.table.rowCount(), 1);
    QCOMPARE(r.refresher.foundCount(), 1);
    QVERIFY(r.refresher.hasPending());
    QVERIFY(refreshed.wait(3000));
    QCOMPARE(refreshed.size(), 1); // one refresh for the whole burst
    QCOMPARE(r.label(5), QStringLiteral("PDF(100)"));
    QCOMPARE(r.table.rowCount(), 100);
    QCOMPARE(r.refresher.foundCount(), 100);
    QVERIFY(!r.refresher.hasPending());
}

void TestResultModels::burstsStillRefreshEveryInterval()
{
    // Documents arriving without a break (the interface thread busy with
    // them, its timers waiting): the views still catch up every interval,
    // and "找到：" matches the rows each time the table changes.
    Results r;
    r.refresher.setInterval(20);
    QElapsedTimer clock;
    clock.start();
    quint64 sector = 8;
    int checks = 0;
    while (clock.elapsed() < 150) {
        r.builder.reciveFileItem(carved(sector, "PDF"));
        sector += 8;
        QCOMPARE(r.refresher.foundCount() >= r.table.rowCount(), true);
        if (r.refresher.foundCount() == r.table.rowCount())
            ++checks;
    }
    // Without a return to the event loop, at least a few refreshes ran.
    QVERIFY2(r.refresher.refreshCount() >= 3, qPrintable(QString::number(r.refresher.refreshCount())));
    QVERIFY(r.table.rowCount() > 1);
    QVERIFY(checks >= 3);
}

void TestResultModels::everyColumnSortsAndTheSortStays()
{
    Results r;
    QAbstractItemModelTester tester(&r.table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // Sectors that sort differently as text and as numbers; times out of
    // arrival order, one unknown.
    const QDateTime day(QDate(2024, 3, 1), QTime(12, 0));
    const struct { quint64 sector; const char* type; qint64 size; int ageDays; } docs[] = {
        {10240, "PDF", 700, 3}, {2048, "PDF", 900, -1}, {999, "PDF", 100, 1}, {20480, "DOC", 50, 2},
        {3000, "DOCX", 60, 0}};
    for (const auto& d : docs) {
        CFileNode node = carved(d.sector, QString::fromLatin1(d.type), d.size);
        if (d.ageDays >= 0)
            node.modified = day.addDays(-d.ageDays);
        r.builder.reciveFileItem(node);
    }
    r.refresher.flush();
    const auto column = [&](int c) {
        QStringList shown;
        for (int row = 0; row < r.table.rowCount(); ++row)
            shown << r.table.index(row, c).data().toString();
        return shown.join(QLatin1Char(' '));
    };
    const auto names = [&] { return column(CFileInfoTableModel::NameColumn); };

    r.table.sort(CFileInfoTableModel::NameColumn, Qt::AscendingOrder);
    QCOMPARE(names(), QStringLiteral("999.PDF 2048.PDF 10240.PDF"));
    r.table.sort(CFileInfoTableModel::NameColumn, Qt::DescendingOrder);
    QCOMPARE(names(), QStringLiteral("10240.PDF 2048.PDF 999.PDF"));
    r.table.sort(CFileInfoTableModel::TimeColumn, Qt::DescendingOrder);
    QCOMPARE(names(), QStringLiteral("999.PDF 10240.PDF 2048.PDF")); // newest first, unknown last
    r.table.sort(CFileInfoTableModel::TimeColumn, Qt::AscendingOrder);
    QCOMPARE(names(), QStringLiteral("10240.PDF 999.PDF 2048.PDF"));

    // The sort stays on the list shown next: every document, by type text.
    r.table.sort(CFileInfoTableModel::TypeColumn, Qt::AscendingOrder);
    r.builder.startLookup(CCreateTreeNode::AllTypes);
    QCOMPARE(r.table.rowCount(), 5);
    QCOMPARE(r.table.sortColumn(), int(CFileInfoTableModel::TypeColumn));
    QStringList types;
    for (int row = 0; row < r.table.rowCount(); ++row)
        types << r.table.index(row, CFileInfoTableModel::TypeColumn).data().toString();
    QStringList byText = types;
    std::stable_sort(byText.begin(), byText.end(),
                     [](const QString& a, const QString& b) { return QString::compare(a, b, Qt::CaseInsensitive) < 0; });
    QCOMPARE(types, byText);
    r.table.sort(CFileInfoTableModel::NameColumn, Qt::AscendingOrder);
    QCOMPARE(names(), QStringLiteral("999.PDF 2048.PDF 3000.DOCX 10240.PDF 20480.DOC"));
    r.builder.startLookup(6);
    QCOMPARE(names(), QStringLiteral("3000.DOCX"));

    // Natural order beyond digits: letters by the locale, numbers inside
    // names by value, leading zeros ignored.
    QCollator collator(QLocale::c());
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const QStringList expected = {"Bericht 2.pdf", "bericht 10.pdf", "Bericht 010a.pdf", "Bericht 11.pdf", "Thesis.docx"};
    QStringList shuffled = {"Thesis.docx", "Bericht 11.pdf", "bericht 10.pdf", "Bericht 010a.pdf", "Bericht 2.pdf"};
    std::stable_sort(shuffled.begin(), shuffled.end(), [&](const QString& a, const QString& b) {
        return CFileInfoTableModel::compareNames(a, b, collator) < 0;
    });
    QCOMPARE(shuffled, expected);
}

void TestResultModels::volumeRowListsAndTicksEverything()
{
    Results r;
    QAbstractItemModelTester treeTester(&r.tree, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QAbstractItemModelTester tableTester(&r.table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    for (quint64 s : {8, 16, 24})
        r.builder.reciveFileItem(carved(s, "PDF"));
    r.builder.reciveFileItem(carved(32, "DOC"));
    r.builder.reciveFileItem(carved(40, "ZIP"));
    r.refresher.flush();
    const QModelIndex top = r.tree.rootRowIndex();
    const auto headerState = [&] {
        return r.table.headerData(CFileInfoTableModel::CheckColumn, Qt::Horizontal, Qt::CheckStateRole).toInt();
    };

    // The volume's row lists every document, and more as they come.
    r.builder.startLookup(CCreateTreeNode::AllTypes);
    QCOMPARE(r.table.rowCount(), 5);
    r.builder.reciveFileItem(carved(48, "DOC"));
    r.refresher.flush();
    QCOMPARE(r.table.rowCount(), 6);
    QCOMPARE(r.refresher.foundCount(), 6);

    // Its box ticks everything; a type off makes it partial.
    QCOMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QVERIFY(r.tree.setData(top, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(r.refresher.tickedCount(), 6);
    for (int code : {5, 2, 1})
        QCOMPARE(r.rowState(code), int(Qt::Checked));
    QCOMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(headerState(), int(Qt::Checked));
    QCOMPARE(r.table.index(5, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    r.tickRow(2, Qt::Unchecked);
    QCOMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    QCOMPARE(headerState(), int(Qt::PartiallyChecked));
    QCOMPARE(r.refresher.tickedCount(), 4);
    QVERIFY(r.tree.setData(top, Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(r.refresher.tickedCount(), 0);
    QCOMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));

    // The table's header box ticks the rows shown (one type here), and the
    // tree and the counters follow.
    r.builder.startLookup(5);
    QCOMPARE(headerState(), int(Qt::Unchecked));
    QVERIFY(r.table.setHeaderData(0, Qt::Horizontal, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(r.refresher.tickedCount(), 3);
    QCOMPARE(r.rowState(5), int(Qt::Checked));
    QCOMPARE(r.rowState(2), int(Qt::Unchecked));
    QCOMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    r.tickFile(1, Qt::Unchecked);
    QCOMPARE(headerState(), int(Qt::PartiallyChecked));
    QVERIFY(r.table.setHeaderData(0, Qt::Horizontal, Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(r.refresher.tickedCount(), 0);
    verifyShownMatchesTree(r);
}

QTEST_MAIN(TestResultModels)
#include "tst_ResultModels.moc"

void TestResultModels::filteredRowsFollowArrivingDetails()
{
    // Under a filter, titles that arrive make documents match or stop
    // matching: the rows move by insertions and removals (checked by the
    // model tester), end as a fresh filter would show them, and a row that
    // stays is still the same row for the views. Rounds of a few changes
    // and rounds of many.
    std::vector<std::unique_ptr<CFileNodeItem>> items;
    QList<INode*> list;
    for (int i = 0; i < 300; ++i) {
        const CFileNode record = carved(quint64(1000 + i), QStringLiteral("PDF"));
        items.push_back(std::make_unique<CFileNodeItem>(&record));
        list.append(items.back().get());
    }
    CFileInfoTableModel table;
    QAbstractItemModelTester tester(&table, QAbstractItemModelTester::FailureReportingMode::Fatal);
    table.setFileList(&list);
    table.setFilterText(QStringLiteral("kept"));
    QCOMPARE(table.rowCount(), 0);
    QRandomGenerator random(7);
    const auto setTitle = [&](int at, bool kept) {
        CDocumentDetails details;
        details.title = kept ? QStringLiteral("kept %1").arg(at) : QStringLiteral("other %1").arg(at);
        items[size_t(at)]->setDetails(details);
    };
    for (int round = 0; round < 40; ++round) {
        const int changes = round % 4 == 3 ? 150 : 1 + int(random.bounded(6));
        for (int k = 0; k < changes; ++k)
            setTitle(int(random.bounded(300)), random.bounded(2) == 0);
        // A row that keeps matching keeps its index object.
        QPersistentModelIndex stays;
        CFileNodeItem* staying = nullptr;
        for (int row = 0; row < table.rowCount() && !staying; ++row) {
            staying = table.itemAt(row);
            stays = table.index(row, 1);
        }
        table.refreshDetails();
        QStringList expected;
        for (const auto& item : items) {
            if (item->record().details.title.startsWith(QLatin1String("kept")))
                expected << item->record().details.title;
        }
        QStringList shown;
        for (int row = 0; row < table.rowCount(); ++row)
            shown << table.itemAt(row)->record().details.title;
        QCOMPARE(shown, expected);
        QCOMPARE(table.hiddenByFilter(), 300 - int(expected.size()));
        if (staying && staying->record().details.title.startsWith(QLatin1String("kept")) && changes < 10) {
            QVERIFY(stays.isValid());
            QCOMPARE(table.itemAt(stays.row()), staying);
        }
    }
}

void TestResultModels::folderViewFollowsFilesThatMove()
{
    Results r;
    CFolderNodeModel folders;
    QAbstractItemModelTester tester(&folders, QAbstractItemModelTester::FailureReportingMode::QtTest);
    r.refresher.setFolderModel(&folders);
    folders.resetForScan(QStringLiteral("Data (D:)"), r.builder.folderRoot());
    const auto entry = [](quint64 sector, const QString& folder) {
        CFileNode n = carved(sector, QStringLiteral("PDF"));
        n.origin = CFileNode::OriginDeletedEntry;
        n.originalName = QStringLiteral("f%1.pdf").arg(sector);
        n.folder = folder;
        return n;
    };

    // Carving finds one before its entry comes (the two orders both
    // happen), and the table shows the carved node's list.
    r.builder.reciveFileItem(carved(100, QStringLiteral("PDF")));
    r.builder.reciveFileItem(entry(200, QStringLiteral("/Docs")));
    r.refresher.flush();
    const QModelIndex top = folders.rootRowIndex();
    QCOMPARE(folders.rowCount(top), 2);
    const QModelIndex carvedRow = folders.index(0, 0, top);
    QCOMPARE(carvedRow.data().toString(), QStringLiteral("仅按内容找到(1)"));
    r.refresher.setFileList(r.builder.filesUnder(folders.nodeAt(carvedRow)));
    QCOMPARE(r.table.rowCount(), 1);
    r.tickFile(0, Qt::Checked);
    QCOMPARE(carvedRow.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

    // Its entry says where it was: it moves there with its tick, and the
    // table no longer lists it under the carved node.
    r.builder.reciveFileItem(entry(100, QStringLiteral("/Docs/Deep")));
    r.refresher.flush();
    QCOMPARE(r.table.rowCount(), 0);
    QCOMPARE(carvedRow.data().toString(), QStringLiteral("仅按内容找到(0)"));
    const QModelIndex slash = folders.index(1, 0, top);
    QCOMPARE(slash.data().toString(), QStringLiteral("/(2)"));
    const QModelIndex docs = folders.index(0, 0, slash);
    const QModelIndex deep = folders.index(0, 0, docs);
    QCOMPARE(deep.data().toString(), QStringLiteral("Deep(1)"));
    QCOMPARE(deep.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(docs.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    QCOMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));

    // A folder's list holds its subfolders' files too, and grows as they
    // arrive, however deep.
    r.refresher.setFileList(r.builder.filesUnder(folders.nodeAt(slash)));
    QCOMPARE(r.table.rowCount(), 2);
    r.builder.reciveFileItem(entry(300, QStringLiteral("/Docs/Deep/Deeper")));
    r.refresher.flush();
    QCOMPARE(r.table.rowCount(), 3);
    r.builder.reciveFileItem(entry(400, QStringLiteral("?")));
    r.refresher.flush();
    QCOMPARE(r.table.rowCount(), 3);
    r.refresher.setFileList(r.builder.filesUnder(folders.nodeAt(slash)));
    QCOMPARE(r.table.rowCount(), 3);

    // The top row ticks everything; a folder unticks what lies under it,
    // and the boxes of the rest follow.
    folders.setData(top, Qt::Checked, Qt::CheckStateRole);
    QCOMPARE(r.refresher.tickedCount(), 4);
    QCOMPARE(r.rowState(CFileTypeCatalogue::typeCodeByName(QStringLiteral("PDF"))), int(Qt::Checked));
    folders.setData(docs, Qt::Unchecked, Qt::CheckStateRole);
    QCOMPARE(r.refresher.tickedCount(), 1);
    QCOMPARE(top.data(Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
    QCOMPARE(folders.index(2, 0, top).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
}
