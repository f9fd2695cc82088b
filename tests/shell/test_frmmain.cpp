#include "cards/cardmethods.h"
#include "cards/widgets/frmstatus.h"
#include "link/protocol/frame.h"
#include "platform/apperror.h"
#include "shell/commandline.h"
#include "shell/frmmain.h"
#include "shell/helptextbox.h"
#include "shell/trackdataedit.h"
#include "support/placement.h"
#include "support/shell/mainrig.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

namespace {
const QString kKey = QStringLiteral("Software\\Quorvex\\Quorvex Tarnavel\\");

struct Rig : MainRig {
    template <typename T> T* find(const QString& name) const
    {
        T* child = window->findChild<T*>(name);
        if (!child)
            qWarning("no child %s", qPrintable(name));
        return child;
    }
    QList<int> disabledOptions() const
    {
        QList<int> disabled;
        for (int i = 0; i < 5; ++i)
            if (!find<QRadioButton>(QStringLiteral("optMethod%1").arg(i))->isEnabled())
                disabled << i;
        return disabled;
    }
    bool online() const
    {
        return find<QWidget>(QStringLiteral("picMain"))->isVisible() &&
               !find<QWidget>(QStringLiteral("picError"))->isVisible() &&
               find<QAction>(QStringLiteral("mnuTools0"))->isEnabled() &&
               window->windowTitle() == QStringLiteral("Quorvex Tarnavel: Online");
    }
    bool offline() const
    {
        return !find<QWidget>(QStringLiteral("picMain"))->isVisible() &&
               find<QWidget>(QStringLiteral("picError"))->isVisible() &&
               !find<QAction>(QStringLiteral("mnuTools0"))->isEnabled() &&
               window->windowTitle() == QStringLiteral("Quorvex Tarnavel: Offline");
    }
};

const QString kLossBox = QStringLiteral(
    "Quorvex Tarnavel - ERROR|The card reader/writer on COM1 (/dev/loopback) was disconnected."
    "\r\n\r\nCheck the cable. When the reader is back, press \"Connect to Card Reader/Writer\".");

QStringList boxesOf(const ScriptedMessageBox& boxes)
{
    QStringList shown;
    for (const ScriptedMessageBox::Box& box : boxes.shown)
        shown << box.title + QLatin1Char('|') + box.text;
    return shown;
}

const char* kVersionFailure =
    "Error retrieving BT905 Version.\r\n\r\nCheck your communications configuration and try again.";
} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT
private slots:
    void startupOnlineByReaderType_data();
    void startupOnlineByReaderType();
    void startupOfflineWithSilentReader();
    void startupInDemoMode();
    void demoSwitch_data();
    void demoSwitch();
    void portOpenFailure_data();
    void portOpenFailure();
    void connectAfterFailedCheck();
    void connectOpensPortClosedByCancel();
    void lineSettings_data();
    void lineSettings();
    void defaultMethodDisabledMovesFocus();
    void methodSetsLimitAndHelp_data();
    void methodSetsLimitAndHelp();
    void limitNeverShortensText();
    void layout_data();
    void layout();
    void menusAndTabOrder();
    void rejectedLineSettingsLeaveProgramOffline();
    void readThroughWindow();
    void methodChangedDuringReadHasNoEffect();
    void closeDuringWait();
    void closeButtonClosesPort();
    void closeDuringStartupCheck();
    void pulledCable_data();
    void pulledCable();
    void startupRetryReopensLostPort();
    void ledTestFindsReaderGone_data();
    void ledTestFindsReaderGone();
};

void TestFrmMain::startupOnlineByReaderType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QList<int>>("disabled");
    const QList<QList<int>> table = {{},     {2, 3, 4}, {0, 4},    {2, 3, 4}, {3, 4},
                                     {3, 4}, {0, 4},    {2, 3, 4}, {},        {}};
    for (int t = 0; t <= 9; ++t)
        QTest::addRow("type %d", t) << t << table[t];
}

