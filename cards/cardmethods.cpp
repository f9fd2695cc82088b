#include "cards/cardmethods.h"

#include "platform/messagebox.h"
#include "platform/version.h"

#include <QStringList>

QString methodCaption(int index)
{
    return isCardMethod(index) ? QString::fromLatin1(CARD_METHODS[index].caption) : QString();
}

int methodLengthLimit(int index)
{
    return isCardMethod(index) ? CARD_METHODS[index].lengthLimit : 0;
}

QString acceptedCharactersText(int index)
{
    if (!isCardMethod(index))
        return QString();
    return QStringLiteral("%1 takes %2")
        .arg(methodName(index), QLatin1String(CARD_METHODS[index].accepted));
}

namespace {

QStringList titled(int index)
{
    const QString name = methodName(index);
    return {name, QString(name.size(), QLatin1Char('-')), QString()};
}

QString charactersLong(int index)
{
    return QStringLiteral("%1 characters long consisting of:").arg(CARD_METHODS[index].padTo);
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

QString helpText(int index)
{
    QStringList lines;
    switch (index) {
    case 0:
        lines = titled(0);
        lines << charactersLong(0) << QStringLiteral("  SPACE, !, \", #, $, %, ")
              << QStringLiteral("  &, ', (, ), *, +, COMMA, ")
              << QStringLiteral("  -, ., /, 0 - 9, :, ;, <, ")
              << QStringLiteral("  =, >, ?, @, A - Z, ") << QStringLiteral("  [, \\, ], ^, _")
              << QString() << QStringLiteral("All characters are special except: 0-9 and A-Z")
              << QString() << QStringLiteral("Field Seperator: ^")
              << QStringLiteral("Start Sentinel: %") << QStringLiteral("End Sentinel: ?");
        break;
    case 1:
        lines = titled(1);
        lines << charactersLong(1) << isoTrack2Rules();
        break;
    case 2:
        lines = titled(2);
        lines << charactersLong(2) << isoTrack2Rules();
        break;
    case 3:
    case 4:
        lines = titled(index);
        lines << QStringLiteral("No information is available on this mode.");
        break;
    default:
        return QString();
    }
    return lines.join(QStringLiteral("\r\n"));
}

QString invalidCharacterText(const QString& character)
{
    return QStringLiteral("An invalid character (\"") + character +
           QStringLiteral("\") was found.  Please correct this.");
}

QString formatWarningText(int method)
{
    return QStringLiteral("Unable to check format \"") + methodName(method) +
           QStringLiteral("\" for correctness.  Ensure that the data is of the correct "
                          "characters and length.\r\n\r\nAre you sure you want to continue?");
}

TrackDataCheck inspectTrackData(int method, const QString& data)
{
    TrackDataCheck check;
    check.data = data;
    if (!isCardMethod(method))
        return check;
    const CardMethodInfo& info = CARD_METHODS[method];
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
    const int index = methodOfCommand(char(command.at(0).unicode())).method;
    if (index < 0)
        return true;
    const TrackDataCheck found = inspectTrackData(index, data);
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
        return messages.show(formatWarningText(index),
                             appTitle() + QStringLiteral(" - Format WARNING"), mb::YesNo,
                             mb::Exclamation, mb::IDYES) == mb::IDYES;
    case TrackDataCheck::Passed:
    case TrackDataCheck::TooLong: // the window's data box never holds more than a track
    case TrackDataCheck::Empty:
        break;
    }
    return true;
}

QList<int> unsupportedMethods(int readerType)
{
    switch (readerType) {
    case 1:
    case 3:
    case 7:
        return {2, 3, 4};
    case 2:
    case 6:
        return {0, 4};
    case 4:
    case 5:
        return {3, 4};
    default:
        return {};
    }
}

int methodCapacity(int index)
{
    return isCardMethod(index) ? CARD_METHODS[index].capacity : 0;
}

TrackDataCheck inspectCardData(int method, const QString& data, bool allowEmpty)
{
    TrackDataCheck check = inspectTrackData(method, data);
    if (check.verdict == TrackDataCheck::Invalid || !isCardMethod(method))
        return check;
    if (data.isEmpty() && !allowEmpty) {
        check.verdict = TrackDataCheck::Empty;
    } else if (check.data.size() > methodCapacity(method)) {
        check.verdict = TrackDataCheck::TooLong;
        check.position = methodCapacity(method) + 1;
    }
    return check;
}
