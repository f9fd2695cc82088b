#include "cards/cardcompare.h"

#include "cards/trackdecode.h"

namespace {

// The data without the "0" padding after its end sentinel: a write of this program pads, a
// card encoded elsewhere may not, and the padding is no part of what the card says.
QByteArray unpadded(const QByteArray& data)
{
    const qsizetype end = data.indexOf('?');
    if (end < 0)
        return data;
    for (qsizetype at = end + 1; at < data.size(); ++at) {
        if (data.at(at) != '0')
            return data;
    }
    return data.left(end + 1);
}

} // namespace

std::optional<CardDifference> firstDifference(const BatchCard& expected,
                                              const QList<QByteArray>& read)
{
    for (qsizetype t = 0; t < expected.tracks.size(); ++t) {
        const QByteArray want = unpadded(expected.tracks.at(t).bytes);
        const QByteArray got = unpadded(read.value(t));
        if (got == want)
            continue;
        qsizetype at = 0;
        while (at < got.size() && at < want.size() && got.at(at) == want.at(at))
            ++at;
        return CardDifference{expected.tracks.at(t).method, int(at) + 1, want, got};
    }
    return std::nullopt;
}

QString differenceText(const CardDifference& difference, bool reveal)
{
    QString text = QStringLiteral("%1 differs from position %2")
                       .arg(difference.method.shortName())
                       .arg(difference.position);
    if (reveal)
        return text + QStringLiteral(" (the card: \"%1\", expected: \"%2\")")
                          .arg(QString::fromLatin1(difference.found),
                               QString::fromLatin1(difference.expected));
    const QString found = accountNumberOf(difference.method, difference.found);
    const QString expected = accountNumberOf(difference.method, difference.expected);
    if (!found.isEmpty() && !expected.isEmpty() && found != expected)
        return text + QStringLiteral(" (the card: %1, expected: %2)")
                          .arg(maskPan(found), maskPan(expected));
    return text + QStringLiteral(" (the card holds %1 characters, %2 expected)")
                      .arg(difference.found.size())
                      .arg(difference.expected.size());
}
