#pragma once

#include <QByteArray>
#include <QList>

// Cuts a stream of bytes into frames and the stray bytes between them, as the bytes arrive:
// STX starts a frame, the first ETX after it ends the data (the protocol has no escaping), and
// the byte after that is the check character. One splitter serves the engine, the trace and the
// emulator, so that all three see the same frames in the same bytes.
class FrameSplitter
{
public:
    // What a start character inside a frame means. The reader takes it as data (a write of the
    // unchecked methods may carry any byte); a host looking for the reader's reply in noise
    // starts over at it, as no reply it takes ever holds one.
    enum class StxInFrame { Data, Restart };

    struct Piece {
        enum class Kind { Stray, Frame };
        Kind kind = Kind::Stray;
        QByteArray bytes;       // Stray: the bytes; Frame: the data, at most maxData of it
        char lrc = 0;           // Frame: the check character received
        qsizetype overflow = 0; // Frame: data bytes beyond maxData, dropped
        // Where the piece lies in everything fed since the splitter was made or cleared.
        qsizetype begin = 0;
        qsizetype end = 0;

        bool isFrame() const { return kind == Kind::Frame; }
        // A whole frame whose check character matches its data.
        bool good() const;
        // The bytes as they came on the line (a frame's dropped overflow excepted).
        QByteArray wire() const;
    };

    explicit FrameSplitter(qsizetype maxData, StxInFrame stx = StxInFrame::Data);

    // The pieces the bytes complete, in order; stray bytes at the end come out at once, a frame
    // still arriving waits for the next call.
    QList<Piece> feed(const QByteArray& bytes);
    // The bytes of a frame still arriving (its data cut at maxData).
    qsizetype pendingSize() const { return m_pending.size(); }
    // Ends the frame still arriving and hands over its bytes.
    QByteArray takePending();
    void clear();

private:
    enum class State { Idle, InFrame, AwaitLrc };
    void startFrame(qsizetype at);

    qsizetype m_maxData;
    StxInFrame m_stx;
    State m_state = State::Idle;
    QByteArray m_pending; // STX and the data so far
    qsizetype m_overflow = 0;
    qsizetype m_begin = 0; // where the pending frame started
    qsizetype m_fed = 0;   // bytes fed so far
};
