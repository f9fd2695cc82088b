#include "support/shell/fastsoak.h"

#include "cards/cardmethods.h"
#include "cards/widgets/frmstatus.h"
#include "link/protocol/cardmethod.h"
#include "link/protocol/frame.h"
#include "link/readerlink.h"
#include "platform/eventpump.h"
#include "platform/messagebox.h"
#include "shell/frmmain.h"
#include "shell/trackdataedit.h"
#include "support/emulated/loopbackport.h"
#include "support/manualclock.h"
#include "support/memorystore.h"
#include "support/recordingshell.h"

#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <functional>

namespace {

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer holds freed memory in quarantine: the process's size says nothing.
constexpr bool kMemoryMeasurable = false;
#else
constexpr bool kMemoryMeasurable = true;
#endif

const QString kErrorTitle = QStringLiteral("Quorvex Tarnavel - ERROR");

qint64 rssKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// The operator at the desk: answers every box at random within a few retries, and notes any
// box that a working program never shows.
class SoakOperator : public IMessageBox
{
public:
    explicit SoakOperator(QRandomGenerator& rng) : m_rng(rng) {}

    int show(const QString& text, const QString& title, mb::Buttons buttons, mb::Icon, int) override
    {
        shown << title + QLatin1Char('|') + text;
        if (text.contains(QLatin1String("was disconnected")))
            ++losses;
        const bool known =
            (title == kErrorTitle && buttons == mb::RetryCancel) ||
            title.endsWith(QLatin1String(" - Timeout ERROR")) ||
            title.endsWith(QLatin1String(" - Format WARNING")) ||
            title.endsWith(QLatin1String(" - Invalid Character")) ||
            title == QLatin1String("ERROR: Retrieval of BT905 Version") ||
            (title == kErrorTitle && text.contains(QLatin1String("was disconnected")));
        if (!known)
            problem = shown.last();
        if (buttons == mb::RetryCancel)
            return m_retries++ < 2 && m_rng.bounded(2) ? mb::IDRETRY : mb::IDCANCEL;
        if (buttons == mb::YesNo) {
            if (title.endsWith(QLatin1String(" - Format WARNING")))
                return m_rng.bounded(10) ? mb::IDYES : mb::IDNO;
            return m_retries++ < 2 && m_rng.bounded(2) ? mb::IDYES : mb::IDNO;
        }
        return mb::IDOK;
    }

    void newOperation()
    {
        shown.clear();
        losses = 0;
        m_retries = 0;
    }

    QStringList shown;
    int losses = 0;
    QString problem;

private:
    QRandomGenerator& m_rng;
    int m_retries = 0;
};

// One 200 ms poll a pass, on the manual clock; checks that no wait looks past its budget.
class SoakPump : public IEventPump
{
public:
    SoakPump(ManualClock& clock, qint64 budgetMs) : m_clock(clock), m_budget(budgetMs) {}

    void waitForEvents(qint64 deadlineMs) override
    {
        ++passes;
        if (deadlineMs - m_clock.ms() > m_budget)
            deadlinePushed = true;
        QCoreApplication::processEvents();
        if (onPass)
            onPass(passes);
        m_clock.advance(ReaderLink::kPollIntervalMs);
        if (link)
            link->tmrCheckComms_Timer();
    }

    ReaderLink* link = nullptr;
    std::function<void(int)> onPass;
    int passes = 0;
    bool deadlinePushed = false;

private:
    ManualClock& m_clock;
    qint64 m_budget;
};

QString randomData(QRandomGenerator& rng, int method, bool invalid)
{
    const CardMethodRow& info = CARD_METHOD_TABLE[method];
    const int length = rng.bounded(info.padTo > 0 ? info.padTo + 1 : 40);
    const int low = info.padTo > 0 ? info.lowestCode : 32;
    const int high = info.padTo > 0 ? info.highestCode : 126;
    QString text;
    for (int i = 0; i < length; ++i)
        text += QChar(low + rng.bounded(high - low + 1));
    if (invalid)
        text.insert(rng.bounded(text.size() + 1), QLatin1Char('a'));
    return text;
}

void switchFaults(QRandomGenerator& rng, ReaderModel& model, QStringList* noted)
{
    for (int count = rng.bounded(3); count > 0; --count) {
        switch (rng.bounded(5)) {
        case 0:
            model.setCorruptCount(1 + rng.bounded(3));
            *noted << QStringLiteral("corrupt %1").arg(model.corruptCount());
            break;
        case 1:
            model.setSplitSize(1 + rng.bounded(6));
            *noted << QStringLiteral("split %1").arg(model.splitSize());
            break;
        case 2: {
            const char* commands[] = {"n", "o", "k", "E", "5", "U", "D", "%", "A", "1", "Q"};
            model.setSilentCommands(commands[rng.bounded(11)]);
            *noted << QStringLiteral("silent ") + QString::fromLatin1(model.silentCommands());
            break;
        }
        case 3: {
            const char codes[] = "01234AQRP@";
            model.setForcedReply(QByteArray(1, 'l') + codes[rng.bounded(10)], 1 + rng.bounded(2));
            *noted << QStringLiteral("force ") + QString::fromLatin1(model.forcedReply());
            break;
        }
        default: {
            const ReaderModel::SwipeError errors[] = {ReaderModel::SwipeError::Read,
                                                      ReaderModel::SwipeError::NoData,
                                                      ReaderModel::SwipeError::Write};
            model.setSwipeError(errors[rng.bounded(3)]);
            *noted << QStringLiteral("swipe error");
            break;
        }
        }
    }
}

} // namespace

