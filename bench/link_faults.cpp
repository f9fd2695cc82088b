// Every step that changes the ports folder, made to fail in turn with ENOSPC, EDQUOT and EIO (a
// full disk, a quota, a failing network file system), while an emulator takes over a dead
// emulator's number, while an emulator ends, and while ports link and ports unlink change a
// number whose old link a dead emulator left. After each run the folder is looked at as a
// program opening COM3 would: a link into the terminal that now has the dead emulator's number
// (or, once the emulator has ended, into its freed number) that would open is a fault.
//
//   build/bench/bench_link_faults

#include "config/ports.h"
#include "emulator/pty.h"
#include "emulator/readermodel.h"
#include "emulator/simserver.h"
#include "platform/fsutil.h"
#include "platform/linkmark.h"
#include "platform/portsfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kNumber = 3;

struct Counts {
    int runs = 0;
    int injected = 0;
    int faults = 0; // links left that would open into a terminal nobody vouches for
};

// What a dead emulator leaves: its link, and its mark that nobody holds.
void leaveDeadEmulator(const QString& ports, const QString& device)
{
    QDir().mkpath(ports);
    QFile::remove(ports + QStringLiteral("/com3"));
    QFile::link(device, ports + QStringLiteral("/com3"));
    const fsutil::Fd folder(::open(QFile::encodeName(ports).constData(), O_RDONLY));
    QString error;
    fsutil::Fd(linkmark::claim(folder.get(), kNumber, device, &error));
}

// A link that opens and leads into `terminal`, which nobody vouches for.
bool opensInto(const QString& ports, const QString& terminal)
{
    const ComEntry entry = PortsFolder(ports).entry(kNumber);
    return entry.kind == ComEntry::Kind::Link && entry.mayOpen() &&
           QDir::cleanPath(QDir(ports).absoluteFilePath(entry.target)) == terminal;
}

// One run: made before any step fails, then acted with one step failing, then looked at.
struct Run {
    std::function<void()> act;
    std::function<bool()> fault; // true: a link opens into a terminal nobody vouches for
};

// Makes and acts a run with its k-th change failing with number, for every k until one runs
// through without a failure.
void campaign(const char* label, int number, Counts* counts,
              const std::function<Run(const QString& ports)>& make)
{
    for (int k = 1;; ++k) {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        const QString ports = portsDirectory();
        Run run = make(ports);
        int seen = 0;
        bool injected = false;
        {
            const fsutil::ScopedFaults faults([&](fsutil::Step, const QByteArray&) {
                if (++seen != k)
                    return 0;
                injected = true;
                return number;
            });
            run.act();
        }
        const bool fault = run.fault();
        ++counts->runs;
        counts->injected += injected ? 1 : 0;
        if (fault) {
            ++counts->faults;
            std::printf("  FAULT: %s, step %d failing with %s\n", label, k,
                        strerrorname_np(number));
        }
        if (!injected)
            return;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    Counts counts;
    for (const int number : {ENOSPC, EDQUOT, EIO}) {
        campaign("an emulator takes over a dead one's number", number, &counts,
                 [](const QString& ports) {
                     // The dead emulator's number belongs to another program's terminal now.
                     auto foreign = std::make_shared<PseudoTerminal>();
                     auto model = std::make_shared<ReaderModel>();
                     auto server = std::make_shared<SimServer>(*model);
                     QString error;
                     foreign->open();
                     server->open(&error);
                     leaveDeadEmulator(ports, foreign->slavePath());
                     return Run{[server] {
                                    QString error;
                                    server->linkAsCom(kNumber, &error);
                                },
                                [=] { return opensInto(ports, foreign->slavePath()); }};
                 });
        campaign("an emulator ends", number, &counts, [](const QString&) {
            auto model = std::make_shared<ReaderModel>();
            auto server = std::make_shared<SimServer>(*model);
            QString error;
            server->open(&error);
            server->linkAsCom(kNumber, &error);
            auto device = std::make_shared<QString>(server->devicePath());
            return Run{[server] { server->removeLink(); },
                       [=]() mutable {
                           // Gone, as the process would be: its number is free for the next.
                           server.reset();
                           return opensInto(portsDirectory(), *device);
                       }};
        });
        campaign("ports link over a dead emulator's link", number, &counts,
                 [](const QString& ports) {
                     auto foreign = std::make_shared<PseudoTerminal>();
                     auto mine = std::make_shared<PseudoTerminal>();
                     foreign->open();
                     mine->open();
                     leaveDeadEmulator(ports, foreign->slavePath());
                     return Run{[=] {
                                    QString error;
                                    linkPort(kNumber, mine->slavePath(), &error, ports);
                                },
                                [=] { return opensInto(ports, foreign->slavePath()); }};
                 });
        campaign("ports unlink of a dead emulator's link", number, &counts,
                 [](const QString& ports) {
                     auto foreign = std::make_shared<PseudoTerminal>();
                     foreign->open();
                     leaveDeadEmulator(ports, foreign->slavePath());
                     return Run{[=] {
                                    QString error;
                                    unlinkPort(kNumber, &error, ports);
                                },
                                [=] { return opensInto(ports, foreign->slavePath()); }};
                 });
    }
    std::printf("link steps failed on purpose (ENOSPC, EDQUOT, EIO): %d runs, %d failures "
                "injected, %d links left that open into a terminal nobody vouches for\n",
                counts.runs, counts.injected, counts.faults);
    return counts.faults == 0 ? 0 : 1;
}