void TestFrmMain::startupOnlineByReaderType()
{
    QFETCH(int, type);
    QFETCH(QList<int>, disabled);
    Rig rig;
    rig.port.model().setType(type);
    frmMain& w = rig.start();
    QVERIFY(rig.online());
    QCOMPARE(rig.disabledOptions(), disabled);
    QCOMPARE(int(w.link().ReaderType()), type);
    QCOMPARE(rig.port.written, QList<QByteArray>{buildFrame("k")});
    QCOMPARE(rig.port.commPort(), 1);
    QCOMPARE(rig.port.settings(), QStringLiteral("9600,e,7,1"));
    QCOMPARE(rig.port.inputMode, 0);
    QVERIFY(rig.find<QTimer>(QStringLiteral("tmrCheckComms"))->isActive());
    QVERIFY(rig.find<QRadioButton>(QStringLiteral("optMethod1"))->isChecked());
    QCOMPARE(int(w.CardMethod()), 1);
    QCOMPARE(w.focusWidget(), rig.find<QWidget>(QStringLiteral("optMethod1")));
    QVERIFY(rig.boxes.shown.isEmpty());
    QVERIFY(w.isEnabled());
    QVERIFY(!w.statusWindow()->isVisible());
}

void TestFrmMain::startupOfflineWithSilentReader()
{
    Rig rig;
    rig.port.model().setSilentCommands("k");
    rig.boxes.answer({mb::IDNO, mb::IDOK});
    bool statusUpDuringWait = false;
    rig.pump.onPass = [&] {
        statusUpDuringWait = rig.window->statusWindow()->isVisible() && !rig.window->isEnabled();
    };
    frmMain& w = rig.start();
    QVERIFY(statusUpDuringWait);
    QCOMPARE(rig.boxes.shown.size(), 2);
    QCOMPARE(rig.boxes.shown[0].title, QStringLiteral("Quorvex Tarnavel - Timeout ERROR"));
    const auto& failure = rig.boxes.shown[1];
    QCOMPARE(failure.text, QString::fromLatin1(kVersionFailure));
    QCOMPARE(failure.title, QStringLiteral("ERROR: Retrieval of BT905 Version"));
    QCOMPARE(failure.buttons, mb::OK);
    QCOMPARE(failure.icon, mb::Critical);
    QVERIFY(rig.offline());
    QCOMPARE(rig.disabledOptions(), QList<int>{});
    QCOMPARE(w.focusWidget(), rig.find<QWidget>(QStringLiteral("cmdConnect")));
    QVERIFY(w.isEnabled());
    QVERIFY(!w.statusWindow()->isVisible());
    // The status window named the port while it waited.
    QCOMPARE(w.statusWindow()->lblStatus()->text(),
             QStringLiteral("Connecting to Card Reader on COM1"));
}

void TestFrmMain::startupInDemoMode()
{
    Rig rig;
    rig.port.model().setType(1); // would disable options if it were asked
    frmMain& w = rig.start(QStringLiteral(" -D "));
    QVERIFY(w.link().DemoMode());
    QVERIFY(rig.online());
    QCOMPARE(int(w.link().ReaderType()), 8);
    QVERIFY(rig.port.written.isEmpty());
    QCOMPARE(rig.disabledOptions(), QList<int>{});
}

void TestFrmMain::demoSwitch_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<bool>("demo");
    QTest::newRow("-d") << "-d" << true;
    QTest::newRow("-D") << "-D" << true;
    QTest::newRow("blanks around") << "  -d   " << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("-d x") << "-d x" << false;
    QTest::newRow("other switch") << "-x" << false;
    QTest::newRow("-dd") << "-dd" << false;
    QTest::newRow("d") << "d" << false;
}

void TestFrmMain::demoSwitch()
{
    QFETCH(QString, commandLine);
    QFETCH(bool, demo);
    QCOMPARE(isDemoSwitch(commandLine), demo);
}

