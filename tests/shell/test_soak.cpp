// A long seeded run of Read, Write and Reset over the emulator program, with the reader's faults
// switched on at random and every error box answered Retry or Cancel at random. Whatever
// happens, the data box never shows data the card does not hold.
//
// TARNAVEL_SOAK_SEED repeats a run (the seed is printed); TARNAVEL_SOAK_OPS sets its length.

#include "cards/widgets/frmstatus.h"
#include "emulator/readermodel.h"
#include "link/protocol/cardmethod.h"
#include "link/protocol/commands.h"
#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/messagebox.h"
#include "platform/qtserialport.h"
#include "shell/frmmain.h"
#include "shell/trackdataedit.h"
#include "support/memorystore.h"
#include "support/recordingshell.h"
#include "support/simprocess.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <array>
#include <memory>

// Stops the run with the journal's last lines; built only when the check
// fails (the failWith of the test).
#define SOAK_CHECK(condition, why)                                                                 \
    do {                                                                                           \
        if (!(condition))                                                                          \
            QFAIL(qPrintable(failWith(why)));                                                      \
    } while (false)

namespace {

const QString kKey = QStringLiteral("Software\\Quorvex\\Quorvex Tarnavel\\");
const char* const kMethodNames[5] = {"ISO on Track 1", "ISO on Track 2", "ISO on Track 3",
                                     "IBM 4700 on Track 2", "Track 1 ISO on Track 3"};
const int kPadTo[5] = {76, 37, 104, 0, 0};
// The data box's length limit: what a read can show of a track.
const int kLimit[5] = {76, 37, 104, 0, 0};
const QStringList kStatusMessages = {QStringLiteral("Receive Parity Is Error"),
                                     QStringLiteral("Receive LRC is Error"),
                                     QStringLiteral("Command Is Invalid"),
                                     QStringLiteral("Receive Buffer Is Full"),
                                     QStringLiteral("Write Data Error"),
                                     QStringLiteral("Read Data Error"),
                                     QStringLiteral("Read No Data")};
const QString kTimeoutPrompt =
    QStringLiteral("A Comms Timeout has occured.  Would you like to try again?");

quint32 seedFromEnvironment()
{
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("TARNAVEL_SOAK_SEED").toUInt(&ok);
    return ok ? seed : QRandomGenerator::global()->generate();
}

int operationsFromEnvironment()
{
    bool ok = false;
    const int count = qEnvironmentVariableIntValue("TARNAVEL_SOAK_OPS", &ok);
    return ok && count > 0 ? count : 120;
}

// The operator: answers every box at random, the way someone at the desk might, and keeps the
// retries of one operation few so that the run stays short. Boxes that valid data and a
// working port never bring are recorded as problems.
class RandomOperator : public IMessageBox
{
public:
    explicit RandomOperator(QRandomGenerator& rng) : m_rng(rng) {}

    int show(const QString& text, const QString& title, mb::Buttons buttons, mb::Icon, int) override
    {
        shown << QStringLiteral("%1 | %2").arg(title, text);
        if (buttons == mb::RetryCancel && title == QLatin1String("Quorvex Tarnavel - ERROR") &&
            (kStatusMessages.contains(text) || text.startsWith(QLatin1String("Unknown error: ")))) {
            ++errors;
            if (m_retries < 2 && m_rng.bounded(2) == 0) {
                ++m_retries;
                return mb::IDRETRY;
            }
            return mb::IDCANCEL;
        }
        if (buttons == mb::YesNo && title == QLatin1String("Quorvex Tarnavel - Timeout ERROR") &&
            text == kTimeoutPrompt) {
            ++errors;
            if (m_timeoutRetries < 1 && m_rng.bounded(2) == 0) {
                ++m_timeoutRetries;
                return mb::IDYES;
            }
            return mb::IDNO;
        }
        if (buttons == mb::YesNo && title == QLatin1String("Quorvex Tarnavel - Format WARNING") &&
            text.contains(QLatin1String(kMethodNames[expectedWarning]))) {
            declined = m_rng.bounded(10) == 0;
            return declined ? mb::IDNO : mb::IDYES;
        }
        problems << shown.last();
        return buttons == mb::YesNo ? mb::IDNO : mb::IDCANCEL;
    }

    void newOperation(int method)
    {
        shown.clear();
        errors = 0;
        declined = false;
        expectedWarning = method;
        m_retries = 0;
        m_timeoutRetries = 0;
    }

