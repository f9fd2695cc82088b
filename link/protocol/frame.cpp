#include "link/protocol/frame.h"

#include "link/protocol/commands.h"

char CalcLRC(const QByteArray& text)
{
    unsigned char acc = 0;
    for (char c : text)
        acc ^= static_cast<unsigned char>(c);
    return static_cast<char>(acc);
}

QByteArray buildFrame(const QByteArray& data)
{
    QByteArray body = data;
    body.append(cmd::ETX);
    QByteArray frame;
    frame.reserve(body.size() + 2);
    frame.append(cmd::STX);
    frame.append(body);
    frame.append(CalcLRC(body));
    return frame;
}
