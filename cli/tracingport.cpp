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
    m_rx.append(bytes);
    for (;;) {
        if (m_rx.isEmpty())
            return;
        if (m_rx.at(0) != cmd::STX) {
            qsizetype start = m_rx.indexOf(cmd::STX);
            if (start < 0)
                start = m_rx.size();
            show(FrameSender::Reader, m_rx.left(start));
            m_rx.remove(0, start);
            continue;
        }
        const qsizetype end = m_rx.indexOf(cmd::ETX, 1);
        if (end < 0 || end + 1 >= m_rx.size()) {
            // A frame still arriving; a line that never ends one is not kept for ever.
            if (m_rx.size() > ReaderLink::kMaxReplyBuffer) {
                show(FrameSender::Reader, m_rx);
                m_rx.clear();
            }
            return;
        }
        show(FrameSender::Reader, m_rx.left(end + 2));
        m_rx.remove(0, end + 2);
    }
}

#include "moc_tracingport.cpp"
