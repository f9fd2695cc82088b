#include "platform/twips.h"
#include "shell/frmabout.h"
#include "shell/sysinfo.h"
#include "support/memorystore.h"
#include "support/recordingshell.h"
#include "support/scriptedmessagebox.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace {
VersionInfo withComments()
{
    VersionInfo info;
    info.comments = QStringLiteral("Built for the test bench.");
    return info;
}

// Deletes what close() left for later, as returning to the event loop would.
void runDeferredDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QImage argb(const QPixmap& pixmap)
{
    return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

// A horizontal line's pixels from x1 to x2 inclusive.
QRect linePixels(int x1, int x2, int y, int thickness)
{
    return QRect(twips(x1), twips(y), twips(x2) - twips(x1) + 1, thickness);
}
} // namespace

class TestAbout : public QObject
{
    Q_OBJECT
private slots:
    void versionText_data();
    void versionText();
    void versionLabel_data();
    void versionLabel();
    void formLoad();
    void layout_data();
    void layout();
    void clientSize_data();
    void clientSize();
    void captionsFit_data();
    void captionsFit();
    void tabOrder();
    void closing_data();
    void closing();
    void linkOpensSiteAndCloses_data();
    void linkOpensSiteAndCloses();
    void sysInfoButton_data();
    void sysInfoButton();
    void screenshot_data();
    void screenshot();

private:
    MemoryStore m_machine;
    RecordingShell m_shell;
    ScriptedMessageBox m_messages;
};

void TestAbout::versionText_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("text");
    QTest::newRow("1.3.0") << 1 << 3 << 0 << QStringLiteral("Version 1.03");
    QTest::newRow("1.3.5") << 1 << 3 << 5 << QStringLiteral("Version 1.03.0005");
    QTest::newRow("1.12.0") << 1 << 12 << 0 << QStringLiteral("Version 1.12");
    QTest::newRow("1.123.0") << 1 << 123 << 0 << QStringLiteral("Version 1.123");
    QTest::newRow("2.0.12345") << 2 << 0 << 12345 << QStringLiteral("Version 2.00.12345");
    QTest::newRow("10.7.42") << 10 << 7 << 42 << QStringLiteral("Version 10.07.0042");
}

void TestAbout::versionText()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, text);
    QCOMPARE(formatVersion(major, minor, revision), text);
}

void TestAbout::versionLabel_data()
{
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("text");
    QTest::newRow("program's own") << -1 << -1 << QStringLiteral("Version 1.03");
    QTest::newRow("revision 5") << 3 << 5 << QStringLiteral("Version 1.03.0005");
    QTest::newRow("minor 12") << 12 << 0 << QStringLiteral("Version 1.12");
}

void TestAbout::versionLabel()
{
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, text);
    VersionInfo info = appVersionInfo();
    if (minor >= 0) {
        info.versionMinor = minor;
        info.versionRevision = revision;
    }
    frmAbout about(m_shell, m_machine, m_messages, nullptr, info);
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblVersion"))->text(), text);
}

