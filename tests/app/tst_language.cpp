// The window in each language: the choice of language, every page and
// dialog without a Chinese character in English, no text cut off at
// 900x550, and Qt's own dialogs in the window's language.
#include "AppTestSupport.h"

#include "app/CAboutWnd.h"
#include "app/CAppResources.h"
#include "app/CChoiceDiskWnd.h"
#include "app/CConnectWnd.h"
#include "app/CDonation.h"
#include "app/CFeedBack.h"
#include "app/CLanguage.h"
#include "app/CMainWindow.h"
#include "app/CMessageTips.h"
#include "app/COutputFolderChoice.h"
#include "app/CPopParentWind.h"
#include "app/CParentWindow.h"
#include "app/Orvik.h"
#include "app/PopupWindow.h"
#include "app/PopupWindowTitle.h"
#include "details/CDetailsReader.h"
#include "disk/CErrnoText.h"
#include "disk/CFileVolume.h"
#include "disk/CMemoryVolume.h"
#include "recovery/CRecoveryDialog.h"
#include "results/CFileInfoTableModel.h"
#include "results/CFileNodeItem.h"
#include "scan/CDocumentBytes.h"
#include "scan/CScanJournal.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <cerrno>

namespace {

const QString kFolder = QStringLiteral(TAMSEL_BIN_DIR "/Resources/translations");

bool hasCjk(const QString& text)
{
    static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{303f}\\x{4e00}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    return cjk.match(text).hasMatch();
}


// Every text a user can see on `top` and its children: what is in the
// wrong language, what does not fit its widget, and what a dialog's title
// strip says other than the program's name.
struct Findings {
    QStringList foreign;
    QStringList clipped;
    QStringList titles;
};

// A dialog names the program, and only the program, in its title strip and
// to the window system. The recovery dialog's close bar over its strip
// ("Orvik" and "close") is the one exception.
void inspectTitle(PopupWindow* dialog, Findings* out, const QString& where)
{
    const QString title = PopupWindowTitle::programTitle();
    if (dialog->windowTitle() != title)
        out->titles << QStringLiteral("%1 window title: %2").arg(where, dialog->windowTitle());
    const int strip = dialog->titleBar()->height();
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(dialog) || w->mapTo(dialog, QPoint(0, 0)).y() >= strip
            || qobject_cast<CPopParentWind*>(w->parentWidget()))
            continue;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(w))
            text = label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(w))
            text = button->text();
        if (!text.isEmpty() && text != title)
            out->titles << QStringLiteral("%1 %2 in the title strip: %3")
                               .arg(where, QString::fromLatin1(w->metaObject()->className()), text);
    }
}

