#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class ISerialPort;
class IClock;
class IEventPump;

// Whether a reader answers, and at which line settings: a reset and a version query in the
// command line's rhythm, each attempt within a short time of its own, so that a search over
// the settings readers of this class are commonly set to stays bounded.
class ReaderProbe
{
public:
    // A reader answers a reset in milliseconds; these leave room for a slow adapter.
    static constexpr int kFirstAttemptMs = 1000;
    static constexpr int kSearchAttemptMs = 400;

    struct Attempt {
        enum class Outcome {
            Answered,    // the version reply came
            ReaderError, // the reset was answered with an error status
            Garbled,     // only frames that failed the check came
            Unexpected,  // something came, but no reply to what was asked
            Silent,
            Refused, // the port refused the line settings
        };
        QString settings;
        Outcome outcome = Outcome::Silent;
        int readerType = -1;
        QByteArray reply; // the last reply, for a reader error or an unexpected one
        QString error;    // why the port refused the settings
    };

    // The port is set to the COM number or device to look at; it is opened at the first
    // attempt (an AppError of the open reaches the caller) and left open.
    ReaderProbe(ISerialPort& port, IClock& clock, IEventPump& pump);

    // Returns false to stop at once (Ctrl+C); asked while waiting.
    std::function<bool()> carryOn;

    // One reset and version query at these settings, within budgetMs. Port errors other than a
    // refused setting (AppError) reach the caller.
    Attempt attempt(const QString& settings, int budgetMs);
    // settings first; when nothing answers them and searchOthers holds, the common settings
    // one by one until one answers. The attempts made, in order.
    QList<Attempt> search(const QString& settings, bool searchOthers);
    bool interrupted() const { return m_interrupted; }

    // The line settings readers of this class are commonly set to, most common first.
    static const QStringList& commonSettings();

private:
    ISerialPort& m_port;
    IClock& m_clock;
    IEventPump& m_pump;
    bool m_interrupted = false;
};
