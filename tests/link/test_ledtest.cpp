#include "config/appsettings.h"
#include "link/protocol/frame.h"
#include "link/readerlink.h"
#include "link/widgets/frmledtest.h"
#include "platform/twips.h"
#include "support/fakeport.h"
#include "support/link/manualpump.h"
#include "support/manualclock.h"
#include "support/placement.h"
#include "support/scriptedmessagebox.h"

#include <QGroupBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {
// The link as the main window owns it, over a port whose reader answers every lamp command
// with the OK status unless told to stay silent.
struct Rig {
    Rig()
    {
        pump.setLink(&link);
        port.onOutput = [this](const QByteArray& frame) {
            ++sends;
            if (answering && frame.size() > 1 && frame.at(1) == '`' && sends > silentSends)
                port.feed(buildFrame("l0"));
        };
    }

    FakePort port;
    ManualClock clock;
    ScriptedMessageBox messages;
    ManualPump pump{clock};
    AppSettings settings;
    ReaderLink link{port, clock, messages, pump, settings};
    bool answering = true;
    int silentSends = 0; // the first sends that get no answer
    int sends = 0;
};

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray result;
    for (int value : values)
        result.append(char(value));
    return result;
}

const QByteArray kOff = bytes({0x02, 0x60, 0x30, 0x03, 0x53});
const QByteArray kGreen = bytes({0x02, 0x60, 0x31, 0x03, 0x52});
const QByteArray kRed = bytes({0x02, 0x60, 0x32, 0x03, 0x51});
const QByteArray kYellow = bytes({0x02, 0x60, 0x33, 0x03, 0x50});
const QByteArray kReset = bytes({0x02, 0x68, 0x03, 0x6B});
const QByteArray kLampFrames[4] = {kOff, kGreen, kRed, kYellow};

QPushButton* closeButtonOf(QWidget& dialog)
{
    return dialog.findChild<QPushButton*>(QStringLiteral("cmdClose"));
}

QList<bool> pressed(const frmLEDTest& dialog)
{
    QList<bool> states;
    for (int i = 0; i < 4; ++i)
        states.append(dialog.chkButtons(i)->isChecked());
    return states;
}
} // namespace

class TestLEDTest : public QObject
{
    Q_OBJECT
private slots:
    void formLoad();
    void layout_data();
    void layout();
    void tabOrder();
    void lampFrames_data();
    void lampFrames();
    void interlock_data();
    void interlock();
    void accessKeys_data();
    void accessKeys();
    void timeoutQuestion_data();
    void timeoutQuestion();
    void closeButton();
    void closeBoxSendsNothing();
    void enterAndEscapeDoNothing();
    void closeDuringWait();
    void closeBoxDuringWait();
    void closeDuringWaitInsideExec();
    void shutdownDuringWait();
    void portFailure();
    void reopenShowsAllReleased();
    void screenshot();
};

void TestLEDTest::formLoad()
{
    Rig rig;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Quorvex Tarnavel - LED Test"));
    QCOMPARE(
        dialog.windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32),
        QPixmap(QStringLiteral(":/tarnavel.png")).toImage().convertToFormat(QImage::Format_ARGB32));
    QCOMPARE(dialog.size(), QSize(twips(3255), twips(2175)));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMinMaxButtonsHint));
    QCOMPARE(dialog.findChild<QGroupBox*>(QStringLiteral("fraLEDTest"))->title(),
             QStringLiteral(" &LED Test "));
    const char* captions[4] = {"&OFF", "&GREEN", "&RED", "&YELLOW"};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(dialog.chkButtons(i)->text(), QString::fromLatin1(captions[i]));
        QCOMPARE(dialog.chkButtons(i)->objectName(), QStringLiteral("chkButtons%1").arg(i));
        QVERIFY(dialog.chkButtons(i)->isCheckable());
        QVERIFY(!dialog.chkButtons(i)->isChecked());
    }
    QCOMPARE(closeButtonOf(dialog)->text(), QStringLiteral("&Close"));
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
        QCOMPARE(button->font().pointSizeF(), 8.25);
    }
    // Loading sends nothing.
    QVERIFY(rig.port.written.isEmpty());
}

