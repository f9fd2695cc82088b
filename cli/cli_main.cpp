// tarnavel-cli: the card reader/writer from a terminal and from scripts.

#include "cli/clicommands.h"
#include "platform/coredumps.h"

#include <QCoreApplication>

#include <csignal>

int main(int argc, char* argv[])
{
    keepCardDataOutOfCoreDumps();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnavel-cli"));
    // A reader of standard output that goes away must not kill a batch in the middle of a card.
    std::signal(SIGPIPE, SIG_IGN);
    return runCli(QCoreApplication::arguments().mid(1));
}