void TestFrmMain::portOpenFailure_data()
{
    QTest::addColumn<bool>("retry");
    QTest::newRow("retry after the device appears") << true;
    QTest::newRow("cancel") << false;
}

void TestFrmMain::portOpenFailure()
{
    QFETCH(bool, retry);
    Rig rig;
    rig.port.openFailures = 1;
    rig.port.setPortOpen(false);
    rig.boxes.answer(retry ? mb::IDRETRY : mb::IDCANCEL);
    frmMain& w = rig.start();
    QCOMPARE(rig.boxes.shown.size(), 1);
    const auto& box = rig.boxes.shown.first();
    QVERIFY2(box.text.contains(QRegularExpression(QStringLiteral("^\\d+: \\S"))),
             qPrintable(box.text));
    QCOMPARE(box.title, QStringLiteral("Quorvex Tarnavel - ERROR"));
    QCOMPARE(box.buttons, mb::RetryCancel);
    QCOMPARE(box.icon, mb::Critical);
    QVERIFY(w.isVisible());
    if (retry) {
        QVERIFY(rig.online());
        QVERIFY(rig.port.portOpen());
        return;
    }
    QVERIFY(rig.offline());
    QVERIFY(!rig.port.portOpen());
    QVERIFY(!rig.find<QTimer>(QStringLiteral("tmrCheckComms"))->isActive());
    QVERIFY(rig.port.written.isEmpty());
}

void TestFrmMain::connectAfterFailedCheck()
{
    Rig rig;
    rig.port.model().setSilentCommands("k");
    rig.boxes.answer({mb::IDNO, mb::IDOK});
    frmMain& w = rig.start();
    QVERIFY(rig.offline());
    rig.port.model().setSilentCommands({});
    rig.port.model().setType(1);
    // The port number changed in the Options dialog shows in the message only.
    w.settings().CommPort = 3;
    QString shownMessage;
    rig.pump.onPass = [&] { shownMessage = w.statusWindow()->lblStatus()->text(); };
    rig.find<QPushButton>(QStringLiteral("cmdConnect"))->click();
    QVERIFY(rig.online());
    QCOMPARE(rig.disabledOptions(), (QList<int>{2, 3, 4}));
    QCOMPARE(shownMessage, QStringLiteral("Connecting to Card Reader on COM3"));
    QCOMPARE(rig.port.commPort(), 1);
}

void TestFrmMain::connectOpensPortClosedByCancel()
{
    Rig rig;
    rig.port.openFailures = 1;
    rig.port.setPortOpen(false);
    rig.boxes.answer(mb::IDCANCEL);
    rig.start();
    QVERIFY(rig.offline());
    rig.find<QPushButton>(QStringLiteral("cmdConnect"))->click();
    QVERIFY(rig.port.portOpen());
    QVERIFY(rig.find<QTimer>(QStringLiteral("tmrCheckComms"))->isActive());
    QVERIFY(rig.online());

    // A port that still cannot be opened: one error box with OK, and the program stays offline.
    Rig again;
    again.port.openFailures = 2;
    again.port.setPortOpen(false);
    again.boxes.answer({mb::IDCANCEL, mb::IDOK});
    again.start();
    again.find<QPushButton>(QStringLiteral("cmdConnect"))->click();
    QCOMPARE(again.boxes.shown.size(), 2);
    QCOMPARE(again.boxes.shown[1].buttons, mb::OK);
    QCOMPARE(again.boxes.shown[1].title, QStringLiteral("Quorvex Tarnavel - ERROR"));
    QVERIFY(again.offline());
}

void TestFrmMain::lineSettings_data()
{
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("settings");
    QTest::newRow("even") << 0 << 1 << "9600,e,7,1";
    QTest::newRow("odd") << 1 << 2 << "9600,o,7,1";
    QTest::newRow("none") << 2 << 4 << "9600,n,7,1";
}

