// The preview beside the result table and in its popup: a row chosen shows
// its document as the helper made it, within the 900 x 550 window; the
// hex view, a damaged document's reason, "No preview", closing the pane.
#include "AppTestSupport.h"
#include "app/CAppResources.h"
#include "app/CChoiceDiskWnd.h"
#include "app/CMainWindow.h"
#include "app/CParentWindow.h"
#include "app/CPreviewPane.h"
#include "app/Orvik.h"
#include "disk/CMemoryVolume.h"

#include <QDialog>
#include <QFile>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

class tst_preview_pane : public QObject
{
    Q_OBJECT

private slots:
    void paneBesideTheTable()
    {
        QFile docx(QStringLiteral(TAMSEL_TEST_DATA "/docx_lo_short.docx"));
        QVERIFY(docx.open(QIODevice::ReadOnly));
        const QByteArray document = docx.readAll();
        QByteArray bytes(512 * 1024, 'c');
        bytes.replace(8 * 512, document.size(), document);

        // As the program has it: one font family for every widget.
        qApp->setStyleSheet(CAppResources::loadStyleSheet(QStringLiteral(TAMSEL_BIN_DIR)));
        const CPartitionList::Probes probes = apptest::partitionProbes(1, QStringLiteral("/nonexistent/img"));
        CParentWindow window(&probes);
        window.setFixedSize(900, 550);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto volume = std::make_shared<CMemoryVolume>(bytes, QStringLiteral("not-a-device"));
        CMainWindow* main = window.mainWindow();
        Orvik* page = main->resultPage();
        main->diskPage()->hide();
        page->show();
        page->scanWorker().setWindowSize(64 * 1024);
        CPartitionInfo partition;
        partition.displayName = QStringLiteral("Data(sdz1)");
        partition.devicePath = QStringLiteral("/dev/sdz1");
        page->startWithVolume(partition, volume);
        QTRY_VERIFY(!page->scanWorker().isRunning());
        CFileNode damaged = apptest::record(QStringLiteral("PDF"), 20000, 400);
        damaged.overwritten = 0.5;
        page->scanWorker().relay()->postItem(damaged);
        QTRY_COMPARE(page->foundText(), QStringLiteral("2"));
        const QModelIndex top = page->treeModel().rootRowIndex();
        page->treeView()->setCurrentIndex(top);
        page->showFile(top);
        QTableView* table = page->tableView();
        QCOMPARE(table->model()->rowCount(), 2);
        const int docxRow = table->model()->index(0, 1).data().toString().endsWith(QLatin1String("DOCX")) ? 0 : 1;

        // Choosing a row opens the pane beside the table, inside the window.
        CPreviewPane* pane = page->previewPane();
        QVERIFY(pane->isHidden());
        table->setCurrentIndex(table->model()->index(docxRow, 1));
        QVERIFY(pane->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(int(pane->showing()), int(CPreviewPane::Showing::Text), 20000);
        QVERIFY2(pane->shownText().startsWith(QStringLiteral("Letter\nChapter west buffer.")),
                 qPrintable(pane->shownText().left(100)));
        QCOMPARE(window.size(), QSize(900, 550));
        const QRect paneAt(pane->mapTo(&window, QPoint(0, 0)), pane->size());
        QVERIFY(QRect(QPoint(0, 0), window.size()).contains(paneAt));
        QVERIFY(table->width() > 300);

        // The hex view of the same bytes.
        pane->hexButton()->click();
        QCOMPARE(int(pane->showing()), int(CPreviewPane::Showing::Hex));
        QVERIFY(pane->shownText().startsWith(QStringLiteral("00000000  50 4b 03 04 ")));
        // Its columns line up under the window's style sheet too.
        QPlainTextEdit* hex = nullptr;
        for (QPlainTextEdit* edit : pane->findChildren<QPlainTextEdit*>())
            hex = edit->isVisible() ? edit : hex;
        QVERIFY(hex);
        const QFontMetrics metrics(hex->font());
        QCOMPARE(metrics.horizontalAdvance(QStringLiteral("ff ff")), metrics.horizontalAdvance(QStringLiteral("00 00")));
        pane->hexButton()->click();

        // Overwritten bytes: no preview, and why, above.
        table->setCurrentIndex(table->model()->index(1 - docxRow, 1));
        QTRY_COMPARE_WITH_TIMEOUT(int(pane->showing()), int(CPreviewPane::Showing::NoPreview), 20000);
        QCOMPARE(pane->shownText(), QStringLiteral("无法预览"));
        QVERIFY2(pane->noticeText().contains(QStringLiteral("约 50% 已被其他文件覆盖")), qPrintable(pane->noticeText()));

        // Closed, it stays closed; Enter opens the popup instead.
        pane->findChildren<QToolButton*>().last()->click();
        QVERIFY(pane->isHidden());
        table->setCurrentIndex(table->model()->index(docxRow, 1));
        QVERIFY(pane->isHidden());
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Return);
        QDialog* popup = page->findChild<QDialog*>();
        QVERIFY(popup);
        CPreviewPane* popupPane = popup->findChild<CPreviewPane*>();
        QTRY_COMPARE_WITH_TIMEOUT(int(popupPane->showing()), int(CPreviewPane::Showing::Text), 20000);
        popup->close();
    }
};

QTEST_MAIN(tst_preview_pane)
#include "tst_preview_pane.moc"
