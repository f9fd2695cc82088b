// The track-data check for any command and any typed data, with a message box that answers.
// ISO methods pad with "0" to the track length and pass exactly when every character is in
// the track's set; the other two ask, and pass on Yes; text that cannot travel one byte a
// character is refused for every method; other commands pass untouched.

#include "cards/cardmethods.h"
#include "config/version.h"
#include "fuzzcheck.h"
#include "platform/messagebox.h"

#include <QStringList>
#include <algorithm>
#include <cstdint>

namespace {

class AnsweringBox : public IMessageBox
{
public:
    int show(const QString& text, const QString& title, mb::Buttons, mb::Icon, int) override
    {
        titles.append(title);
        texts.append(text);
        return answer;
    }
    int answer = mb::IDYES;
    QStringList titles;
    QStringList texts;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // Command byte, then the answer and the text's encoding, then the text.
    const QString command = data[0] == 0xFF ? QString() : QString(QChar(data[0]));
    AnsweringBox box;
    box.answer = data[1] & 1 ? mb::IDYES : mb::IDNO;
    const char* text = reinterpret_cast<const char*>(data + 2);
    const QString original = data[1] & 2 ? QString::fromUtf8(text, qsizetype(size - 2))
                                         : QString::fromLatin1(text, qsizetype(size - 2));
    QString checked = original;
    const bool passed = CheckTrackData(command, checked, box);

    int index = CARD_METHOD_COUNT - 1;
    while (index >= 0 && command != QLatin1Char(CARD_METHODS[index].readCommand) &&
           command != QLatin1Char(CARD_METHODS[index].writeCommand))
        --index;
    if (index < 0) {
        FUZZ_CHECK(passed && checked == original && box.titles.isEmpty());
        return 0;
    }
    const CardMethodInfo& method = CARD_METHODS[index];
    const QString invalid = appTitle() + QStringLiteral(" - Invalid Character");
    if (method.padTo == 0) {
        const bool wide = std::any_of(original.begin(), original.end(),
                                      [](QChar c) { return c.unicode() > 0xFF; });
        FUZZ_CHECK(checked == original);
        if (wide)
            FUZZ_CHECK(!passed && box.titles == QStringList{invalid});
        else
            FUZZ_CHECK(passed == (box.answer == mb::IDYES) &&
                       box.titles == QStringList{appTitle() + QStringLiteral(" - Format WARNING")});
        return 0;
    }
    FUZZ_CHECK(checked.size() == qMax<qsizetype>(original.size(), method.padTo));
    FUZZ_CHECK(checked.startsWith(original));
    FUZZ_CHECK(checked.mid(original.size()).count(QLatin1Char('0')) ==
               checked.size() - original.size());
    const auto bad = std::find_if(checked.begin(), checked.end(), [&method](QChar c) {
        return c.unicode() < method.lowestCode || c.unicode() > method.highestCode;
    });
    FUZZ_CHECK(passed == (bad == checked.end()));
    FUZZ_CHECK(box.titles == (passed ? QStringList{} : QStringList{invalid}));
    if (!passed)
        FUZZ_CHECK(box.texts.first().contains(QStringLiteral("(\"") + *bad));
    return 0;
}
