// The popup frame, the confirmation box, the side dialogs and the style
// sheet loader.
#include "app/CAboutWnd.h"
#include "app/CAppResources.h"
#include "app/CConnectWnd.h"
#include "app/CDonation.h"
#include "app/CFeedBack.h"
#include "app/CMessageTips.h"
#include "app/PopupWindowTitle.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Runs `answer` on the modal box once it is up, from inside its exec().
void answerWhenShown(std::function<void(CMessageTips*)> answer)
{
    QTimer::singleShot(0, [answer]() {
        auto* box = qobject_cast<CMessageTips*>(QApplication::activeModalWidget());
        QVERIFY(box);
        answer(box);
    });
}

} // namespace

class TestPopups : public QObject
{
    Q_OBJECT
private slots:
    void messageTipsAnswers();
    void titleBarDragFollowsLeftButtonOnly();
    void contactDialogModes();
    void dialogsOpenWithoutImages();
    void styleSheetSubstitution();
    void styleSheetFromResourcesFolder();
};

void TestPopups::messageTipsAnswers()
{
    {
        CMessageTips box;
        box.setMessage(QStringLiteral("磁盘正在扫描，你确定要退出？"));
        answerWhenShown([](CMessageTips* b) { b->confirmButton()->click(); });
        QCOMPARE(box.exec(), 1);
    }
    {
        CMessageTips box;
        answerWhenShown([](CMessageTips* b) { b->cancelButton()->click(); });
        QCOMPARE(box.exec(), 0);
    }
    {
        CMessageTips box;
        answerWhenShown([](CMessageTips* b) { b->titleBar()->closeButton()->click(); });
        QCOMPARE(box.exec(), 0);
    }
    {
        CMessageTips box;
        answerWhenShown([](CMessageTips* b) { QTest::keyClick(b, Qt::Key_Escape); });
        QCOMPARE(box.exec(), 0);
    }
    CMessageTips box;
    QCOMPARE(box.size(), QSize(270, 150));
    QCOMPARE(box.confirmButton()->text(), QStringLiteral("确认"));
    QCOMPARE(box.cancelButton()->objectName(), QStringLiteral("commonBtn"));
    box.setNotice(true);
    QVERIFY(box.cancelButton()->isHidden());
}

void TestPopups::titleBarDragFollowsLeftButtonOnly()
{
    CAboutWnd dialog;
    dialog.move(200, 200);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    PopupWindowTitle* title = dialog.titleBar();
    const QPoint start = dialog.pos();

    QTest::mousePress(title, Qt::RightButton, Qt::NoModifier, QPoint(60, 10));
    QMouseEvent rightMove(QEvent::MouseMove, QPoint(90, 30), Qt::NoButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(title, &rightMove);
    QTest::mouseRelease(title, Qt::RightButton, Qt::NoModifier, QPoint(90, 30));
    QCOMPARE(dialog.pos(), start);

    QTest::mousePress(title, Qt::LeftButton, Qt::NoModifier, QPoint(60, 10));
    QMouseEvent leftMove(QEvent::MouseMove, QPoint(90, 30), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(title, &leftMove);
    QTest::mouseRelease(title, Qt::LeftButton, Qt::NoModifier, QPoint(90, 30));
    QCOMPARE(dialog.pos(), start + QPoint(30, 20));
}

void TestPopups::contactDialogModes()
{
    CConnectWnd qq(0);
    QCOMPARE(qq.prefixText(), QStringLiteral("QQ号:"));
    QCOMPARE(qq.imageName(), QStringLiteral("qqadd.png"));
    CConnectWnd weChat(1);
    QCOMPARE(weChat.prefixText(), QStringLiteral("微信号:"));
    QCOMPARE(weChat.imageName(), QStringLiteral("addwebchant.png"));
    CConnectWnd other(7);
    QCOMPARE(other.prefixText(), QStringLiteral("微信号:"));
    QCOMPARE(qq.size(), QSize(320, 400));
}

void TestPopups::dialogsOpenWithoutImages()
{
    // The test program's folder has no Resources: every dialog still opens
    // with its texts.
    CAboutWnd about;
    CDonation donation;
    CFeedBack feedback;
    QCOMPARE(about.size(), QSize(360, 250));
    QCOMPARE(donation.size(), QSize(420, 350));
    QCOMPARE(feedback.size(), QSize(360, 250));
    bool found = false;
    for (QLabel* label : donation.findChildren<QLabel*>())
        found = found || label->text() == QStringLiteral("支付宝打赏");
    QVERIFY(found);
    for (QWidget* w : {static_cast<QWidget*>(&about), static_cast<QWidget*>(&donation),
                       static_cast<QWidget*>(&feedback)}) {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QVERIFY(!w->grab().isNull());
    }
}

void TestPopups::styleSheetSubstitution()
{
    const QByteArray bytes = "a{image:url(imagePath/x.png)} b{image:url(imagePath/y.png)} c{ImagePath}";
    QCOMPARE(CAppResources::styleSheetText(bytes, QStringLiteral("/opt/t")),
             QStringLiteral("a{image:url(/opt/t/x.png)} b{image:url(/opt/t/y.png)} c{ImagePath}"));

    QByteArray withZero("x{color:red}");
    withZero.append('\0');
    withZero.append("imagePath tail");
    QCOMPARE(CAppResources::styleSheetText(withZero, QStringLiteral("/d")), QStringLiteral("x{color:red}"));

    const QByteArray high("\xe9\xff", 2);
    const QString decoded = CAppResources::styleSheetText(high, QString());
    QCOMPARE(decoded.size(), 2);
    QCOMPARE(decoded.at(0).unicode(), ushort(0xe9));
    QCOMPARE(decoded.at(1).unicode(), ushort(0xff));
}

void TestPopups::styleSheetFromResourcesFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QCOMPARE(CAppResources::loadStyleSheet(dir.path()), QString());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Resources")));
    QFile file(dir.path() + QStringLiteral("/Resources/stylesheet.qss"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("QPushButton{image:url(imagePath/Resources/close.png)}");
    file.close();
    QCOMPARE(CAppResources::loadStyleSheet(dir.path()),
             QStringLiteral("QPushButton{image:url(%1/Resources/close.png)}").arg(dir.path()));

    // The shipped style sheet is plain ASCII and uses the token.
    QFile shipped(QStringLiteral(TAMSEL_SOURCE_DIR "/Resources/stylesheet.qss"));
    QVERIFY(shipped.open(QIODevice::ReadOnly));
    const QByteArray bytes = shipped.readAll();
    QVERIFY(bytes.contains("imagePath/Resources/"));
    for (char c : bytes)
        QVERIFY(static_cast<unsigned char>(c) < 128 && c != 0);
}

QTEST_MAIN(TestPopups)
#include "tst_popups.moc"