FastSoakResult runFastSoak(quint32 seed, int operations)
{
    FastSoakResult result;
    QRandomGenerator rng(seed);
    LoopbackPort port;
    port.autoSwipe = true;
    ReaderModel& model = port.model();
    ManualClock clock;
    constexpr int kTimeoutSeconds = 1;
    SoakPump pump(clock, kTimeoutSeconds * 1000);
    SoakOperator boxes(rng);
    MemoryStore store;
    store.putDword(QStringLiteral("Software\\Quorvex\\Quorvex Tarnavel\\"),
                   QStringLiteral("Timeout"), kTimeoutSeconds);
    RecordingShell shell;
    frmMain window(MainServices{port, clock, boxes, pump, store, shell}, QString());
    pump.link = &window.link();
    ReaderLink& link = window.link();
    window.Form_Load();
    // Painting would cost most of the run and shows nothing here.
    window.setUpdatesEnabled(false);
    window.statusWindow()->setUpdatesEnabled(false);

    auto* data = window.findChild<TrackDataEdit*>(QStringLiteral("txtData"));
    auto button = [&](const char* name) {
        return window.findChild<QPushButton*>(QString::fromLatin1(name));
    };
    auto online = [&] {
        return window.findChild<QWidget*>(QStringLiteral("picMain"))->isVisible() &&
               !window.findChild<QWidget*>(QStringLiteral("picError"))->isVisible() &&
               window.findChild<QAction*>(QStringLiteral("mnuTools0"))->isEnabled() &&
               window.windowTitle() == QLatin1String("Quorvex Tarnavel: Online");
    };
    auto offline = [&] {
        return !window.findChild<QWidget*>(QStringLiteral("picMain"))->isVisible() &&
               window.findChild<QWidget*>(QStringLiteral("picError"))->isVisible() &&
               !window.findChild<QAction*>(QStringLiteral("mnuTools0"))->isEnabled() &&
               window.windowTitle() == QLatin1String("Quorvex Tarnavel: Offline");
    };
    auto fail = [&](const QString& why) {
        result.failure = QStringLiteral("%1 (seed %2)").arg(why).arg(seed);
        return result;
    };
    if (!online())
        return fail(QStringLiteral("the start-up check failed"));

    qint64 rssAfterWarmUp = 0;
    for (int op = 0; op < operations; ++op) {
        if (op == 1000)
            rssAfterWarmUp = rssKiB("VmRSS:");
        boxes.newOperation();
        pump.passes = 0;
        QStringList faults;
        QString kind;
        const QString before = data->text();
        QString typed;
        int method = window.CardMethod();
        bool pulled = false;
        bool resetPressed = false;

        if (!window.LinkUp()) {
            // Replugged: the reader comes back from power-up, idle.
            kind = QStringLiteral("connect");
            model.clearFaults();
            (void)model.receive(buildFrame("h"));
            ++result.connects;
            button("cmdConnect")->click();
        } else {
            model.setCurrentCard(rng.bounded(int(model.deck().size())));
            method = rng.bounded(CARD_METHOD_COUNT);
            window.findChild<QRadioButton*>(QStringLiteral("optMethod%1").arg(method))->click();
            const int roll = rng.bounded(100);
            kind = roll < 40   ? QStringLiteral("read")
                   : roll < 80 ? QStringLiteral("write")
                   : roll < 95 ? QStringLiteral("reset")
                               : QStringLiteral("pull");
            if (kind != QLatin1String("pull") && rng.bounded(2))
                switchFaults(rng, model, &faults);
            // The cable comes out or Reset is pressed at some pass of some wait.
            const int pullAt = rng.bounded(100) < 4 ? 1 + rng.bounded(6) : 0;
            const int resetAt = rng.bounded(100) < 6 ? 1 + rng.bounded(6) : 0;
            pump.onPass = [&](int pass) {
                if (pass == pullAt && port.portOpen()) {
                    pulled = true;
                    port.pullCable();
                }
                if (pass == resetAt) {
                    resetPressed = true;
                    button("cmdReset")->click();
                }
            };
            try {
                if (kind == QLatin1String("read")) {
                    button("cmdRead")->click();
                } else if (kind == QLatin1String("write")) {
                    typed = randomData(rng, method, rng.bounded(20) == 0);
                    data->setText(typed);
                    typed = data->text(); // as the box's limit let it in
                    button("cmdWrite")->click();
                } else if (kind == QLatin1String("reset")) {
                    button("cmdReset")->click();
                } else {
                    pulled = true;
                    port.pullCable();
                }
            } catch (...) {
                return fail(QStringLiteral("an exception escaped the %1 handler").arg(kind));
            }
            pump.onPass = nullptr;
        }
        result.boxes += int(boxes.shown.size());
        const QString after = data->text();
        result.journal << QStringLiteral("#%1 %2 method %3 card %4 [%5]%6%7: \"%8\" -> \"%9\"; %10")
                              .arg(op)
                              .arg(kind)
                              .arg(method)
                              .arg(model.currentCard() + 1)
                              .arg(faults.join(QStringLiteral(", ")))
                              .arg(pulled ? QStringLiteral(" pulled") : QString())
                              .arg(resetPressed ? QStringLiteral(" reset") : QString())
                              .arg(before, after, boxes.shown.join(QStringLiteral("; ")));
        if (result.journal.size() > 12)
            result.journal.removeFirst();

        // The data box holds the swiped card's data, nothing, or what the operator typed.
        const QByteArray track =
            model.deck().at(model.currentCard()).tracks[CARD_METHOD_TABLE[method].track];
        const int limit = CARD_METHOD_TABLE[method].lengthLimit;
        const QString card =
            limit > 0 ? QString::fromLatin1(track).left(limit) : QString::fromLatin1(track);
        const bool allowed = after == before || after.isEmpty() ||
                             (kind == QLatin1String("write") && after == typed) ||
                             (kind == QLatin1String("read") && after == card);
        if (!allowed)
            return fail(QStringLiteral("the data box shows \"%1\"; the card holds \"%2\"")
                            .arg(after, card));
        if (kind == QLatin1String("reset") && !after.isEmpty())
            return fail(QStringLiteral("Reset left data in the box"));
        if (!boxes.problem.isEmpty())
            return fail(QStringLiteral("a box no operation should show: ") + boxes.problem);
        if (pump.deadlinePushed)
            return fail(QStringLiteral("a wait looked past its time-out"));
        // Each wait ends by its deadline: a handful of waits, five polls each at most.
        if (pump.passes > 80)
            return fail(QStringLiteral("the operation waited %1 polls").arg(pump.passes));
        if (link.ReplyBuffer().size() > ReaderLink::kMaxReplyBuffer ||
            port.pending().size() > 64 * 1024)
            return fail(QStringLiteral("the reply buffer grew"));
        if (window.statusWindow()->isVisible())
            return fail(QStringLiteral("the swipe prompt stayed up"));
        if (pulled) {
            ++result.pulls;
            if (!offline() || boxes.losses != 1 ||
                !boxes.shown.constLast().contains(QLatin1String("was disconnected")))
                return fail(QStringLiteral("a pulled cable did not leave one box and the "
                                           "offline state"));
        } else if (kind == QLatin1String("connect") && (!online() || !boxes.shown.isEmpty())) {
            return fail(QStringLiteral("Connect with the reader back did not bring it online"));
        } else if (!online()) {
            return fail(QStringLiteral("the link went offline with the cable in"));
        }
        if (kind == QLatin1String("write") && faults.isEmpty() && !pulled && !resetPressed &&
            boxes.shown.isEmpty()) {
            QByteArray padded = typed.toLatin1();
            const int padTo = CARD_METHOD_TABLE[method].padTo;
            if (padTo > padded.size())
                padded.append(QByteArray(padTo - padded.size(), '0'));
            if (track != padded)
                return fail(QStringLiteral("a clean write did not reach the card"));
        }

        // Between operations the line goes quiet, as it does at a desk; the double's record of
        // every frame would grow for ever.
        model.clearFaults();
        port.written.clear();
        for (int tick = 0; tick < 20 && !port.pending().isEmpty(); ++tick)
            link.tmrCheckComms_Timer();
    }
    result.operations = operations;
    result.peakRssKiB = rssKiB("VmHWM:");
    if (rssAfterWarmUp > 0)
        result.rssGrowthKiB = rssKiB("VmRSS:") - rssAfterWarmUp;
    if (kMemoryMeasurable && result.rssGrowthKiB > 8 * 1024)
        return fail(QStringLiteral("memory grew by %1 KiB").arg(result.rssGrowthKiB));
    return result;
}
