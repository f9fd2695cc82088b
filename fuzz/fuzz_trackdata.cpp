// The track-data check for any command and any typed text, with a message box that answers.
// ISO methods pad with "0" to the track length and pass exactly when every character is in the
// track's set; the other two ask and pass on Yes; text that cannot travel one byte a character
// is refused for every method; other commands pass untouched.

#include "cards/cardmethods.h"
#include "fuzzcheck.h"
#include "platform/messagebox.h"
#include "platform/version.h"

#include <QStringList>
#include <algorithm>
#include <cstdint>

namespace {

struct AnsweringBox : IMessageBox {
    int show(const QString& text, const QString& title, mb::Buttons, mb::Icon, int) override
    {
        shown << title << text;
        return answer;
    }
    int answer = mb::IDYES;
    QStringList shown; // title, text, ...
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // A command byte (0xFF: none), a byte for the answer and the text's encoding, the text.
    const QString command = data[0] == 0xFF ? QString() : QString(QChar(data[0]));
    AnsweringBox box;
    box.answer = data[1] & 1 ? mb::IDYES : mb::IDNO;
    const char* bytes = reinterpret_cast<const char*>(data + 2);
    const QString typed = data[1] & 2 ? QString::fromUtf8(bytes, qsizetype(size - 2))
                                      : QString::fromLatin1(bytes, qsizetype(size - 2));
    QString checked = typed;
    const bool passed = CheckTrackData(command, checked, box);

    const std::optional<CardMethodId> found =
        command.isEmpty() || command.at(0).unicode() > 0xFF
            ? std::nullopt
            : CardMethodId::fromCommand(char(command.at(0).unicode()));
    if (!found) {
        FUZZ_CHECK(passed && checked == typed && box.shown.isEmpty());
        return 0;
    }
    const CardMethodRow& method = found->row();
    const QString invalid = appTitle() + QStringLiteral(" - Invalid Character");
    if (method.padTo == 0) {
        const bool wide =
            std::any_of(typed.begin(), typed.end(), [](QChar c) { return c.unicode() > 0xFF; });
        FUZZ_CHECK(checked == typed && box.shown.size() == 2);
        FUZZ_CHECK(wide
                       ? !passed && box.shown.first() == invalid
                       : passed == (box.answer == mb::IDYES) &&
                             box.shown.first() == appTitle() + QStringLiteral(" - Format WARNING"));
        return 0;
    }
    const qsizetype padding = qMax<qsizetype>(0, method.padTo - typed.size());
    FUZZ_CHECK(checked == typed + QString(padding, QLatin1Char('0')));
    const auto bad = std::find_if(checked.begin(), checked.end(), [&method](QChar c) {
        return c.unicode() < method.lowestCode || c.unicode() > method.highestCode;
    });
    FUZZ_CHECK(passed == (bad == checked.end()));
    FUZZ_CHECK(passed ? box.shown.isEmpty()
                      : box.shown.size() == 2 && box.shown.first() == invalid &&
                            box.shown.last().contains(QStringLiteral("(\"") + *bad));
    return 0;
}