void TestFrmMain::lineSettings()
{
    QFETCH(int, parity);
    QFETCH(int, port);
    QFETCH(QString, settings);
    Rig rig;
    rig.store.putDword(kKey, QStringLiteral("Parity"), parity);
    rig.store.putDword(kKey, QStringLiteral("CommPort"), port);
    rig.start();
    QCOMPARE(rig.port.commPort(), port);
    QCOMPARE(rig.port.settings(), settings);
}

void TestFrmMain::defaultMethodDisabledMovesFocus()
{
    Rig rig;
    rig.port.model().setType(2); // options 0 and 4 disabled
    rig.store.putDword(kKey, QStringLiteral("DefType"), 0);
    frmMain& w = rig.start();
    QVERIFY(rig.boxes.shown.isEmpty());
    QVERIFY(rig.find<QRadioButton>(QStringLiteral("optMethod0"))->isChecked());
    QCOMPARE(int(w.CardMethod()), 0);
    QCOMPARE(w.focusWidget(), rig.find<QWidget>(QStringLiteral("optMethod1")));
}

void TestFrmMain::methodSetsLimitAndHelp_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<int>("limit");
    QTest::newRow("ISO 1") << 0 << 76;
    QTest::newRow("ISO 2") << 1 << 37;
    QTest::newRow("ISO 3") << 2 << 104;
    QTest::newRow("IBM") << 3 << 0;
    QTest::newRow("T1 on T3") << 4 << 0;
}

void TestFrmMain::methodSetsLimitAndHelp()
{
    QFETCH(int, method);
    QFETCH(int, limit);
    Rig rig;
    frmMain& w = rig.start(QStringLiteral("-d"));
    // Start from another method so the click really changes it.
    rig.find<QRadioButton>(QStringLiteral("optMethod%1").arg((method + 1) % 5))->click();
    rig.find<QRadioButton>(QStringLiteral("optMethod%1").arg(method))->click();
    QCOMPARE(int(w.CardMethod()), method);
    auto* data = rig.find<TrackDataEdit>(QStringLiteral("txtData"));
    QCOMPARE(data->lengthLimit(), limit);
    auto* help = rig.find<HelpTextBox>(QStringLiteral("txtHelp"));
    QCOMPARE(help->text(), helpText(*CardMethodId::fromIndex(method)));
    QCOMPARE(help->textCursor().position(), 0);
    // Typing stops at the limit.
    data->clear();
    data->setFocus();
    QTest::keyClicks(data, QString(120, QLatin1Char('5')));
    QCOMPARE(data->text().size(), limit ? limit : 120);
}

void TestFrmMain::limitNeverShortensText()
{
    Rig rig;
    rig.start(QStringLiteral("-d"));
    auto* data = rig.find<TrackDataEdit>(QStringLiteral("txtData"));
    rig.find<QRadioButton>(QStringLiteral("optMethod0"))->click();
    const QString text(60, QLatin1Char('7'));
    data->setText(text);
    rig.find<QRadioButton>(QStringLiteral("optMethod1"))->click();
    QCOMPARE(data->text(), text);
    // Over-long text can still be shortened, but not lengthened.
    data->setFocus();
    data->end(false);
    QTest::keyClick(data, Qt::Key_Backspace);
    QCOMPARE(data->text().size(), 59);
    QTest::keyClicks(data, QStringLiteral("12"));
    QCOMPARE(data->text().size(), 59);
}

