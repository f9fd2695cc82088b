#include "cli/tracingport.h"

#include "link/protocol/commands.h"
#include "link/readerlink.h"

TracingPort::TracingPort(ISerialPort& inner, bool reveal, Sink sink, QObject* parent)
    : ISerialPort(parent), m_inner(inner),
      m_trackData(reveal ? TrackData::Shown : TrackData::Hidden), m_sink(std::move(sink))
{
    connect(&m_inner, &ISerialPort::onComm, this, &ISerialPort::onComm);
    connect(&m_inner, &ISerialPort::lost, this, &ISerialPort::lost);
    connect(&m_inner, &ISerialPort::dataArrived, this, &ISerialPort::dataArrived);
}

void TracingPort::setPortOpen(bool open)
{
    m_rx.clear();
    m_inner.setPortOpen(open);
}

void TracingPort::show(FrameSender sender, const QByteArray& bytes)
{
    if (m_sink)
        m_sink(describeFrame(sender, bytes, m_trackData).line());
}

void TracingPort::output(const QByteArray& data)
{
    m_inner.output(data);
    show(FrameSender::Host, data);
}

QByteArray TracingPort::input()
{
    const QByteArray bytes = m_inner.input();
    if (!bytes.isEmpty())
        takeReaderBytes(bytes);
    return bytes;
}

void TracingPort::takeReaderBytes(const QByteArray& bytes)
{
    for (const FrameSplitter::Piece& piece : m_rx.feed(bytes))
        show(FrameSender::Reader, piece.wire());
    // A line that never ends a frame is not kept for ever.
    if (m_rx.pendingSize() > ReaderLink::kMaxReplyBuffer)
        show(FrameSender::Reader, m_rx.takePending());
}

#include "moc_tracingport.cpp"
