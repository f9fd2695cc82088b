#include "emulator/deck.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QList<ReaderCard> defaultDeck()
{
    ReaderCard test;
    test.name = QStringLiteral("Test card");
    test.tracks = {QByteArrayLiteral("B4000123456789010^TARNAVEL/QUORVEX^25121010000000"),
                   QByteArrayLiteral("4000123456789010=25121010000000000"),
                   QByteArrayLiteral("014000123456789010=7247240000000000000000000000000")};
    ReaderCard second;
    second.name = QStringLiteral("Track 2 only");
    second.tracks = {QByteArray(), QByteArrayLiteral("5500005555555559=27121010000"), QByteArray()};
    ReaderCard blank;
    blank.name = QStringLiteral("Blank card");
    return {test, second, blank};
}

QString deckFormatHelp()
{
    return QStringLiteral(
        "Deck file: a text file of cards.\n"
        "  [Name of the card]   starts a card\n"
        "  1=data               track 1 (likewise 2= and 3=); a missing track is blank\n"
        "  # ...                comment; blank lines are ignored\n"
        "The data is taken exactly as written after '=', up to the end of the line\n"
        "(no quotes, spaces kept), at most 512 bytes a track. At least one card.\n"
        "Card methods use the tracks: ISO on Track 1 -> track 1; ISO on Track 2 and\n"
        "IBM 4700 on Track 2 -> track 2; ISO on Track 3 and Track 1 ISO on Track 3 -> track 3.\n"
        "A card with all three tracks blank answers a read swipe with 'no data' (lR).");
}

bool parseDeck(const QByteArray& text, QList<ReaderCard>* deck, QString* error)
{
    QList<ReaderCard> cards;
    std::array<bool, 3> seen{};
    const QList<QByteArray> lines = text.split('\n');
    auto fail = [&](int line, const QString& why) {
        if (error)
            *error = QStringLiteral("line %1: %2").arg(line).arg(why);
        return false;
    };
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith('#'))
            continue;
        if (trimmed.startsWith('[')) {
            if (!trimmed.endsWith(']'))
                return fail(i + 1, QStringLiteral("a card name needs a closing ']'"));
            ReaderCard card;
            card.name = QString::fromUtf8(trimmed.mid(1, trimmed.size() - 2)).trimmed();
            if (card.name.isEmpty())
                card.name = QStringLiteral("Card %1").arg(cards.size() + 1);
            cards.append(card);
            seen = {};
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            return fail(i + 1, QStringLiteral("expected [name], 1=, 2= or 3="));
        const QByteArray key = line.left(eq).trimmed();
        if (key != "1" && key != "2" && key != "3")
            return fail(i + 1, QStringLiteral("unknown track \"%1\" (use 1, 2 or 3)")
                                   .arg(QString::fromLatin1(key)));
        if (cards.isEmpty())
            return fail(i + 1, QStringLiteral("track data before the first [card]"));
        const int track = key.at(0) - '1';
        if (seen[track])
            return fail(i + 1, QStringLiteral("track %1 given twice").arg(track + 1));
        const QByteArray data = line.mid(eq + 1);
        if (data.size() > kMaxTrackLength)
            return fail(i + 1,
                        QStringLiteral("track data longer than %1 bytes").arg(kMaxTrackLength));
        seen[track] = true;
        cards.last().tracks[track] = data;
    }
    if (cards.isEmpty()) {
        if (error)
            *error = QStringLiteral("no cards in the file");
        return false;
    }
    if (deck)
        *deck = cards;
    return true;
}

bool loadDeckFile(const QString& path, QList<ReaderCard>* deck, QString* error)
{
    // Non-blocking, so that a FIFO or a device given by mistake cannot hold the emulator up.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = QStringLiteral("cannot read %1: %2")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = QStringLiteral("%1 is not a regular file").arg(path);
        return false;
    }
    // One byte past the limit, so that a file growing meanwhile is caught as well.
    const QByteArray text =
        st.st_size > kMaxDeckFileBytes ? QByteArray() : file.read(kMaxDeckFileBytes + 1);
    if (st.st_size > kMaxDeckFileBytes || text.size() > kMaxDeckFileBytes) {
        *error = QStringLiteral("%1 is larger than a deck file may be (%2 bytes)")
                     .arg(path)
                     .arg(kMaxDeckFileBytes);
        return false;
    }
    QString why;
    if (!parseDeck(text, deck, &why)) {
        *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    return true;
}