void TestAbout::formLoad()
{
    const VersionInfo info = appVersionInfo();
    QCOMPARE(info.productName, QStringLiteral("Tarnavel"));
    QCOMPARE(info.companyName, QStringLiteral("Quorvex"));
    QVERIFY(info.comments.isEmpty());

    frmAbout about(m_shell, m_machine, m_messages, nullptr);
    QCOMPARE(about.windowTitle(), QStringLiteral("About Quorvex Tarnavel"));
    QVERIFY(!about.windowIcon().isNull());
    QCOMPARE(argb(about.windowIcon().pixmap(32, 32)),
             argb(QIcon(QStringLiteral(":/about.png")).pixmap(32, 32)));
    QVERIFY(!about.isModal());
    QVERIFY(about.testAttribute(Qt::WA_DeleteOnClose));

    auto* picIcon = about.findChild<QLabel*>(QStringLiteral("picIcon"));
    QCOMPARE(argb(picIcon->pixmap()), argb(QPixmap(QStringLiteral(":/tarnavel.png"))));
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblTitle"))->text(), info.productName);
    QVERIFY(about.findChild<QLabel*>(QStringLiteral("lblTitle"))->font().bold());
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblVersion"))->alignment() &
                 Qt::AlignHorizontal_Mask,
             Qt::AlignRight);
    QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblCopyright"))->text(), info.legalCopyright);
    const QString description = about.findChild<QLabel*>(QStringLiteral("lblDescription"))->text();
    QCOMPARE(description, info.fileDescription);
    QVERIFY(description.contains(QStringLiteral("BT904/905")));
    for (const char* method : {"ISO on Track 1", "ISO on Track 2", "ISO on Track 3",
                               "IBM 4700 on Track 2", "Track 1 ISO on Track 3"})
        QVERIFY2(description.contains(QString::fromLatin1(method)), method);

    auto* link = about.findChild<QLabel*>(QStringLiteral("lblQuorvex"));
    QCOMPARE(link->text(), QStringLiteral("Visit the Quorvex website for more FREE software\n"
                                          "(http://www.quorvex.example)"));
    QCOMPARE(link->toolTip(), QStringLiteral("Click to visit the Quorvex Website..."));
    QCOMPARE(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QVERIFY(link->font().underline());
    QCOMPARE(link->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(link->cursor().hotSpot(), QPoint(6, 1));
    QCOMPARE(argb(link->cursor().pixmap()), argb(QPixmap(QStringLiteral(":/hand.png"))));

    const QString disclaimer = about.findChild<QLabel*>(QStringLiteral("lblDisclaimer"))->text();
    QCOMPARE(disclaimer.split(QLatin1Char('\n')).size(), 6);
    QVERIFY(!disclaimer.endsWith(QLatin1Char('\n')));

    auto* logo = about.findChild<QLabel*>(QStringLiteral("picQuorvex"));
    QCOMPARE(logo->pixmap().size(), QSize(124, 76));
    // The logo fills the picture's inside exactly.
    QCOMPARE(logo->contentsRect().size(), QSize(124, 76));

    for (QWidget* widget : about.findChildren<QWidget*>())
        QCOMPARE(widget->font().pointSizeF(), 8.25);
    QVERIFY(about.font().family() == QStringLiteral("Tahoma") ||
            !QFontDatabase::hasFamily(QStringLiteral("Tahoma")));

    auto* ok = about.findChild<QPushButton*>(QStringLiteral("cmdOK"));
    QCOMPARE(ok->text(), QStringLiteral("OK"));
    QVERIFY(ok->isDefault());
    QCOMPARE(about.findChild<QPushButton*>(QStringLiteral("cmdSysInfo"))->text(),
             QStringLiteral("&System Info..."));
}

void TestAbout::layout_data()
{
    QTest::addColumn<bool>("comments");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<bool>("shown");

    for (const bool comments : {false, true}) {
        const int up = comments ? 0 : 600;
        const char* tag = comments ? "comments/" : "no comments/";
        auto row = [&](const char* name, const QRect& rect, bool shown = true) {
            QTest::newRow((QByteArray(tag) + name).constData())
                << comments << QString::fromLatin1(name) << rect << shown;
        };
        row("picIcon", twipsRect(240, 240, 480, 480));
        row("lblTitle", twipsRect(960, 240, 2655, 240));
        row("lblVersion", twipsRect(3840, 240, 1695, 225));
        row("lblCopyright", twipsRect(960, 480, 4575, 225));
        row("lblDescription", twipsRect(240, 840, 5295, 975));
        row("picQuorvex", twipsRect(1920, 2040, 1920, 1200));
        row("lblQuorvex", twipsRect(240, 3360, 5295, 495));
        row("lblComments", twipsRect(240, 4320, 5295, 495), comments);
        row("Line11", linePixels(90, 5654, 4935 - up, 1));
        row("Line10", linePixels(105, 5654, 4935 - up, 2));
        row("lblDisclaimer", twipsRect(240, 5115 - up, 3870, 1185));
        row("cmdOK", twipsRect(4245, 5115 - up, 1260, 345));
        row("cmdSysInfo", twipsRect(4260, 5565 - up, 1245, 345));
    }
    // Closed up, the places are these.
    QTest::newRow("closed up/cmdOK")
        << false << QStringLiteral("cmdOK") << twipsRect(4245, 4515, 1260, 345) << true;
    QTest::newRow("closed up/lblDisclaimer")
        << false << QStringLiteral("lblDisclaimer") << twipsRect(240, 4515, 3870, 1185) << true;
    QTest::newRow("closed up/cmdSysInfo")
        << false << QStringLiteral("cmdSysInfo") << twipsRect(4260, 4965, 1245, 345) << true;
    QTest::newRow("closed up/Line11")
        << false << QStringLiteral("Line11") << QRect(6, 289, 372, 1) << true;
}

void TestAbout::layout()
{
    QFETCH(bool, comments);
    QFETCH(QString, name);
    QFETCH(QRect, rect);
    QFETCH(bool, shown);

    frmAbout about(m_shell, m_machine, m_messages, nullptr,
                   comments ? withComments() : appVersionInfo());
    about.show();
    QWidget* control = about.findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->parentWidget(), &about);
    QCOMPARE(control->geometry(), rect);
    QCOMPARE(control->isVisible(), shown);
    if (name == QStringLiteral("lblComments") && comments)
        QCOMPARE(qobject_cast<QLabel*>(control)->text(), withComments().comments);
}

