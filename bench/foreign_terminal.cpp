// The emulator dies between a program's look at its COM link and the open, and another
// program's terminal takes its pseudo-terminal number at once: what reaches that terminal? Each
// run starts tarnavel-sim --com 1, opens COM1 as the command line and the window do, and at the
// moment between the look and the open kills the emulator (SIGKILL) and opens terminals until
// one has the dead emulator's number; that one is kept cooked, as a shell keeps it. Then the
// open goes on, and the terminal is looked at: whether its mode was changed, even for a moment,
// whether it is left locked exclusive, and whether any byte reached it.
//
//   build/bench/bench_foreign_terminal [RUNS]      (default 100)

#include "emulator/pty.h"
#include "link/protocol/frame.h"
#include "platform/apperror.h"
#include "platform/fsutil.h"
#include "platform/qtserialport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <list>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 100;
    int taken = 0, opened = 0, refused = 0, touched = 0, exclusive = 0, bytes = 0, failed = 0;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        QProcess sim;
        sim.start(QStringLiteral(TARNAVEL_SIM_PATH),
                  {QStringLiteral("--com"), QStringLiteral("1"), QStringLiteral("--quiet")});
        QByteArray first;
        while (!first.contains('\n') && sim.waitForReadyRead(10000))
            first += sim.readAllStandardOutput();
        const QByteArray prefix = "tarnavel-sim: serving on ";
        if (!first.startsWith(prefix)) {
            ++failed;
            continue;
        }
        const QString device = QString::fromLocal8Bit(first.mid(prefix.size()).trimmed());
        std::list<PseudoTerminal> terminals;
        PseudoTerminal* foreign = nullptr;
        fsutil::Fd user;
        termios cooked{};
        QtSerialPort port;
        port.setCommPort(1);
        port.setAfterLook([&] {
            ::kill(pid_t(sim.processId()), SIGKILL);
            sim.waitForFinished(10000);
            for (int tries = 0; tries < 64 && !foreign; ++tries) {
                PseudoTerminal& next = terminals.emplace_back();
                if (next.open() && next.slavePath() == device)
                    foreign = &next;
            }
            if (!foreign)
                return;
            user = fsutil::Fd(::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY));
            ::tcgetattr(user.get(), &cooked);
            cooked.c_lflag |= ICANON | ECHO;
            cooked.c_iflag |= IXON;
            ::tcsetattr(user.get(), TCSANOW, &cooked);
            // In packet mode the terminal's other side hears of every change of its flow
            // control, which raw mode turns off: a setting applied for a moment and restored
            // is heard too.
            int on = 1;
            ::ioctl(foreign->masterFd(), TIOCPKT, &on);
            ::fcntl(foreign->masterFd(), F_SETFL, O_NONBLOCK);
            char drained[64];
            while (::read(foreign->masterFd(), drained, sizeof drained) > 0) {
            }
        });
        try {
            port.setPortOpen(true);
            port.output(buildFrame("h"));
            ++opened;
        } catch (const AppError&) {
            ++refused;
        }
        port.setPortOpen(false);
        if (!foreign)
            continue;
        ++taken;
        termios now{};
        int locked = 0;
        ::tcgetattr(user.get(), &now);
        ::ioctl(user.get(), TIOCGEXCL, &locked);
        bool changed = now.c_lflag != cooked.c_lflag || now.c_iflag != cooked.c_iflag ||
                       now.c_cflag != cooked.c_cflag;
        exclusive += locked != 0;
        // Packets: a first byte of 0 carries data, anything else a change of the terminal.
        char buffer[256];
        ssize_t n;
        while ((n = ::read(foreign->masterFd(), buffer, sizeof buffer)) > 0) {
            if (buffer[0] == 0)
                bytes += int(n - 1);
            else
                changed = true;
        }
        touched += changed;
    }
    std::printf("emulator killed between the look and the open, %d runs: its number taken by "
                "another terminal %d times; opened %d, refused %d; terminals whose mode changed "
                "%d, locked exclusive %d, bytes that reached them %d; runs that did not start %d\n",
                runs, taken, opened, refused, touched, exclusive, bytes, failed);
    return opened + touched + exclusive + bytes == 0 ? 0 : 1;
}
