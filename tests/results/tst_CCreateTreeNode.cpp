#include "results/CCreateTreeNode.h"
#include "results/CFileClassfy.h"
#include "results/ICopyFileNode.h"
#include "scan/CFileTypeCatalogue.h"
#include "scan/CNotifyFileNode.h"

#include <QSet>
#include <QSignalSpy>
#include <QtTest>

#include <memory>
#include <thread>
#include <vector>

namespace {

CFileNode carved(quint64 sector, const QString& typeName, qint64 size = 4096)
{
    const int code = CFileTypeCatalogue::typeCodeByName(typeName);
    return CFileNode(typeName, size, sector, QString(), QString::number(sector), QString(), code, 2,
                     CFileTypeCatalogue::sizeText(size), CFileTypeCatalogue::description(typeName));
}

// Records what the builder tells the page; takes ownership of the node of a
// new type as the page does.
struct Receiver : ICopyFileNode
{
    struct Call { QString label; int typeCode; int fileCount; bool isNew; };
    QList<Call> calls;
    QSet<int> seen;
    std::vector<std::unique_ptr<CFileClassfy>> owned;
    QList<QList<INode*>*> lists;

    void typeNodeChanged(CFileClassfy* node) override
    {
        const bool isNew = !seen.contains(node->typeCode);
        calls.append({node->label, node->typeCode, node->fileCount, isNew});
        if (isNew) {
            seen.insert(node->typeCode);
            owned.emplace_back(node);
        }
    }
    void setFileList(QList<INode*>* files) override { lists.append(files); }
    void hideRecoveryDialog() override {}
};

// A deleted file's record as the file-system passes post it: its bytes in
// two runs, the first at `sector`.
CFileNode entry(quint64 sector, const QString& typeName, const QString& originalName, qint64 size = 6000)
{
    CFileNode r = carved(sector, typeName, size);
    r.origin = CFileNode::OriginDeletedEntry;
    r.originalName = originalName;
    r.folder = QStringLiteral("/论文/2024");
    r.modified = QDateTime(QDate(2024, 5, 1), QTime(14, 3), Qt::UTC);
    r.extents = {{qint64(sector) * 512, 4096}, {qint64(sector) * 512 + 65536, 4096}};
    return r;
}

QStringList names(const QList<CFileNode>& records)
{
    QStringList out;
    for (const CFileNode& r : records)
        out << r.name + QLatin1Char('.') + r.typeName;
    return out;
}

} // namespace

class TestCreateTreeNode : public QObject
{
    Q_OBJECT
private slots:
    void duplicateFilter_data();
    void duplicateFilter();
    void treeShapeAndNotifications();
    void ticksAndCounters();
    void deletedEntriesMergeWithCarvedRecords();
    void damagedFilesAreNotTickedWithTheirType();
    void collectOrderFollowsTheList();
    void lookUp();
    void withoutReceiverTheTreeIsStillBuilt();
    void relayFromWorkerThread();
};