void TestFrmMain::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("twipsRect");
    QTest::addColumn<QString>("caption");
    QTest::newRow("picMain") << "picMain"
                             << "clientArea" << QRect(0, 0, 7695, 3375) << "";
    QTest::newRow("fraMethod") << "fraMethod"
                               << "picMain" << QRect(120, 120, 2295, 2175) << " &Card Method ";
    const char* captions[] = {"ISO on Track &1", "ISO on Track &2", "ISO on Track &3",
                              "IBM &4700 on Track 2", "Track 1 &ISO on Track 3"};
    for (int i = 0; i < 5; ++i)
        QTest::addRow("optMethod%d", i) << QStringLiteral("optMethod%1").arg(i) << "fraMethod"
                                        << QRect(120, 360 + 360 * i, 2055, 255) << captions[i];
    QTest::newRow("fraOperation") << "fraOperation"
                                  << "picMain" << QRect(2520, 120, 1455, 2175) << " &Operation ";
    QTest::newRow("cmdRead") << "cmdRead"
                             << "fraOperation" << QRect(120, 360, 1215, 375) << "&Read";
    QTest::newRow("cmdWrite") << "cmdWrite"
                              << "fraOperation" << QRect(120, 840, 1215, 375) << "&Write";
    QTest::newRow("cmdReset") << "cmdReset"
                              << "fraOperation" << QRect(120, 1680, 1215, 375) << "&Reset";
    QTest::newRow("fraHelp") << "fraHelp"
                             << "picMain" << QRect(4080, 120, 3495, 2175) << " &Help ";
    QTest::newRow("txtHelp") << "txtHelp"
                             << "fraHelp" << QRect(120, 360, 3255, 1695) << "";
    QTest::newRow("fraData") << "fraData"
                             << "picMain" << QRect(120, 2400, 7455, 855) << " &Data ";
    QTest::newRow("txtData") << "txtData"
                             << "fraData" << QRect(120, 360, 7215, 285) << "";
    QTest::newRow("cmdClose") << "cmdClose"
                              << "clientArea" << QRect(6360, 3480, 1215, 375) << "C&lose";
    QTest::newRow("picError") << "picError"
                              << "clientArea" << QRect(0, 0, 7695, 3375) << "";
    QTest::newRow("cmdConnect") << "cmdConnect"
                                << "picError" << QRect(2235, 1628, 3000, 735)
                                << "&Connect to Card Reader/Writer";
}

void TestFrmMain::layout()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, twipsRect);
    QFETCH(QString, caption);
    Rig rig;
    rig.start(QStringLiteral("-d"));
    const auto px = [](int t) { return (t + 7) / 15; };
    comparePlacement(
        rig.window.get(), name, parent,
        QRect(px(twipsRect.x()), px(twipsRect.y()), px(twipsRect.width()), px(twipsRect.height())));
    if (QTest::currentTestFailed())
        return;
    auto* widget = rig.find<QWidget>(name);
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        QCOMPARE(button->text(), caption);
    if (auto* frame = qobject_cast<QGroupBox*>(widget))
        QCOMPARE(frame->title(), caption);
    QCOMPARE(rig.find<QWidget>(QStringLiteral("clientArea"))->size(), QSize(514, 266));
}

