// verify: write, then read the same card back and compare.

#include "cli/clishared.h"
#include "cli/command.h"

namespace {

int verify(CliContext& ctx)
{
    return writeCard(ctx, true);
}

} // namespace

const CliCommand kVerifyCommand = {
    "verify",
    "[-m METHOD] [--yes] DATA|-",
    "write, then read the same card back and compare",
    {Opt::Method, Opt::Yes, Opt::AllowEmpty},
    1,
    1,
    "verify takes the track data, or - to read it from standard input",
    "Writes as write does (see below), then asks for the same card again, reads it\n"
    "with the method's read command and compares it with the data written: a\n"
    "difference exits 6, naming the first position that differs.\n\n"
    "Checks the data as the window does (ISO on Track 1: characters from space to _;\n"
    "ISO on Tracks 2 and 3: 0-9 : ; < = > ?) and pads it with \"0\" to the track\n"
    "length. An invalid character, data longer than the track holds or empty data\n"
    "without --allow-empty exits 5; ibm and iso1t3 need --yes without a terminal.\n"
    "DATA - reads the data from standard input: prefer it, or a file, for real cards,\n"
    "since an argument is visible to every user in the process list.\n",
    {QStringLiteral("-")},
    verify,
};