void TestCreateTreeNode::duplicateFilter_data()
{
    // Live files as "sector:code" pairs in report order, then the carved
    // record, then whether it must be listed.
    QTest::addColumn<QStringList>("live");
    QTest::addColumn<quint64>("sector");
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<bool>("listed");

    QTest::newRow("no live file") << QStringList() << quint64(8) << "PDF" << true;
    QTest::newRow("same sector, same type") << QStringList{"8:5"} << quint64(8) << "PDF" << false;
    QTest::newRow("type name in lower case") << QStringList{"8:5"} << quint64(8) << "pdf" << false;
    QTest::newRow("type name in mixed case") << QStringList{"8:5"} << quint64(8) << "Pdf" << false;
    QTest::newRow("other sector") << QStringList{"8:5"} << quint64(16) << "PDF" << true;
    QTest::newRow("other family at a live PDF") << QStringList{"8:5"} << quint64(8) << "ZIP" << true;
    QTest::newRow("PDF at a live DOC") << QStringList{"8:2"} << quint64(8) << "PDF" << true;
    QTest::newRow("ZIP at a live DOCX") << QStringList{"8:6"} << quint64(8) << "ZIP" << false;
    QTest::newRow("DOCX at a live ZIP") << QStringList{"8:1"} << quint64(8) << "DOCX" << false;
    QTest::newRow("XLSX at a live PPTX") << QStringList{"8:7"} << quint64(8) << "XLSX" << false;
    QTest::newRow("DOC at a live XLS") << QStringList{"8:3"} << quint64(8) << "DOC" << false;
    QTest::newRow("ZIP at a live XLS") << QStringList{"8:3"} << quint64(8) << "ZIP" << true;
    QTest::newRow("container (100) drops a ZIP") << QStringList{"8:100"} << quint64(8) << "ZIP" << false;
    QTest::newRow("container (100) drops a DOC") << QStringList{"8:100"} << quint64(8) << "DOC" << false;
    QTest::newRow("container (100) drops a PDF") << QStringList{"8:100"} << quint64(8) << "PDF" << false;
    QTest::newRow("unknown type name at a live PDF") << QStringList{"8:5"} << quint64(8) << "TXT" << true;
    QTest::newRow("first pair wins: PDF kept over ZIP, ZIP listed")
        << QStringList{"8:5", "8:1"} << quint64(8) << "ZIP" << true;
    QTest::newRow("first pair wins: PDF kept over ZIP, PDF dropped")
        << QStringList{"8:5", "8:1"} << quint64(8) << "PDF" << false;
    QTest::newRow("first pair wins: PDF over a later container")
        << QStringList{"8:5", "8:100"} << quint64(8) << "DOC" << true;
    QTest::newRow("first pair wins: container over a later PDF")
        << QStringList{"8:100", "8:5"} << quint64(8) << "DOC" << false;
    // Sectors are 64-bit: a live file 2 TiB further on is not at sector 8.
    QTest::newRow("sector past 2^32 is not truncated")
        << QStringList{QStringLiteral("%1:5").arg((quint64(1) << 32) + 8)} << quint64(8) << "PDF" << true;
    QTest::newRow("sector past 2^32 matches itself")
        << QStringList{QStringLiteral("%1:5").arg((quint64(1) << 32) + 8)} << (quint64(1) << 32) + 8 << "PDF"
        << false;
}

void TestCreateTreeNode::duplicateFilter()
{
    QFETCH(QStringList, live);
    QFETCH(quint64, sector);
    QFETCH(QString, typeName);
    QFETCH(bool, listed);

    CCreateTreeNode builder;
    Receiver receiver;
    builder.setReceiver(&receiver);
    for (const QString& pair : live) {
        const QStringList parts = pair.split(QLatin1Char(':'));
        builder.reciveFileItem(parts[0].toLongLong(), parts[1].toInt());
    }
    const CFileNode record = carved(sector, typeName);
    QCOMPARE(builder.isDuplicate(record), !listed);
    builder.reciveFileItem(record);

    QList<CFileNode> all;
    builder.collectAll(all);
    QCOMPARE(all.size(), listed ? 1 : 0);
    QCOMPARE(receiver.calls.size(), listed ? 1 : 0);
    int total = 0, ticked = 0;
    builder.countFiles(total, ticked);
    QCOMPARE(total, listed ? 1 : 0);
}

void TestCreateTreeNode::treeShapeAndNotifications()
{
    CCreateTreeNode builder;
    Receiver receiver;
    builder.setReceiver(&receiver);

    builder.reciveFileItem(carved(100, "ZIP"));
    builder.reciveFileItem(carved(200, "PDF"));
    builder.reciveFileItem(carved(300, "ZIP"));
    builder.reciveFileItem(carved(400, "ZIP"));

    // Types in order of first arrival, not by code.
    QCOMPARE(builder.typeCodes(), (QList<int>{1, 5}));

    // The first document is the type item and again its first file item.
    const CFileNodeItem* root = builder.root();
    QCOMPARE(root->childCount(), 2);
    const CFileNodeItem* zip = root->child(0);
    QCOMPARE(zip->record().startSector, quint64(100));
    QCOMPARE(zip->childCount(), 3);
    QCOMPARE(zip->child(0)->record().startSector, quint64(100));
    QVERIFY(zip->child(0) != zip);
    QCOMPARE(zip->child(0)->parent(), zip);
    QCOMPARE(zip->child(2)->record().startSector, quint64(400));

    QCOMPARE(receiver.calls.size(), 4);
    QCOMPARE(receiver.calls[0].label, QStringLiteral("ZIP"));
    QCOMPARE(receiver.calls[0].fileCount, 1);
    QVERIFY(receiver.calls[0].isNew);
    QCOMPARE(receiver.calls[1].typeCode, 5);
    QCOMPARE(receiver.calls[1].fileCount, 1);
    QCOMPARE(receiver.calls[2].label, QStringLiteral("ZIP"));
    QCOMPARE(receiver.calls[2].fileCount, 2);
    QCOMPARE(receiver.calls[3].fileCount, 3);

    QList<CFileNode> all;
    builder.collectAll(all);
    QCOMPARE(names(all), (QStringList{"100.ZIP", "300.ZIP", "400.ZIP", "200.PDF"}));
}

