// Renders every window and message box of the program to PNG files (in the test's working
// folder, under screenshots/) and checks that no caption is cut off by its control: the stand-in
// fonts of a Linux desktop must still fit the design's geometry.
#include "cards/widgets/frmstatus.h"
#include "config/widgets/frmoptions.h"
#include "link/widgets/frmledtest.h"
#include "platform/widgets/qtmessagebox.h"
#include "shell/frmabout.h"
#include "shell/frmmain.h"
#include "shell/sysinfo.h"
#include "support/shell/mainrig.h"

#include <QAbstractButton>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {
using Rig = MainRig;

// The room a caption needs beside what its control draws around it.
int chromeOf(const QWidget* widget)
{
    if (qobject_cast<const QRadioButton*>(widget))
        return 22;
    if (qobject_cast<const QPushButton*>(widget))
        return 6;
    return 0;
}

QString visibleText(QString text)
{
    text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
    return text;
}
} // namespace

class TestRender : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void windows();
    void messageBoxes();

private:
    void save(QWidget* widget, const QString& name);
    void checkCaptionsFit(QWidget* root);
    QDir m_dir;
};

void TestRender::initTestCase()
{
    QDir().mkpath(QStringLiteral("screenshots"));
    m_dir = QDir(QStringLiteral("screenshots"));
}

void TestRender::save(QWidget* widget, const QString& name)
{
    QVERIFY(widget->grab().save(m_dir.filePath(name + QStringLiteral(".png"))));
}

void TestRender::checkCaptionsFit(QWidget* root)
{
    const auto widgets = root->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (!widget->isVisibleTo(root))
            continue;
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            text = button->text();
        else if (auto* label = qobject_cast<QLabel*>(widget); label && !label->wordWrap())
            text = label->text();
        else if (auto* frame = qobject_cast<QGroupBox*>(widget))
            text = frame->title();
        if (text.isEmpty() || text.contains(QLatin1Char('\n')))
            continue;
        const int needed =
            widget->fontMetrics().horizontalAdvance(visibleText(text)) + chromeOf(widget);
        QVERIFY2(needed <= widget->width(),
                 qPrintable(QStringLiteral("%1 \"%2\" needs %3 px, has %4")
                                .arg(widget->objectName(), text)
                                .arg(needed)
                                .arg(widget->width())));
    }
}

void TestRender::windows()
{
    Rig online;
    frmMain& main = online.start();
    checkCaptionsFit(&main);
    save(&main, QStringLiteral("main-online"));

    Rig offline;
    offline.port.model().setSilentCommands("k");
    offline.boxes.answer({mb::IDNO, mb::IDOK});
    frmMain& mainOffline = offline.start();
    checkCaptionsFit(&mainOffline);
    save(&mainOffline, QStringLiteral("main-offline"));

    frmStatus* status = main.statusWindow();
    status->ShowStatusWindow(QStringLiteral("Swipe card when ready"), false);
    checkCaptionsFit(status);
    save(status, QStringLiteral("status-reading"));
    status->ShowStatusWindow(QStringLiteral("Swipe card when ready"), true);
    save(status, QStringLiteral("status-writing"));
    status->ShowStatusWindow(QStringLiteral("Connecting to Card Reader on COM1"), false);
    checkCaptionsFit(status);
    save(status, QStringLiteral("status-connecting"));
    status->HideStatusWindow();

    frmOptions options(main.settings(), online.store, online.boxes, main.settingsKey(), &main);
    options.show();
    checkCaptionsFit(&options);
    save(&options, QStringLiteral("options"));

    frmLEDTest led(main.link(), online.boxes, &main);
    led.show();
    checkCaptionsFit(&led);
    save(&led, QStringLiteral("ledtest"));

    auto* about = new frmAbout(online.shell, online.store, online.boxes, &main);
    about->show();
    checkCaptionsFit(about);
    save(about, QStringLiteral("about"));
    about->close();
}

void TestRender::messageBoxes()
{
    // Collect the boxes the program really shows, then draw each the way the real adapter does.
    Rig rig;
    rig.port.openFailures = 1;
    rig.port.setPortOpen(false);
    rig.port.model().setSilentCommands("k");
    rig.boxes.answer({mb::IDRETRY, mb::IDNO, mb::IDOK});
    frmMain& main = rig.start();
    rig.port.model().setSilentCommands({});
    rig.boxes.answer(mb::IDOK); // nothing more: the check succeeds
    rig.window->findChild<QPushButton*>(QStringLiteral("cmdConnect"))->click();

    auto* data = main.findChild<QLineEdit*>(QStringLiteral("txtData"));
    data->setText(QStringLiteral("12a4"));
    rig.boxes.answer(mb::IDOK);
    main.findChild<QPushButton*>(QStringLiteral("cmdWrite"))->click();

    main.findChild<QRadioButton*>(QStringLiteral("optMethod3"))->click();
    rig.boxes.answer(mb::IDNO);
    main.findChild<QPushButton*>(QStringLiteral("cmdWrite"))->click();

    rig.port.autoSwipe = true;
    rig.port.model().setSwipeError(ReaderModel::SwipeError::Read);
    rig.boxes.answer(mb::IDCANCEL);
    main.findChild<QPushButton*>(QStringLiteral("cmdRead"))->click();

    rig.boxes.answer(mb::IDOK);
    StartSysInfo(rig.store, rig.shell, rig.boxes);

    QVERIFY(rig.boxes.shown.size() >= 7);
    for (int i = 0; i < rig.boxes.shown.size(); ++i) {
        const auto& shown = rig.boxes.shown[i];
        std::unique_ptr<QMessageBox> box(QtMessageBox::build(
            shown.text, shown.title, shown.buttons, shown.icon, shown.defaultResult, &main));
        box->show();
        checkCaptionsFit(box.get());
        save(box.get(), QStringLiteral("box-%1").arg(i + 1, 2, 10, QLatin1Char('0')));
    }
}

QTEST_MAIN(TestRender)
#include "test_render.moc"
