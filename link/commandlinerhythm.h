#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

class ReaderLink;

// The command line's rhythm. Its poll is many times faster than the window's and meets what a
// 200 ms poll and an operator's pace never do: frames that arrive together, the reply to a reset
// sent without awaiting it (a give-up) arriving after the next command went out, a swipe's
// status arriving in the arm reply's place. So a reset is owed its reply, and the reply is
// awaited before the next command; frames are taken one a poll; and a swipe status that came
// while a reset was owed is kept apart as the outcome of a swipe the reset came too late for.
// The protocol ties no reply to its command, and a reader that misbehaves (or a line that
// repeats) can send a status that belongs to no card in hand: before each command whatever the
// line holds is drained, and a swipe status counts only once the arm has been acknowledged.
// Only a link made with ReaderLink::Rhythm::CommandLine has one.
class CommandLineRhythm
{
public:
    explicit CommandLineRhythm(ReaderLink& link) : m_link(link) {}

    // Drops what the line holds, resets the reader and waits for the reset's reply, so that
    // the reader's state is known (an earlier run may have left it armed) and no stale reply
    // is taken for the next command's. False when the reader did not answer within the
    // time-out; ReplyBuffer then holds the reset's reply. Port errors (AppError) reach the
    // caller.
    bool startClean();
    // Waits until a reset sent earlier has its reply, or its time-out has passed since it was
    // sent. True when the reply came (or none was owed). A swipe status that arrives first is
    // the outcome of a swipe the reset came too late for: lateSwipeStatus() keeps it.
    bool settlePendingReset();
    bool resetPending() const { return m_resetPending; }
    // "l@" and the like: the last swipe status received while a reset was owed its reply.
    QByteArray lateSwipeStatus() const { return m_lateSwipeStatus; }

    // The wait for a command's acknowledgement (a load, an arm): a swipe status that comes
    // first belongs to no card of this command and is dropped, and the wait goes on to the same
    // deadline. True when the deadline passed.
    bool waitForAcknowledgement();
    // The swipe wait: an acknowledgement repeated on a resend request is not the swipe's status,
    // and the wait goes on to the same deadline. True when the deadline passed.
    bool waitForSwipeStatus();

    // Told of every frame dropped as belonging to no command in hand (the trace shows it).
    std::function<void(const QString& note)> onDropped;

private:
    friend class ReaderLink;

    // Before a frame goes out: a reset owed its reply is settled first, frames carried over are
    // dropped (a swipe status among them is what a reset comes too late for), a reset is
    // remembered as owed.
    void beforeSend(const QByteArray& data, bool resend);
    // Of what the poll received, the first whole good frame alone (anything before it is
    // dropped, anything after waits for the next poll); what was received when there is none.
    QByteArray oneFrame(const QByteArray& received);
    // A good frame that must not end the wait: a swipe's status while a reset is owed.
    bool holdsBack(const QByteArray& body);
    // Waits as WaitForReply(false) does; a reply that skip() refuses is dropped and the wait
    // goes on to the same deadline. True when the deadline passed.
    bool waitSkipping(bool (*skip)(const QByteArray& body), const char* why);
    void dropped(const QByteArray& body, const QString& why);

    ReaderLink& m_link;
    bool m_resetPending = false;
    qint64 m_resetSentAt = 0;
    QByteArray m_lateSwipeStatus;
    // Bytes after a whole frame, taken at the next poll.
    QByteArray m_carry;
};
