// copy: a master card read once and written to N blank cards, each verified, exactly once.

#include "cards/cardbatch.h"
#include "cards/cardmethods.h"
#include "cli/batchrun.h"
#include "cli/clishared.h"
#include "cli/command.h"
#include "cli/readersession.h"
#include "link/readerlink.h"

namespace {

// The tracks to copy: those -m names, else every ISO track the reader offers.
int copiedMethods(CliContext& ctx, ReaderSession& session, QList<CardMethodId>* methods)
{
    for (const QString& name : ctx.args.values(Opt::Method)) {
        const std::optional<CardMethodId> method = CardMethodId::fromText(name);
        if (!method)
            return ctx.usage(QStringLiteral("unknown card method \"%1\": use 0 to 4 or %2")
                                 .arg(name, CardMethodId::shortNames()));
        for (const CardMethodId other : std::as_const(*methods)) {
            if (other.track() == method->track())
                return ctx.usage(QStringLiteral("%1 and %2 are both on track %3")
                                     .arg(other.shortName(), method->shortName())
                                     .arg(method->track() + 1));
        }
        if (const int status = session.checkMethod(*method))
            return status;
        *methods << *method;
    }
    if (methods->isEmpty()) {
        const QList<CardMethodId> lacking = unsupportedMethods(session.link().ReaderType());
        for (const int index : {0, 1, 2}) {
            const CardMethodId method = *CardMethodId::fromIndex(index);
            if (!lacking.contains(method))
                *methods << method;
        }
    }
    std::sort(methods->begin(), methods->end(),
              [](CardMethodId a, CardMethodId b) { return a.track() < b.track(); });
    return exitcode::Ok;
}

// The master card, read once: its tracks that hold data, as the cards to write.
int readMaster(CliContext& ctx, ReaderSession& session, const QList<CardMethodId>& methods,
               int copies, CardBatch* cards)
{
    const int boxes = session.messages().shownCount();
    CardOutcome master =
        session.operations().readTracks(methods, QStringLiteral("Swipe the master card"));
    if (const int status = session.finish(master, QStringLiteral("copy: master read"), boxes))
        return status;
    BatchCard card;
    for (qsizetype t = 0; t < methods.size(); ++t) {
        const QByteArray& data = master.tracks.value(t);
        // A track the master does not hold is left alone on the copies, not erased.
        if (data.isEmpty())
            continue;
        BatchTrack track(methods.at(t));
        track.data = QString::fromLatin1(data);
        const TrackDataCheck check = inspectCardData(track.method, track.data, false);
        if (check.verdict == TrackDataCheck::Invalid || check.verdict == TrackDataCheck::TooLong)
            return ctx.fail(ErrorCode::Rejected,
                            QStringLiteral("copy: the master's %1 data cannot be written as %2 "
                                           "(%3); choose the method with -m")
                                .arg(track.method.shortName(), track.method.name(),
                                     check.verdict == TrackDataCheck::TooLong
                                         ? QStringLiteral("too long")
                                         : QStringLiteral("character %1").arg(check.position)));
        track.unchecked = check.verdict == TrackDataCheck::Unchecked;
        // Sent as a write of the same data sends it, padded.
        track.bytes = check.data.toLatin1();
        card.tracks << track;
    }
    if (card.tracks.isEmpty())
        return ctx.fail(ErrorCode::Rejected,
                        QStringLiteral("copy: the master card holds no data on the tracks read"));
    for (int copy = 1; copy <= copies; ++copy) {
        card.index = copy;
        card.line = copy;
        cards->cards << card;
    }
    return exitcode::Ok;
}

int copy(CliContext& ctx)
{
    ReaderSession session(ctx);
    if (const int status = session.configure())
        return status;
    BatchOptions options;
    if (const int status = batchOptions(ctx, &options))
        return status;
    // Every copy is read back: a copy nobody checked is not a copy.
    options.verify = true;
    options.allowDuplicates = true;
    int copies = 1;
    if (const int status = numberOption(ctx, Opt::Copies, 1, kBatchMaxCards, 1, &copies))
        return status;
    if (const int status = session.bringUp())
        return status;
    QList<CardMethodId> methods;
    if (const int status = copiedMethods(ctx, session, &methods))
        return status;
    CardBatch cards;
    if (const int status = readMaster(ctx, session, methods, copies, &cards))
        return status;
    return runCards(ctx, session, cards, QStringLiteral("copies of the master card"), options, 1,
                    false);
}

} // namespace

const CliCommand kCopyCommand = {
    "copy",
    "[-n N] [-m METHOD]... [--results FILE | --resume FILE]",
    "read a master card once and write N copies, each verified",
    {Opt::Copies, Opt::Method, Opt::Results, Opt::Resume, Opt::KeepGoing, Opt::MaxFailures,
     Opt::WaitReader},
    0,
    0,
    nullptr,
    "Reads a master card once (one swipe; each track with the method -m names, -m\n"
    "given again for more tracks, else every ISO track the reader offers) and writes\n"
    "its tracks to N blank cards (-n, default 1), a swipe a track, each copy read\n"
    "back and compared. A track the master does not hold is left alone on the copies.\n"
    "Copies are written exactly once as a batch's cards are: with --results FILE every\n"
    "step is kept, and the same command with --resume FILE (the master swiped again)\n"
    "goes on where it stopped. The master's data is kept nowhere but in memory.\n",
    {},
    copy,
};
