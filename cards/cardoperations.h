#pragma once

#include "cards/cardoutcome.h"
#include "link/protocol/cardmethod.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>

class ReaderLink;
class IStatusWindow;
class IMessageBox;
class IDataBox;
class AppError;

// Read, Write and Reset, the main window's card operations. They run on the user-interface
// thread and wait for the reader inside the link's event-processing wait, so one can be
// started while another waits; they share the link's reply buffer and flag. An operation
// whose wait another one interrupted does not read what that one left in the buffer: it closes
// its prompt, abandons its exchange with the reset (none after the read command) and leaves the
// data box alone. Each returns how it ended; the window ignores that, as its boxes have spoken.
class CardOperations
{
public:
    CardOperations(ReaderLink& link, IStatusWindow& status, IMessageBox& messages,
                   IDataBox& dataBox);

    // cardMethod: the main window's CardMethod at the moment of the click; an index that names
    // no method starts nothing.
    CardOutcome cmdRead_Click(int cardMethod);
    CardOutcome cmdWrite_Click(int cardMethod);
    CardOutcome cmdReset_Click();

    // The same exchanges without the data box, for front ends that hold the data themselves:
    // the track data read comes back in the outcome; the data to write has been checked and
    // padded already (inspectTrackData), so no check box is shown.
    CardOutcome readCard(CardMethodId method);
    CardOutcome writeCard(CardMethodId method, const QByteArray& data);
    // writeCard, then the same card swiped again, read with the method's read command and
    // compared with data.
    CardOutcome verifyCard(CardMethodId method, const QByteArray& data);

    // After a write that a signal interrupted, its reset sent while the waits were ended: one
    // more bounded wait for the reset's reply settles whether the card was written (a "card
    // written" after the arm's acknowledgement says it was, the reset's reply alone that it
    // was not). Only in the command line's rhythm; a second signal ends this wait too.
    void settleInterrupted(CardOutcome& out);

    static QString swipePrompt();
    static QString verifyPrompt();
    // One swipe, and each method's track fetched (CardOutcome::tracks, in the order given).
    CardOutcome readTracks(const QList<CardMethodId>& methods, const QString& prompt);
    // readCard with a prompt of the caller's.
    CardOutcome readCard(CardMethodId method, const QString& prompt)
    {
        return readWith(method, prompt);
    }

    // Asked just before a write arms the reader; false stops the write there (the data
    // loaded is dropped with a reset). A batch records its intent here.
    std::function<bool()> beforeArm;

private:
    enum class Step { Passed, Failed, Retry, Lost };

    // Marks the link as taken by a new operation; any operation waiting underneath has lost
    // its exchange. Returns the new owner's ticket.
    quint64 claimLink();
    bool holdsLink(quint64 ticket) const;
    // Waits without the time-out question; a time-out leaves the buffer empty. True when the
    // time-out passed.
    bool waitQuietly();
    // After a wait: a time-out leaves the buffer empty. Returns timedOut.
    bool quietly(bool timedOut);
    // Compares the reply whole; anything else gets the status message and its Retry/Cancel.
    Step examine(quint64 ticket, const QByteArray& expected, bool timedOut, CardOutcome& out);
    // The acknowledgement of a load or an arm.
    Step awaitStatus(quint64 ticket, const QByteArray& expected, CardOutcome& out);
    // The swipe wait: the prompt is up exactly while the reader's own status is awaited.
    Step awaitSwipe(quint64 ticket, bool writingMode, const QString& prompt,
                    const QByteArray& expected, CardOutcome& out);
    void lostLink(CardOutcome& out) const;
    void giveUp(CardOutcome& out);
    CardOutcome readWith(CardMethodId method, const QString& prompt);
    void read(const QByteArray& readCommands, const QString& prompt, CardOutcome& out);
    CardOutcome writeChecked(CardMethodId method, const QByteArray& data);
    void write(char writeCommand, const QByteArray& data, CardOutcome& out);
    void portFailed(const AppError& error, CardOutcome& out);
    void reportPortError(const AppError& error);

    ReaderLink& m_link;
    IStatusWindow& m_status;
    IMessageBox& m_messages;
    IDataBox& m_dataBox;
    quint64 m_claims = 0;
};
