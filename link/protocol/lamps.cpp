#include "link/protocol/lamps.h"

#include "link/protocol/commands.h"

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
