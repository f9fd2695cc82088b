// A batch file of any bytes: every line is either a card or a fault named by its line, never
// both silently; a card without a fault holds data the write check passes, within its track's
// length and not empty; cards and faults come in line order.

#include "cards/cardbatch.h"
#include "cards/cardmethods.h"
#include "fuzzcheck.h"

#include <QSet>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // A byte for the default method and --allow-empty, then the file.
    const CardMethodId method = *CardMethodId::fromIndex((data[0] & 0x7F) % CARD_METHOD_COUNT);
    const bool allowEmpty = data[0] & 0x80;
    const QByteArray text(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const CardBatch batch = parseCardBatch(text, method, allowEmpty);

    const int lines = int(text.count('\n')) + (text.endsWith('\n') ? 0 : 1);
    QSet<int> faulty;
    int previous = 0;
    for (const BatchProblem& problem : batch.problems) {
        FUZZ_CHECK(problem.line > previous && problem.line <= lines && !problem.text.isEmpty());
        previous = problem.line;
        faulty.insert(problem.line);
    }
    previous = 0;
    for (qsizetype i = 0; i < batch.cards.size(); ++i) {
        const BatchCard& card = batch.cards.at(i);
        FUZZ_CHECK(card.index == i + 1 && card.line > previous && card.line <= lines);
        previous = card.line;
        if (faulty.contains(card.line))
            continue;
        FUZZ_CHECK(!card.tracks.isEmpty());
        for (qsizetype t = 0; t < card.tracks.size(); ++t) {
            const BatchTrack& track = card.tracks.at(t);
            // One track a card's track, in the order of the tracks.
            FUZZ_CHECK(t == 0 || card.tracks.at(t - 1).method.track() < track.method.track());
            const TrackDataCheck check = inspectCardData(track.method, track.data, allowEmpty);
            FUZZ_CHECK(check.verdict == TrackDataCheck::Passed ||
                       check.verdict == TrackDataCheck::Unchecked);
            FUZZ_CHECK(track.bytes == check.data.toLatin1());
            FUZZ_CHECK(track.bytes.size() <= track.method.capacity());
            FUZZ_CHECK(allowEmpty || !track.data.isEmpty());
        }
    }
    FUZZ_CHECK(batch.sha256.size() == 64);
    return 0;
}