void TestFrmMain::menusAndTabOrder()
{
    Rig rig;
    frmMain& w = rig.start(QStringLiteral("-d"));
    const QStringList tops = {"&File", "&Settings", "&Tools", "&Help"};
    for (int i = 0; i < 4; ++i)
        QCOMPARE(rig.find<QMenu>(QStringLiteral("mnuMain%1").arg(i))->title(), tops[i]);
    QCOMPARE(rig.find<QAction>(QStringLiteral("mnuFile0"))->text(),
             QStringLiteral("E&xit\tAlt+F4"));
    QVERIFY(rig.find<QAction>(QStringLiteral("mnuFile0"))->shortcut().isEmpty());
    QCOMPARE(rig.find<QAction>(QStringLiteral("mnuSettings0"))->text(),
             QStringLiteral("&Options..."));
    QCOMPARE(rig.find<QAction>(QStringLiteral("mnuSettings0"))->shortcut(),
             QKeySequence(QStringLiteral("Ctrl+O")));
    QCOMPARE(rig.find<QAction>(QStringLiteral("mnuTools0"))->text(),
             QStringLiteral("LED &Test..."));
    QCOMPARE(rig.find<QAction>(QStringLiteral("mnuTools0"))->shortcut(),
             QKeySequence(QStringLiteral("Ctrl+T")));
    QCOMPARE(rig.find<QAction>(QStringLiteral("mnuHelp0"))->text(), QStringLiteral("&About..."));
    QCOMPARE(rig.find<QAction>(QStringLiteral("mnuHelp0"))->shortcut(), QKeySequence(Qt::Key_F1));

    const QStringList order = {"optMethod0", "optMethod1", "optMethod2", "optMethod3",
                               "optMethod4", "cmdRead",    "cmdWrite",   "cmdReset",
                               "txtHelp",    "txtData",    "cmdClose",   "cmdConnect"};
    QWidget* widget = rig.find<QWidget>(order.first());
    QStringList seen;
    for (int i = 0; i < 200 && seen.size() < order.size(); ++i) {
        if (order.contains(widget->objectName()) && !seen.contains(widget->objectName()))
            seen << widget->objectName();
        widget = widget->nextInFocusChain();
    }
    QCOMPARE(seen, order);
    Q_UNUSED(w);
}

void TestFrmMain::rejectedLineSettingsLeaveProgramOffline()
{
    Rig rig;
    rig.port.setPortOpen(false);
    rig.port.checkSettings = [](const QString& text) {
        if (text.split(QLatin1Char(',')).value(1).isEmpty())
            throw AppError(
                380, QStringLiteral("Invalid property value: line settings \"%1\"").arg(text));
    };
    rig.store.putDword(kKey, QStringLiteral("Parity"), 3);
    rig.boxes.answer(mb::IDOK);
    frmMain& w = rig.start();
    QCOMPARE(rig.boxes.shown.size(), 1);
    QCOMPARE(rig.boxes.shown[0].text,
             QStringLiteral("380: Invalid property value: line settings \"9600,,7,1\""));
    QCOMPARE(rig.boxes.shown[0].buttons, mb::OK);
    QCOMPARE(rig.boxes.shown[0].title, QStringLiteral("Quorvex Tarnavel - ERROR"));
    QVERIFY(w.isVisible());
    QVERIFY(rig.offline());
    QVERIFY(!rig.port.portOpen());
    QVERIFY(!rig.find<QTimer>(QStringLiteral("tmrCheckComms"))->isActive());
    QVERIFY(rig.port.written.isEmpty());
    // Connect tries the same settings again and reports the same error.
    rig.boxes.answer(mb::IDOK);
    rig.find<QPushButton>(QStringLiteral("cmdConnect"))->click();
    QCOMPARE(rig.boxes.shown.size(), 2);
    QVERIFY(rig.offline());
}

void TestFrmMain::readThroughWindow()
{
    Rig rig;
    rig.port.autoSwipe = true;
    frmMain& w = rig.start();
    auto* data = rig.find<TrackDataEdit>(QStringLiteral("txtData"));
    data->setText(QStringLiteral(";1234=5678?"));
    rig.find<QPushButton>(QStringLiteral("cmdWrite"))->click();
    QVERIFY(rig.boxes.shown.isEmpty());
    QCOMPARE(data->text(), QStringLiteral(";1234=5678?"));
    data->clear();
    rig.find<QPushButton>(QStringLiteral("cmdRead"))->click();
    QCOMPARE(data->text(), QStringLiteral(";1234=5678?") + QString(26, QLatin1Char('0')));
    QVERIFY(!w.statusWindow()->isVisible());
    rig.find<QPushButton>(QStringLiteral("cmdReset"))->click();
    QVERIFY(data->text().isEmpty());
    QCOMPARE(rig.port.written.last(), buildFrame("h"));
    QVERIFY(!w.link().WaitingForReply());
}