void inspect(QWidget* top, bool english, Findings* out, const QString& where)
{
    auto note = [&](const QString& text, const QString& what) {
        if (english && hasCjk(text))
            out->foreign << QStringLiteral("%1 %2: %3").arg(where, what, text);
    };
    QList<QWidget*> widgets = top->findChildren<QWidget*>();
    widgets.prepend(top);
    note(top->windowTitle(), QStringLiteral("title"));
    if (auto* dialog = qobject_cast<PopupWindow*>(top))
        inspectTitle(dialog, out, where);
    for (QWidget* w : widgets) {
        const QString name = QString::fromLatin1(w->metaObject()->className()) + QLatin1Char('/') + w->objectName();
        note(w->toolTip(), name + QStringLiteral(" tooltip"));
        const bool shown = w->isVisibleTo(top) || w == top;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            note(label->text(), name);
            if (shown && !label->text().isEmpty() && !label->wordWrap() && !Qt::mightBeRichText(label->text())
                && label->sizeHint().width() > label->width())
                out->clipped << QStringLiteral("%1 %2: \"%3\" needs %4, has %5")
                                    .arg(where, name, label->text())
                                    .arg(label->sizeHint().width())
                                    .arg(label->width());
            // A wrapped text is cut off at the bottom instead.
            if (shown && !label->text().isEmpty() && label->wordWrap()
                && label->heightForWidth(label->width()) > label->height())
                out->clipped << QStringLiteral("%1 %2: \"%3\" needs height %4, has %5")
                                    .arg(where, name, label->text())
                                    .arg(label->heightForWidth(label->width()))
                                    .arg(label->height());
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            note(button->text(), name);
            // A few pixels either side for the border: a text that touches
            // it reads as cut off.
            const int needed = button->fontMetrics().horizontalAdvance(button->text())
                               + (button->icon().isNull() ? 0 : button->iconSize().width() + 4) + 6;
            if (shown && !button->text().isEmpty() && needed > button->width())
                out->clipped << QStringLiteral("%1 %2: \"%3\" needs %4, has %5")
                                    .arg(where, name, button->text())
                                    .arg(needed)
                                    .arg(button->width());
        } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
            note(edit->placeholderText(), name + QStringLiteral(" placeholder"));
        } else if (auto* menu = qobject_cast<QMenu*>(w)) {
            for (QAction* action : menu->actions()) {
                note(action->text(), name + QStringLiteral(" action"));
                if (action->menu())
                    for (QAction* sub : action->menu()->actions())
                        note(sub->text(), name + QStringLiteral(" action"));
            }
        } else if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
            if (QAbstractItemModel* model = view->model()) {
                for (int c = 0; c < model->columnCount(); ++c)
                    note(model->headerData(c, Qt::Horizontal).toString(), name + QStringLiteral(" header"));
                for (int r = 0; r < std::min(model->rowCount(), 20); ++r)
                    for (int c = 0; c < model->columnCount(); ++c) {
                        const QModelIndex index = model->index(r, c);
                        note(model->data(index).toString(), name + QStringLiteral(" cell"));
                        note(model->data(index, Qt::ToolTipRole).toString(), name + QStringLiteral(" tooltip"));
                    }
            }
        }
    }
}

void settle(int ms = 50)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT
private slots:
    void choiceOfLanguage();
    void everyPageAndDialog_data();
    void everyPageAndDialog();
    void qtDialogsSpeakTheSameLanguage();
    void engineReasonsInTheWindowsLanguage_data();
    void engineReasonsInTheWindowsLanguage();
};

void TestLanguage::choiceOfLanguage()
{
    using L = CLanguage::Language;
    QCOMPARE(CLanguage::choose(QString(), QLocale(QStringLiteral("zh_CN"))), L::Chinese);
    QCOMPARE(CLanguage::choose(QString(), QLocale(QStringLiteral("zh_TW"))), L::Chinese);
    QCOMPARE(CLanguage::choose(QString(), QLocale(QStringLiteral("en_GB"))), L::English);
    QCOMPARE(CLanguage::choose(QString(), QLocale(QStringLiteral("de_DE"))), L::English);
    QCOMPARE(CLanguage::choose(QString(), QLocale::c()), L::English);
    QCOMPARE(CLanguage::choose(QStringLiteral("zh"), QLocale(QStringLiteral("en_US"))), L::Chinese);
    QCOMPARE(CLanguage::choose(QStringLiteral("EN "), QLocale(QStringLiteral("zh_CN"))), L::English);
    // Anything else is not an order.
    QCOMPARE(CLanguage::choose(QStringLiteral("fr"), QLocale(QStringLiteral("zh_CN"))), L::Chinese);
}

void TestLanguage::everyPageAndDialog_data()
{
    QTest::addColumn<bool>("english");
    QTest::newRow("en") << true;
    QTest::newRow("zh") << false;
}

