#include "link/protocol/cardmethod.h"

#include <QStringList>

std::optional<CardMethodId> CardMethodId::fromIndex(int index)
{
    if (index < 0 || index >= CARD_METHOD_COUNT)
        return std::nullopt;
    return CardMethodId(index);
}

std::optional<CardMethodId> CardMethodId::fromText(const QString& text)
{
    const QString wanted = text.trimmed();
    for (const CardMethodId method : all()) {
        if (wanted == QString::number(method.index()) ||
            wanted.compare(method.shortName(), Qt::CaseInsensitive) == 0)
            return method;
    }
    return std::nullopt;
}

std::optional<CardMethodId> CardMethodId::fromCommand(char command, Direction* direction)
{
    for (const CardMethodId method : all()) {
        if (command == method.readCommand() || command == method.writeCommand()) {
            if (direction)
                *direction = command == method.readCommand() ? Direction::Read : Direction::Write;
            return method;
        }
    }
    return std::nullopt;
}

QList<CardMethodId> CardMethodId::all()
{
    QList<CardMethodId> methods;
    for (int index = 0; index < CARD_METHOD_COUNT; ++index)
        methods.append(CardMethodId(index));
    return methods;
}

QString CardMethodId::shortNames()
{
    QStringList names;
    for (const CardMethodId method : all())
        names << method.shortName();
    return names.join(QStringLiteral(", "));
}
