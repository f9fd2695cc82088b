// The whole main window against the emulator program over a real pseudo-terminal: write a card
// with each method, read it back, and the reader's faults on the way.

#include "cards/widgets/frmstatus.h"
#include "link/protocol/frame.h"
#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/qtserialport.h"
#include "shell/frmmain.h"
#include "shell/trackdataedit.h"
#include "support/memorystore.h"
#include "support/recordingshell.h"
#include "support/scriptedmessagebox.h"
#include "support/simprocess.h"

#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

const QString kKey = QStringLiteral("Software\\Quorvex\\Quorvex Tarnavel\\");
const QString kCorrupted = QStringLiteral("[fault: check character corrupted]");
const QString kResendRequest = SimProcess::hostFrame("o");
const QString kArm = SimProcess::hostFrame("n");
const QString kReset = SimProcess::hostFrame("h");
const QString kErrorTitle = QStringLiteral("Quorvex Tarnavel - ERROR");

const char kWriteCommands[5] = {'1', 'A', 'Q', '@', '!'};
const char* const kMethodNames[5] = {"ISO on Track 1", "ISO on Track 2", "ISO on Track 3",
                                     "IBM 4700 on Track 2", "Track 1 ISO on Track 3"};
const int kPadTo[5] = {76, 37, 104, 0, 0};

QString padded(int method, const QString& data)
{
    const int length = kPadTo[method];
    return data.size() < length ? data + QString(length - data.size(), QLatin1Char('0')) : data;
}

QString formatWarning(int method)
{
    return QStringLiteral("Unable to check format \"%1\" for correctness.  Ensure that the data "
                          "is of the correct characters and length.\r\n\r\nAre you sure you want "
                          "to continue?")
        .arg(QLatin1String(kMethodNames[method]));
}

// The serial adapter with the emulator's console in front of it: before every command except a
// resend request the emulator is told to corrupt its next frame, so every reply arrives bad
// exactly once and has to be asked for again. The console answers before the command goes
// out, so the fault is in place when the command arrives.
class CorruptEveryReplyPort : public ISerialPort
{
public:
    CorruptEveryReplyPort(ISerialPort& inner, SimProcess& sim) : m_inner(inner), m_sim(sim)
    {
        connect(&m_inner, &ISerialPort::onComm, this, &ISerialPort::onComm);
    }
    void setCommPort(int number) override { m_inner.setCommPort(number); }
    int commPort() const override { return m_inner.commPort(); }
    void setSettings(const QString& settings) override { m_inner.setSettings(settings); }
    QString settings() const override { return m_inner.settings(); }
    void setPortOpen(bool open) override { m_inner.setPortOpen(open); }
    bool portOpen() const override { return m_inner.portOpen(); }
    void setInputMode(int mode) override { m_inner.setInputMode(mode); }
    void output(const QByteArray& data) override
    {
        if (data != buildFrame("o")) {
            if (m_sim.command(QStringLiteral("fault corrupt 1")))
                ++commands;
            else
                consoleFailures << m_sim.errorString();
        }
        m_inner.output(data);
    }
    QByteArray input() override { return m_inner.input(); }
    int inBufferCount() const override { return m_inner.inBufferCount(); }

    int commands = 0;
    QStringList consoleFailures;

private:
    ISerialPort& m_inner;
    SimProcess& m_sim;
};

struct Rig {
    SimProcess sim{QStringLiteral(TARNAVEL_SIM_PATH)};
    std::unique_ptr<QtSerialPort> serial;
    std::unique_ptr<CorruptEveryReplyPort> corrupting;
    SystemClock clock;
    QtEventPump pump{clock};
    ScriptedMessageBox boxes;
    MemoryStore store;
    RecordingShell shell;
    std::unique_ptr<frmMain> window;

