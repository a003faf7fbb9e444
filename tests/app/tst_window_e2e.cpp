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

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class TestWindowEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void scanTickRecover();
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
}

QTEST_MAIN(TestWindowEndToEnd)
#include "tst_window_e2e.moc"
