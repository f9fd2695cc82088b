#include "cards/cardoperations.h"
#include "cards/databox.h"
#include "cards/statuswindow.h"
#include "config/appsettings.h"
#include "link/protocol/frame.h"
#include "link/readerlink.h"
#include "platform/messagebox.h"
#include "support/fakeport.h"
#include "support/link/manualpump.h"
#include "support/manualclock.h"
#include "support/scriptedmessagebox.h"

#include <QTest>
#include <functional>
#include <memory>

// What the reader does when it receives one command: the bodies it sends back, each as its
// own frame (none: it stays silent).
struct Reaction {
    QByteArray command;
    QList<QByteArray> replies;
};
using Script = QList<Reaction>;
Q_DECLARE_METATYPE(Script)

namespace {

const QString SWIPE = QStringLiteral("Swipe card when ready");
const QString READING = QStringLiteral("read:") + SWIPE;
const QString WRITING = QStringLiteral("write:") + SWIPE;
const QString HIDE = QStringLiteral("hide");
const QString UNTOUCHED = QStringLiteral("<untouched>");
const QString ERROR_TITLE = QStringLiteral("Quorvex Tarnavel - ERROR");
const QString TIMEOUT_BOX =
    QStringLiteral("Quorvex Tarnavel - Timeout ERROR|A Comms Timeout has occured.  Would you like "
                   "to try again?");

QString errorBox(const QString& text)
{
    return ERROR_TITLE + QLatin1Char('|') + text;
}

class FakeStatusWindow : public IStatusWindow
{
public:
    void ShowStatusWindow(const QString& message, bool writingMode) override
    {
        calls << (writingMode ? QStringLiteral("write:") : QStringLiteral("read:")) + message;
        visible = true;
    }
    void HideStatusWindow() override
    {
        calls << HIDE;
        visible = false;
    }
    QStringList calls;
    bool visible = false;
};

class FakeDataBox : public IDataBox
{
public:
    QString text() const override { return value; }
    void setText(const QString& text) override
    {
        value = text;
        ++sets;
    }
    QString value;
    int sets = 0;
};

// The reader at the other end: answers each command from the script, in order, and repeats
// its last frame on a resend request.
class ScriptedReader
{
public:
    explicit ScriptedReader(FakePort& port) : m_port(port)
    {
        port.onOutput = [this](const QByteArray& frame) { received(frame); };
    }
    void add(const Script& script) { m_script.append(script); }
    void add(const QByteArray& command, const QList<QByteArray>& replies)
    {
        m_script.append({command, replies});
    }
    // An unsolicited frame, as after a swipe.
    void send(const QByteArray& body)
    {
        m_last = buildFrame(body);
        m_port.feed(m_last);
    }
    int unused() const { return int(m_script.size()); }

private:
    void received(const QByteArray& frame)
    {
        const QByteArray data = frame.mid(1, frame.size() - 3);
        if (data == QByteArray(1, cmd::CMD_RESEND)) {
            if (!m_last.isEmpty())
                m_port.feed(m_last);
            return;
        }
        for (qsizetype i = 0; i < m_script.size(); ++i) {
            if (m_script.at(i).command == data) {
                const Reaction reaction = m_script.takeAt(i);
                for (const QByteArray& body : reaction.replies)
                    send(body);
                return;
            }
        }
    }

    FakePort& m_port;
    Script m_script;
    QByteArray m_last;
};

QStringList hex(const QList<QByteArray>& frames)
{
    QStringList out;
    for (const QByteArray& frame : frames)
        out << QString::fromLatin1(frame.toHex(' '));
    return out;
}

QStringList framed(const QList<QByteArray>& dataParts)
{
    QList<QByteArray> frames;
    for (const QByteArray& data : dataParts)
        frames << buildFrame(data);
    return hex(frames);
}

QByteArray padded(const QByteArray& data, int length)
{
    return data + QByteArray(qMax<qsizetype>(0, length - data.size()), '0');
}

} // namespace

// Everything one operation needs, wired as the main window wires it.
struct Rig {
    explicit Rig(ReaderLink::Rhythm rhythm = ReaderLink::Rhythm::Window)
        : link{port, clock, messages, pump, settings, rhythm}
    {
        settings.Timeout = 1;
        pump.setLink(&link);
    }
    QStringList boxes() const
    {
        QStringList out;
        for (const auto& box : messages.shown)
            out << box.title + QLatin1Char('|') + box.text;
        return out;
    }
    // Runs action once, on the first wait pass where when() holds.
    void during(std::function<bool()> when, std::function<void()> action)
    {
        pump.onPass = [this, when, action] {
            if (m_fired || !when())
                return;
            m_fired = true;
            action();
        };
    }
    bool fired() const { return m_fired; }
    bool lastSent(const QByteArray& data) const
    {
        return !port.written.isEmpty() && port.written.last() == buildFrame(data);
    }

    AppSettings settings;
    FakePort port;
    ManualClock clock;
    ScriptedMessageBox messages;
    ManualPump pump{clock};
    ReaderLink link;
    FakeStatusWindow status;
    FakeDataBox data;
    CardOperations operations{link, status, messages, data};
    ScriptedReader reader{port};

private:
    bool m_fired = false;
};

class TestCardOperations : public QObject
{
    Q_OBJECT
private slots:
    void read_data();
    void read();
    void partialReplyIsNeverData();
    void readDemoMode();
    void readDemoModeWithReplyOutstanding();
    void windowRhythmAfterReset_data();
    void windowRhythmAfterReset();
    void commandLineStatusBelongsToTheCard_data();
    void commandLineStatusBelongsToTheCard();
    void write_data();
    void write();
    void writeDemoModeStillArms();
    void resetAlone();
    void resetDuringWait_data();
    void resetDuringWait();
    void reentry_data();
    void reentry();
    void innerWriteRefusedLeavesReadRunning();
    void resetWhileStatusMessageUp();
    void innerReadLeavingWaitRaised();
    void portClosed_data();
    void portClosed();
    void portPulledDuringSwipe();
    void resetOnClosedPort();
    void closingDuringSwipe();
    void nothingStartsWhileClosing();
    void unknownMethodDoesNothing();
};

