// tarnavel-sim: the card reader/writer emulator on a pseudo-terminal.

#include "emulator/deck.h"
#include "emulator/logsink.h"
#include "emulator/readermodel.h"
#include "emulator/simconsole.h"
#include "emulator/simserver.h"
#include "platform/coredumps.h"
#include "platform/fsutil.h"
#include "platform/interrupts.h"
#include "platform/portsfolder.h"
#include "platform/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Standard output once the program runs: never blocks, whoever reads it or not.
LogSink* g_out = nullptr;

void printLine(const QString& line, FILE* stream = stdout)
{
    if (stream == stdout && g_out) {
        g_out->writeLine(line);
        return;
    }
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString helpText()
{
    return QStringLiteral(
               "Usage: tarnavel-sim [options]\n"
               "\n"
               "Emulates a BANQUE-TEC BT904/BT905 magnetic card reader/writer on a\n"
               "pseudo-terminal for Quorvex Tarnavel. The first line printed names the device:\n"
               "  tarnavel-sim: serving on /dev/pts/N\n"
               "Then every frame is shown in both directions, in hex and with its meaning.\n"
               "\n"
               "Options:\n"
               "  --com N              also link the device as COMN, N from 1 to 256:\n"
               "                       $XDG_CONFIG_HOME/quorvex-tarnavel/ports/comN\n"
               "                       (~/.config/... by default); removed again at the end.\n"
               "                       Refused while another emulator holds the number\n"
               "  --type N             reader type in the version reply, 0 to 9 (default 8)\n"
               "  --card FILE          load the deck of cards from FILE (format below)\n"
               "  --auto-swipe MS      swipe the card in the slot by itself MS milliseconds\n"
               "                       after each arm (the host polls every 200 ms: give it\n"
               "                       500 or more to collect the arm reply first)\n"
               "  --corrupt N          corrupt the check character of the next N frames sent\n"
               "  --split K            send replies in pieces of K bytes, a few ms apart\n"
               "  --silent CHARS       ignore frames whose command character is in CHARS\n"
               "  --force ST           answer the next command with status ST (3 or l3)\n"
               "                       instead, without carrying it out\n"
               "  --swipe-error KIND   the next swipe fails: read (lQ), nodata (lR) or\n"
               "                       write (lA)\n"
               "  --quiet              do not show the frames\n"
               "  -h, --help           show this text\n"
               "  --version            show the version\n"
               "\n"
               "Console commands, typed on standard input one a line:\n") +
           SimConsole::commandsHelp() +
           QStringLiteral(
               "\n\n"
               "Cards are numbered from 1. Without a console (standard input at its end or\n"
               "not a terminal) the program keeps serving until quit, Ctrl+C or SIGTERM.\n"
               "\n"
               "The reader answers:\n"
               "  k                    k and the reader type\n"
               "  n                    l0 at once; after the next swipe lP (card read),\n"
               "                       l@ (write data was loaded and is now on the card),\n"
               "                       lR (blank card) or the error the fault asks for\n"
               "  1 A Q @ ! + data     l0; the data is written by the next armed swipe\n"
               "  5 E U D %            the same character and the track data of the last\n"
               "                       card read (nothing after it when none)\n"
               "  o                    the last frame sent, again (l3 before any)\n"
               "  h                    l0; the arm and the loaded data are dropped\n"
               "  ` + 0..3             l0; lamps: 0 all off, 1 green, 2 red, 3 yellow on\n"
               "                       (colours add up until 0)\n"
               "  wrong check character l2; unknown command or parameter l3;\n"
               "  more than 512 data bytes l4\n"
               "\n") +
           deckFormatHelp() +
           QStringLiteral("\n"
                          "Without --card the deck is: 1 \"Test card\" (all three tracks),\n"
                          "2 \"Track 2 only\", 3 \"Blank card\"; card 1 is in the slot.\n");
}

// Reads console lines from standard input without ever blocking the server; at its end the
// program goes on serving.
class ConsoleInput : public QObject
{
public:
    ConsoleInput(SimConsole& console, QObject* parent) : QObject(parent), m_console(console)
    {
        // Left blocking: the descriptor may be shared with the shell. A read only follows
        // the notifier's report that input is there, so it never waits.
        if (::fcntl(STDIN_FILENO, F_GETFL) < 0)
            return;
        m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &ConsoleInput::onReadable);
        m_retry.setSingleShot(true);
        m_retry.setInterval(500);
        connect(&m_retry, &QTimer::timeout, this, [this] { m_notifier->setEnabled(true); });
    }

private:
    void onReadable()
    {
        char buffer[1024];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0) {
            m_notifier->setEnabled(false);
            run(m_line);
            m_line.clear();
            return;
        }
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return;
            // A terminal read from the background fails; the console may come forward later.
            m_notifier->setEnabled(false);
            m_retry.start();
            return;
        }
        m_line.append(buffer, int(n));
        qsizetype end;
        while ((end = m_line.indexOf('\n')) >= 0) {
            const QByteArray line = m_line.left(end);
            m_line.remove(0, end + 1);
            run(line);
        }
    }

    void run(const QByteArray& line)
    {
        QString output;
        const bool ok = m_console.execute(QString::fromLocal8Bit(line), &output);
        if (!output.isEmpty())
            printLine(output, ok ? stdout : stderr);
        if (m_console.quitRequested())
            QCoreApplication::quit();
    }

    SimConsole& m_console;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_retry;
    QByteArray m_line;
};

} // namespace

