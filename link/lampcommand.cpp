#include "link/lampcommand.h"

#include "link/commands.h"
#include "link/readerlink.h"

namespace {
const char* const kLampNames[LAMP_COUNT] = {"off", "green", "red", "yellow"};
} // namespace

QString lampName(int index)
{
    return index >= 0 && index < LAMP_COUNT ? QString::fromLatin1(kLampNames[index]) : QString();
}

int lampIndex(const QString& name)
{
    for (int index = 0; index < LAMP_COUNT; ++index) {
        if (name.compare(QLatin1String(kLampNames[index]), Qt::CaseInsensitive) == 0)
            return index;
    }
    return -1;
}

QByteArray lampCommand(int index)
{
    return QByteArray(1, cmd::CMD_LED) + char('0' + index);
}

int sendLampCommand(ReaderLink& link, int index, const std::function<bool()>& carryOn)
{
    const QByteArray data = lampCommand(index);
    int outcome;
    do {
        link.SendData(data);
        outcome = link.WaitForReply(true);
        if (!carryOn())
            break;
    } while (outcome == WAIT_TRY_AGAIN);
    return outcome;
}