    // The emulator as COM1 swiping by itself after each arm, and the window started against
    // it; failures time out after 3 s.
    bool start(const QStringList& arguments = {}, bool corruptEveryReply = false)
    {
        if (!sim.start(QStringList{QStringLiteral("--com"), QStringLiteral("1"),
                                   QStringLiteral("--auto-swipe"), QStringLiteral("600")} +
                       arguments)) {
            qWarning("%s", qPrintable(sim.errorString()));
            return false;
        }
        // COM1 is resolved through the same configuration folder the emulator linked into.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(sim.configHome()));
        serial = std::make_unique<QtSerialPort>();
        ISerialPort* port = serial.get();
        if (corruptEveryReply) {
            corrupting = std::make_unique<CorruptEveryReplyPort>(*serial, sim);
            port = corrupting.get();
        }
        store.putDword(kKey, QStringLiteral("Timeout"), 3);
        window = std::make_unique<frmMain>(MainServices{*port, clock, boxes, pump, store, shell},
                                           QString());
        window->Form_Load();
        return window->LinkUp() && boxes.shown.isEmpty();
    }
    template <typename T> T* find(const QString& name) const
    {
        T* child = window->findChild<T*>(name);
        if (!child)
            qWarning("no child %s", qPrintable(name));
        return child;
    }
    TrackDataEdit* data() const { return find<TrackDataEdit>(QStringLiteral("txtData")); }
    void choose(int method)
    {
        find<QRadioButton>(QStringLiteral("optMethod%1").arg(method))->click();
    }
    // Clicks run their handler at once; the handler's waits run the event loop.
    void click(const char* button) { find<QPushButton>(QLatin1String(button))->click(); }
    bool idle() const
    {
        return !window->link().WaitingForReply() && !window->statusWindow()->isVisible();
    }
    bool console(const QString& line)
    {
        if (sim.command(line))
            return true;
        qWarning("%s", qPrintable(sim.errorString()));
        return false;
    }
    // Writes text with the method (the format warning, when there is one, answered Yes).
    void write(int method, const QString& text)
    {
        choose(method);
        data()->setText(text);
        if (kPadTo[method] == 0)
            boxes.answer(mb::IDYES);
        click("cmdWrite");
    }
    QString readBack(int method)
    {
        choose(method);
        data()->clear();
        click("cmdRead");
        return data()->text();
    }
};

} // namespace

class TestE2eCards : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void writeThenRead_data();
    void writeThenRead();
    void swipeErrorThenRetry_data();
    void swipeErrorThenRetry();
    void forcedStatusThenCancel_data();
    void forcedStatusThenCancel();
    void resetEndsSwipeWait();
};

void TestE2eCards::cleanup()
{
    qunsetenv("XDG_CONFIG_HOME");
}

void TestE2eCards::writeThenRead_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("fault");
    const QString texts[5] = {
        QStringLiteral("%B1234^TEST CARD^9912?"),
        QStringLiteral(";1234567890=1234?"),
        QStringLiteral(";011234567890123=99120?"),
        QStringLiteral("IBM 4700: any text, even lower case & 8 bits \xe9!"),
        QStringLiteral("%TRACK ONE^ON THREE?"),
    };
    for (const char* fault : {"none", "corrupt every reply"}) {
        for (int method = 0; method < 5; ++method)
            QTest::addRow("%s, method %d", fault, method) << method << texts[method] << fault;
    }
    // The longest replies, and data that is not padded.
    for (int method : {0, 2, 3})
        QTest::addRow("split 1, method %d", method) << method << texts[method] << "split 1";
}