void TestAbout::clientSize_data()
{
    QTest::addColumn<bool>("comments");
    QTest::addColumn<QSize>("size");
    QTest::newRow("no comments") << false << QSize(twips(5760), twips(5955));
    QTest::newRow("comments") << true << QSize(twips(5760), twips(6555));
}

void TestAbout::clientSize()
{
    QFETCH(bool, comments);
    QFETCH(QSize, size);
    frmAbout about(m_shell, m_machine, m_messages, nullptr,
                   comments ? withComments() : appVersionInfo());
    QCOMPARE(about.size(), size);
    QCOMPARE(about.minimumSize(), size);
    QCOMPARE(about.maximumSize(), size);
}

void TestAbout::captionsFit_data()
{
    QTest::addColumn<QString>("name");
    for (const char* name : {"lblTitle", "lblVersion", "lblCopyright", "lblDescription",
                             "lblQuorvex", "lblComments", "lblDisclaimer", "cmdOK", "cmdSysInfo"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestAbout::captionsFit()
{
    QFETCH(QString, name);
    frmAbout about(m_shell, m_machine, m_messages, nullptr, withComments());
    about.show();
    QWidget* control = about.findChild<QWidget*>(name);
    QVERIFY(control);
    const QFontMetrics metrics(control->font());
    if (auto* label = qobject_cast<QLabel*>(control)) {
        const QRect room = label->contentsRect();
        const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        const QRect needed = metrics.boundingRect(room, flags, label->text());
        QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(),
                 qPrintable(QStringLiteral("%1 needs %2x%3 in %4x%5")
                                .arg(name)
                                .arg(needed.width())
                                .arg(needed.height())
                                .arg(room.width())
                                .arg(room.height())));
    } else {
        auto* button = qobject_cast<QPushButton*>(control);
        QVERIFY(button);
        const QString caption = button->text().remove(QLatin1Char('&'));
        // The bevel takes a few pixels on each side.
        QVERIFY2(metrics.horizontalAdvance(caption) + 6 <= button->width(),
                 qPrintable(QStringLiteral("%1 needs %2 of %3")
                                .arg(caption)
                                .arg(metrics.horizontalAdvance(caption))
                                .arg(button->width())));
        QVERIFY(metrics.height() + 4 <= button->height());
    }
}

void TestAbout::tabOrder()
{
    frmAbout about(m_shell, m_machine, m_messages, nullptr);
    about.show();
    about.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&about));
    auto* ok = about.findChild<QPushButton*>(QStringLiteral("cmdOK"));
    auto* sysInfo = about.findChild<QPushButton*>(QStringLiteral("cmdSysInfo"));
    QCOMPARE(QApplication::focusWidget(), ok);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), sysInfo);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), ok);
}

void TestAbout::closing_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("OK button") << QStringLiteral("ok");
    QTest::newRow("Enter") << QStringLiteral("enter");
    QTest::newRow("Escape") << QStringLiteral("escape");
    QTest::newRow("close box") << QStringLiteral("closebox");
}