void TestCreateTreeNode::ticksAndCounters()
{
    CCreateTreeNode builder;
    for (quint64 s : {10, 20, 30})
        builder.reciveFileItem(carved(s, "PDF"));
    builder.reciveFileItem(carved(40, "DOC"));

    int total = 0, ticked = 0;
    builder.countFiles(total, ticked);
    QCOMPARE(total, 4);
    QCOMPARE(ticked, 0);
    QCOMPARE(builder.typeCheckState(5), 0);

    builder.setTypeChecked(5, 2);
    QCOMPARE(builder.typeCheckState(5), 2);
    QCOMPARE(builder.typeCheckState(2), 0);
    // Only the file items count: the type item itself is never ticked.
    QVERIFY(!builder.root()->child(0)->isChecked());
    total = ticked = 0;
    builder.countFiles(total, ticked);
    QCOMPARE(ticked, 3);

    // A new, unticked file turns a fully ticked type to partial.
    builder.reciveFileItem(carved(50, "PDF"));
    QCOMPARE(builder.typeCheckState(5), 1);
    total = ticked = 0;
    builder.countFiles(total, ticked);
    QCOMPARE(total, 5);
    QCOMPARE(ticked, 3);

    // Single files, as the table ticks them, move the counters both ways.
    CFileNodeItem* last = builder.root()->child(0)->child(3);
    last->setChecked(true);
    last->setChecked(true); // no double count
    QCOMPARE(builder.typeCheckState(5), 2);
    builder.root()->child(0)->child(0)->setChecked(false);
    QCOMPARE(builder.typeCheckState(5), 1);
    total = ticked = 0;
    builder.countFiles(total, ticked);
    QCOMPARE(ticked, 3);

    builder.setTypeChecked(5, 0);
    QCOMPARE(builder.typeCheckState(5), 0);
    // A partial state given as the new state ticks (it is not zero).
    builder.setTypeChecked(2, 1);
    QCOMPARE(builder.typeCheckState(2), 2);
    // Codes without a type item change nothing.
    builder.setTypeChecked(8, 2);
    QCOMPARE(builder.typeCheckState(8), 0);
    total = ticked = 0;
    builder.countFiles(total, ticked);
    QCOMPARE(total, 5);
    QCOMPARE(ticked, 1);
}