void TestLanguage::everyPageAndDialog()
{
    QFETCH(bool, english);
    CLanguage language;
    QVERIFY(language.install(english ? CLanguage::Language::English : CLanguage::Language::Chinese, kFolder));
    qApp->setStyleSheet(CAppResources::loadStyleSheet(QStringLiteral(TAMSEL_BIN_DIR)));
    Findings found;

    // One tile whose free space cannot be known: its line is the longest.
    CPartitionList::Probes probes = apptest::partitionProbes(5);
    probes.freeSpace = [](const QString& mountPoint, int64_t* freeBytes) {
        *freeBytes = int64_t(40) << 30;
        return mountPoint != QLatin1String("/mnt/p3");
    };
    CParentWindow window(&probes);
    window.setFixedSize(900, 550);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    CMainWindow* main = window.mainWindow();
    main->diskPage()->table()->setCurrentCell(0, 1);
    main->diskPage()->scanClickPartion(0, 1);
    settle();
    inspect(&window, english, &found, QStringLiteral("disk page"));
    inspect(main->menu(), english, &found, QStringLiteral("menu"));

    // A scan of a volume without a live-file pass (the note shows), with
    // documents listed, then stopped.
    apptest::Gate gate;
    auto volume = std::make_shared<CMemoryVolume>(QByteArray(8 << 20, '\0'), QStringLiteral("/dev/sdb1"));
    volume->setReadHook(gate.hook());
    gate.armed = true;
    CPartitionInfo partition = *main->diskPage()->selectedPartition();
    partition.fileSystem = QStringLiteral("EXT4");
    Orvik* page = main->resultPage();
    main->diskPage()->hide();
    page->show();
    page->scanWorker().setWindowSize(1 << 20);
    page->startWithVolume(partition, volume);
    CFileNode deleted = apptest::record(QStringLiteral("DOCX"), 40960, 4096);
    deleted.origin = CFileNode::OriginDeletedEntry;
    deleted.originalName = QStringLiteral("report.docx");
    deleted.folder = QStringLiteral("/work");
    page->scanWorker().relay()->postItem(deleted);
    for (int i = 0; i < 12; ++i)
        page->scanWorker().relay()->postItem(apptest::record(QStringLiteral("PDF"), 4096 + i * 1000, 2048 + i * 96));
    settle(200);
    page->updateProcess(1000, 420);
    // The longest of the read plan's lines, running and (below) stopped.
    page->onReadPlan(true, 6 << 20);
    page->flushRefresh();
    const QModelIndex volumeRow = page->treeModel().rootRowIndex();
    page->treeView()->setCurrentIndex(volumeRow);
    page->showFile(volumeRow);
    settle();
    inspect(&window, english, &found, QStringLiteral("scan running"));
    page->endScan();
    gate.open = true;
    settle(200);
    inspect(&window, english, &found, QStringLiteral("scan stopped"));
    page->updateProcess(1000, 1000);
    settle();
    inspect(&window, english, &found, QStringLiteral("scan finished"));
    main->switchPage(1, nullptr);
    settle();

    // The notices the page words itself.
    CFileVolume::OpenError denied;
    denied.error = EACCES;
    const QStringList notices = {
        Orvik::openFailureText(QStringLiteral("/dev/sdz1"), denied),
        Orvik::emptyResultText(partition, 100),
        Orvik::progressDetails(qint64(120) << 30, 420, 100.0, true),
    };
    for (const QString& text : notices)
        if (english && hasCjk(text))
            found.foreign << text;

    // Dialogs.
    // The questions in the words of the pages that ask them.
    for (const QString& question : {QCoreApplication::translate("CMainWindow", "磁盘正在扫描，你确定要退出？"),
                                    QCoreApplication::translate("Orvik", "正在扫描磁盘，你确定要退出？"),
                                    QCoreApplication::translate("CRecoveryDialog", "数据正在恢复，你确定要退出？")}) {
        CMessageTips tips(main);
        tips.setMessage(question);
        tips.show();
        settle();
        inspect(&tips, english, &found, QStringLiteral("question"));
    }
    {
        // The resume question, asked by the page itself over a saved scan
        // of an image, in both its forms; the buttons name what they do.
        QTemporaryDir dir;
        const QString image = dir.filePath(QStringLiteral("saved.img"));
        QFile blank(image);
        QVERIFY(blank.open(QIODevice::WriteOnly) && blank.resize(1 << 20));
        blank.close();
        std::unique_ptr<CFileVolume> saved = CFileVolume::open(image);
        QVERIFY(saved);
        CScanJournal::State state;
        state.identity = CScanJournal::identify(*saved);
        for (const bool finished : {false, true}) {
            state.finished = finished;
            QVERIFY(CScanJournal::save(CScanJournal::fileFor(state.identity), state));
            QStringList buttons;
            QTimer answer;
            answer.setInterval(10);
            QObject::connect(&answer, &QTimer::timeout, [&]() {
                auto* box = qobject_cast<CMessageTips*>(QApplication::activeModalWidget());
                if (!box || !buttons.isEmpty())
                    return;
                inspect(box, english, &found, QStringLiteral("resume question"));
                buttons << box->confirmButton()->text() << box->cancelButton()->text();
                box->cancelButton()->click();
            });
            answer.start();
            Orvik asking;
            asking.offerSavedScan(*saved);
            const QString keep = finished ? QCoreApplication::translate("CSavedScanQuestion", "打开上次的结果")
                                          : QCoreApplication::translate("CSavedScanQuestion", "继续上次的扫描");
            QCOMPARE(buttons, QStringList({keep, QCoreApplication::translate("CSavedScanQuestion", "重新扫描")}));
        }
        QFile::remove(CScanJournal::fileFor(state.identity));
    }
    {
        // The questions before a recovery, asked apart from the page: a
        // folder that may lie on the scanned volume (a source that is no
        // device here cannot be ruled out), and ticked rows a filter hides.
        QTemporaryDir out;
        apptest::FixedChooser chooser;
        chooser.outputFolder = out.path();
        const auto source = std::make_shared<CMemoryVolume>(QByteArray(4096, 0), QStringLiteral("/dev/sdz1"));
        QStringList asked;
        QTimer answer;
        answer.setInterval(10);
        QObject::connect(&answer, &QTimer::timeout, [&]() {
            auto* box = qobject_cast<CMessageTips*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            inspect(box, english, &found, QStringLiteral("recovery question"));
            asked << box->message();
            box->confirmButton()->click();
        });
        answer.start();
        QCOMPARE(COutputFolderChoice::choose(main, chooser, source), out.path());
        QVERIFY(COutputFolderChoice::confirmHiddenTicked(main, 3));
        QCOMPARE(asked.size(), 2);
        QVERIFY(asked.last().contains(QLatin1Char('3')));
    }
    {
        CRecoveryDialog dialog;
        dialog.show();
        dialog.onRecoveryFinished(0);
        settle();
        inspect(&dialog, english, &found, QStringLiteral("recovery"));
        dialog.onRecoveryFailed(QStringLiteral("/nowhere/x.pdf"), QStringLiteral("-"), true);
        settle();
        inspect(&dialog, english, &found, QStringLiteral("recovery failed"));
    }
    CAboutWnd about(main);
    CDonation donation(main);
    CConnectWnd qq(0, main);
    CConnectWnd weChat(1, main);
    CFeedBack feedback(main);
    for (QWidget* dialog : std::initializer_list<QWidget*>{&about, &donation, &qq, &weChat, &feedback}) {
        dialog->show();
        settle();
        inspect(dialog, english, &found, QString::fromLatin1(dialog->metaObject()->className()));
        dialog->hide();
    }
    if (!found.foreign.isEmpty())
        qWarning().noquote() << found.foreign.join(QLatin1Char('\n'));
    if (!found.clipped.isEmpty())
        qWarning().noquote() << found.clipped.join(QLatin1Char('\n'));
    if (!found.titles.isEmpty())
        qWarning().noquote() << found.titles.join(QLatin1Char('\n'));
    QVERIFY(found.foreign.isEmpty());
    QVERIFY(found.clipped.isEmpty());
    QVERIFY(found.titles.isEmpty());
    qApp->setStyleSheet(QString());
}