void TestCardOperations::read_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<Script>("script");
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("data");
    QTest::addColumn<bool>("waiting");
    QTest::addColumn<QStringList>("status");

    const QByteArray n("n");
    const QByteArray o("o");
    const QByteArray h("h");
    const QStringList swipeOnce{READING, HIDE};
    const QStringList swipeTwice{READING, HIDE, READING, HIDE};

    QTest::newRow("success track 2")
        << 1 << Script{{n, {"l0", "lP"}}, {"E", {"E;1234=56?"}}} << QList<int>{}
        << QList<QByteArray>{n, o, "E"} << QStringList{} << ";1234=56?" << false << swipeOnce;
    QTest::newRow("success track 1")
        << 0 << Script{{n, {"l0", "lP"}}, {"5", {"5%B12^X?"}}} << QList<int>{}
        << QList<QByteArray>{n, o, "5"} << QStringList{} << "%B12^X?" << false << swipeOnce;
    QTest::newRow("success track 3")
        << 2 << Script{{n, {"l0", "lP"}}, {"U", {"U;0?"}}} << QList<int>{}
        << QList<QByteArray>{n, o, "U"} << QStringList{} << ";0?" << false << swipeOnce;
    QTest::newRow("success IBM 4700")
        << 3 << Script{{n, {"l0", "lP"}}, {"D", {"Dabc"}}} << QList<int>{}
        << QList<QByteArray>{n, o, "D"} << QStringList{} << "abc" << false << swipeOnce;
    QTest::newRow("success track 1 on 3")
        << 4 << Script{{n, {"l0", "lP"}}, {"%", {"%x y"}}} << QList<int>{}
        << QList<QByteArray>{n, o, "%"} << QStringList{} << "x y" << false << swipeOnce;
    QTest::newRow("reply bytes shown as Latin-1")
        << 1 << Script{{n, {"l0", "lP"}}, {"E", {"E\xe9\xff\x01"}}} << QList<int>{}
        << QList<QByteArray>{n, o, "E"} << QStringList{}
        << QString(QChar(0xE9)) + QChar(0xFF) + QChar(0x01) << false << swipeOnce;
    QTest::newRow("silent arm: reset, data unchanged")
        << 1 << Script{} << QList<int>{} << QList<QByteArray>{n, h} << QStringList{} << UNTOUCHED
        << false << QStringList{};
    QTest::newRow("arm l4, Retry, then success")
        << 1 << Script{{n, {"l4"}}, {n, {"l0", "lP"}}, {"E", {"E99"}}} << QList<int>{mb::IDRETRY}
        << QList<QByteArray>{n, n, o, "E"} << QStringList{errorBox("Receive Buffer Is Full")}
        << "99" << false << swipeOnce;
    QTest::newRow("arm l4, Cancel")
        << 1 << Script{{n, {"l4"}}} << QList<int>{mb::IDCANCEL} << QList<QByteArray>{n, h}
        << QStringList{errorBox("Receive Buffer Is Full")} << UNTOUCHED << false << QStringList{};
    QTest::newRow("arm answered lP is not OK")
        << 1 << Script{{n, {"lP"}}} << QList<int>{mb::IDCANCEL} << QList<QByteArray>{n, h}
        << QStringList{errorBox("Unknown error: P")} << UNTOUCHED << false << QStringList{};
    QTest::newRow("arm answered l0 and more is not OK")
        << 1 << Script{{n, {"l00"}}} << QList<int>{mb::IDCANCEL} << QList<QByteArray>{n, h}
        << QStringList{errorBox("Unknown error: 0")} << UNTOUCHED << false << QStringList{};
    QTest::newRow("no swipe: window closes, silent give-up")
        << 1 << Script{{n, {"l0"}}} << QList<int>{} << QList<QByteArray>{n, h} << QStringList{}
        << UNTOUCHED << false << swipeOnce;
    QTest::newRow("read error, Retry arms again")
        << 1 << Script{{n, {"l0", "lQ"}}, {n, {"l0", "lP"}}, {"E", {"E1"}}}
        << QList<int>{mb::IDRETRY} << QList<QByteArray>{n, o, n, o, "E"}
        << QStringList{errorBox("Read Data Error")} << "1" << false << swipeTwice;
    QTest::newRow("read error, Cancel")
        << 1 << Script{{n, {"l0", "lQ"}}} << QList<int>{mb::IDCANCEL} << QList<QByteArray>{n, o, h}
        << QStringList{errorBox("Read Data Error")} << UNTOUCHED << false << swipeOnce;
    QTest::newRow("no data, Retry arms again")
        << 1 << Script{{n, {"l0", "lR"}}, {n, {"l0", "lP"}}, {"E", {"E2"}}}
        << QList<int>{mb::IDRETRY} << QList<QByteArray>{n, o, n, o, "E"}
        << QStringList{errorBox("Read No Data")} << "2" << false << swipeTwice;
    QTest::newRow("no data, Cancel")
        << 1 << Script{{n, {"l0", "lR"}}} << QList<int>{mb::IDCANCEL} << QList<QByteArray>{n, o, h}
        << QStringList{errorBox("Read No Data")} << UNTOUCHED << false << swipeOnce;
    QTest::newRow("swipe status l@ is not read-done")
        << 1 << Script{{n, {"l0", "l@"}}} << QList<int>{mb::IDCANCEL} << QList<QByteArray>{n, o, h}
        << QStringList{errorBox("Unknown error: @")} << UNTOUCHED << false << swipeOnce;
    QTest::newRow("no reply to read: Yes sends it again")
        << 1 << Script{{n, {"l0", "lP"}}, {"E", {}}, {"E", {"E77"}}} << QList<int>{mb::IDYES}
        << QList<QByteArray>{n, o, "E", "E"} << QStringList{TIMEOUT_BOX} << "77" << false
        << swipeOnce;
    QTest::newRow("no reply to read: No empties, no reset, flag raised")
        << 1 << Script{{n, {"l0", "lP"}}} << QList<int>{mb::IDYES, mb::IDNO}
        << QList<QByteArray>{n, o, "E", "E"} << QStringList{TIMEOUT_BOX, TIMEOUT_BOX} << "" << true
        << swipeOnce;
    QTest::newRow("reply not starting with R: emptied")
        << 1 << Script{{n, {"l0", "lP"}}, {"E", {"l3"}}} << QList<int>{}
        << QList<QByteArray>{n, o, "E"} << QStringList{} << "" << false << swipeOnce;
    QTest::newRow("reply of another read command: emptied")
        << 1 << Script{{n, {"l0", "lP"}}, {"E", {"U123"}}} << QList<int>{}
        << QList<QByteArray>{n, o, "E"} << QStringList{} << "" << false << swipeOnce;
    QTest::newRow("reply exactly R: emptied")
        << 1 << Script{{n, {"l0", "lP"}}, {"E", {"E"}}} << QList<int>{}
        << QList<QByteArray>{n, o, "E"} << QStringList{} << "" << false << swipeOnce;
    QTest::newRow("R compared case-sensitively")
        << 1 << Script{{n, {"l0", "lP"}}, {"E", {"e123"}}} << QList<int>{}
        << QList<QByteArray>{n, o, "E"} << QStringList{} << "" << false << swipeOnce;
}