void TestAbout::closing()
{
    QFETCH(QString, how);
    QPointer<frmAbout> about = new frmAbout(m_shell, m_machine, m_messages, nullptr);
    about->show();
    about->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(about));
    if (how == QStringLiteral("ok"))
        QTest::mouseClick(about->findChild<QPushButton*>(QStringLiteral("cmdOK")), Qt::LeftButton);
    else if (how == QStringLiteral("enter"))
        QTest::keyClick(about->findChild<QPushButton*>(QStringLiteral("cmdSysInfo")),
                        Qt::Key_Return);
    else if (how == QStringLiteral("escape"))
        QTest::keyClick(about, Qt::Key_Escape);
    else
        about->close();
    QVERIFY(about.isNull() || !about->isVisible());
    runDeferredDeletes();
    QVERIFY(about.isNull());
    // Enter belongs to OK, not to the focused System Info button.
    QVERIFY(m_shell.started.isEmpty());
    QVERIFY(m_messages.shown.isEmpty());
}

void TestAbout::linkOpensSiteAndCloses_data()
{
    QTest::addColumn<bool>("browserStarts");
    QTest::newRow("browser starts") << true;
    QTest::newRow("browser fails") << false;
}

void TestAbout::linkOpensSiteAndCloses()
{
    QFETCH(bool, browserStarts);
    RecordingShell shell;
    shell.openUrlResult = browserStarts;
    QPointer<frmAbout> about = new frmAbout(shell, m_machine, m_messages, nullptr);
    about->show();
    QTest::mouseClick(about->findChild<QLabel*>(QStringLiteral("lblQuorvex")), Qt::LeftButton);
    QCOMPARE(shell.openedUrls, QStringList{QStringLiteral("http://www.quorvex.example/")});
    QVERIFY(about.isNull() || !about->isVisible());
    runDeferredDeletes();
    QVERIFY(about.isNull());
    QVERIFY(m_messages.shown.isEmpty());
}

void TestAbout::sysInfoButton_data()
{
    QTest::addColumn<bool>("toolOnPath");
    QTest::newRow("tool found") << true;
    QTest::newRow("no tool") << false;
}

void TestAbout::sysInfoButton()
{
    QFETCH(bool, toolOnPath);
    RecordingShell shell;
    if (toolOnPath)
        shell.programsOnPath.insert(QStringLiteral("gnome-system-monitor"),
                                    QStringLiteral("/usr/bin/gnome-system-monitor"));
    ScriptedMessageBox messages;
    if (!toolOnPath)
        messages.answer(mb::IDOK);
    frmAbout about(shell, m_machine, messages, nullptr);
    about.show();
    QTest::mouseClick(about.findChild<QPushButton*>(QStringLiteral("cmdSysInfo")), Qt::LeftButton);
    if (toolOnPath) {
        QCOMPARE(shell.started.size(), 1);
        QCOMPARE(shell.started.first().path, QStringLiteral("/usr/bin/gnome-system-monitor"));
        QVERIFY(messages.shown.isEmpty());
    } else {
        QVERIFY(shell.started.isEmpty());
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown.first().text, QString::fromLatin1(SYSINFO_UNAVAILABLE));
    }
    // The box stays open after starting the tool.
    QVERIFY(about.isVisible());
}

void TestAbout::screenshot_data()
{
    QTest::addColumn<bool>("comments");
    QTest::addColumn<QString>("file");
    QTest::newRow("no comments") << false << QStringLiteral("about.png");
    QTest::newRow("comments") << true << QStringLiteral("about-comments.png");
}

void TestAbout::screenshot()
{
    QFETCH(bool, comments);
    QFETCH(QString, file);
    frmAbout about(m_shell, m_machine, m_messages, nullptr,
                   comments ? withComments() : appVersionInfo());
    about.show();
    const QPixmap picture = about.grab();
    QCOMPARE(picture.size(), about.size());
    const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/') + file;
    QVERIFY(picture.save(path));
    // The link is drawn in blue somewhere inside its label.
    const QImage image = picture.toImage();
    const QRect link = about.findChild<QLabel*>(QStringLiteral("lblQuorvex"))->geometry();
    bool blue = false;
    for (int y = link.top(); y <= link.bottom() && !blue; ++y)
        for (int x = link.left(); x <= link.right() && !blue; ++x)
            blue = image.pixelColor(x, y) == QColor(0, 0, 255);
    QVERIFY(blue);
}

QTEST_MAIN(TestAbout)
#include "test_about.moc"
