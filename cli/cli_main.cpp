// tarnavel-cli: the card reader/writer from a terminal and from scripts.

#include "cli/clicommands.h"
#include "cli/clienvironment.h"
#include "config/resultskey.h"
#include "platform/clock.h"
#include "platform/coredumps.h"
#include "platform/eventpump.h"
#include "platform/interrupts.h"
#include "platform/paths.h"
#include "platform/regfilestore.h"
#include "platform/serialport.h"

#include <QCoreApplication>

#include <csignal>

int main(int argc, char* argv[])
{
    // Before anything else: a signal from here on ends the program with its message and status.
    endOnSignals();
    keepCardDataOutOfCoreDumps();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnavel-cli"));
    // A reader of standard output that goes away must not kill a batch in the middle of a card.
    std::signal(SIGPIPE, SIG_IGN);
    const QString storePath = userStorePath();
    RegFileStore store(storePath);
    SystemClock clock;
    QtEventPump pump(clock);
    ProcessStreams streams;
    Interrupts interrupts;
    const CliEnvironment environment{makeSystemPort,
                                     store,
                                     storePath,
                                     clock,
                                     pump,
                                     streams,
                                     interrupts,
                                     nullptr,
                                     [](QString* error) { return loadResultsKey(configDirectory(), error); }};
    return runCli(environment, QCoreApplication::arguments().mid(1));
}