void TestCreateTreeNode::deletedEntriesMergeWithCarvedRecords()
{
    // Whatever the order, an entry and a carved record of its family at its
    // first byte are one row with the entry's name, size, time and layout.
    for (const bool entryFirst : {true, false}) {
        CCreateTreeNode builder;
        const CFileNode e = entry(100, "DOCX", QStringLiteral("毕业论文终稿.docx"));
        const QList<CFileNode> sequence = entryFirst ? QList<CFileNode>{e, carved(100, "DOCX", 9000)}
                                                     : QList<CFileNode>{carved(100, "DOCX", 9000), e};
        for (const CFileNode& r : sequence)
            builder.reciveFileItem(r);
        // A carved ZIP at the first byte of a deleted PDF is what reused
        // the PDF's clusters: another document, its own row.
        builder.reciveFileItem(entry(300, "PDF", QStringLiteral("合同.pdf")));
        builder.reciveFileItem(carved(300, "ZIP"));
        // A carved document nobody claimed, and an entry carving missed.
        builder.reciveFileItem(carved(500, "DOCX"));
        builder.reciveFileItem(entry(700, "DOCX", QStringLiteral("b.docx")));

        QList<CFileNode> all;
        builder.collectAll(all);
        QCOMPARE(all.size(), 5);
        const CFileNode& merged = all.at(0);
        QCOMPARE(merged.origin, int(CFileNode::OriginBoth));
        QCOMPARE(merged.displayName(), QStringLiteral("毕业论文终稿.docx"));
        QCOMPARE(merged.size, qint64(6000));
        QCOMPARE(merged.modified, e.modified);
        QCOMPARE(merged.extents, e.extents);
        QCOMPARE(merged.folder, e.folder);
        int total = 0, ticked = 0;
        builder.countFiles(total, ticked);
        QCOMPARE(total, 5);
        // The others keep rows of their own, as found.
        QCOMPARE(all.at(1).origin, int(CFileNode::OriginCarved));
        QCOMPARE(all.at(1).displayName(), QStringLiteral("500.DOCX"));
        QCOMPARE(all.at(2).origin, int(CFileNode::OriginDeletedEntry));
    }

    // A deleted file's sector that a live file now owns: the live-file
    // filter drops the carved record there, never the entry (whose own
    // record says how much of it is overwritten).
    CCreateTreeNode builder;
    builder.reciveFileItem(200, CFileTypeCatalogue::typeCodeByName("PDF"));
    CFileNode overwritten = entry(200, "PDF", QStringLiteral("旧.pdf"));
    overwritten.overwritten = 1.0;
    builder.reciveFileItem(overwritten);
    builder.reciveFileItem(carved(200, "PDF"));
    // A file kept inside its entry has no first byte on the volume: a
    // carved record at its nominal sector is not it.
    CFileNode resident = entry(900, "PDF", QStringLiteral("小.pdf"), 600);
    resident.extents.clear();
    resident.residentData = QByteArray(600, 'x');
    resident.hasResidentData = true;
    builder.reciveFileItem(resident);
    builder.reciveFileItem(carved(900, "PDF"));
    QList<CFileNode> all;
    builder.collectAll(all);
    QCOMPARE(all.size(), 3);
    QCOMPARE(all.at(0).displayName(), QStringLiteral("旧.pdf"));
    QCOMPARE(all.at(1).displayName(), QStringLiteral("小.pdf"));
    QCOMPARE(all.at(2).origin, int(CFileNode::OriginCarved));
}

void TestCreateTreeNode::damagedFilesAreNotTickedWithTheirType()
{
    CCreateTreeNode builder;
    const int pdf = CFileTypeCatalogue::typeCodeByName("PDF");
    CFileNode partly = entry(10, "PDF", QStringLiteral("a.pdf"));
    partly.overwritten = 0.25;
    CFileNode cut = entry(20, "PDF", QStringLiteral("b.pdf"));
    cut.incomplete = true;
    builder.reciveFileItem(partly);
    builder.reciveFileItem(cut);
    builder.reciveFileItem(carved(30, "PDF"));

    // Ticking the type ticks the whole file only, and shows as fully
    // ticked, so that the next click on the box unticks.
    builder.setTypeChecked(pdf, 2);
    QCOMPARE(builder.typeCheckState(pdf), 2);
    QList<CFileNode> ticked;
    builder.collectChecked(ticked);
    QCOMPARE(names(ticked), QStringList{"30.PDF"});
    int total = 0, count = 0;
    builder.countFiles(total, count);
    QCOMPARE(total, 3);
    QCOMPARE(count, 1);

    // The user may still take a damaged file by itself; unticking the type
    // unticks it too.
    CFileNodeItem* type = builder.root()->child(0);
    type->child(0)->setChecked(true);
    QCOMPARE(builder.typeCheckState(pdf), 2);
    total = count = 0;
    builder.countFiles(total, count);
    QCOMPARE(count, 2);
    builder.setTypeChecked(pdf, 0);
    QCOMPARE(builder.typeCheckState(pdf), 0);
    total = count = 0;
    builder.countFiles(total, count);
    QCOMPARE(count, 0);

    // Rows ticked with their type that turn out damaged (a carved one is an
    // overwritten file's; another fails its check): ticked before that was
    // known, they lose the tick, since recovering a ticked damaged file
    // writes it as it is; the type's state follows.
    CCreateTreeNode later;
    later.reciveFileItem(carved(40, "PDF"));
    later.reciveFileItem(carved(50, "PDF"));
    later.reciveFileItem(carved(60, "PDF"));
    later.setTypeChecked(pdf, 2);
    CFileNode reused = entry(40, "PDF", QStringLiteral("c.pdf"));
    reused.overwritten = 0.5;
    later.reciveFileItem(reused);
    CFileNodeItem* laterType = later.root()->child(0);
    QVERIFY(!laterType->child(0)->isChecked());
    CDocumentDetails failed;
    failed.examined = true;
    failed.integrity = CDocumentDetails::IntegrityDamaged;
    laterType->child(1)->setDetails(failed);
    QVERIFY(!laterType->child(1)->isChecked());
    QCOMPARE(later.typeCheckState(pdf), 2);
    ticked.clear();
    later.collectChecked(ticked);
    QCOMPARE(names(ticked), QStringList{"60.PDF"});
    laterType->child(2)->setChecked(false);
    QCOMPARE(later.typeCheckState(pdf), 0);
    later.setTypeChecked(pdf, 2);
    ticked.clear();
    later.collectChecked(ticked);
    QCOMPARE(names(ticked), QStringList{"60.PDF"});
}

