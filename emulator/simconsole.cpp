#include "emulator/simconsole.h"

#include "emulator/readermodel.h"
#include "emulator/readertext.h"
#include "emulator/simserver.h"
#include "link/protocol/cardmethod.h"
#include "link/protocol/commands.h"
#include "link/protocol/frametext.h"

#include <QStringList>

namespace {

// A whole non-negative number, or -1.
int number(const QString& text)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    return ok && n >= 0 ? n : -1;
}

bool fail(QString* output, const QString& why)
{
    *output = QStringLiteral("error: ") + why;
    return false;
}

} // namespace

QString SimConsole::commandsHelp()
{
    return QStringLiteral(
        "  swipe [N]            swipe the card in the slot, or card N (it stays in the slot)\n"
        "  card N               put card N in the slot\n"
        "  cards                list the deck (* marks the card in the slot)\n"
        "  load FILE            load a deck file\n"
        "  type N               reader type in the version reply, 0 to 9\n"
        "  auto MS|off          swipe by itself MS milliseconds after each arm, or not\n"
        "  lamps                show the lamps\n"
        "  status               show the reader's state and the faults\n"
        "  fault                show the faults\n"
        "  fault corrupt N      corrupt the check character of the next N frames sent\n"
        "  fault split K        send replies in pieces of K bytes (0: whole)\n"
        "  fault silent [CHARS] ignore frames of these command characters (none: answer all)\n"
        "  fault force ST [N]   answer the next N commands (default 1) with status ST\n"
        "                       (3 or l3) instead, without carrying them out\n"
        "  fault swipe-error read|nodata|write|off\n"
        "                       the next swipe fails with lQ, lR or lA\n"
        "  fault off            switch every fault off\n"
        "  help                 this list\n"
        "  quit                 end the program");
}

bool SimConsole::execute(const QString& line, QString* output)
{
    output->clear();
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty())
        return true;
    const qsizetype space = trimmed.indexOf(QLatin1Char(' '));
    const QString word = (space < 0 ? trimmed : trimmed.left(space)).toLower();
    const QString args = space < 0 ? QString() : trimmed.mid(space + 1).trimmed();
    ReaderModel& model = m_server.model();

    if (word == QLatin1String("help") || word == QLatin1String("?")) {
        *output = QStringLiteral("Commands:\n") + commandsHelp();
        return true;
    }
    if (word == QLatin1String("quit") || word == QLatin1String("exit")) {
        m_quit = true;
        return true;
    }
    if (word == QLatin1String("swipe")) {
        int card = -1;
        if (!args.isEmpty()) {
            card = number(args) - 1;
            if (card < 0 || card >= model.deck().size())
                return fail(
                    output,
                    QStringLiteral("no card %1 (1 to %2)").arg(args).arg(model.deck().size()));
        }
        const QByteArray status = m_server.swipe(card);
        *output = status.isEmpty()
                      ? QStringLiteral("the reader is not armed: nothing sent")
                      : QStringLiteral("sent %1").arg(
                            describeFrame(FrameSender::Reader, status, TrackData::Shown).meaning);
        return true;
    }
    if (word == QLatin1String("card")) {
        const int card = number(args) - 1;
        if (!model.setCurrentCard(card))
            return fail(output,
                        QStringLiteral("no card %1 (1 to %2)").arg(args).arg(model.deck().size()));
        *output = QStringLiteral("card %1 \"%2\" is in the slot")
                      .arg(card + 1)
                      .arg(model.deck().at(card).name);
        return true;
    }
    if (word == QLatin1String("cards")) {
        *output = cardsText(model.deck(), model.currentCard());
        return true;
    }
    if (word == QLatin1String("load")) {
        if (args.isEmpty())
            return fail(output, QStringLiteral("load needs a file name"));
        QList<ReaderCard> deck;
        QString why;
        if (!loadDeckFile(args, &deck, &why))
            return fail(output, why);
        model.setDeck(deck);
        model.setCurrentCard(0);
        *output = QStringLiteral("%1 card(s) loaded from %2").arg(deck.size()).arg(args);
        return true;
    }
    if (word == QLatin1String("type")) {
        if (args.isEmpty()) {
            *output = QStringLiteral("reader type %1").arg(model.type());
            return true;
        }
        if (!model.setType(number(args)))
            return fail(output, QStringLiteral("the reader type is a digit, 0 to 9"));
        *output = QStringLiteral("reader type %1").arg(model.type());
        return true;
    }
    if (word == QLatin1String("auto")) {
        if (args.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0) {
            m_server.setAutoSwipeMs(-1);
            *output = QStringLiteral("automatic swipe off");
            return true;
        }
        const int ms = number(args);
        if (ms < 0)
            return fail(output, QStringLiteral("auto takes milliseconds or off"));
        m_server.setAutoSwipeMs(ms);
        *output = QStringLiteral("automatic swipe %1 ms after each arm").arg(ms);
        return true;
    }
    if (word == QLatin1String("lamps")) {
        *output = QStringLiteral("lamps: ") + lampsText(model.lamps());
        return true;
    }
    if (word == QLatin1String("status")) {
        *output = statusText();
        return true;
    }
    if (word == QLatin1String("fault"))
        return fault(args, output);
    return fail(output, QStringLiteral("unknown command \"%1\" (help lists them)").arg(word));
}

