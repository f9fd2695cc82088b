#include "link/readerprobe.h"

#include "config/appsettings.h"
#include "link/commandlinerhythm.h"
#include "link/protocol/commands.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/messagebox.h"
#include "platform/serialport.h"

namespace {

// A probe asks nobody: a time-out is an answer, not a question.
class NoQuestions : public IMessageBox
{
public:
    int show(const QString&, const QString&, mb::Buttons, mb::Icon, int) override
    {
        return mb::IDNO;
    }
};

// The caller's pump with the attempt's own deadline, and the poll after every wake: a reply
// is taken the moment it arrives, and the attempt ends at its time however long the link would
// wait.
class AttemptPump : public IEventPump
{
public:
    AttemptPump(IEventPump& pump, IClock& clock, qint64 end, const std::function<bool()>& carryOn)
        : m_pump(pump), m_clock(clock), m_end(end), m_carryOn(carryOn)
    {
    }
    void setLink(ReaderLink* link) { m_link = link; }
    bool stopped() const { return m_stopped; }

    void waitForEvents(qint64 deadlineMs) override
    {
        m_pump.waitForEvents(qMin(deadlineMs, m_end));
        if (m_link)
            m_link->tmrCheckComms_Timer();
        if (m_carryOn && !m_carryOn())
            m_stopped = true;
        if ((m_stopped || m_clock.ms() >= m_end) && m_link)
            m_link->abortWaits();
    }

private:
    IEventPump& m_pump;
    IClock& m_clock;
    qint64 m_end;
    const std::function<bool()>& m_carryOn;
    ReaderLink* m_link = nullptr;
    bool m_stopped = false;
};

} // namespace

ReaderProbe::ReaderProbe(ISerialPort& port, IClock& clock, IEventPump& pump)
    : m_port(port), m_clock(clock), m_pump(pump)
{
}

const QStringList& ReaderProbe::commonSettings()
{
    static const QStringList settings = {
        QStringLiteral("9600,e,7,1"),  QStringLiteral("9600,n,8,1"),
        QStringLiteral("19200,e,7,1"), QStringLiteral("19200,n,8,1"),
        QStringLiteral("38400,e,7,1"), QStringLiteral("38400,n,8,1"),
        QStringLiteral("4800,e,7,1"),  QStringLiteral("4800,n,8,1"),
        QStringLiteral("2400,e,7,1"),  QStringLiteral("2400,n,8,1"),
        QStringLiteral("57600,n,8,1"), QStringLiteral("115200,n,8,1"),
    };
    return settings;
}

ReaderProbe::Attempt ReaderProbe::attempt(const QString& settings, int budgetMs)
{
    using Outcome = Attempt::Outcome;
    Attempt attempt;
    attempt.settings = settings;
    try {
        m_port.setSettings(settings);
    } catch (const AppError& error) {
        attempt.outcome = Outcome::Refused;
        attempt.error = error.description();
        return attempt;
    }
    if (!m_port.portOpen())
        m_port.setPortOpen(true);
    m_port.setInputMode(0);

    // The link's own time-out is whole seconds; the attempt's pump ends it sooner.
    AppSettings linkSettings;
    linkSettings.Timeout = qint16(qMax(1, (budgetMs + 999) / 1000));
    NoQuestions questions;
    AttemptPump pump(m_pump, m_clock, m_clock.ms() + budgetMs, carryOn);
    ReaderLink link(m_port, m_clock, questions, pump, linkSettings,
                    ReaderLink::Rhythm::CommandLine);
    pump.setLink(&link);

    const bool reset = link.commandLine()->startClean();
    const QByteArray resetReply = link.ReplyBuffer();
    const QByteArray ok = QByteArray(1, cmd::REPLY_STATUS) + cmd::ST_OK;
    if (reset && resetReply.startsWith(cmd::REPLY_STATUS) && resetReply != ok) {
        attempt.outcome = Outcome::ReaderError;
        attempt.reply = resetReply;
    } else if (reset && link.GetReaderType()) {
        attempt.outcome = Outcome::Answered;
        attempt.readerType = link.ReaderType();
    } else if (link.garbledFrames() > 0) {
        attempt.outcome = Outcome::Garbled;
    } else if (!link.ReplyBuffer().isEmpty()) {
        attempt.outcome = Outcome::Unexpected;
        attempt.reply = link.ReplyBuffer();
    }
    m_interrupted = m_interrupted || pump.stopped();
    return attempt;
}

QList<ReaderProbe::Attempt> ReaderProbe::search(const QString& settings, bool searchOthers)
{
    using Outcome = Attempt::Outcome;
    QList<Attempt> attempts{attempt(settings, kFirstAttemptMs)};
    const Outcome first = attempts.constFirst().outcome;
    // A reader that answers, even with an error, is at the right settings; a refused setting
    // is the operator's to mend.
    if (!searchOthers || m_interrupted || (first != Outcome::Silent && first != Outcome::Garbled))
        return attempts;
    for (const QString& other : commonSettings()) {
        if (other.compare(settings, Qt::CaseInsensitive) == 0)
            continue;
        attempts << attempt(other, kSearchAttemptMs);
        if (m_interrupted || attempts.constLast().outcome == Outcome::Answered)
            break;
    }
    return attempts;
}