void TestLanguage::qtDialogsSpeakTheSameLanguage()
{
    const QString lookIn = QStringLiteral("Look in:");
    {
        CLanguage language;
        QVERIFY(language.install(CLanguage::Language::Chinese, kFolder));
        QVERIFY(language.qtCatalogueLoaded());
        QVERIFY(hasCjk(QCoreApplication::translate("QFileDialog", "Look in:")));
        QVERIFY(hasCjk(QCoreApplication::translate("QPlatformTheme", "Cancel")));
        // Dates in Qt's dialogs too, whatever LANG says (the suite runs
        // under C.UTF-8).
        QVERIFY(hasCjk(QLocale().toString(QDate(2026, 12, 7), QLocale::LongFormat)));
    }
    CLanguage language;
    QVERIFY(language.install(CLanguage::Language::English, kFolder));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), lookIn);
    QCOMPARE(QLocale().language(), QLocale::English);
    QVERIFY(QLocale().toString(QDate(2026, 12, 7), QLocale::LongFormat).contains(QStringLiteral("December")));
    QCOMPARE(QCoreApplication::translate("Orvik", "停止"), QStringLiteral("Stop"));
}

void TestLanguage::engineReasonsInTheWindowsLanguage_data()
{
    everyPageAndDialog_data();
}