void TestLEDTest::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("rect");
    const QString dialog = QStringLiteral("frmLEDTest");
    const QString frame = QStringLiteral("fraLEDTest");
    QTest::newRow("fraLEDTest") << frame << dialog << twipsRect(120, 120, 3015, 1335);
    QTest::newRow("GREEN") << QStringLiteral("chkButtons1") << frame
                           << twipsRect(120, 360, 855, 375);
    QTest::newRow("YELLOW") << QStringLiteral("chkButtons3") << frame
                            << twipsRect(1080, 360, 855, 375);
    QTest::newRow("RED") << QStringLiteral("chkButtons2") << frame
                         << twipsRect(2040, 360, 855, 375);
    QTest::newRow("OFF") << QStringLiteral("chkButtons0") << frame
                         << twipsRect(120, 840, 2775, 375);
    QTest::newRow("cmdClose") << QStringLiteral("cmdClose") << dialog
                              << twipsRect(1920, 1680, 1215, 375);
}

void TestLEDTest::layout()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, rect);
    Rig rig;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    comparePlacement(&dialog, name, parent, rect);
    QVERIFY(dialog.findChild<QWidget*>(name)->isVisible());
}

void TestLEDTest::tabOrder()
{
    Rig rig;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    const QStringList expected = {QStringLiteral("chkButtons1"), QStringLiteral("chkButtons3"),
                                  QStringLiteral("chkButtons2"), QStringLiteral("chkButtons0"),
                                  QStringLiteral("cmdClose"),    QStringLiteral("chkButtons1")};
    QCOMPARE(QApplication::focusWidget()->objectName(), expected.first());
    for (qsizetype i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), expected.at(i));
    }
    QVERIFY(rig.port.written.isEmpty());
}

void TestLEDTest::lampFrames_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("OFF") << 0 << kOff;
    QTest::newRow("GREEN") << 1 << kGreen;
    QTest::newRow("RED") << 2 << kRed;
    QTest::newRow("YELLOW") << 3 << kYellow;
}

void TestLEDTest::lampFrames()
{
    QFETCH(int, index);
    QFETCH(QByteArray, frame);
    Rig rig;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    QTest::mouseClick(dialog.chkButtons(index), Qt::LeftButton);
    QCOMPARE(rig.port.written, QList<QByteArray>{frame});
    // The reader's answer ended the wait.
    QVERIFY(!rig.link.WaitingForReply());
    QVERIFY(rig.messages.shown.isEmpty());
    QVERIFY(dialog.isVisible());
}

void TestLEDTest::interlock_data()
{
    QTest::addColumn<QList<int>>("clicks");
    QTest::addColumn<QList<bool>>("states"); // OFF, GREEN, RED, YELLOW

    const bool up = false;
    const bool down = true;
    QTest::newRow("GREEN") << QList<int>{1} << QList<bool>{up, down, up, up};
    QTest::newRow("GREEN, RED") << QList<int>{1, 2} << QList<bool>{up, down, down, up};
    QTest::newRow("GREEN, RED, OFF") << QList<int>{1, 2, 0} << QList<bool>{up, up, up, up};
    QTest::newRow("GREEN twice") << QList<int>{1, 1} << QList<bool>{up, up, up, up};
    QTest::newRow("YELLOW") << QList<int>{3} << QList<bool>{up, up, up, down};
    QTest::newRow("all three colours") << QList<int>{1, 3, 2} << QList<bool>{up, down, down, down};
    QTest::newRow("OFF alone") << QList<int>{0} << QList<bool>{up, up, up, up};
    QTest::newRow("OFF, then GREEN") << QList<int>{1, 0, 1} << QList<bool>{up, down, up, up};
    QTest::newRow("RED released again, GREEN kept")
        << QList<int>{1, 2, 2} << QList<bool>{up, down, up, up};
}

void TestLEDTest::interlock()
{
    QFETCH(QList<int>, clicks);
    QFETCH(QList<bool>, states);
    Rig rig;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    QList<QByteArray> expected;
    for (int index : clicks) {
        QTest::mouseClick(dialog.chkButtons(index), Qt::LeftButton);
        expected.append(kLampFrames[index]);
    }
    // One command per click, whatever the button's new state.
    QCOMPARE(rig.port.written, expected);
    QCOMPARE(pressed(dialog), states);
}

void TestLEDTest::accessKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("index");
    QTest::newRow("Alt+G") << int(Qt::Key_G) << 1;
    QTest::newRow("Alt+Y") << int(Qt::Key_Y) << 3;
    QTest::newRow("Alt+R") << int(Qt::Key_R) << 2;
    QTest::newRow("Alt+O") << int(Qt::Key_O) << 0;
}