void TestCardOperations::read()
{
    QFETCH(int, method);
    QFETCH(Script, script);
    QFETCH(QList<int>, answers);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QStringList, shown);
    QFETCH(QString, data);
    QFETCH(bool, waiting);
    QFETCH(QStringList, status);

    Rig rig;
    rig.reader.add(script);
    for (int answer : answers)
        rig.messages.answer(answer);
    rig.data.value = UNTOUCHED;

    rig.operations.cmdRead_Click(method);

    QCOMPARE(hex(rig.port.written), framed(sent));
    QCOMPARE(rig.boxes(), shown);
    QCOMPARE(rig.messages.pending(), 0);
    QCOMPARE(rig.data.value, data);
    if (data == UNTOUCHED)
        QCOMPARE(rig.data.sets, 0);
    QCOMPARE(rig.link.WaitingForReply(), waiting);
    QCOMPARE(rig.status.calls, status);
    QVERIFY(!rig.status.visible);
    QCOMPARE(rig.reader.unused(), 0);
}

void TestCardOperations::partialReplyIsNeverData()
{
    // The tail of a reply whose head a resend request wiped: raw bytes that happen to begin
    // with the read command. The operator gives up on the time-out; nothing of it is shown.
    Rig rig;
    rig.reader.add(Script{{"n", {"l0", "lP"}}, {"E", {}}});
    rig.messages.answer(mb::IDNO);
    rig.data.value = UNTOUCHED;
    rig.during([&] { return rig.lastSent("E"); }, [&] { rig.port.feed("E1234=5678"); });
    rig.operations.cmdRead_Click(1);
    QCOMPARE(rig.link.ReplyBuffer(), QByteArray("E1234=5678"));
    QCOMPARE(rig.data.value, QString());
}

void TestCardOperations::readDemoMode()
{
    Rig rig;
    rig.link.setDemoMode(true);
    rig.reader.add("E", {"E;5?"});
    // The card is swiped while the prompt is up; no arm command went out.
    rig.during([&] { return rig.status.visible; }, [&] { rig.reader.send("lP"); });
    rig.operations.cmdRead_Click(1);
    QCOMPARE(hex(rig.port.written), framed({"o", "E"}));
    QCOMPARE(rig.data.value, QStringLiteral(";5?"));
    QCOMPARE(rig.status.calls, (QStringList{READING, HIDE}));
}

void TestCardOperations::readDemoModeWithReplyOutstanding()
{
    Rig rig;
    rig.link.setDemoMode(true);
    rig.link.awaitSwipe();
    rig.data.value = UNTOUCHED;
    // With a reply still awaited, the OK put in place of the arm reply does not end the wait;
    // its time-out empties the buffer and the read gives up.
    rig.operations.cmdRead_Click(1);
    QCOMPARE(hex(rig.port.written), framed({"h"}));
    QCOMPARE(rig.data.value, UNTOUCHED);
    QVERIFY(rig.status.calls.isEmpty());
    QVERIFY(!rig.link.WaitingForReply());
}

// The window awaits no reply to a reset: whatever sent it, the next operation runs exactly as
// it would without it, a resend the poll raises on its own included.
void TestCardOperations::windowRhythmAfterReset_data()
{
    QTest::addColumn<QString>("reset");
    QTest::addColumn<bool>("garbledAnswer");
    QTest::addColumn<QList<QByteArray>>("sent");

    const QByteArray h("h");
    const QByteArray o("o");
    for (const bool garbled : {false, true}) {
        const QList<QByteArray> resends = garbled ? QList<QByteArray>{o} : QList<QByteArray>{};
        const char* suffix = garbled ? ", its answer garbled" : "";
        QTest::addRow("Reset button%s", suffix)
            << QStringLiteral("button") << garbled
            << QList<QByteArray>{h} + resends + QList<QByteArray>{o, "E"};
        QTest::addRow("a read's give-up%s", suffix)
            << QStringLiteral("give-up") << garbled
            << QList<QByteArray>{"n", h} + resends + QList<QByteArray>{o, "E"};
        QTest::addRow("the LED test's Close%s", suffix)
            << QStringLiteral("led close") << garbled
            << QList<QByteArray>{h} + resends + QList<QByteArray>{o, "E"};
    }
}