// A recovery into a folder that cannot be made (its parent is a file): the
// notice and the reason under it are in one language.
void TestLanguage::engineReasonsInTheWindowsLanguage()
{
    QFETCH(bool, english);
    CLanguage language;
    QVERIFY(language.install(english ? CLanguage::Language::English : CLanguage::Language::Chinese, kFolder));
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("1")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString folder = blocker.fileName() + QStringLiteral("/2");

    CRecoveryDialog dialog;
    dialog.setFolderOpener([](const QString&) {});
    dialog.setRecoveryInfo(folder, std::make_shared<CMemoryVolume>(QByteArray(1 << 20, 'x'), QStringLiteral("/dev/sdb1")));
    dialog.startRecovery({apptest::record(QStringLiteral("PDF"), 4096, 8)});
    QTRY_VERIFY(!dialog.errorText().isEmpty());
    // The paths aside, what the user reads is in the window's language.
    QString words = dialog.statusText() + dialog.errorText();
    words.remove(dir.path());
    if (english) {
        QVERIFY2(!hasCjk(words), qPrintable(words));
    } else {
        QVERIFY2(!words.contains(QRegularExpression(QStringLiteral("[A-Za-z]{3,}"))), qPrintable(words));
        QVERIFY2(words.contains(QStringLiteral("不是文件夹")), qPrintable(words));
        QCOMPARE(CErrnoText::text(ENOSPC), QStringLiteral("设备上没有空间"));
    }

    // A document the details pass finds damaged: the reason it words, and
    // so the row's tooltip, in the window's language too.
    CFileNode cut = apptest::record(QStringLiteral("ZIP"), 4096, 8);
    QByteArray archive("PK\x03\x04");
    archive.append(QByteArray(600, 'z'));
    CDocumentBytes bytes(archive);
    cut.details = CDetailsReader::read(bytes, QStringLiteral("ZIP"), CDetailsBudget());
    QCOMPARE(cut.details.integrity, int(CDocumentDetails::IntegrityDamaged));
    const QString reason = cut.details.integrityReason;
    CFileNodeItem type;
    type.appendChild(new CFileNodeItem(&cut));
    CFileInfoTableModel table;
    table.setFileList(&type.children());
    QCOMPARE(table.rowCount(), 1);
    const QString tip = table.index(0, CFileInfoTableModel::NameColumn).data(Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains(reason), qPrintable(tip));
    if (english) {
        QCOMPARE(reason, QStringLiteral("the archive has no end of central directory (it is cut short)"));
    } else {
        QCOMPARE(reason, QStringLiteral("压缩包没有中央目录结束记录（文件不完整）"));
    }
}

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