void TestE2eCards::writeThenRead()
{
    QFETCH(int, method);
    QFETCH(QString, text);
    QFETCH(QString, fault);
    const bool corrupt = fault == QLatin1String("corrupt every reply");
    Rig rig;
    QVERIFY(rig.start({}, corrupt));
    if (fault != QLatin1String("none")) {
        // Repeats take extra polls: the card comes later, after the arm's reply is in.
        QVERIFY(rig.console(QStringLiteral("auto 800")));
    }
    if (fault == QLatin1String("split 1"))
        QVERIFY(rig.console(QStringLiteral("fault split 1")));
    const qsizetype mark = rig.sim.mark();
    const int commandsBefore = corrupt ? rig.corrupting->commands : 0;

    rig.write(method, text);
    QVERIFY(rig.idle());
    QCOMPARE(rig.data()->text(), text);
    const QString written = padded(method, text);
    QCOMPARE(rig.sim.countSince(mark,
                                SimProcess::hostFrame(kWriteCommands[method] + written.toLatin1())),
             1);
    // The swipe's status, and its repeat after the resend request.
    QCOMPARE(rig.sim.countSince(mark, QStringLiteral("status l@: card written")), 2);

    QCOMPARE(rig.readBack(method), written);
    QVERIFY(rig.idle());

    if (kPadTo[method] == 0) {
        QCOMPARE(rig.boxes.shown.size(), 1);
        QCOMPARE(rig.boxes.shown[0].text, formatWarning(method));
        QCOMPARE(rig.boxes.shown[0].title, QStringLiteral("Quorvex Tarnavel - Format WARNING"));
        QCOMPARE(rig.boxes.shown[0].buttons, mb::YesNo);
    } else {
        QVERIFY(rig.boxes.shown.isEmpty());
    }
    QCOMPARE(rig.boxes.pending(), 0);
    // One arm each; the two swipe statuses met a leftover reply and were asked for again.
    QCOMPARE(rig.sim.countSince(mark, kArm), 2);
    if (corrupt) {
        // Load, arm; arm, read: four commands, each reply bad once and fetched again.
        QVERIFY2(rig.corrupting->consoleFailures.isEmpty(),
                 qPrintable(rig.corrupting->consoleFailures.join(QLatin1Char('\n'))));
        QCOMPARE(rig.corrupting->commands - commandsBefore, 4);
        QCOMPARE(rig.sim.countSince(mark, kCorrupted), 4);
        QCOMPARE(rig.sim.countSince(mark, kResendRequest), 6);
    } else {
        QCOMPARE(rig.sim.countSince(mark, kCorrupted), 0);
        QCOMPARE(rig.sim.countSince(mark, kResendRequest), 2);
    }
    QCOMPARE(rig.sim.countSince(mark, kReset), 0);
}

void TestE2eCards::swipeErrorThenRetry_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("read error") << "read"
                                << "read"
                                << "Read Data Error";
    QTest::newRow("no data") << "read"
                             << "nodata"
                             << "Read No Data";
    QTest::newRow("write error") << "write"
                                 << "write"
                                 << "Write Data Error";
}

void TestE2eCards::swipeErrorThenRetry()
{
    QFETCH(QString, operation);
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString text = QStringLiteral(";4000123=2512?");
    Rig rig;
    QVERIFY(rig.start());
    const bool reading = operation == QLatin1String("read");
    if (reading)
        rig.write(1, text);
    QVERIFY(rig.console(QStringLiteral("fault swipe-error ") + kind));
    rig.boxes.answer(mb::IDRETRY);
    const qsizetype mark = rig.sim.mark();
    if (reading) {
        QCOMPARE(rig.readBack(1), padded(1, text));
    } else {
        rig.write(1, text);
        // Retry loads the same data again before the second swipe.
        QCOMPARE(rig.sim.countSince(mark, SimProcess::hostFrame("A" + padded(1, text).toLatin1())),
                 2);
        QCOMPARE(rig.readBack(1), padded(1, text));
    }
    QVERIFY(rig.idle());
    QCOMPARE(rig.boxes.shown.size(), 1);
    const auto& box = rig.boxes.shown.first();
    QCOMPARE(box.text, message);
    QCOMPARE(box.title, kErrorTitle);
    QCOMPARE(box.buttons, mb::RetryCancel);
    QCOMPARE(box.icon, mb::Critical);
    // The retry armed the reader again for a second swipe.
    QCOMPARE(rig.sim.countSince(mark, kArm), reading ? 2 : 3);
    QCOMPARE(rig.sim.countSince(mark, kReset), 0);
}