void TestCardOperations::windowRhythmAfterReset()
{
    QFETCH(QString, reset);
    QFETCH(bool, garbledAnswer);
    QFETCH(QList<QByteArray>, sent);

    Rig rig;
    if (reset == QLatin1String("button")) {
        rig.operations.cmdReset_Click();
    } else if (reset == QLatin1String("give-up")) {
        rig.operations.cmdRead_Click(1); // the arm goes unanswered
    } else {
        rig.link.SendData("h");
        rig.link.endWait();
    }
    if (garbledAnswer) {
        QByteArray frame = buildFrame("l0");
        frame[frame.size() - 1] = char(frame.back() ^ 0x01);
        rig.port.feed(frame);
        rig.link.tmrCheckComms_Timer();
        // The reader repeats its answer for the resend.
        rig.port.feed(buildFrame("l0"));
        rig.link.tmrCheckComms_Timer();
    }
    rig.link.setDemoMode(true);
    rig.reader.add("E", {"E;5?"});
    rig.during([&] { return rig.status.visible; }, [&] { rig.reader.send("lP"); });
    rig.operations.cmdRead_Click(1);

    QCOMPARE(hex(rig.port.written), framed(sent));
    QCOMPARE(rig.data.value, QStringLiteral(";5?"));
    QVERIFY(!rig.link.WaitingForReply());
    QVERIFY(rig.messages.shown.isEmpty());
}

// In the command line's rhythm a swipe's status counts for a card only once its arm has been
// acknowledged; one that comes before, or twice, belongs to no card in hand. What a misbehaving
// reader sends cannot make a card count as written that the reader did not confirm.
void TestCardOperations::commandLineStatusBelongsToTheCard_data()
{
    QTest::addColumn<Script>("script");
    QTest::addColumn<QString>("swipe"); // what the line does while the prompt is up
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QString>("written"); // yes, no, in doubt

    const QByteArray load = "A" + padded(";1=2?", 37);
    const QByteArray n("n");
    const QByteArray h("h");
    QTest::newRow("a status right after the load's acknowledgement")
        << Script{{load, {"l0", "l@"}}, {n, {"l0"}}, {h, {"l0"}}} << "none"
        << QList<QByteArray>{load, n, h} << "no";
    QTest::newRow("the arm unacknowledged, the reset answered l@ then l0")
        << Script{{load, {"l0"}}, {n, {}}, {h, {"l@", "l0"}}} << "none"
        << QList<QByteArray>{load, n, h} << "in doubt";
    QTest::newRow("the arm acknowledged, the card written as the reset went out")
        << Script{{load, {"l0"}}, {n, {"l0"}}, {h, {"l@", "l0"}}} << "none"
        << QList<QByteArray>{load, n, h} << "yes";
    QTest::newRow("noise in the swipe wait repeats the acknowledgement")
        << Script{{load, {"l0"}}, {n, {"l0"}}} << "noise, l@" << QList<QByteArray>{load, n, "o"}
        << "yes";
    QTest::newRow("the status sent twice counts once")
        << Script{{load, {"l0"}}, {n, {"l0"}}, {load, {"l0"}}, {n, {"l0"}}, {h, {"l0"}}}
        << "l@ twice" << QList<QByteArray>{load, n, load, n, h} << "yes, then no";
}

void TestCardOperations::commandLineStatusBelongsToTheCard()
{
    QFETCH(Script, script);
    QFETCH(QString, swipe);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QString, written);

    Rig rig(ReaderLink::Rhythm::CommandLine);
    rig.reader.add(script);
    int passes = 0;
    rig.pump.onPass = [&] {
        if (!rig.status.visible)
            return;
        ++passes;
        if (swipe == QLatin1String("l@ twice") && passes == 1) {
            rig.reader.send("l@");
            rig.reader.send("l@");
        } else if (swipe == QLatin1String("noise, l@") && passes == 1) {
            QByteArray noise = buildFrame("l@");
            noise[noise.size() - 1] = char(noise.back() ^ 0x10);
            rig.port.feed(noise);
        } else if (swipe == QLatin1String("noise, l@") && passes == 3) {
            rig.reader.send("l@");
        }
    };
    const auto state = [](const CardOutcome& out) {
        return out.written          ? QStringLiteral("yes")
               : out.writeUncertain ? QStringLiteral("in doubt")
                                    : QStringLiteral("no");
    };
    const CardMethodId iso2 = *CardMethodId::fromIndex(1);
    QString outcome = state(rig.operations.writeCard(iso2, padded(";1=2?", 37)));
    if (swipe == QLatin1String("l@ twice")) {
        swipe = QStringLiteral("none");
        outcome +=
            QStringLiteral(", then ") + state(rig.operations.writeCard(iso2, padded(";1=2?", 37)));
    }
    QCOMPARE(outcome, written);
    QCOMPARE(hex(rig.port.written), framed(sent));
}