void TestFrmMain::methodChangedDuringReadHasNoEffect()
{
    Rig rig;
    rig.port.autoSwipe = true;
    rig.start();
    bool switched = false;
    rig.pump.onPass = [&] {
        if (!switched) {
            switched = true;
            rig.find<QRadioButton>(QStringLiteral("optMethod0"))->click();
        }
    };
    rig.find<QPushButton>(QStringLiteral("cmdRead"))->click();
    QVERIFY(switched);
    QCOMPARE(int(rig.window->CardMethod()), 0);
    // The read command of the method chosen when Read was pressed: ISO on Track 2.
    QVERIFY(rig.port.written.contains(buildFrame("E")));
    QVERIFY(!rig.port.written.contains(buildFrame("5")));
}

void TestFrmMain::closeDuringWait()
{
    Rig rig;
    frmMain& w = rig.start();
    bool closed = false;
    rig.pump.onPass = [&] {
        if (!closed && w.statusWindow()->isVisible()) {
            closed = true;
            w.close();
        }
    };
    rig.find<QPushButton>(QStringLiteral("cmdRead"))->click();
    QVERIFY(closed);
    QVERIFY(rig.boxes.shown.isEmpty());
    // The read gave up (its reset went out) and the close followed once it had unwound.
    QCOMPARE(rig.port.written.last(), buildFrame("h"));
    QTRY_VERIFY(!w.isVisible());
    QVERIFY(!rig.port.portOpen());
    QVERIFY(!w.statusWindow());
}

void TestFrmMain::closeButtonClosesPort()
{
    Rig rig;
    frmMain& w = rig.start();
    QVERIFY(rig.port.portOpen());
    rig.find<QPushButton>(QStringLiteral("cmdClose"))->click();
    QVERIFY(!w.isVisible());
    QVERIFY(!rig.port.portOpen());
    QVERIFY(!w.statusWindow());
}

void TestFrmMain::closeDuringStartupCheck()
{
    Rig rig;
    rig.port.model().setSilentCommands("k");
    rig.pump.onPass = [&] {
        if (rig.window->isVisible())
            rig.window->close();
    };
    frmMain& w = rig.start();
    // No time-out question and no failure box for a program that is closing.
    QVERIFY(rig.boxes.shown.isEmpty());
    QTRY_VERIFY(!w.isVisible());
    QVERIFY(!rig.port.portOpen());
}

void TestFrmMain::pulledCable_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("idle") << "idle";
    QTest::newRow("waiting for a reply") << "reply";
    QTest::newRow("waiting for the swipe") << "swipe";
    QTest::newRow("during the start-up check") << "startup";
}