int main(int argc, char* argv[])
{
    // The deck's track data lives in this process, as card data does in the other two.
    keepCardDataOutOfCoreDumps();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnavel-sim"));
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGTTIN, SIG_IGN);

    QCommandLineParser parser;
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption com(QStringLiteral("com"), QString(), QStringLiteral("N"));
    const QCommandLineOption type(QStringLiteral("type"), QString(), QStringLiteral("N"));
    const QCommandLineOption card(QStringLiteral("card"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption autoSwipe(QStringLiteral("auto-swipe"), QString(),
                                       QStringLiteral("MS"));
    const QCommandLineOption corrupt(QStringLiteral("corrupt"), QString(), QStringLiteral("N"));
    const QCommandLineOption split(QStringLiteral("split"), QString(), QStringLiteral("K"));
    const QCommandLineOption silent(QStringLiteral("silent"), QString(), QStringLiteral("CHARS"));
    const QCommandLineOption force(QStringLiteral("force"), QString(), QStringLiteral("ST"));
    const QCommandLineOption swipeError(QStringLiteral("swipe-error"), QString(),
                                        QStringLiteral("KIND"));
    const QCommandLineOption quiet(QStringLiteral("quiet"));
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({help, version, com, type, card, autoSwipe, corrupt, split, silent, force,
                       swipeError, quiet});
    if (!parser.parse(QCoreApplication::arguments())) {
        printLine(QStringLiteral("tarnavel-sim: %1 (--help explains the options)")
                      .arg(parser.errorText()),
                  stderr);
        return 2;
    }
    if (parser.isSet(help)) {
        std::fputs(helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        printLine(QStringLiteral("tarnavel-sim (%1) %2").arg(appTitle(), versionNumber()));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        printLine(QStringLiteral("tarnavel-sim: unexpected argument \"%1\" (--help explains "
                                 "the options)")
                      .arg(parser.positionalArguments().constFirst()),
                  stderr);
        return 2;
    }
    int comNumber = 0;
    if (parser.isSet(com)) {
        comNumber = parsePortNumber(parser.value(com));
        if (comNumber < 1) {
            printLine(QStringLiteral("tarnavel-sim: --com takes a port number from 1 to %1 (or "
                                     "COM1 to COM%1), not \"%2\"")
                          .arg(kMaxPortNumber)
                          .arg(fsutil::printable(parser.value(com))),
                      stderr);
            return 2;
        }
    }

    LogSink out(STDOUT_FILENO);
    g_out = &out;
    ReaderModel model;
    SimServer server(model);
    SimConsole console(server);

    // Options are console commands given in advance: one parser, the same values.
    const QList<QPair<QCommandLineOption, QString>> asCommands = {
        {card, QStringLiteral("load %1")},
        {type, QStringLiteral("type %1")},
        {autoSwipe, QStringLiteral("auto %1")},
        {corrupt, QStringLiteral("fault corrupt %1")},
        {split, QStringLiteral("fault split %1")},
        {silent, QStringLiteral("fault silent %1")},
        {force, QStringLiteral("fault force %1")},
        {swipeError, QStringLiteral("fault swipe-error %1")},
    };
    for (const auto& [option, command] : asCommands) {
        if (!parser.isSet(option))
            continue;
        QString output;
        if (!console.execute(command.arg(parser.value(option)), &output)) {
            output.remove(QRegularExpression(QStringLiteral("^error: ")));
            printLine(
                QStringLiteral("tarnavel-sim: --%1: %2").arg(option.names().constFirst(), output),
                stderr);
            return 2;
        }
    }

    Interrupts interrupts;
    if (!interrupts.install()) {
        printLine(QStringLiteral("tarnavel-sim: cannot set up signal handling"), stderr);
        return 1;
    }
    interrupts.onInterrupt = [] { QCoreApplication::quit(); };

    QString error;
    if (!server.open(&error)) {
        printLine(QStringLiteral("tarnavel-sim: ") + error, stderr);
        return 1;
    }
    // The link exists before the device is announced, so whoever reads the first line can
    // use either at once.
    if (comNumber > 0 && !server.linkAsCom(comNumber, &error, interrupts.fd())) {
        // Stopped while waiting for the ports folder: nothing was made there yet.
        if (interrupts.check())
            return interrupts.exitStatus();
        printLine(QStringLiteral("tarnavel-sim: ") + error, stderr);
        return 1;
    }
    printLine(QStringLiteral("tarnavel-sim: serving on ") + server.devicePath());
    if (comNumber > 0) {
        printLine(QStringLiteral("tarnavel-sim: linked as COM%1: %2 -> %3")
                      .arg(comNumber)
                      .arg(server.linkPath(), server.devicePath()));
    }
    if (!parser.isSet(quiet))
        QObject::connect(&server, &SimServer::logLine, &app,
                         [](const QString& line) { printLine(line); });
    if (::isatty(STDIN_FILENO))
        printLine(QStringLiteral("Type help for the console commands."));
    ConsoleInput input(console, &app);

    const int result = QCoreApplication::exec();
    // Another signal ends a wait for the folder's lock here too.
    if (const QString left = server.removeLink(interrupts.fd()); !left.isEmpty())
        printLine(QStringLiteral("tarnavel-sim: ") + left, stderr);
    g_out = nullptr;
    return result;
}