void TestCardOperations::write_data()
{
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Script>("script");
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("status");

    const QByteArray n("n");
    const QByteArray o("o");
    const QByteArray h("h");
    const QByteArray t2 = "A" + padded(";123=45?", 37);
    const QStringList swipeOnce{WRITING, HIDE};
    const QString invalidBox =
        QStringLiteral("Quorvex Tarnavel - Invalid Character|An invalid character (\"%1\") was "
                       "found.  Please correct this.");
    const QString warningBox =
        QStringLiteral("Quorvex Tarnavel - Format WARNING|Unable to check format \"%1\" for "
                       "correctness.  Ensure that the data is of the correct characters and "
                       "length.\r\n\r\nAre you sure you want to continue?");

    QTest::newRow("track 2 padded with 29 zeros")
        << 1 << ";123=45?" << Script{{t2, {"l0"}}, {n, {"l0", "l@"}}} << QList<int>{}
        << QList<QByteArray>{t2, n, o} << QStringList{} << swipeOnce;
    QTest::newRow("empty box, method 0: 76 zeros")
        << 0 << "" << Script{{"1" + padded("", 76), {"l0"}}, {n, {"l0", "l@"}}} << QList<int>{}
        << QList<QByteArray>{"1" + padded("", 76), n, o} << QStringList{} << swipeOnce;
    QTest::newRow("empty box, method 2: 104 zeros")
        << 2 << "" << Script{{"Q" + padded("", 104), {"l0"}}, {n, {"l0", "l@"}}} << QList<int>{}
        << QList<QByteArray>{"Q" + padded("", 104), n, o} << QStringList{} << swipeOnce;
    QTest::newRow("over-long data written whole")
        << 1 << QString(40, QLatin1Char('1'))
        << Script{{"A" + QByteArray(40, '1'), {"l0"}}, {n, {"l0", "l@"}}} << QList<int>{}
        << QList<QByteArray>{"A" + QByteArray(40, '1'), n, o} << QStringList{} << swipeOnce;
    QTest::newRow("rejected character sends nothing")
        << 1 << ";12a" << Script{} << QList<int>{mb::IDOK} << QList<QByteArray>{}
        << QStringList{invalidBox.arg("a")} << QStringList{};
    QTest::newRow("non-Latin-1 character refused, IBM 4700")
        << 3 << QStringLiteral("12\u20ac") << Script{} << QList<int>{mb::IDOK}
        << QList<QByteArray>{} << QStringList{invalidBox.arg(QChar(0x20AC))} << QStringList{};
    QTest::newRow("warning No sends nothing")
        << 3 << "xyz" << Script{} << QList<int>{mb::IDNO} << QList<QByteArray>{}
        << QStringList{warningBox.arg("IBM 4700 on Track 2")} << QStringList{};
    QTest::newRow("warning Yes writes as typed")
        << 3 << "x y" << Script{{"@x y", {"l0"}}, {n, {"l0", "l@"}}} << QList<int>{mb::IDYES}
        << QList<QByteArray>{"@x y", n, o} << QStringList{warningBox.arg("IBM 4700 on Track 2")}
        << swipeOnce;
    QTest::newRow("Latin-1 data goes out one byte a character")
        << 4 << QStringLiteral("\u00e9\u00ff") << Script{{"!\xe9\xff", {"l0"}}, {n, {"l0", "l@"}}}
        << QList<int>{mb::IDYES} << QList<QByteArray>{"!\xe9\xff", n, o}
        << QStringList{warningBox.arg("Track 1 ISO on Track 3")} << swipeOnce;
    QTest::newRow("load l2, Retry loads the padded data again")
        << 1 << ";123=45?" << Script{{t2, {"l2"}}, {t2, {"l0"}}, {n, {"l0", "l@"}}}
        << QList<int>{mb::IDRETRY} << QList<QByteArray>{t2, t2, n, o}
        << QStringList{errorBox("Receive LRC is Error")} << swipeOnce;
    QTest::newRow("load l2, Cancel")
        << 1 << ";123=45?" << Script{{t2, {"l2"}}} << QList<int>{mb::IDCANCEL}
        << QList<QByteArray>{t2, h} << QStringList{errorBox("Receive LRC is Error")}
        << QStringList{};
    QTest::newRow("arm l4, Retry loads again")
        << 1 << ";123=45?" << Script{{t2, {"l0"}}, {n, {"l4"}}, {t2, {"l0"}}, {n, {"l0", "l@"}}}
        << QList<int>{mb::IDRETRY} << QList<QByteArray>{t2, n, t2, n, o}
        << QStringList{errorBox("Receive Buffer Is Full")} << swipeOnce;
    QTest::newRow("arm l4, Cancel")
        << 1 << ";123=45?" << Script{{t2, {"l0"}}, {n, {"l4"}}} << QList<int>{mb::IDCANCEL}
        << QList<QByteArray>{t2, n, h} << QStringList{errorBox("Receive Buffer Is Full")}
        << QStringList{};
    QTest::newRow("write error, Retry: load, arm, swipe again")
        << 1 << ";123=45?"
        << Script{{t2, {"l0"}}, {n, {"l0", "lA"}}, {t2, {"l0"}}, {n, {"l0", "l@"}}}
        << QList<int>{mb::IDRETRY} << QList<QByteArray>{t2, n, o, t2, n, o}
        << QStringList{errorBox("Write Data Error")} << QStringList{WRITING, HIDE, WRITING, HIDE};
    QTest::newRow("write error, Cancel")
        << 1 << ";123=45?" << Script{{t2, {"l0"}}, {n, {"l0", "lA"}}} << QList<int>{mb::IDCANCEL}
        << QList<QByteArray>{t2, n, o, h} << QStringList{errorBox("Write Data Error")} << swipeOnce;
    QTest::newRow("swipe status lP is not write-done")
        << 1 << ";123=45?" << Script{{t2, {"l0"}}, {n, {"l0", "lP"}}} << QList<int>{mb::IDCANCEL}
        << QList<QByteArray>{t2, n, o, h} << QStringList{errorBox("Unknown error: P")} << swipeOnce;
    QTest::newRow("time-out at load") << 1 << ";123=45?" << Script{} << QList<int>{}
                                      << QList<QByteArray>{t2, h} << QStringList{} << QStringList{};
    QTest::newRow("time-out at arm")
        << 1 << ";123=45?" << Script{{t2, {"l0"}}} << QList<int>{} << QList<QByteArray>{t2, n, h}
        << QStringList{} << QStringList{};
    QTest::newRow("time-out at swipe")
        << 1 << ";123=45?" << Script{{t2, {"l0"}}, {n, {"l0"}}} << QList<int>{}
        << QList<QByteArray>{t2, n, h} << QStringList{} << swipeOnce;
}