void TestE2eCards::forcedStatusThenCancel_data()
{
    QTest::addColumn<QString>("operation");
    QTest::newRow("on the load of a write") << "write";
    QTest::newRow("on the arm of a read") << "read";
}

void TestE2eCards::forcedStatusThenCancel()
{
    QFETCH(QString, operation);
    const QString first = QStringLiteral("%FIRST^CARD?");
    const QString second = QStringLiteral("%SECOND^CARD?");
    Rig rig;
    QVERIFY(rig.start());
    rig.write(0, first);
    QVERIFY(rig.console(QStringLiteral("fault force 3")));
    rig.boxes.answer(mb::IDCANCEL);
    const qsizetype mark = rig.sim.mark();
    if (operation == QLatin1String("write")) {
        rig.write(0, second);
        QCOMPARE(rig.data()->text(), second);
    } else {
        rig.data()->setText(second);
        rig.click("cmdRead");
        // Given up: the box keeps what it held.
        QCOMPARE(rig.data()->text(), second);
    }
    QVERIFY(rig.idle());
    QCOMPARE(rig.boxes.shown.size(), 1);
    QCOMPARE(rig.boxes.shown[0].text, QStringLiteral("Command Is Invalid"));
    QCOMPARE(rig.boxes.shown[0].title, kErrorTitle);
    QCOMPARE(rig.boxes.shown[0].buttons, mb::RetryCancel);
    // Cancel gave up with the reset and nothing more.
    QVERIFY(rig.sim.waitForLine(mark, kReset));
    QCOMPARE(rig.sim.countSince(mark, kReset), 1);
    QCOMPARE(rig.sim.countSince(mark, QStringLiteral("status l3")), 1);
    QCOMPARE(rig.sim.countSince(mark, QStringLiteral("status l@")), 0);
    QCOMPARE(rig.sim.countSince(mark, QStringLiteral("status lP")), 0);
    if (operation == QLatin1String("read"))
        QCOMPARE(rig.sim.countSince(mark, kArm), 1);
    else
        QCOMPARE(rig.sim.countSince(mark, kArm), 0);
    // The card still holds the first data.
    QCOMPARE(rig.readBack(0), padded(0, first));
    QCOMPARE(rig.boxes.shown.size(), 1);
}

void TestE2eCards::resetEndsSwipeWait()
{
    Rig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.console(QStringLiteral("auto off")));
    rig.data()->setText(QStringLiteral(";55?"));
    // Reset is pressed while the swipe prompt is up.
    bool pressed = false;
    QTimer operatorHand;
    operatorHand.setInterval(20);
    QObject::connect(&operatorHand, &QTimer::timeout, &operatorHand, [&] {
        if (!pressed && rig.window->statusWindow()->isVisible()) {
            pressed = true;
            rig.click("cmdReset");
        }
    });
    operatorHand.start();
    const qsizetype mark = rig.sim.mark();
    rig.click("cmdRead");
    operatorHand.stop();
    QVERIFY(pressed);
    QVERIFY(rig.idle());
    QCOMPARE(rig.data()->text(), QString());
    QVERIFY(rig.boxes.shown.isEmpty());
    QVERIFY(rig.sim.waitForLine(mark, kReset));
    QCOMPARE(rig.sim.countSince(mark, QStringLiteral("  read ")), 0);
    // The reader was told to stop waiting for a card.
    QString answer;
    QVERIFY(rig.sim.command(QStringLiteral("swipe"), &answer));
    QCOMPARE(answer, QStringLiteral("the reader is not armed: nothing sent"));
}

QTEST_MAIN(TestE2eCards)
#include "test_e2e_cards.moc"
