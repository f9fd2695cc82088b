#include "platform/clock.h"
#include "platform/eventpump.h"
#include "platform/messagebox.h"
#include "platform/paths.h"
#include "platform/qtserialport.h"
#include "platform/regfilestore.h"
#include "platform/shell.h"
#include "shell/commandline.h"
#include "shell/frmmain.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quorvex-tarnavel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnavel.png")));

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
