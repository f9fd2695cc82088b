#include "platform/clock.h"
#include "platform/coredumps.h"
#include "platform/eventpump.h"
#include "platform/paths.h"
#include "platform/qtserialport.h"
#include "platform/regfilestore.h"
#include "platform/widgets/qtmessagebox.h"
#include "platform/widgets/systemshell.h"
#include "shell/commandline.h"
#include "shell/frmmain.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

namespace {

int printAndExit(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    const bool written =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size());
    if (!written || std::fflush(stdout) != 0) {
        std::perror("quorvex-tarnavel: cannot write to standard output");
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    keepCardDataOutOfCoreDumps();
    // Answered before QApplication exists, so that they need no display and touch neither
    // the port nor the settings.
    switch (earlyRequest(argc, argv)) {
    case EarlyRequest::Help:
        return printAndExit(programHelpText());
    case EarlyRequest::Version:
        return printAndExit(programVersionText());
    case EarlyRequest::None:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quorvex-tarnavel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnavel.png")));
    // Lets Wayland compositors match the window with its desktop entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.quorvex.Tarnavel"));

    QtSerialPort port;
    SystemClock clock;
    QtMessageBox messages;
    QtEventPump pump(clock);
    RegFileStore store(userStorePath());
    SystemShell shell;

    // QApplication has taken its own arguments out of argv by now.
    frmMain window({port, clock, messages, pump, store, shell}, commandLineText(argc, argv));
    window.Form_Load();
    return app.exec();
}