void TestLEDTest::accessKeys()
{
    QFETCH(int, key);
    QFETCH(int, index);
    Rig rig;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClick(&dialog, Qt::Key(key), Qt::AltModifier);
    // A mnemonic shows the button pressed at once and clicks it when the press is drawn.
    for (int i = 0; i < 4; ++i)
        QCOMPARE(dialog.chkButtons(i)->isDown(), i == index);
}

void TestLEDTest::timeoutQuestion_data()
{
    QTest::addColumn<int>("silentSends");
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<int>("frames");
    QTest::newRow("No gives up") << 99 << QList<int>{mb::IDNO} << 1;
    QTest::newRow("Yes resends, No gives up") << 99 << QList<int>{mb::IDYES, mb::IDNO} << 2;
    QTest::newRow("Yes resends, then answered") << 1 << QList<int>{mb::IDYES} << 2;
    QTest::newRow("Yes twice, then answered") << 2 << QList<int>{mb::IDYES, mb::IDYES} << 3;
}

void TestLEDTest::timeoutQuestion()
{
    QFETCH(int, silentSends);
    QFETCH(QList<int>, answers);
    QFETCH(int, frames);
    Rig rig;
    rig.silentSends = silentSends;
    for (int answer : answers)
        rig.messages.answer(answer);
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    const qint64 start = rig.clock.ms();
    QTest::mouseClick(dialog.chkButtons(1), Qt::LeftButton);

    QCOMPARE(rig.port.written, QList<QByteArray>(frames, kGreen));
    QCOMPARE(rig.messages.shown.size(), answers.size());
    QCOMPARE(rig.messages.pending(), 0);
    for (const ScriptedMessageBox::Box& box : rig.messages.shown) {
        QCOMPARE(box.text,
                 QStringLiteral("A Comms Timeout has occured.  Would you like to try again?"));
        QCOMPARE(box.title, QStringLiteral("Quorvex Tarnavel - Timeout ERROR"));
        QCOMPARE(box.buttons, mb::YesNo);
        QCOMPARE(box.icon, mb::Exclamation);
    }
    // Each question came only after the whole configured time-out.
    QVERIFY(rig.clock.ms() - start > qint64(answers.size()) * rig.settings.Timeout * 1000);
    QCOMPARE(pressed(dialog), (QList<bool>{false, true, false, false}));
    QVERIFY(dialog.isVisible());
}

