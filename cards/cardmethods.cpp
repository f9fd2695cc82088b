#include "cards/cardmethods.h"

#include "platform/messagebox.h"
#include "platform/version.h"

#include <QStringList>

QString acceptedCharactersText(CardMethodId method)
{
    return QStringLiteral("%1 takes %2").arg(method.name(), QLatin1String(method.row().accepted));
}

namespace {

QStringList titled(CardMethodId method)
{
    const QString name = method.name();
    return {name, QString(name.size(), QLatin1Char('-')), QString()};
}

QString charactersLong(CardMethodId method)
{
    return QStringLiteral("%1 characters long consisting of:").arg(method.row().padTo);
}

const QStringList& isoTrack2Rules()
{
    static const QStringList rules = {
        QStringLiteral("  0 - 9, :, ;, <, =, >, ?"),
        QString(),
        QStringLiteral("All characters are special except: 0-9"),
        QString(),
        QStringLiteral("Field Seperator: ="),
        QStringLiteral("Start Sentinel: ;"),
        QStringLiteral("End Sentinel: ?"),
    };
    return rules;
}

// The offending character as the operator typed it: a character beyond the basic plane is
// one character to the operator, though it takes two code units here.
QString characterAt(const QString& data, qsizetype at)
{
    if (data.at(at).isHighSurrogate() && at + 1 < data.size() && data.at(at + 1).isLowSurrogate())
        return data.mid(at, 2);
    return data.mid(at, 1);
}

} // namespace

QString helpText(CardMethodId method)
{
    QStringList lines = titled(method);
    switch (method.index()) {
    case 0:
        lines << charactersLong(method) << QStringLiteral("  SPACE, !, \", #, $, %, ")
              << QStringLiteral("  &, ', (, ), *, +, COMMA, ")
              << QStringLiteral("  -, ., /, 0 - 9, :, ;, <, ")
              << QStringLiteral("  =, >, ?, @, A - Z, ") << QStringLiteral("  [, \\, ], ^, _")
              << QString() << QStringLiteral("All characters are special except: 0-9 and A-Z")
              << QString() << QStringLiteral("Field Seperator: ^")
              << QStringLiteral("Start Sentinel: %") << QStringLiteral("End Sentinel: ?");
        break;
    case 1:
    case 2:
        lines << charactersLong(method) << isoTrack2Rules();
        break;
    default:
        lines << QStringLiteral("No information is available on this mode.");
        break;
    }
    return lines.join(QStringLiteral("\r\n"));
}

QString invalidCharacterText(const QString& character)
{
    return QStringLiteral("An invalid character (\"") + character +
           QStringLiteral("\") was found.  Please correct this.");
}

QString formatWarningText(CardMethodId method)
{
    return QStringLiteral("Unable to check format \"") + method.name() +
           QStringLiteral("\" for correctness.  Ensure that the data is of the correct "
                          "characters and length.\r\n\r\nAre you sure you want to continue?");
}

TrackDataCheck inspectTrackData(CardMethodId method, const QString& data)
{
    TrackDataCheck check;
    check.data = data;
    const CardMethodRow& info = method.row();
    // Unchecked formats still go out one byte a character.
    const int lowest = info.padTo == 0 ? 0 : info.lowestCode;
    const int highest = info.padTo == 0 ? 0xFF : info.highestCode;
    if (check.data.size() < info.padTo)
        check.data.append(QString(info.padTo - check.data.size(), QLatin1Char('0')));
    for (qsizetype at = 0; at < check.data.size(); ++at) {
        const int code = check.data.at(at).unicode();
        if (code < lowest || code > highest) {
            check.verdict = TrackDataCheck::Invalid;
            // Nothing before the first offender is beyond the basic plane: units are characters.
            check.position = int(at) + 1;
            check.character = characterAt(check.data, at);
            return check;
        }
    }
    check.verdict = info.padTo == 0 ? TrackDataCheck::Unchecked : TrackDataCheck::Passed;
    return check;
}

bool CheckTrackData(const QString& command, QString& data, IMessageBox& messages,
                    TrackDataCheck* check)
{
    if (command.isEmpty() || command.at(0).unicode() > 0xFF)
        return true;
    // A read command selects the same branch as its method's write command.
    const std::optional<CardMethodId> method =
        CardMethodId::fromCommand(char(command.at(0).unicode()));
    if (!method)
        return true;
    const TrackDataCheck found = inspectTrackData(*method, data);
    if (check)
        *check = found;
    // The padding stays with the caller whatever the verdict.
    data = found.data;
    switch (found.verdict) {
    case TrackDataCheck::Invalid:
        messages.show(invalidCharacterText(found.character),
                      appTitle() + QStringLiteral(" - Invalid Character"), mb::OK, mb::Exclamation);
        return false;
    case TrackDataCheck::Unchecked:
        return messages.show(formatWarningText(*method),
                             appTitle() + QStringLiteral(" - Format WARNING"), mb::YesNo,
                             mb::Exclamation, mb::IDYES) == mb::IDYES;
    case TrackDataCheck::Passed:
    case TrackDataCheck::TooLong: // the window's data box never holds more than a track
    case TrackDataCheck::Empty:
        break;
    }
    return true;
}

QList<CardMethodId> unsupportedMethods(int readerType)
{
    QList<int> indexes;
    switch (readerType) {
    case 1:
    case 3:
    case 7:
        indexes = {2, 3, 4};
        break;
    case 2:
    case 6:
        indexes = {0, 4};
        break;
    case 4:
    case 5:
        indexes = {3, 4};
        break;
    default:
        break;
    }
    QList<CardMethodId> methods;
    for (const int index : indexes)
        methods.append(*CardMethodId::fromIndex(index));
    return methods;
}

TrackDataCheck inspectCardData(CardMethodId method, const QString& data, bool allowEmpty)
{
    TrackDataCheck check = inspectTrackData(method, data);
    if (check.verdict == TrackDataCheck::Invalid)
        return check;
    if (data.isEmpty() && !allowEmpty) {
        check.verdict = TrackDataCheck::Empty;
    } else if (check.data.size() > method.capacity()) {
        check.verdict = TrackDataCheck::TooLong;
        check.position = method.capacity() + 1;
    }
    return check;
}