void TestCardOperations::write()
{
    QFETCH(int, method);
    QFETCH(QString, text);
    QFETCH(Script, script);
    QFETCH(QList<int>, answers);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, status);

    Rig rig;
    rig.reader.add(script);
    for (int answer : answers)
        rig.messages.answer(answer);
    rig.data.value = text;
    const bool waitingBefore = rig.link.WaitingForReply();

    rig.operations.cmdWrite_Click(method);

    QCOMPARE(hex(rig.port.written), framed(sent));
    QCOMPARE(rig.boxes(), shown);
    QCOMPARE(rig.messages.pending(), 0);
    QCOMPARE(rig.data.value, text);
    QCOMPARE(rig.data.sets, 0);
    QCOMPARE(rig.status.calls, status);
    QVERIFY(!rig.status.visible);
    QCOMPARE(rig.reader.unused(), 0);
    QCOMPARE(rig.link.WaitingForReply(), sent.isEmpty() ? waitingBefore : false);
}

void TestCardOperations::writeDemoModeStillArms()
{
    Rig rig;
    rig.link.setDemoMode(true);
    rig.data.value = QStringLiteral("1");
    const QByteArray load = "A" + padded("1", 37);
    rig.reader.add(load, {"l0"});
    rig.reader.add("n", {"l0", "l@"});
    rig.operations.cmdWrite_Click(1);
    QCOMPARE(hex(rig.port.written), framed({load, "n", "o"}));
    QCOMPARE(rig.status.calls, (QStringList{WRITING, HIDE}));
}

void TestCardOperations::resetAlone()
{
    Rig rig;
    rig.data.value = QStringLiteral("something");
    rig.link.putReply("l0");
    rig.operations.cmdReset_Click();
    QCOMPARE(hex(rig.port.written), framed({"h"}));
    QVERIFY(!rig.link.WaitingForReply());
    QVERIFY(rig.link.ReplyBuffer().isEmpty());
    QCOMPARE(rig.data.value, QString());
    QVERIFY(rig.status.calls.isEmpty());
    QVERIFY(rig.messages.shown.isEmpty());
    QCOMPARE(rig.pump.passes, 0);
}

void TestCardOperations::resetDuringWait_data()
{
    QTest::addColumn<bool>("writing");
    QTest::addColumn<Script>("script");
    QTest::addColumn<QByteArray>("pressAfter"); // the last frame out when Reset is pressed
    QTest::addColumn<bool>("inSwipe");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QStringList>("status");

    const QByteArray n("n");
    const QByteArray h("h");
    const QByteArray load = "A" + padded(";1?", 37);
    QTest::newRow("read, arm wait")
        << false << Script{} << n << false << QList<QByteArray>{n, h, h} << QStringList{};
    QTest::newRow("read, swipe wait") << false << Script{{n, {"l0"}}} << n << true
                                      << QList<QByteArray>{n, h, h} << QStringList{READING, HIDE};
    QTest::newRow("read, fetch wait")
        << false << Script{{n, {"l0", "lP"}}} << QByteArray("E") << false
        << QList<QByteArray>{n, "o", "E", h} << QStringList{READING, HIDE};
    QTest::newRow("write, load wait")
        << true << Script{} << load << false << QList<QByteArray>{load, h, h} << QStringList{};
    QTest::newRow("write, arm wait") << true << Script{{load, {"l0"}}} << n << false
                                     << QList<QByteArray>{load, n, h, h} << QStringList{};
    QTest::newRow("write, swipe wait")
        << true << Script{{load, {"l0"}}, {n, {"l0"}}} << n << true
        << QList<QByteArray>{load, n, h, h} << QStringList{WRITING, HIDE};
}

void TestCardOperations::resetDuringWait()
{
    QFETCH(bool, writing);
    QFETCH(Script, script);
    QFETCH(QByteArray, pressAfter);
    QFETCH(bool, inSwipe);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QStringList, status);

    Rig rig;
    rig.reader.add(script);
    rig.data.value = QStringLiteral(";1?");
    rig.during([&] { return rig.lastSent(pressAfter) && rig.status.visible == inSwipe; },
               [&] { rig.operations.cmdReset_Click(); });
    const qint64 started = rig.clock.ms();
    if (writing)
        rig.operations.cmdWrite_Click(1);
    else
        rig.operations.cmdRead_Click(1);

    QVERIFY(rig.fired());
    QCOMPARE(hex(rig.port.written), framed(sent));
    // Ends at once: no time-out ran its course, no question, no message.
    QVERIFY(rig.clock.ms() - started < 1000);
    QVERIFY(rig.messages.shown.isEmpty());
    QCOMPARE(rig.data.value, QString());
    QCOMPARE(rig.status.calls, status);
    QVERIFY(!rig.status.visible);
    QVERIFY(!rig.link.WaitingForReply());
}