bool SimConsole::fault(const QString& args, QString* output)
{
    ReaderModel& model = m_server.model();
    const qsizetype space = args.indexOf(QLatin1Char(' '));
    const QString kind = (space < 0 ? args : args.left(space)).toLower();
    const QString value = space < 0 ? QString() : args.mid(space + 1).trimmed();

    if (kind.isEmpty()) {
        // Shown below.
    } else if (kind == QLatin1String("off")) {
        model.clearFaults();
    } else if (kind == QLatin1String("corrupt")) {
        const int n = number(value);
        if (n < 0)
            return fail(output, QStringLiteral("fault corrupt takes a number of frames"));
        model.setCorruptCount(n);
    } else if (kind == QLatin1String("split")) {
        const int n = number(value);
        if (n < 0)
            return fail(output, QStringLiteral("fault split takes a number of bytes (0: whole)"));
        model.setSplitSize(n);
    } else if (kind == QLatin1String("silent")) {
        model.setSilentCommands(value.toLatin1());
    } else if (kind == QLatin1String("force")) {
        const QStringList parts = value.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (parts.isEmpty() || parts.size() > 2)
            return fail(output, QStringLiteral("fault force takes a status (3 or l3) and a count"));
        int count = 1;
        if (parts.size() == 2) {
            count = number(parts.at(1));
            if (count < 0)
                return fail(output, QStringLiteral("fault force: the count is a number"));
        }
        const bool off = parts.at(0).compare(QLatin1String("off"), Qt::CaseInsensitive) == 0;
        model.setForcedReply(off ? QByteArray() : parseForcedReply(parts.at(0)), count);
    } else if (kind == QLatin1String("swipe-error")) {
        const auto error = parseSwipeError(value);
        if (!error)
            return fail(output,
                        QStringLiteral("fault swipe-error takes read, nodata, write or off"));
        model.setSwipeError(*error);
    } else {
        return fail(output, QStringLiteral("unknown fault \"%1\" (help lists them)").arg(kind));
    }
    *output = QStringLiteral("faults: ") + faultsText(model);
    return true;
}

QString SimConsole::statusText() const
{
    ReaderModel& model = m_server.model();
    QStringList lines;
    lines << QStringLiteral("device: %1")
                 .arg(m_server.devicePath().isEmpty() ? QStringLiteral("(none)")
                                                      : m_server.devicePath());
    if (!m_server.linkPath().isEmpty())
        lines << QStringLiteral("link: %1").arg(m_server.linkPath());
    lines << QStringLiteral("reader type %1, %2")
                 .arg(model.type())
                 .arg(model.isArmed() ? QStringLiteral("armed") : QStringLiteral("not armed"));
    for (const CardMethodId method : CardMethodId::all()) {
        if (const auto data = model.loadedData(method))
            lines << QStringLiteral("write data loaded, %1: %2")
                         .arg(method.name(), printableBytes(*data));
    }
    const int current = model.currentCard();
    lines << QStringLiteral("card in the slot: %1 \"%2\"")
                 .arg(current + 1)
                 .arg(model.deck().at(current).name);
    lines << (model.hasReadCard() ? QStringLiteral("a card has been read")
                                  : QStringLiteral("no card read"));
    lines << QStringLiteral("lamps: ") + lampsText(model.lamps());
    lines << QStringLiteral("faults: ") + faultsText(model);
    lines
        << (m_server.autoSwipeMs() >= 0
                ? QStringLiteral("automatic swipe %1 ms after each arm").arg(m_server.autoSwipeMs())
                : QStringLiteral("automatic swipe off"));
    return lines.join(QLatin1Char('\n'));
}