void TestCreateTreeNode::collectOrderFollowsTheList()
{
    CCreateTreeNode builder;
    QList<CFileNode> out;
    builder.collectChecked(out);
    QVERIFY(out.isEmpty());

    builder.reciveFileItem(carved(10, "DOCX", 300));
    builder.reciveFileItem(carved(20, "PDF", 100));
    builder.reciveFileItem(carved(30, "DOCX", 900));
    builder.reciveFileItem(carved(40, "PDF", 500));
    builder.reciveFileItem(carved(50, "DOCX", 600));
    builder.setTypeChecked(6, 2);
    builder.setTypeChecked(5, 2);
    builder.root()->child(0)->child(1)->setChecked(false); // 30.DOCX

    // Reorder the DOCX list as the table's size sort does.
    QList<INode*>* docx = builder.filesOfType(6);
    QVERIFY(docx);
    std::sort(docx->begin(), docx->end(), [](INode* a, INode* b) {
        return static_cast<CFileNodeItem*>(a)->record().size > static_cast<CFileNodeItem*>(b)->record().size;
    });

    out.append(carved(1, "ZIP")); // appended to, never cleared
    builder.collectChecked(out);
    QCOMPARE(names(out), (QStringList{"1.ZIP", "50.DOCX", "10.DOCX", "20.PDF", "40.PDF"}));
}

void TestCreateTreeNode::lookUp()
{
    CCreateTreeNode builder;
    Receiver receiver;
    builder.setReceiver(&receiver);

    builder.startLookup(-1);
    QVERIFY(receiver.lists.isEmpty()); // nothing before the first document

    builder.reciveFileItem(carved(10, "XLS"));
    builder.reciveFileItem(carved(20, "PPT"));
    builder.startLookup(-1);
    builder.startLookup(4);
    builder.startLookup(8); // no such type
    QCOMPARE(receiver.lists.size(), 2);
    QCOMPARE(receiver.lists[0], builder.filesOfType(3));
    QCOMPARE(receiver.lists[1], builder.filesOfType(4));

    builder.requestStop();
    builder.startLookup(3);
    QCOMPARE(receiver.lists.size(), 2);
}

void TestCreateTreeNode::withoutReceiverTheTreeIsStillBuilt()
{
    // The command line has no page to tell; what it finds must still count.
    CCreateTreeNode builder;
    builder.reciveFileItem(carved(10, "PDF"));
    builder.reciveFileItem(carved(20, "PDF"));
    builder.startLookup(-1);
    QList<CFileNode> all;
    builder.collectAll(all);
    QCOMPARE(names(all), (QStringList{"10.PDF", "20.PDF"}));
}

void TestCreateTreeNode::relayFromWorkerThread()
{
    CNotifyFileNode relay;
    CCreateTreeNode builder;
    connect(&relay, qOverload<CFileNode>(&CNotifyFileNode::notifyItem), &builder,
            qOverload<const CFileNode&>(&CCreateTreeNode::reciveFileItem));
    connect(&relay, qOverload<long long, int>(&CNotifyFileNode::notifyItem), &builder,
            qOverload<long long, int>(&CCreateTreeNode::reciveFileItem));

    // Live files first, then the carving, as a scan reports them.
    std::thread worker([&relay] {
        relay.postItem(16, 5);
        relay.postItem(24, 100);
        for (quint64 s = 8; s <= 32; s += 8)
            relay.postItem(carved(s, "PDF"));
    });
    worker.join();
    QCoreApplication::sendPostedEvents();

    QList<CFileNode> all;
    builder.collectAll(all);
    QCOMPARE(names(all), (QStringList{"8.PDF", "32.PDF"}));
}

QTEST_GUILESS_MAIN(TestCreateTreeNode)
#include "tst_CCreateTreeNode.moc"
