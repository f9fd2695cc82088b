#pragma once

#include <QByteArray>
#include <QtGlobal>

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
// data box alone.
class CardOperations
{
public:
    CardOperations(ReaderLink& link, IStatusWindow& status, IMessageBox& messages,
                   IDataBox& dataBox);

    // cardMethod: the main window's CardMethod at the moment of the click.
    void cmdRead_Click(int cardMethod);
    void cmdWrite_Click(int cardMethod);
    void cmdReset_Click();

private:
    enum class Step { Passed, Failed, Retry, Lost };

    // Marks the link as taken by a new operation; any operation waiting underneath has lost
    // its exchange. Returns the new owner's ticket.
    quint64 claimLink();
    bool holdsLink(quint64 ticket) const;
    // Waits without the time-out question; a time-out leaves the buffer empty.
    void waitQuietly();
    // Compares the reply whole; anything else gets the status message and its Retry/Cancel.
    Step examine(quint64 ticket, const QByteArray& expected);
    Step awaitStatus(quint64 ticket, const QByteArray& expected);
    // The swipe wait: the prompt is up exactly while the reader's own status is awaited.
    Step awaitSwipe(quint64 ticket, bool writingMode, const QByteArray& expected);
    void giveUp();
    void read(char readCommand);
    void write(char writeCommand);
    void reportPortError(const AppError& error);

    ReaderLink& m_link;
    IStatusWindow& m_status;
    IMessageBox& m_messages;
    IDataBox& m_dataBox;
    quint64 m_claims = 0;
};
