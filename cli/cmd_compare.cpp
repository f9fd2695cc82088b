// compare: a card read and compared with the data expected (a golden card); nothing written.

#include "cards/cardbatch.h"
#include "cards/cardcompare.h"
#include "cards/jsonline.h"
#include "cli/clishared.h"
#include "cli/command.h"
#include "cli/readersession.h"

namespace {

int compare(CliContext& ctx)
{
    ReaderSession session(ctx);
    std::optional<CardMethodId> method;
    if (const int status = session.configure(&method))
        return status;
    QString text;
    if (const int status = takeTrackData(ctx, ctx.args.operands.constFirst(), &text))
        return status;
    // Plain data for the method, or a card line of several tracks as a batch file has it; the
    // data as a write pads it is what the card holds.
    const CardBatch expected = parseCardBatch(text.toUtf8(), *method, true);
    if (!expected.problems.isEmpty() || expected.cards.size() != 1)
        return ctx.fail(expected.problems.isEmpty() || expected.problems.first().data
                            ? ErrorCode::Rejected
                            : ErrorCode::InvalidBatch,
                        expected.problems.isEmpty() ? QStringLiteral("no data to compare with")
                                                    : QStringLiteral("the data to compare with: %1")
                                                          .arg(expected.problems.first().text));
    const BatchCard& card = expected.cards.first();
    if (const int status = session.bringUp())
        return status;
    QList<CardMethodId> methods;
    for (const BatchTrack& track : card.tracks) {
        if (const int status = session.checkMethod(track.method))
            return status;
        methods << track.method;
    }
    const int boxes = session.messages().shownCount();
    CardOutcome outcome =
        session.operations().readTracks(methods, QStringLiteral("Swipe the card to compare"));
    if (const int status = session.finish(outcome, QStringLiteral("compare"), boxes))
        return status;
    const std::optional<CardDifference> difference = firstDifference(card, outcome.tracks);
    const bool reveal = ctx.args.has(Opt::Reveal);
    if (ctx.args.has(Opt::Json)) {
        JsonLine json;
        json.add("result", difference ? QStringLiteral("differs") : QStringLiteral("matched"))
            .add("tracks", int(card.tracks.size()));
        if (difference)
            json.add("exit", ctx.statusOf(ErrorCode::Mismatch))
                .add("code", errorCodeName(ErrorCode::Mismatch))
                .add("error", differenceText(*difference, reveal));
        ctx.console.out(json.text() + '\n');
        ctx.jsonPrinted = true;
    }
    if (difference)
        return ctx.fail(ErrorCode::Mismatch, QStringLiteral("compare: the card differs: %1")
                                                 .arg(differenceText(*difference, reveal)));
    ctx.console.message(QStringLiteral("compare: the card matches (%1 track%2)")
                            .arg(card.tracks.size())
                            .arg(card.tracks.size() == 1 ? QString() : QStringLiteral("s")));
    return exitcode::Ok;
}

} // namespace

const CliCommand kCompareCommand = {
    "compare",
    "[-m METHOD] DATA|-",
    "read a card and compare it with the data expected; write nothing",
    {Opt::Method},
    1,
    1,
    "compare takes the data expected, or - to read it from standard input",
    "Reads a card (one swipe) and compares it with DATA: plain track data for the\n"
    "method, padded as a write pads it, or a card line of several tracks as a batch\n"
    "file has it ({\"iso1\": \"...\", \"iso2\": \"...\"}: each track fetched after the one\n"
    "swipe). Exit 0 when every track matches; 6 when one differs, naming the first\n"
    "track and position that differ, the account numbers masked (--reveal shows the\n"
    "data). Nothing is written. For a box of cards checked against their list:\n"
    "batch --compare FILE.\n",
    {QStringLiteral("-")},
    compare,
};