void TestLEDTest::closeButton()
{
    Rig rig;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    rig.link.awaitSwipe();
    QTest::mouseClick(closeButtonOf(dialog), Qt::LeftButton);
    QCOMPARE(rig.port.written, QList<QByteArray>{kReset});
    QVERIFY(!rig.link.WaitingForReply());
    QCOMPARE(rig.pump.passes, 0);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestLEDTest::closeBoxSendsNothing()
{
    Rig rig;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    QTest::mouseClick(dialog.chkButtons(1), Qt::LeftButton);
    rig.port.written.clear();
    QVERIFY(dialog.close());
    QVERIFY(rig.port.written.isEmpty());
    QVERIFY(!dialog.isVisible());
}

void TestLEDTest::enterAndEscapeDoNothing()
{
    Rig rig;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    closeButtonOf(dialog)->setFocus();
    QTest::keyClick(closeButtonOf(dialog), Qt::Key_Return);
    QTest::keyClick(closeButtonOf(dialog), Qt::Key_Enter);
    QTest::keyClick(closeButtonOf(dialog), Qt::Key_Escape);
    dialog.chkButtons(1)->setFocus();
    QTest::keyClick(dialog.chkButtons(1), Qt::Key_Return);
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    QVERIFY(rig.port.written.isEmpty());
    QCOMPARE(pressed(dialog), (QList<bool>{false, false, false, false}));
}

void TestLEDTest::closeDuringWait()
{
    Rig rig;
    rig.answering = false;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    bool pressedClose = false;
    rig.pump.onPass = [&] {
        if (!pressedClose) {
            pressedClose = true;
            QTest::mouseClick(closeButtonOf(dialog), Qt::LeftButton);
        }
    };
    QTest::mouseClick(dialog.chkButtons(2), Qt::LeftButton);
    QVERIFY(pressedClose);
    QCOMPARE(rig.port.written, (QList<QByteArray>{kRed, kReset}));
    // The wait ended with the flag, before any time-out: no question was asked.
    QCOMPARE(rig.pump.passes, 1);
    QVERIFY(rig.messages.shown.isEmpty());
    QVERIFY(!rig.link.WaitingForReply());
    QVERIFY(!dialog.isVisible());
}

void TestLEDTest::closeBoxDuringWait()
{
    Rig rig;
    rig.answering = false;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    rig.pump.onPass = [&] {
        if (dialog.isVisible())
            dialog.close();
    };
    QTest::mouseClick(dialog.chkButtons(1), Qt::LeftButton);
    // Nothing more is sent, and no question comes for a closed dialog.
    QCOMPARE(rig.port.written, QList<QByteArray>{kGreen});
    QVERIFY(rig.messages.shown.isEmpty());
    QCOMPARE(rig.pump.passes, 1);
    QVERIFY(!dialog.isVisible());
}

void TestLEDTest::closeDuringWaitInsideExec()
{
    Rig rig;
    rig.answering = false;
    QPointer<frmLEDTest> dialog = new frmLEDTest(rig.link, rig.messages, nullptr);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    bool pressedClose = false;
    rig.pump.onPass = [&] {
        if (!pressedClose && dialog) {
            pressedClose = true;
            QTest::mouseClick(closeButtonOf(*dialog), Qt::LeftButton);
        }
    };
    QTimer::singleShot(0, dialog, [&] { dialog->chkButtons(3)->click(); });
    const int result = dialog->exec();
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(rig.port.written, (QList<QByteArray>{kYellow, kReset}));
    QVERIFY(rig.messages.shown.isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(dialog.isNull());
}

void TestLEDTest::shutdownDuringWait()
{
    Rig rig;
    rig.answering = false;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    rig.pump.onPass = [&] { rig.link.abortWaits(); };
    QTest::mouseClick(dialog.chkButtons(1), Qt::LeftButton);
    QCOMPARE(rig.port.written, QList<QByteArray>{kGreen});
    QVERIFY(rig.messages.shown.isEmpty());
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestLEDTest::portFailure()
{
    Rig rig;
    rig.port.setPortOpen(false);
    rig.messages.answer({mb::IDOK, mb::IDOK});
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    QTest::mouseClick(dialog.chkButtons(1), Qt::LeftButton);
    QCOMPARE(rig.messages.shown.size(), 1);
    QCOMPARE(rig.messages.shown.first().title, QStringLiteral("Quorvex Tarnavel - ERROR"));
    QVERIFY(rig.messages.shown.first().text.endsWith(QStringLiteral("Port is not open")));
    QCOMPARE(rig.messages.shown.first().buttons, mb::OK);
    QCOMPARE(rig.messages.shown.first().icon, mb::Critical);
    QCOMPARE(rig.pump.passes, 0);
    QVERIFY(dialog.isVisible());

    // Close still closes, after saying the reset could not go out.
    QTest::mouseClick(closeButtonOf(dialog), Qt::LeftButton);
    QCOMPARE(rig.messages.shown.size(), 2);
    QVERIFY(!rig.link.WaitingForReply());
    QVERIFY(!dialog.isVisible());
}

void TestLEDTest::reopenShowsAllReleased()
{
    Rig rig;
    {
        frmLEDTest first(rig.link, rig.messages, nullptr);
        first.show();
        QTest::mouseClick(first.chkButtons(1), Qt::LeftButton);
        QTest::mouseClick(first.chkButtons(2), Qt::LeftButton);
        QCOMPARE(pressed(first), (QList<bool>{false, true, true, false}));
        first.close();
    }
    frmLEDTest second(rig.link, rig.messages, nullptr);
    second.show();
    QCOMPARE(pressed(second), (QList<bool>{false, false, false, false}));
    QCOMPARE(rig.port.written, (QList<QByteArray>{kGreen, kRed}));
}

void TestLEDTest::screenshot()
{
    Rig rig;
    frmLEDTest dialog(rig.link, rig.messages, nullptr);
    dialog.show();
    QTest::mouseClick(dialog.chkButtons(1), Qt::LeftButton);
    const QPixmap picture = dialog.grab();
    QCOMPARE(picture.size(), QSize(twips(3255), twips(2175)));
    QVERIFY(picture.save(QCoreApplication::applicationDirPath() + QStringLiteral("/ledtest.png")));
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        const QString caption = button->text().remove(QLatin1Char('&'));
        QVERIFY2(button->fontMetrics().horizontalAdvance(caption) + 8 <= button->width(),
                 qPrintable(caption));
    }
}

QTEST_MAIN(TestLEDTest)
#include "test_ledtest.moc"