void TestFrmMain::pulledCable()
{
    QFETCH(QString, when);
    Rig rig;
    rig.boxes.answer(mb::IDOK);
    int passesBefore = 0;
    if (when == QLatin1String("startup")) {
        rig.port.model().setSilentCommands("k");
        rig.pump.onPass = [&] { rig.port.pullCable(); };
        rig.start();
        rig.pump.onPass = nullptr;
    } else {
        rig.start();
        QVERIFY(rig.online());
        passesBefore = rig.pump.passes;
        rig.find<TrackDataEdit>(QStringLiteral("txtData"))->setText(QStringLiteral("typed"));
        if (when == QLatin1String("idle")) {
            rig.port.pullCable();
        } else {
            if (when == QLatin1String("reply"))
                rig.port.model().setSilentCommands("n");
            rig.pump.onPass = [&] {
                if (when == QLatin1String("reply") || rig.window->statusWindow()->isVisible())
                    rig.port.pullCable();
            };
            rig.find<QPushButton>(QStringLiteral("cmdRead"))->click();
            rig.pump.onPass = nullptr;
        }
        QCOMPARE(rig.find<TrackDataEdit>(QStringLiteral("txtData"))->text(),
                 QStringLiteral("typed"));
    }
    // Offline as a failed check leaves it, one box, the wait ended at once, no reset tried.
    QVERIFY(rig.offline());
    QCOMPARE(boxesOf(rig.boxes), QStringList{kLossBox});
    QCOMPARE(rig.window->focusWidget(), rig.find<QWidget>(QStringLiteral("cmdConnect")));
    QVERIFY2(rig.pump.passes - passesBefore <= 3, qPrintable(QString::number(rig.pump.passes)));
    QVERIFY(!rig.window->statusWindow()->isVisible());
    QVERIFY(!rig.port.written.contains(buildFrame("h")));
    // The same loss reported again shows nothing more.
    emit rig.port.lost();
    QCOMPARE(rig.boxes.shown.size(), 1);

    // Plugged back in: Connect opens the port again and Read works.
    rig.port.model().setSilentCommands({});
    rig.port.autoSwipe = true;
    rig.find<QPushButton>(QStringLiteral("cmdConnect"))->click();
    QVERIFY(rig.online());
    QVERIFY(rig.port.portOpen());
    rig.find<QPushButton>(QStringLiteral("cmdRead"))->click();
    QCOMPARE(rig.find<TrackDataEdit>(QStringLiteral("txtData"))->text(),
             QString::fromLatin1(rig.port.model().readData(*CardMethodId::fromIndex(1))));
    QVERIFY(!rig.port.model().readData(*CardMethodId::fromIndex(1)).isEmpty());
    QCOMPARE(rig.boxes.shown.size(), 1);

    // Pulled again and still missing at Connect: this loss's box, the open error, offline.
    rig.boxes.answer({mb::IDOK, mb::IDOK});
    rig.port.pullCable();
    rig.port.openFailures = 1;
    rig.find<QPushButton>(QStringLiteral("cmdConnect"))->click();
    QVERIFY(rig.offline());
    QCOMPARE(boxesOf(rig.boxes).mid(1, 1), QStringList{kLossBox});
    QVERIFY(rig.boxes.shown.value(2).text.contains(QLatin1String("No such file")));
}

void TestFrmMain::startupRetryReopensLostPort()
{
    // The first write of the start-up check finds the device gone; the operator replugs it
    // and presses Retry.
    Rig rig;
    rig.port.loseOnWrite = true;
    rig.boxes.answer(mb::IDRETRY);
    rig.start();
    QCOMPARE(rig.boxes.shown.size(), 1);
    QCOMPARE(rig.boxes.shown.first().buttons, mb::RetryCancel);
    QVERIFY(rig.online());
    QVERIFY(rig.port.portOpen());
    QCOMPARE(rig.port.written, QList<QByteArray>{buildFrame("k")});
}

void TestFrmMain::ledTestFindsReaderGone_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("a lamp") << "chkButtons1";
    QTest::newRow("Close") << "cmdClose";
}

void TestFrmMain::ledTestFindsReaderGone()
{
    // The dialog's own write is the first to find the device gone: the disconnection box is
    // the only one, after the dialog has closed.
    QFETCH(QString, button);
    Rig rig;
    rig.start();
    QVERIFY(rig.online());
    rig.boxes.answer(mb::IDOK);
    bool dialogOpen = false;
    QTimer::singleShot(0, rig.window.get(), [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        dialogOpen = dialog && dialog->objectName() == QLatin1String("frmLEDTest");
        if (!dialogOpen)
            return;
        rig.port.loseOnWrite = true;
        dialog->findChild<QPushButton*>(button)->click();
        // The dialog stays open only if a box or a wait holds it.
        if (QApplication::activeModalWidget() == dialog)
            dialog->close();
    });
    rig.find<QAction>(QStringLiteral("mnuTools0"))->trigger();
    QVERIFY(dialogOpen);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(boxesOf(rig.boxes), QStringList{kLossBox});
    QVERIFY(rig.offline());
    QCOMPARE(rig.window->focusWidget(), rig.find<QWidget>(QStringLiteral("cmdConnect")));
}

QTEST_MAIN(TestFrmMain)
#include "test_frmmain.moc"
