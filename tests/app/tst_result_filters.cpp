// The filter bar over the result table and the table's keyboard, driven
// through the real page offscreen: date and size ranges and "whole only"
// hide the right rows and the counter says how many, the question before
// recovering ticked rows a filter hides, Ctrl+A and Space under a filter,
// and the order Tab walks.
#include "AppTestSupport.h"

#include "app/CFilterBar.h"
#include "app/CMainWindow.h"
#include "app/CParentWindow.h"
#include "app/CChoiceDiskWnd.h"
#include "app/CPreviewPane.h"
#include "app/Orvik.h"
#include "disk/CMemoryVolume.h"
#include "recovery/CRecoveryDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

namespace {

// Six documents whose times and sizes sit on the edges the filters draw.
struct Doc
{
    const char* type;
    qint64 size;
    quint64 sector;
    QDateTime modified; // invalid: unknown
    int integrity;
    double overwritten;
};

QDateTime local(int y, int m, int d, int h, int min)
{
    return QDateTime(QDate(y, m, d), QTime(h, min));
}

QList<Doc> docs()
{
    using D = CDocumentDetails;
    return {
        {"PDF", 10 * 1024, 100, local(2024, 3, 10, 9, 0), D::IntegrityWhole, 0.0},
        // Exactly 2 MB, late on the last day of the range.
        {"PDF", 2 * 1024 * 1024, 200, local(2024, 6, 15, 23, 59), D::IntegrityWhole, 0.0},
        // Half an hour before the range begins.
        {"DOC", 500 * 1024, 300, local(2023, 12, 31, 23, 30), D::IntegrityWhole, 0.0},
        {"DOCX", 5 * 1024 * 1024, 400, QDateTime(), D::IntegrityWhole, 0.0},
        {"XLS", 300 * 1024, 500, local(2024, 6, 16, 0, 0), D::IntegrityWhole, 0.5},
        // The first minute of the range; read, but not judged.
        {"ZIP", 40 * 1024, 600, local(2024, 1, 1, 0, 0), D::IntegrityUnchecked, 0.0},
    };
}

CFileNode recordOf(const Doc& d)
{
    CFileNode n = apptest::record(QString::fromLatin1(d.type), d.size, d.sector);
    n.modified = d.modified.toUTC();
    // Read already: the details pass leaves it as it is.
    n.details.examined = true;
    n.details.integrity = d.integrity;
    n.overwritten = d.overwritten;
    return n;
}

// Answers every confirmation box: the one about rows the filter hides as
// told, any other (where the output folder lies) with yes.
class HiddenRowsAnswerer
{
public:
    explicit HiddenRowsAnswerer(bool confirmHidden) : m_confirm(confirmHidden)
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this]() {
            auto* box = qobject_cast<CMessageTips*>(QApplication::activeModalWidget());
            if (!box)
                return;
            const bool hidden = box->message().contains(QStringLiteral("筛选"));
            if (hidden)
                m_asked << box->message();
            (!hidden || m_confirm ? box->confirmButton() : box->cancelButton())->click();
        });
        m_timer.start();
    }
    QStringList asked() const { return m_asked; }

private:
    bool m_confirm;
    QTimer m_timer;
    QStringList m_asked;
};

} // namespace

class tst_result_filters : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<CParentWindow> m_window;
    Orvik* m_page = nullptr;
    apptest::FixedChooser m_chooser;
    CPartitionList::Probes m_probes = apptest::partitionProbes(1);
    static constexpr int kPdfOffset = 16000 * 512 + 100;
    QByteArray m_pdf;

    QStringList shownSectors() const
    {
        QStringList sectors;
        const QAbstractItemModel* model = m_page->tableView()->model();
        for (int row = 0; row < model->rowCount(); ++row)
            sectors << model->index(row, 1).data().toString().section(QLatin1Char('.'), 0, 0);
        sectors.sort();
        return sectors;
    }

