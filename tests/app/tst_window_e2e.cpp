// A whole session as a person has it: a disk image made by
// scripts/make-demo-image.sh (a FAT32 volume on which documents were
// deleted) opened through "打开镜像文件", scanned to the end, the PDF type
// ticked and recovered into a folder. The files there are the bytes of the
// deleted PDFs on the image.
#include "AppTestSupport.h"

#include "app/CChoiceDiskWnd.h"
#include "app/CMainWindow.h"
#include "app/CParentWindow.h"
#include "app/Orvik.h"
#include "disk/CFileVolume.h"
#include "recovery/CRecoveryDialog.h"
#include "results/CCreateTreeNode.h"
#include "results/CFileInfoTableModel.h"
#include "scan/CDocumentBytes.h"
#include "scan/CScanJournal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestWindowEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void scanTickRecover();
    void documentsInPiecesAreListedWhole();
};

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A recovered document is byte-identical to the file that was written (a
// PDF with the line end after its last "%%EOF").
bool sameDocument(const QByteArray& recovered, const QByteArray& original)
{
    return !recovered.isEmpty() && recovered == original;
}

} // namespace

void TestWindowEndToEnd::scanTickRecover()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString image = work.filePath(QStringLiteral("demo.img"));
    QProcess make;
    make.start(QStringLiteral("bash"), {QStringLiteral(TAMSEL_SOURCE_DIR "/scripts/make-demo-image.sh"), image});
    QVERIFY(make.waitForFinished(120000));
    QVERIFY2(make.exitCode() == 0, make.readAllStandardError().constData());

    const CPartitionList::Probes probes = apptest::partitionProbes(2);
    CParentWindow window(&probes);
    CMainWindow* main = window.mainWindow();
    apptest::FixedChooser chooser;
    chooser.imageFile = image;
    chooser.outputFolder = work.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(chooser.outputFolder));
    main->setFileChooser(&chooser);
    window.show();

    main->diskPage()->imageButton()->click();
    Orvik* page = main->resultPage();
    QVERIFY(page && page->isVisible());
    QCOMPARE(page->partition().displayName, QStringLiteral("demo.img"));
    QCOMPARE(page->partition().fileSystem, QStringLiteral("FAT32"));
    QVERIFY(!page->noticeLabel()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(page->doneMark()->isVisible(), 120000);
    QTRY_VERIFY(!page->scanWorker().isRunning());
    QVERIFY(page->failureNotice() == nullptr);
    // The scan read the unused space and says so once it is done; its
    // figures are of that space (here, with the short stretches in use read
    // along, as much as the volume).
    const qint64 imageSize = QFileInfo(image).size();
    const QString readUnused = page->detailsLabel()->text();
    const qint64 unusedBytes = page->scanWorker().bytesToRead();
    QCOMPARE(page->readPlanLabel()->text(), QStringLiteral("已扫描全部未使用空间"));
    QVERIFY(page->readPlanLabel()->isVisible());
    QVERIFY(page->scanWorker().unusedSpaceOnly());
    QVERIFY(unusedBytes > 0 && unusedBytes <= imageSize);
    QCOMPARE(readUnused, Orvik::progressDetails(unusedBytes, 1000, 0, false));

    // The deleted documents are listed; the live ones are not.
    const QModelIndex pdfRow = page->treeModel().typeRowIndex(5);
    QVERIFY(pdfRow.isValid());
    QList<CFileNode> listed;
    page->treeBuilder().collectAll(listed);
    int pdfs = 0;
    for (const CFileNode& node : listed)
        pdfs += node.typeCode == 5 ? 1 : 0;
    QCOMPARE(pdfs, 1);
    QCOMPARE(page->foundText(), QString::number(listed.size()));

    QVERIFY(page->treeModel().setData(pdfRow, Qt::Checked, Qt::CheckStateRole));
    QCOMPARE(page->tickedText(), QStringLiteral("1"));
    QVERIFY(page->recoverButton()->isEnabled());
    {
        // Should the output's volume be in doubt, the question is accepted.
        apptest::BoxAnswerer acceptIfAsked(true);
        page->recoverButton()->click();
    }
    CRecoveryDialog& dialog = page->recoveryDialog();
    QTRY_COMPARE_WITH_TIMEOUT(dialog.statusText(), QStringLiteral("恢复完成！"), 60000);
    QVERIFY(dialog.errorText().isEmpty());

    const QString folder = dialog.savePath();
    QVERIFY(folder.startsWith(chooser.outputFolder + QStringLiteral("/Tamsel")));
    // The document, and the report of what was written.
    QStringList files = QDir(folder).entryList(QDir::Files);
    QVERIFY(files.removeOne(QStringLiteral("report.xml")));
    QCOMPARE(files.size(), 1);

    // Byte for byte what the image holds at the document's place, and the
    // document that was copied onto the image and deleted.
    QList<CFileNode> ticked;
    page->treeBuilder().collectChecked(ticked);
    QCOMPARE(ticked.size(), 1);
    const CFileNode& node = ticked.first();
    // Named as its deleted directory entry had it (the first letter of a
    // deleted short name is gone, as The Sleuth Kit shows it too).
    QCOMPARE(node.originalName, QStringLiteral("_hesis.pdf"));
    QCOMPARE(files.first(), node.originalName);
    const QByteArray recovered = readFile(folder + QLatin1Char('/') + files.first());
    QFile imageFile(image);
    QVERIFY(imageFile.open(QIODevice::ReadOnly));
    QVERIFY(imageFile.seek(qint64(node.byteOffset())));
    QCOMPARE(recovered, imageFile.read(node.size));
    QVERIFY(sameDocument(recovered, readFile(QStringLiteral(TAMSEL_TEST_DATA "/pdf_ghostscript.pdf"))));

    dialog.hide();

    // Opened again from the saved scan in a new page, the finished scan
    // says what it read, in the same words and figures.
    const auto scanAgain = [&](bool keepSaved, QString* asked) -> Orvik* {
        main->resultPage()->backButton()->click();
        apptest::BoxAnswerer answer(keepSaved);
        main->diskPage()->imageButton()->click();
        Orvik* next = main->resultPage();
        if (!next || next == page)
            return nullptr;
        *asked = answer.text();
        return next;
    };
    QString asked;
    QVERIFY(!main->diskPage()->wholeVolume());
    page = scanAgain(true, &asked);
    QVERIFY(page);
    QVERIFY2(asked.contains(QStringLiteral("已完成")), qPrintable(asked));
    QTRY_VERIFY_WITH_TIMEOUT(page->doneMark()->isVisible(), 60000);
    QCOMPARE(page->readPlanLabel()->text(), QStringLiteral("已扫描全部未使用空间"));
    QVERIFY(page->readPlanLabel()->isVisible());
    QCOMPARE(page->detailsLabel()->text(), readUnused);
    QVERIFY(page->scanWorker().unusedSpaceOnly());
    QCOMPARE(page->scanWorker().bytesToRead(), unusedBytes);
    QTRY_VERIFY(!page->scanWorker().isRunning());

    // A scan of the whole volume, saved before it got anywhere, goes on
    // as it was made though the box is unticked now, and is labelled so.
    std::unique_ptr<CFileVolume> source = CFileVolume::open(image);
    QVERIFY(source);
    const QString journal = CScanJournal::fileFor(CScanJournal::identify(*source));
    CScanJournal::State state;
    QString notice;
    QVERIFY2(CScanJournal::load(journal, CScanJournal::identify(*source), &state, &notice), qPrintable(notice));
    state.finished = false;
    state.reached = state.resumeOffset = 0;
    state.wholeVolume = true;
    state.unusedOnly = false;
    state.bytesToRead = imageSize;
    QVERIFY(CScanJournal::save(journal, state));
    page = scanAgain(true, &asked);
    QVERIFY(page);
    QVERIFY2(asked.contains(QStringLiteral("读取了整个卷")), qPrintable(asked));
    QTRY_VERIFY_WITH_TIMEOUT(page->doneMark()->isVisible(), 120000);
    QCOMPARE(page->readPlanLabel()->text(), QStringLiteral("已扫描整个卷"));
    QVERIFY(page->readPlanLabel()->isVisible());
    QCOMPARE(page->detailsLabel()->text(), Orvik::progressDetails(imageSize, 1000, 0, false));
    QTRY_VERIFY(!page->scanWorker().isRunning());
}