void TestCardOperations::reentry_data()
{
    // outer, inner: 'r' read, 'w' write. The inner one is pressed once `pressAfter` went out
    // (and, for a swipe wait, while the prompt is up).
    QTest::addColumn<char>("outer");
    QTest::addColumn<char>("inner");
    QTest::addColumn<Script>("script");
    QTest::addColumn<QByteArray>("pressAfter");
    QTest::addColumn<bool>("inSwipe");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QStringList>("status");

    const QByteArray n("n");
    const QByteArray o("o");
    const QByteArray h("h");
    const QByteArray load1 = "A" + padded(";1?", 37);
    const QByteArray load2 = "A" + padded(";2?", 37);

    // Read-in-Read: the inner read's card stays in the box; the outer one gives up.
    QTest::newRow("read in read's swipe")
        << 'r' << 'r' << Script{{n, {"l0"}}, {n, {"l0", "lP"}}, {"5", {"5INNER"}}} << n << true
        << QList<QByteArray>{n, n, o, "5", h} << "INNER"
        << QStringList{READING, READING, HIDE, HIDE};
    QTest::newRow("read in read's arm")
        << 'r' << 'r' << Script{{n, {}}, {n, {"l0", "lP"}}, {"5", {"5INNER"}}} << n << false
        << QList<QByteArray>{n, n, o, "5", h} << "INNER" << QStringList{READING, HIDE};
    QTest::newRow("read in read's fetch")
        << 'r' << 'r' << Script{{n, {"l0", "lP"}}, {n, {"l0", "lP"}}, {"5", {"5INNER"}}}
        << QByteArray("E") << false << QList<QByteArray>{n, o, "E", n, o, "5"} << "INNER"
        << QStringList{READING, HIDE, READING, HIDE};
    // Write-in-Read: no "Unknown error: @" for the outer read, the typed text stays.
    QTest::newRow("write in read's swipe")
        << 'r' << 'w' << Script{{n, {"l0"}}, {load2, {"l0"}}, {n, {"l0", "l@"}}} << n << true
        << QList<QByteArray>{n, load2, n, o, h} << ";2?"
        << QStringList{READING, WRITING, HIDE, HIDE};
    QTest::newRow("write in read's fetch")
        << 'r' << 'w' << Script{{n, {"l0", "lP"}}, {load2, {"l0"}}, {n, {"l0", "l@"}}}
        << QByteArray("E") << false << QList<QByteArray>{n, o, "E", load2, n, o} << ";2?"
        << QStringList{READING, HIDE, WRITING, HIDE};
    // Read-in-Write.
    QTest::newRow("read in write's swipe")
        << 'w' << 'r' << Script{{load1, {"l0"}}, {n, {"l0"}}, {n, {"l0", "lP"}}, {"5", {"5R"}}} << n
        << true << QList<QByteArray>{load1, n, n, o, "5", h} << "R"
        << QStringList{WRITING, READING, HIDE, HIDE};
    QTest::newRow("read in write's load")
        << 'w' << 'r' << Script{{load1, {}}, {n, {"l0", "lP"}}, {"5", {"5R"}}} << load1 << false
        << QList<QByteArray>{load1, n, o, "5", h} << "R" << QStringList{READING, HIDE};
    // Write-in-Write: the second text is written; the first write ends without a message.
    QTest::newRow("write in write's swipe")
        << 'w' << 'w' << Script{{load1, {"l0"}}, {n, {"l0"}}, {load2, {"l0"}}, {n, {"l0", "l@"}}}
        << n << true << QList<QByteArray>{load1, n, load2, n, o, h} << ";2?"
        << QStringList{WRITING, WRITING, HIDE, HIDE};
    QTest::newRow("write in write's arm")
        << 'w' << 'w' << Script{{load1, {"l0"}}, {n, {}}, {load2, {"l0"}}, {n, {"l0", "l@"}}} << n
        << false << QList<QByteArray>{load1, n, load2, n, o, h} << ";2?"
        << QStringList{WRITING, HIDE};
}

void TestCardOperations::reentry()
{
    QFETCH(char, outer);
    QFETCH(char, inner);
    QFETCH(Script, script);
    QFETCH(QByteArray, pressAfter);
    QFETCH(bool, inSwipe);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QString, data);
    QFETCH(QStringList, status);

    Rig rig;
    rig.reader.add(script);
    rig.data.value = QStringLiteral(";1?");
    rig.during([&] { return rig.lastSent(pressAfter) && rig.status.visible == inSwipe; },
               [&] {
                   if (inner == 'w') {
                       rig.data.value = QStringLiteral(";2?");
                       rig.operations.cmdWrite_Click(1);
                   } else {
                       rig.operations.cmdRead_Click(0);
                   }
               });
    if (outer == 'w')
        rig.operations.cmdWrite_Click(1);
    else
        rig.operations.cmdRead_Click(1);

    QVERIFY(rig.fired());
    QCOMPARE(hex(rig.port.written), framed(sent));
    QVERIFY2(rig.messages.shown.isEmpty(), qPrintable(rig.boxes().join(QLatin1Char('\n'))));
    QCOMPARE(rig.data.value, data);
    QCOMPARE(rig.status.calls, status);
    QVERIFY(!rig.status.visible);
    QVERIFY(!rig.link.WaitingForReply());
    QCOMPARE(rig.reader.unused(), 0);
}

void TestCardOperations::innerWriteRefusedLeavesReadRunning()
{
    Rig rig;
    rig.reader.add("n", {"l0"});
    rig.reader.add("E", {"E;42?"});
    rig.messages.answer(mb::IDOK);
    rig.data.value = QStringLiteral("bad");
    rig.during([&] { return rig.status.visible; },
               [&] {
                   rig.operations.cmdWrite_Click(1);
                   rig.reader.send("lP");
               });
    rig.operations.cmdRead_Click(1);
    QVERIFY(rig.fired());
    QCOMPARE(hex(rig.port.written), framed({"n", "o", "E"}));
    QCOMPARE(rig.messages.shown.size(), 1);
    QCOMPARE(rig.messages.shown.first().title,
             QStringLiteral("Quorvex Tarnavel - Invalid Character"));
    QCOMPARE(rig.data.value, QStringLiteral(";42?"));
    QCOMPARE(rig.status.calls, (QStringList{READING, HIDE}));
}