private slots:
    void init()
    {
        m_window = std::make_unique<CParentWindow>(&m_probes);
        m_window->setFixedSize(900, 550);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        CMainWindow* main = m_window->mainWindow();
        main->setFileChooser(&m_chooser);
        m_page = main->resultPage();
        main->diskPage()->hide();
        m_page->show();
        m_page->scanWorker().setWindowSize(64 * 1024);
        CPartitionInfo partition;
        partition.displayName = QStringLiteral("Data(sdz1)");
        partition.devicePath = QStringLiteral("/dev/sdz1");
        partition.fileSystem = QStringLiteral("NTFS");
        // A real PDF off the sector grid, where carving does not look: a
        // deleted file's bytes that the details pass will find whole once
        // its entry is posted.
        QFile pdf(QStringLiteral(TAMSEL_TEST_DATA "/pdf_xref_stream.pdf"));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        m_pdf = pdf.readAll();
        QByteArray bytes(8 * 1024 * 1024, 'q');
        bytes.replace(kPdfOffset, m_pdf.size(), m_pdf);
        m_page->startWithVolume(partition, std::make_shared<CMemoryVolume>(bytes));
        QTRY_VERIFY(!m_page->scanWorker().isRunning());
        for (const Doc& d : docs())
            m_page->scanWorker().relay()->postItem(recordOf(d));
        QTRY_COMPARE(m_page->foundText(), QStringLiteral("6"));
        m_page->flushRefresh();
        const QModelIndex all = m_page->treeModel().rootRowIndex();
        m_page->treeView()->setCurrentIndex(all);
        m_page->showFile(all);
        QCOMPARE(m_page->tableView()->model()->rowCount(), 6);
    }

    void cleanup()
    {
        m_page = nullptr;
        m_window.reset();
    }

    void datesSizesAndWholeOnlyHideRowsAndCountThem()
    {
        CFilterBar* bar = m_page->filterBar();
        QCOMPARE(m_page->hiddenText(), QString());

        // Both ends of the date range are whole days in local time; a
        // document of unknown time is outside any range.
        bar->fromEdit()->setDate(QDate(2024, 6, 15));
        bar->toEdit()->setDate(QDate(2024, 1, 1)); // the wrong way round
        bar->dateBox()->setChecked(true);
        QCOMPARE(shownSectors(), (QStringList{"100", "200", "600"}));
        QCOMPARE(m_page->hiddenText(), QStringLiteral("3"));
        QCOMPARE(bar->filterButton()->text(), QStringLiteral("筛选（1）"));

        // Sizes in KB, both ends included (exactly 2 MB is in), together
        // with the dates.
        bar->unitBox()->setCurrentIndex(CFilterBar::Kilobytes);
        bar->minSizeEdit()->setValue(100);
        bar->maxSizeEdit()->setValue(2048);
        bar->sizeBox()->setChecked(true);
        QCOMPARE(shownSectors(), (QStringList{"200"}));
        bar->dateBox()->setChecked(false);
        QCOMPARE(shownSectors(), (QStringList{"200", "300", "500"}));
        QCOMPARE(m_page->hiddenText(), QStringLiteral("3"));
        // No upper end: "不限".
        bar->maxSizeEdit()->setValue(0);
        QCOMPARE(bar->maxSizeEdit()->text(), QStringLiteral("不限"));
        QCOMPARE(shownSectors(), (QStringList{"200", "300", "400", "500"}));
        bar->sizeBox()->setChecked(false);

        // Whole only: not the overwritten one, nor the one not judged.
        bar->wholeOnlyBox()->setChecked(true);
        QCOMPARE(shownSectors(), (QStringList{"100", "200", "300", "400"}));
        QCOMPARE(m_page->hiddenText(), QStringLiteral("2"));

        // Documents arriving meanwhile are filtered and counted as well.
        m_page->scanWorker().relay()->postItem(recordOf({"PDF", 9000, 700, QDateTime(), 0, 0.0}));
        QTRY_COMPARE(m_page->foundText(), QStringLiteral("7"));
        m_page->flushRefresh();
        QCOMPARE(m_page->hiddenText(), QStringLiteral("3"));
        QCOMPARE(m_page->tableView()->model()->rowCount(), 4);

        // With the name box too; nothing left says why.
        bar->textEdit()->setText(QStringLiteral("no such name"));
        QCOMPARE(m_page->tableView()->model()->rowCount(), 0);
        QCOMPARE(m_page->hiddenText(), QStringLiteral("7"));
        QVERIFY(m_page->emptyLabel()->isVisible());
        QCOMPARE(m_page->emptyLabel()->text(), QStringLiteral("没有符合筛选条件的文档。"));

        // The popup's clear button keeps the text; clearing that too shows
        // every row and the counter goes.
        bar->clearButton()->click();
        QCOMPARE(bar->filterButton()->text(), QStringLiteral("筛选"));
        QCOMPARE(bar->textEdit()->text(), QStringLiteral("no such name"));
        bar->textEdit()->clear();
        QCOMPARE(m_page->tableView()->model()->rowCount(), 7);
        QCOMPARE(m_page->hiddenText(), QString());
        QVERIFY(!m_page->emptyLabel()->isVisible());
        QCOMPARE(m_page->foundText(), QStringLiteral("7"));
    }

    void popupFitsTheWindow()
    {
        CFilterBar* bar = m_page->filterBar();
        QPushButton* button = bar->filterButton();
        // Its longest text fits.
        bar->dateBox()->setChecked(true);
        bar->sizeBox()->setChecked(true);
        bar->wholeOnlyBox()->setChecked(true);
        QApplication::processEvents();
        QVERIFY(button->fontMetrics().horizontalAdvance(button->text()) + 8 <= button->width());
        QTest::mouseClick(button, Qt::LeftButton);
        QFrame* popup = bar->popup();
        QVERIFY(popup->isVisible());
        const QRect window = m_window->frameGeometry();
        QVERIFY2(window.contains(popup->frameGeometry()),
                 qPrintable(QStringLiteral("%1,%2 %3x%4").arg(popup->x()).arg(popup->y()).arg(popup->width()).arg(
                     popup->height())));
        popup->hide();
        // The bar sits over the table, inside the window.
        QVERIFY(bar->geometry().bottom() < m_page->tableView()->geometry().top() + 1);
        QVERIFY(bar->mapTo(m_window.get(), QPoint(0, bar->height())).y() <= 550);
    }

    void recoveringRowsTheFilterHidesAsksFirst()
    {
        QTemporaryDir out;
        m_chooser.outputFolder = out.path();
        const QModelIndex all = m_page->treeModel().rootRowIndex();
        m_page->treeModel().setData(all, Qt::Checked, Qt::CheckStateRole);
        // The damaged one is ticked only on its own.
        QCOMPARE(m_page->tickedText(), QStringLiteral("5"));
        // 2024 only: the whole DOC of 2023 and the DOCX of unknown time are
        // ticked and hidden; the damaged XLS is hidden but not ticked.
        CFilterBar* bar = m_page->filterBar();
        bar->fromEdit()->setDate(QDate(2024, 1, 1));
        bar->toEdit()->setDate(QDate(2024, 12, 31));
        bar->dateBox()->setChecked(true);
        {
            HiddenRowsAnswerer decline(false);
            m_page->recoverButton()->click();
            QCOMPARE(decline.asked(),
                     QStringList{QStringLiteral("筛选隐藏了 2 个已勾选的文档，它们也会被恢复。继续吗？")});
        }
        QVERIFY(!m_page->recoveryDialog().isVisible());
        QVERIFY(QDir(out.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
        {
            HiddenRowsAnswerer accept(true);
            m_page->recoverButton()->click();
            QCOMPARE(accept.asked().size(), 1);
        }
        QVERIFY(m_page->recoveryDialog().isVisible());
        // The hidden ones are recovered with the rest.
        QVERIFY2(m_page->recoveryDialog().statusText().contains(QStringLiteral("总共5个文件")),
                 qPrintable(m_page->recoveryDialog().statusText()));
        QTRY_COMPARE_WITH_TIMEOUT(m_page->recoveryDialog().statusText(), QStringLiteral("恢复完成！"), apptest::kRecoveryWaitMs);
        QVERIFY(QDir(m_page->recoveryDialog().savePath()).exists(QStringLiteral("300.DOC")));
        m_page->recoveryDialog().hide();

        // Nothing ticked is hidden: no question.
        bar->dateBox()->setChecked(false);
        bar->textEdit()->setText(QStringLiteral("600"));
        m_page->treeModel().setData(all, Qt::Unchecked, Qt::CheckStateRole);
        m_page->tableView()->model()->setData(m_page->tableView()->model()->index(0, 0), Qt::Checked,
                                              Qt::CheckStateRole);
        {
            HiddenRowsAnswerer none(false);
            m_page->recoverButton()->click();
            QVERIFY(none.asked().isEmpty());
        }
        QVERIFY(m_page->recoveryDialog().isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(m_page->recoveryDialog().statusText(), QStringLiteral("恢复完成！"), apptest::kRecoveryWaitMs);
        m_page->recoveryDialog().hide();
    }

    void keyboardSelectsTicksAndWalks()
    {
        QTableView* table = m_page->tableView();
        // Ctrl+A selects every row shown, Space ticks exactly those: rows
        // the filter hides stay as they were.
        m_page->filterBar()->wholeOnlyBox()->setChecked(true);
        QCOMPARE(table->model()->rowCount(), 4);
        table->setFocus();
        table->setCurrentIndex(table->model()->index(0, 1));
        QTest::keyClick(table, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(table->selectionModel()->selectedRows().size(), 4);
        QTest::keyClick(table, Qt::Key_Space);
        QCOMPARE(m_page->tickedText(), QStringLiteral("4"));
        QCOMPARE(m_page->tableModel().tickedHiddenByFilter(), 0);
        QTest::keyClick(table, Qt::Key_Space);
        QCOMPARE(m_page->tickedText(), QStringLiteral("0"));

        // Tab: the types, the name box, the filter button, the table, the
        // buttons and the box under it (the recover button once something
        // is ticked).
        QTest::keyClick(table, Qt::Key_Space);
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_page->treeView()->setFocus();
        const QList<QWidget*> order{m_page->filterEdit(), m_page->filterBar()->filterButton(), table,
                                    m_page->backButton(), m_page->keepFoldersBox(), m_page->recoverButton()};
        for (QWidget* next : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), m_page->keepFoldersBox());
        // Enter in the name box goes on to the table.
        m_page->filterEdit()->setFocus();
        QTest::keyClick(m_page->filterEdit(), Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), table);

        // Enter on a row opens its preview.
        table->setFocus();
        QTest::keyClick(table, Qt::Key_Return);
        QTRY_VERIFY(m_page->findChild<QDialog*>());
        m_page->findChild<QDialog*>()->close();
    }

    void verdictsArrivingKeepTheSelection()
    {
        // Whole only while the details pass runs: a document it finds whole
        // joins the rows shown, and the row the user is on stays chosen.
        m_page->filterBar()->wholeOnlyBox()->setChecked(true);
        QTableView* table = m_page->tableView();
        QCOMPARE(table->model()->rowCount(), 4);
        table->setCurrentIndex(table->model()->index(3, 1));
        const QString chosen = table->currentIndex().data().toString();
        CFileNode deleted = apptest::record(QStringLiteral("PDF"), m_pdf.size(), kPdfOffset / 512);
        deleted.origin = CFileNode::OriginDeletedEntry;
        deleted.originalName = QStringLiteral("figures.pdf");
        deleted.extents = {{kPdfOffset, m_pdf.size()}};
        m_page->scanWorker().relay()->postItem(deleted);
        QTRY_COMPARE(m_page->foundText(), QStringLiteral("7"));
        QTRY_COMPARE_WITH_TIMEOUT(table->model()->rowCount(), 5, 20000);
        QCOMPARE(table->currentIndex().data().toString(), chosen);
        QCOMPARE(table->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(m_page->hiddenText(), QStringLiteral("2"));
    }

    void columnsFitBesideThePreview()
    {
        // With the pane open the table is narrow: the name column gives way
        // and what does not fit scrolls, rather than being cut off.
        QTableView* table = m_page->tableView();
        table->setCurrentIndex(table->model()->index(0, 1));
        QTRY_VERIFY(m_page->previewPane()->isVisible());
        QApplication::processEvents();
        QHeaderView* header = table->horizontalHeader();
        int columns = 0;
        for (int c = 0; c < header->count(); ++c)
            columns += header->sectionSize(c);
        QVERIFY(columns > table->viewport()->width());
        QVERIFY(table->horizontalScrollBar()->isVisible());
        QVERIFY(header->sectionSize(CFileInfoTableModel::NameColumn) >= 160);
        // Without the pane every column fits again.
        m_page->previewPane()->hide();
        QApplication::processEvents();
        QVERIFY(!table->horizontalScrollBar()->isVisible());
        QVERIFY(header->sectionSize(CFileInfoTableModel::NameColumn) > 160);
    }
};

QTEST_MAIN(tst_result_filters)
#include "tst_result_filters.moc"