    QStringList shown;
    QStringList problems;
    int errors = 0; // status and time-out boxes of this operation
    bool declined = false;
    int expectedWarning = 0;

private:
    QRandomGenerator& m_rng;
    int m_retries = 0;
    int m_timeoutRetries = 0;
};

QString randomText(QRandomGenerator& rng, int method)
{
    int length = 0;
    int low = 32;
    int high = 126;
    switch (method) {
    case 0:
        length = rng.bounded(77), high = 95;
        break;
    case 1:
        length = rng.bounded(38), low = 48, high = 63;
        break;
    case 2:
        length = rng.bounded(105), low = 48, high = 63;
        break;
    default:
        length = rng.bounded(41);
        break;
    }
    QString text;
    for (int i = 0; i < length; ++i) {
        // Now and then a Latin-1 letter: the line carries all eight bits.
        if (method >= 3 && rng.bounded(20) == 0)
            text += QChar(0xC0 + rng.bounded(0x40));
        else
            text += QChar(low + rng.bounded(high - low + 1));
    }
    return text;
}

QByteArray paddedBytes(int method, const QString& text)
{
    QByteArray data = text.toLatin1();
    if (data.size() < kPadTo[method])
        data.append(QByteArray(kPadTo[method] - data.size(), '0'));
    return data;
}

QString shownAs(int method, const QByteArray& track)
{
    const QString text = QString::fromLatin1(track);
    return kLimit[method] > 0 ? text.left(kLimit[method]) : text;
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void randomOperationsNeverShowWrongData();
};

void TestSoak::cleanup()
{
    qunsetenv("XDG_CONFIG_HOME");
}

void TestSoak::randomOperationsNeverShowWrongData()
{
    const quint32 seed = seedFromEnvironment();
    const int operations = operationsFromEnvironment();
    qInfo("soak: seed %u (TARNAVEL_SOAK_SEED=%u repeats it), %d operations", seed, seed,
          operations);
    QRandomGenerator rng(seed);

    SimProcess sim{QStringLiteral(TARNAVEL_SIM_PATH)};
    QVERIFY2(sim.start({QStringLiteral("--com"), QStringLiteral("1"),
                        QStringLiteral("--auto-swipe"), QStringLiteral("600")}),
             qPrintable(sim.errorString()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(sim.configHome()));
    QtSerialPort port;
    SystemClock clock;
    QtEventPump pump{clock};
    RandomOperator boxes{rng};
    MemoryStore store;
    store.putDword(kKey, QStringLiteral("Timeout"), 3);
    RecordingShell shell;
    frmMain window(MainServices{port, clock, boxes, pump, store, shell}, QString());
    window.Form_Load();
    QVERIFY(window.LinkUp());
    QVERIFY(boxes.shown.isEmpty());

    auto* data = window.findChild<TrackDataEdit*>(QStringLiteral("txtData"));
    auto* cmdRead = window.findChild<QPushButton*>(QStringLiteral("cmdRead"));
    auto* cmdWrite = window.findChild<QPushButton*>(QStringLiteral("cmdWrite"));
    auto* cmdReset = window.findChild<QPushButton*>(QStringLiteral("cmdReset"));
    QVERIFY(data && cmdRead && cmdWrite && cmdReset);
    ReaderLink& link = window.link();

    // What each track of each card of the emulator's deck may hold now. A write that did not
    // clearly succeed may or may not have reached the card, so it adds a possibility; a read
    // that shows data narrows the track down to it.
    QList<std::array<QSet<QByteArray>, 3>> possible;
    for (const ReaderCard& card : defaultDeck())
        possible.append({QSet<QByteArray>{card.tracks[0]}, QSet<QByteArray>{card.tracks[1]},
                         QSet<QByteArray>{card.tracks[2]}});
    int card = 0;

    QStringList journal;
    // The journal's last lines go to the log; the failure message itself stays short.
    auto failWith = [&](const QString& why) {
        qInfo("soak: seed %u; the last operations:", seed);
        for (const QString& line : journal.mid(qMax<qsizetype>(0, journal.size() - 8)))
            qInfo("%s", qPrintable(line));
        return QStringLiteral("%1 (seed %2)").arg(why).arg(seed);
    };

    // The line goes quiet: faults off, the reader reset if asked, and the reply to the last
    // reset taken in by the poll with nothing more arriving, so that nothing of one operation
    // reaches the next. The reset's reply comes after everything the reader sent before it.
    // (Several replies that arrive within one poll may pass the check character together, as
    // the XOR of two equal frames is zero, so the buffer need only end with the reply.)
    auto settle = [&](bool reset, int quietLooks) {
        if (!sim.command(QStringLiteral("fault off")))
            return false;
        if (reset)
            cmdReset->click();
        int quiet = 0;
        for (int look = 0; look < SimProcess::kLooks; ++look) {
            QTest::qWait(SimProcess::kLookMs);
            if (!link.WaitingForReply() && link.ReplyBuffer().endsWith("l0") &&
                port.inBufferCount() == 0) {
                if (++quiet >= quietLooks)
                    return true;
            } else {
                quiet = 0;
            }
        }
        qInfo("soak: still waiting: %s, reply buffer %s; the emulator's last lines:",
              link.WaitingForReply() ? "a reply is awaited" : "no reply awaited",
              link.ReplyBuffer().toHex(' ').constData());
        const QStringList lines = sim.lines();
        for (const QString& line : lines.mid(qMax<qsizetype>(0, lines.size() - 20)))
            qInfo("%s", qPrintable(line));
        return false;
    };

    QTimer operatorHand; // presses Reset in the middle of an operation
    operatorHand.setSingleShot(true);
    bool handPressed = false;
    QObject::connect(&operatorHand, &QTimer::timeout, &operatorHand, [&] {
        handPressed = true;
        cmdReset->click();
    });

    int good = 0;
    int failed = 0;
    for (int op = 0; op < operations; ++op) {
        if (rng.bounded(10) == 0) {
            // Every operation starts with no write data loaded, so none can reach the new card.
            card = rng.bounded(3);
            QVERIFY2(sim.command(QStringLiteral("card %1").arg(card + 1)),
                     qPrintable(sim.errorString()));
        }
        const int roll = rng.bounded(100);
        const QString kind = roll < 40   ? QStringLiteral("read")
                             : roll < 80 ? QStringLiteral("write")
                                         : QStringLiteral("reset");
        const int method = rng.bounded(5);
        const int track = CARD_METHOD_TABLE[method].track;

        QStringList faults;
        if (kind != QLatin1String("reset") && rng.bounded(100) < 45) {
            const int count = 1 + rng.bounded(2);
            for (int f = 0; f < count; ++f) {
                // Weights: corrupt 5, split 3, swipe error 4, forced status 6, silence 1.
                const int pick = rng.bounded(19);
                if (pick < 5) {
                    faults << QStringLiteral("fault corrupt %1").arg(1 + rng.bounded(3));
                } else if (pick < 8) {
                    faults << QStringLiteral("fault split %1").arg(1 + rng.bounded(5));
                } else if (pick < 12) {
                    const char* kinds[] = {"read", "nodata", "write"};
                    faults << QStringLiteral("fault swipe-error %1").arg(kinds[rng.bounded(3)]);
                } else if (pick < 18) {
                    const char* codes[] = {"1", "2", "3", "4", "A", "Q", "R", "P", "@", "0"};
                    faults << QStringLiteral("fault force %1 %2")
                                  .arg(codes[rng.bounded(10)])
                                  .arg(1 + rng.bounded(2));
                } else {
                    // Lost frames: the operation waits out its time-out.
                    const char* commands[] = {"n", "o", "E", "5", "U", "A", "1"};
                    faults << QStringLiteral("fault silent %1").arg(commands[rng.bounded(7)]);
                }
            }
        }
        const bool interrupt = kind != QLatin1String("reset") && rng.bounded(100) < 8;

        window.findChild<QRadioButton*>(QStringLiteral("optMethod%1").arg(method))->click();
        QString written;
        if (kind == QLatin1String("write")) {
            written = randomText(rng, method);
            data->setText(written);
        }
        for (const QString& fault : std::as_const(faults))
            QVERIFY2(sim.command(fault), qPrintable(sim.errorString()));
        const QString before = data->text();
        const bool possiblyBlank = possible[card][0].contains(QByteArray()) &&
                                   possible[card][1].contains(QByteArray()) &&
                                   possible[card][2].contains(QByteArray());
        journal << QStringLiteral("#%1 %2 method %3 card %4%5%6, box before %7")
                       .arg(op)
                       .arg(kind)
                       .arg(method)
                       .arg(card + 1)
                       .arg(faults.isEmpty()
                                ? QString()
                                : QStringLiteral(", ") + faults.join(QStringLiteral(", ")))
                       .arg(interrupt ? QStringLiteral(", Reset pressed meanwhile") : QString())
                       .arg(quoted(before));

        boxes.newOperation(method);
        handPressed = false;
        if (interrupt)
            operatorHand.start(100 + rng.bounded(1400));
        const qsizetype mark = sim.mark();
        if (kind == QLatin1String("read"))
            cmdRead->click();
        else if (kind == QLatin1String("write"))
            cmdWrite->click();
        else
            cmdReset->click();
        operatorHand.stop();
        const QString after = data->text();
        journal.last() += QStringLiteral(", box after %1").arg(quoted(after));
        if (!boxes.shown.isEmpty())
            journal.last() += QStringLiteral(", boxes: ") +
                              boxes.shown.join(QStringLiteral("; "))
                                  .replace(QStringLiteral("\r\n"), QStringLiteral(" "));

        SOAK_CHECK(boxes.problems.isEmpty(),
                   QStringLiteral("unexpected box: ") + boxes.problems.join(QLatin1Char('\n')));
        SOAK_CHECK(!window.statusWindow()->isVisible(),
                   QStringLiteral("the swipe prompt stayed up"));
        const bool clean = faults.isEmpty() && !interrupt;
        bool isGood = false;

        if (kind == QLatin1String("reset")) {
            SOAK_CHECK(after.isEmpty(), QStringLiteral("Reset left data"));
            QVERIFY(!link.WaitingForReply());
            isGood = true;
        } else if (kind == QLatin1String("write")) {
            // Only the Reset pressed meanwhile empties it.
            SOAK_CHECK(after == before || (handPressed && after.isEmpty()),
                       QStringLiteral("Write changed the data box"));
            if (boxes.declined) {
                SOAK_CHECK(sim.countSince(mark, QStringLiteral("host   > ")) == 0,
                           QStringLiteral("a declined write sent frames"));
                isGood = true;
            } else {
                const QByteArray bytes = paddedBytes(method, written);
                const bool cardWritten =
                    sim.countSince(mark, QStringLiteral("status l@: card written")) > 0;
                isGood = cardWritten && boxes.errors == 0 && !handPressed;
                if (clean) {
                    SOAK_CHECK(isGood, QStringLiteral("a write without faults failed"));
                    possible[card][track] = {bytes};
                } else {
                    possible[card][track].insert(bytes);
                }
            }
        } else {
            QSet<QByteArray> matches;
            for (const QByteArray& value : std::as_const(possible[card][track])) {
                if (shownAs(method, value) == after)
                    matches.insert(value);
            }
            if (handPressed) {
                SOAK_CHECK(after.isEmpty(),
                           QStringLiteral("data shown after Reset ended the read"));
            }
            SOAK_CHECK(after.isEmpty() || after == before || !matches.isEmpty(),
                       QStringLiteral("wrong data: %1 is on no track this read could "
                                      "see")
                           .arg(quoted(after)));
            isGood = !matches.isEmpty() && boxes.errors == 0 && !handPressed;
            if (clean && !possiblyBlank) {
                SOAK_CHECK(isGood, QStringLiteral("a read without faults failed"));
            }
            // Only data this read brought in tells what the card holds.
            if (!matches.isEmpty() && after != before && !after.isEmpty())
                possible[card][track] = matches;
        }
        journal.last() +=
            isGood ? QStringLiteral(": good") : QStringLiteral(": failed as expected");
        isGood ? ++good : ++failed;

        // Anything but a clean read or write may leave frames on their way or data loaded: reset
        // the reader and wait until nothing has come in for longer than a poll period (pieces
        // of a split reply may still be on their way). After a Reset only its reply is awaited.
        if (kind == QLatin1String("reset")) {
            SOAK_CHECK(settle(false, 1), QStringLiteral("no reply to Reset"));
        } else if (!clean || boxes.errors > 0) {
            SOAK_CHECK(settle(true, 5), QStringLiteral("the line did not go quiet"));
        }
    }
    qInfo("soak: %d operations, %d good, %d failed as expected", operations, good, failed);
    QCOMPARE(good + failed, operations);
}

int main(int argc, char* argv[])
{
    // A long run outlasts Qt Test's five-minute watchdog; allow a generous 5 s an operation
    // (CTest's own time-out still bounds the default run).
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT",
                QByteArray::number(60000 + qint64(operationsFromEnvironment()) * 5000));
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestSoak test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_soak.moc"