void TestCardOperations::resetWhileStatusMessageUp()
{
    // Retry on a status message answers an exchange that Reset has meanwhile abandoned.
    Rig rig;
    rig.reader.add("n", {"l4"});
    rig.messages.answer(mb::IDRETRY);
    rig.messages.onShow = [&](const ScriptedMessageBox::Box&) { rig.operations.cmdReset_Click(); };
    rig.operations.cmdRead_Click(1);
    QCOMPARE(hex(rig.port.written), framed({"n", "h", "h"}));
    QCOMPARE(rig.boxes(), QStringList{errorBox("Receive Buffer Is Full")});
    QVERIFY(!rig.link.WaitingForReply());
    QVERIFY(rig.status.calls.isEmpty());
}

void TestCardOperations::innerReadLeavingWaitRaised()
{
    // The inner read's fetch gets no reply and the operator declines to try again: the flag
    // stays raised, so the outer swipe wait runs on to its deadline and then closes the prompt.
    Rig rig;
    rig.reader.add("n", {"l0"});
    rig.reader.add("n", {"l0", "lP"});
    rig.messages.answer(mb::IDNO);
    rig.data.value = QStringLiteral("old");
    rig.during([&] { return rig.status.visible; }, [&] { rig.operations.cmdRead_Click(0); });
    rig.operations.cmdRead_Click(1);
    QCOMPARE(hex(rig.port.written), framed({"n", "n", "o", "5", "h"}));
    QCOMPARE(rig.boxes(), QStringList{TIMEOUT_BOX});
    QCOMPARE(rig.data.value, QString());
    QCOMPARE(rig.status.calls, (QStringList{READING, READING, HIDE, HIDE}));
    QVERIFY(!rig.status.visible);
    QVERIFY(!rig.link.WaitingForReply());
}

void TestCardOperations::portClosed_data()
{
    QTest::addColumn<char>("operation");
    QTest::newRow("read") << 'r';
    QTest::newRow("write") << 'w';
}

void TestCardOperations::portClosed()
{
    QFETCH(char, operation);
    Rig rig;
    rig.port.setPortOpen(false);
    rig.data.value = QStringLiteral(";1?");
    rig.messages.answer(mb::IDOK);
    if (operation == 'w')
        rig.operations.cmdWrite_Click(1);
    else
        rig.operations.cmdRead_Click(1);
    QVERIFY(rig.port.written.isEmpty());
    QCOMPARE(rig.messages.shown.size(), 1);
    const auto& box = rig.messages.shown.first();
    QCOMPARE(box.title, ERROR_TITLE);
    QCOMPARE(box.text, QStringLiteral("9: Port is not open"));
    QCOMPARE(box.buttons, mb::OK);
    QCOMPARE(box.icon, mb::Critical);
    QCOMPARE(rig.data.value, QStringLiteral(";1?"));
    QVERIFY(!rig.link.WaitingForReply());
    QVERIFY(!rig.status.visible);
}

void TestCardOperations::portPulledDuringSwipe()
{
    Rig rig;
    rig.reader.add("n", {"l0"});
    rig.messages.answer(mb::IDOK);
    rig.data.value = QStringLiteral("kept");
    rig.during([&] { return rig.status.visible; }, [&] { rig.port.setPortOpen(false); });
    rig.operations.cmdRead_Click(1);
    QCOMPARE(hex(rig.port.written), framed({"n"}));
    QCOMPARE(rig.boxes(), QStringList{errorBox("9: Port is not open")});
    QCOMPARE(rig.status.calls, (QStringList{READING, HIDE, HIDE}));
    QVERIFY(!rig.status.visible);
    QVERIFY(!rig.link.WaitingForReply());
    QCOMPARE(rig.data.value, QStringLiteral("kept"));
}

void TestCardOperations::resetOnClosedPort()
{
    Rig rig;
    rig.port.setPortOpen(false);
    rig.link.awaitSwipe();
    rig.data.value = QStringLiteral("x");
    rig.messages.answer(mb::IDOK);
    rig.operations.cmdReset_Click();
    QCOMPARE(rig.boxes(), QStringList{errorBox("9: Port is not open")});
    QVERIFY(!rig.link.WaitingForReply());
    QCOMPARE(rig.data.value, QString());
}

void TestCardOperations::closingDuringSwipe()
{
    Rig rig;
    rig.reader.add("n", {"l0"});
    rig.data.value = QStringLiteral("kept");
    rig.during([&] { return rig.status.visible; }, [&] { rig.link.abortWaits(); });
    rig.operations.cmdRead_Click(1);
    // The reader is told to stop waiting for the card; nobody is asked anything.
    QCOMPARE(hex(rig.port.written), framed({"n", "h"}));
    QVERIFY(rig.messages.shown.isEmpty());
    QCOMPARE(rig.status.calls, (QStringList{READING, HIDE}));
    QCOMPARE(rig.data.value, QStringLiteral("kept"));
    QVERIFY(rig.clock.ms() < 2000);
}

void TestCardOperations::nothingStartsWhileClosing()
{
    Rig rig;
    rig.link.abortWaits();
    rig.data.value = QStringLiteral(";1?");
    rig.operations.cmdRead_Click(1);
    rig.operations.cmdWrite_Click(1);
    QVERIFY(rig.port.written.isEmpty());
    QVERIFY(rig.messages.shown.isEmpty());
    QVERIFY(rig.status.calls.isEmpty());
}

void TestCardOperations::unknownMethodDoesNothing()
{
    Rig rig;
    rig.data.value = QStringLiteral(";1?");
    for (int method : {-1, 5}) {
        rig.operations.cmdRead_Click(method);
        rig.operations.cmdWrite_Click(method);
    }
    QVERIFY(rig.port.written.isEmpty());
    QVERIFY(rig.messages.shown.isEmpty());
    QCOMPARE(rig.data.sets, 0);
}

QTEST_GUILESS_MAIN(TestCardOperations)
#include "test_cardoperations.moc"
