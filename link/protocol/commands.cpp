#include "link/protocol/commands.h"

#include <QStringList>

QString methodName(int index)
{
    return isCardMethod(index) ? QString::fromLatin1(METHOD_COMMANDS[index].name) : QString();
}

QString methodShortName(int index)
{
    return isCardMethod(index) ? QString::fromLatin1(METHOD_COMMANDS[index].shortName) : QString();
}

QString methodShortNames()
{
    QStringList names;
    for (int index = 0; index < CARD_METHOD_COUNT; ++index)
        names << methodShortName(index);
    return names.join(QStringLiteral(", "));
}

char methodWriteCommand(int index)
{
    return isCardMethod(index) ? METHOD_COMMANDS[index].writeCommand : '\0';
}

char methodReadCommand(int index)
{
    return isCardMethod(index) ? METHOD_COMMANDS[index].readCommand : '\0';
}

int methodTrack(int index)
{
    return isCardMethod(index) ? METHOD_COMMANDS[index].track : -1;
}

int methodFromText(const QString& text)
{
    const QString wanted = text.trimmed();
    for (int index = 0; index < CARD_METHOD_COUNT; ++index) {
        if (wanted == QString::number(index) ||
            wanted.compare(methodShortName(index), Qt::CaseInsensitive) == 0)
            return index;
    }
    return -1;
}