// Deleted documents whose entries are gone, each in two pieces
// (tests/scripts/make-fat32-unnamed-pieces-volume.sh): once the scan ends,
// the window has them searched for on the volume's cluster grid and lists
// them whole, their rows saying in how many pieces.
void TestWindowEndToEnd::documentsInPiecesAreListedWhole()
{
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString image = work.filePath(QStringLiteral("pieces.img"));
    QProcess make;
    make.start(QStringLiteral("bash"),
               {QStringLiteral(TAMSEL_SOURCE_DIR "/tests/scripts/make-fat32-unnamed-pieces-volume.sh"), image});
    QVERIFY(make.waitForFinished(120000));
    QVERIFY2(make.exitCode() == 0, make.readAllStandardError().constData());

    const CPartitionList::Probes probes = apptest::partitionProbes(2);
    CParentWindow window(&probes);
    CMainWindow* main = window.mainWindow();
    apptest::FixedChooser chooser;
    chooser.imageFile = image;
    main->setFileChooser(&chooser);
    window.show();
    main->diskPage()->imageButton()->click();
    Orvik* page = main->resultPage();
    QVERIFY(page && page->isVisible());
    // drained() comes after the last batch, which is applied by then.
    QSignalSpy drained(&page->detailsWorker(), &CDetailsWorker::drained);
    QTRY_VERIFY_WITH_TIMEOUT(page->doneMark()->isVisible(), 120000);
    QTRY_VERIFY_WITH_TIMEOUT(drained.count() > 0, 120000);
    page->flushRefresh();

    QSet<QByteArray> expected;
    for (const char* name : {"pdf_lo_writer_text.pdf", "docx_python-docx.docx", "pptx_lo_3slides.pptx"})
        expected.insert(QCryptographicHash::hash(readFile(QStringLiteral(TAMSEL_TEST_DATA "/") + QLatin1String(name)),
                                                 QCryptographicHash::Sha256));
    QFile imageFile(image);
    QVERIFY(imageFile.open(QIODevice::ReadOnly));
    QList<CFileNode> listed;
    page->treeBuilder().collectAll(listed);
    QSet<QByteArray> whole;
    for (const CFileNode& node : listed) {
        if (node.details.integrity != CDocumentDetails::IntegrityWhole)
            continue;
        QByteArray bytes;
        for (const CFileNode::Extent& e : CDocumentBytes::runsOf(node)) {
            QVERIFY(imageFile.seek(e.offset));
            bytes += imageFile.read(e.length);
        }
        const QByteArray hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
        QVERIFY2(expected.contains(hash), qPrintable(node.name));
        whole.insert(hash);
        QCOMPARE(node.extents.size(), 2);
        QVERIFY2(CFileInfoTableModel::toolTipOf(node).contains(QStringLiteral("分 2 段")),
                 qPrintable(CFileInfoTableModel::toolTipOf(node)));
    }
    QCOMPARE(whole, expected);
}

QTEST_MAIN(TestWindowEndToEnd)
#include "tst_window_e2e.moc"
