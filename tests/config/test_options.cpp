#include "config/appsettings.h"
#include "config/settingsio.h"
#include "config/widgets/frmoptions.h"
#include "platform/regfilestore.h"
#include "platform/twips.h"
#include "support/memorystore.h"
#include "support/placement.h"
#include "support/scriptedmessagebox.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
const char* const kValueNames[7] = {"BaudRate", "CommPort", "DataBits", "DefType",
                                    "Parity",   "StopBits", "Timeout"};

template <typename T> T* child(QWidget& dialog, const char* name)
{
    T* found = dialog.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

bool sameRecord(const AppSettings& a, const AppSettings& b)
{
    return a.CommPort == b.CommPort && a.BaudRate == b.BaudRate && a.Parity == b.Parity &&
           a.DataBits == b.DataBits && a.StopBits == b.StopBits && a.DefType == b.DefType &&
           a.Timeout == b.Timeout;
}

QList<qint16> fields(const AppSettings& s)
{
    // In the order of the stored names.
    return {s.BaudRate, s.CommPort, s.DataBits, s.DefType, s.Parity, s.StopBits, s.Timeout};
}

// The seven stored values as numbers, in the order of the names; a missing one fails.
QList<qint32> storedNumbers(const MemoryStore& store)
{
    QList<qint32> numbers;
    for (const char* name : kValueNames) {
        const auto value = store.value(settingsKeyPath(), QString::fromLatin1(name));
        if (!value || value->type != store::REG_DWORD || value->data.size() != 4) {
            qWarning("value %s missing or not a 32-bit number", name);
            return {};
        }
        qint32 number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | quint8(value->data.at(i));
        numbers.append(number);
    }
    return numbers;
}

QList<qint32> widened(const AppSettings& s)
{
    QList<qint32> numbers;
    for (qint16 field : fields(s))
        numbers.append(field);
    return numbers;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Permissions bind root too while this lives: without the power to override them, as the
// program's own users are. Does nothing for anyone else.
class PermissionsBind
{
public:
    PermissionsBind()
    {
        if (::geteuid() != 0)
            return;
        m_header = {_LINUX_CAPABILITY_VERSION_3, 0};
        if (::syscall(SYS_capget, &m_header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[CAP_TO_INDEX(CAP_DAC_OVERRIDE)].effective &= ~CAP_TO_MASK(CAP_DAC_OVERRIDE);
        m_dropped = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~PermissionsBind()
    {
        if (m_dropped)
            ::syscall(SYS_capset, &m_header, m_saved);
    }
    bool binds() const { return ::geteuid() != 0 || m_dropped; }

private:
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
    bool m_dropped = false;
};

void activate(QWidget& dialog)
{
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
}
} // namespace

class TestOptions : public QObject
{
    Q_OBJECT
private slots:
    void defaults();
    void layout_data();
    void layout();
    void clientSize();
    void captions_data();
    void captions();
    void tabOrder();
    void labelAccessKeys_data();
    void labelAccessKeys();
    void filterTyping_data();
    void filterTyping();
    void filterPaste();
    void negativeShownWithoutSign();
    void emptiedBoxSavesZero();
    void okWritesAllSeven();
    void okStoresEdits();
    void cancelLeavesEverything_data();
    void cancelLeavesEverything();
    void enterAndEscapeDoNothing();
    void numberTooBig_data();
    void numberTooBig();
    void valueWithoutListEntry_data();
    void valueWithoutListEntry();
    void okReportsLostSave_data();
    void okReportsLostSave();
    void screenshot();
};

void TestOptions::defaults()
{
    AppSettings settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Options..."));
    QCOMPARE(
        dialog.windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32),
        QPixmap(QStringLiteral(":/tarnavel.png")).toImage().convertToFormat(QImage::Format_ARGB32));
    QCOMPARE(child<QComboBox>(dialog, "cboPort")->currentText(), QStringLiteral("COM1"));
    QCOMPARE(child<QLineEdit>(dialog, "txtBaud")->text(), QStringLiteral("9600"));
    QCOMPARE(child<QComboBox>(dialog, "cboParity")->currentText(), QStringLiteral("Even"));
    QCOMPARE(child<QLineEdit>(dialog, "txtDataBits")->text(), QStringLiteral("7"));
    QCOMPARE(child<QLineEdit>(dialog, "txtStopBits")->text(), QStringLiteral("1"));
    QCOMPARE(child<QComboBox>(dialog, "cboDefType")->currentText(),
             QStringLiteral("ISO in Track 2"));
    QCOMPARE(child<QLineEdit>(dialog, "txtTimeout")->text(), QStringLiteral("10"));

    auto entries = [&](const char* name) {
        QStringList items;
        auto* list = child<QComboBox>(dialog, name);
        for (int i = 0; i < list->count(); ++i)
            items.append(list->itemText(i));
        return items;
    };
    QCOMPARE(entries("cboPort"), (QStringList{QStringLiteral("COM1"), QStringLiteral("COM2"),
                                              QStringLiteral("COM3"), QStringLiteral("COM4")}));
    QCOMPARE(entries("cboParity"),
             (QStringList{QStringLiteral("Even"), QStringLiteral("Odd"), QStringLiteral("None")}));
    QCOMPARE(entries("cboDefType"),
             (QStringList{QStringLiteral("ISO in Track 1"), QStringLiteral("ISO in Track 2"),
                          QStringLiteral("ISO in Track 3"), QStringLiteral("IBM 4700 on Track 2"),
                          QStringLiteral("Track 1 ISO in Track 3")}));
    for (QComboBox* list : dialog.findChildren<QComboBox*>())
        QVERIFY(!list->isEditable());
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    }
    for (QWidget* widget : dialog.findChildren<QWidget*>())
        QCOMPARE(widget->font().pointSizeF(), 8.25);
    // Loading reads the record only.
    QVERIFY(store.calls.isEmpty());
}

void TestOptions::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("rect");
    const QString dialog = QStringLiteral("frmOptions");
    const QString comm = QStringLiteral("fraComm");
    const QString extra = QStringLiteral("fraExtra");
    auto row = [](const char* name, const QString& parent, int l, int t, int w, int h) {
        QTest::newRow(name) << QString::fromLatin1(name) << parent << twipsRect(l, t, w, h);
    };
    row("fraComm", dialog, 120, 120, 3375, 2295);
    row("lblPort", comm, 240, 360, 975, 255);
    row("cboPort", comm, 1320, 360, 1815, 315);
    row("lblBaud", comm, 240, 720, 975, 255);
    row("txtBaud", comm, 1320, 720, 1815, 285);
    row("lblParity", comm, 240, 1080, 975, 255);
    row("cboParity", comm, 1320, 1080, 1815, 315);
    row("lblDataBits", comm, 240, 1440, 975, 255);
    row("txtDataBits", comm, 1320, 1440, 1815, 285);
    row("lblStopBits", comm, 240, 1800, 975, 255);
    row("txtStopBits", comm, 1320, 1800, 1815, 285);
    row("fraExtra", dialog, 3600, 120, 3495, 2295);
    row("lblDefType", extra, 240, 360, 1095, 255);
    row("cboDefType", extra, 1440, 360, 1815, 315);
    row("cmdOK", dialog, 4560, 2640, 1215, 375);
    row("cmdCancel", dialog, 5880, 2640, 1215, 375);
    row("txtTimeout", extra, 1440, 720, 1815, 285);
    row("lblTimeout", extra, 360, 720, 975, 255);
}

void TestOptions::layout()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, rect);
    AppSettings settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    dialog.show();
    comparePlacement(&dialog, name, parent, rect);
    QVERIFY(dialog.findChild<QWidget*>(name)->isVisible());
}

void TestOptions::clientSize()
{
    AppSettings settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    QCOMPARE(dialog.size(), QSize(twips(7215), twips(3135)));
    QCOMPARE(dialog.minimumSize(), dialog.size());
    QCOMPARE(dialog.maximumSize(), dialog.size());
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMinMaxButtonsHint));
    QVERIFY(dialog.isModal() || dialog.windowModality() == Qt::NonModal);
}

void TestOptions::captions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("buddy");
    auto row = [](const char* name, const char* caption, const char* buddy) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(caption)
                            << QString::fromLatin1(buddy);
    };
    row("fraComm", " &Comm Settings ", "");
    row("lblPort", "&Comm Port:", "cboPort");
    row("lblBaud", "&Baud Rate:", "txtBaud");
    row("lblParity", "&Parity:", "cboParity");
    row("lblDataBits", "&Data Bits:", "txtDataBits");
    row("lblStopBits", "&Stop Bits:", "txtStopBits");
    row("fraExtra", " &Extras ", "");
    row("lblDefType", "Default T&ype:", "cboDefType");
    row("cmdOK", "&OK", "");
    row("cmdCancel", "C&ancel", "");
    row("lblTimeout", "&Timeout:", "txtTimeout");
}

void TestOptions::captions()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, buddy);
    AppSettings settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    dialog.show();
    QWidget* control = dialog.findChild<QWidget*>(name);
    QVERIFY(control);
    QString text;
    QRect room;
    if (auto* label = qobject_cast<QLabel*>(control)) {
        text = label->text();
        room = label->contentsRect();
        QCOMPARE(label->buddy() ? label->buddy()->objectName() : QString(), buddy);
    } else if (auto* frame = qobject_cast<QGroupBox*>(control)) {
        text = frame->title();
        room = frame->rect().adjusted(8, 0, -8, 0);
    } else {
        auto* button = qobject_cast<QPushButton*>(control);
        QVERIFY(button);
        text = button->text();
        room = button->rect().adjusted(4, 0, -4, 0);
    }
    QCOMPARE(text, caption);
    // Whatever font stands in for the design's, the caption is not cut off.
    const QString shown = QString(text).remove(QLatin1Char('&'));
    QVERIFY2(control->fontMetrics().horizontalAdvance(shown) <= room.width(),
             qPrintable(QStringLiteral("%1: %2 > %3")
                            .arg(shown)
                            .arg(control->fontMetrics().horizontalAdvance(shown))
                            .arg(room.width())));
    QVERIFY(control->fontMetrics().height() <= room.height());
}

void TestOptions::tabOrder()
{
    AppSettings settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    activate(dialog);
    const QStringList expected = {QStringLiteral("cboPort"),     QStringLiteral("txtBaud"),
                                  QStringLiteral("cboParity"),   QStringLiteral("txtDataBits"),
                                  QStringLiteral("txtStopBits"), QStringLiteral("cboDefType"),
                                  QStringLiteral("cmdOK"),       QStringLiteral("cmdCancel"),
                                  QStringLiteral("txtTimeout"),  QStringLiteral("cboPort")};
    QCOMPARE(QApplication::focusWidget()->objectName(), expected.first());
    for (qsizetype i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), expected.at(i));
    }
    QVERIFY(dialog.isVisible());
    QCOMPARE(store.count(MemoryStore::SetValue), 0);
}

void TestOptions::labelAccessKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("target");
    QTest::newRow("Alt+B") << int(Qt::Key_B) << QStringLiteral("txtBaud");
    QTest::newRow("Alt+P") << int(Qt::Key_P) << QStringLiteral("cboParity");
    QTest::newRow("Alt+D") << int(Qt::Key_D) << QStringLiteral("txtDataBits");
    QTest::newRow("Alt+S") << int(Qt::Key_S) << QStringLiteral("txtStopBits");
    QTest::newRow("Alt+Y") << int(Qt::Key_Y) << QStringLiteral("cboDefType");
    QTest::newRow("Alt+T") << int(Qt::Key_T) << QStringLiteral("txtTimeout");
}

void TestOptions::labelAccessKeys()
{
    QFETCH(int, key);
    QFETCH(QString, target);
    AppSettings settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    activate(dialog);
    QTest::keyClick(&dialog, Qt::Key(key), Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget()->objectName(), target);
}

void TestOptions::filterTyping_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("start");
    QTest::addColumn<int>("caret");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("caretAfter");

    QTest::newRow("letter at the end") << QStringLiteral("txtBaud") << QStringLiteral("9600") << 4
                                       << QStringLiteral("a") << QStringLiteral("9600") << 4;
    QTest::newRow("96a00") << QStringLiteral("txtBaud") << QString() << 0 << QStringLiteral("96a00")
                           << QStringLiteral("9600") << 4;
    QTest::newRow("x between 1 and 2") << QStringLiteral("txtDataBits") << QStringLiteral("12") << 1
                                       << QStringLiteral("x") << QStringLiteral("12") << 2;
    QTest::newRow("minus in front") << QStringLiteral("txtStopBits") << QStringLiteral("12") << 0
                                    << QStringLiteral("-") << QStringLiteral("12") << 1;
    QTest::newRow("blanks and points") << QStringLiteral("txtTimeout") << QString() << 0
                                       << QStringLiteral("1 2.3") << QStringLiteral("123") << 3;
    QTest::newRow("digit typed in the middle")
        << QStringLiteral("txtTimeout") << QStringLiteral("10") << 1 << QStringLiteral("5")
        << QStringLiteral("150") << 2;
    QTest::newRow("other script's digit") << QStringLiteral("txtBaud") << QStringLiteral("12") << 2
                                          << QString(QChar(0x0663)) << QStringLiteral("12") << 2;
}

void TestOptions::filterTyping()
{
    QFETCH(QString, box);
    QFETCH(QString, start);
    QFETCH(int, caret);
    QFETCH(QString, typed);
    QFETCH(QString, text);
    QFETCH(int, caretAfter);
    AppSettings settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    dialog.show();
    auto* edit = dialog.findChild<QLineEdit*>(box);
    QVERIFY(edit);
    edit->setText(start);
    edit->setCursorPosition(caret);
    for (const QChar c : typed) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(edit, char(c.unicode()));
        } else {
            // A character no key of the test keyboard makes arrives as the key's text.
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
            QApplication::sendEvent(edit, &press);
        }
    }
    QCOMPARE(edit->text(), text);
    QCOMPARE(edit->cursorPosition(), caretAfter);
}

void TestOptions::filterPaste()
{
    AppSettings settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    dialog.show();
    auto* edit = child<QLineEdit>(dialog, "txtBaud");
    QApplication::clipboard()->setText(QStringLiteral("1,200"));
    if (QApplication::clipboard()->text() != QStringLiteral("1,200"))
        QSKIP("no clipboard on this platform");
    edit->selectAll();
    edit->paste();
    QCOMPARE(edit->text(), QStringLiteral("1200"));
    QCOMPARE(edit->cursorPosition(), 4);
    // A pasted text that is all digits stays as it came.
    edit->clear();
    QApplication::clipboard()->setText(QStringLiteral("4800"));
    edit->paste();
    QCOMPARE(edit->text(), QStringLiteral("4800"));
}

void TestOptions::negativeShownWithoutSign()
{
    AppSettings settings;
    settings.BaudRate = -9600;
    settings.DataBits = -7;
    settings.StopBits = -1;
    settings.Timeout = -5;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    dialog.show();
    QCOMPARE(child<QLineEdit>(dialog, "txtBaud")->text(), QStringLiteral("9600"));
    QCOMPARE(child<QLineEdit>(dialog, "txtDataBits")->text(), QStringLiteral("7"));
    QCOMPARE(child<QLineEdit>(dialog, "txtStopBits")->text(), QStringLiteral("1"));
    QCOMPARE(child<QLineEdit>(dialog, "txtTimeout")->text(), QStringLiteral("5"));
    QTest::mouseClick(child<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QCOMPARE(settings.BaudRate, qint16(9600));
    QCOMPARE(settings.DataBits, qint16(7));
    QCOMPARE(settings.StopBits, qint16(1));
    QCOMPARE(settings.Timeout, qint16(5));
    QCOMPARE(storedNumbers(store), widened(settings));
}

void TestOptions::emptiedBoxSavesZero()
{
    AppSettings settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    dialog.show();
    child<QLineEdit>(dialog, "txtTimeout")->selectAll();
    QTest::keyClick(child<QLineEdit>(dialog, "txtTimeout"), Qt::Key_Delete);
    QCOMPARE(child<QLineEdit>(dialog, "txtTimeout")->text(), QString());
    QTest::mouseClick(child<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QCOMPARE(settings.Timeout, qint16(0));
    QCOMPARE(storedNumbers(store).value(6, -1), 0);
    QVERIFY(!dialog.isVisible());
}

void TestOptions::okWritesAllSeven()
{
    AppSettings settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    // Values already there are written again, changed or not.
    store.putDword(settingsKeyPath(), QStringLiteral("Timeout"), 10);
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    dialog.show();
    QTest::mouseClick(child<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QCOMPARE(store.count(MemoryStore::SetValue), 7);
    QStringList names;
    for (const char* name : kValueNames)
        names.append(QString::fromLatin1(name));
    QCOMPARE(store.valueNames(settingsKeyPath()), names);
    QCOMPARE(storedNumbers(store), (QList<qint32>{9600, 1, 7, 1, 0, 1, 10}));
    QVERIFY(sameRecord(settings, AppSettings{}));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void TestOptions::okStoresEdits()
{
    AppSettings settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    dialog.show();
    child<QComboBox>(dialog, "cboPort")->setCurrentIndex(2);
    child<QLineEdit>(dialog, "txtBaud")->setText(QStringLiteral("4800"));
    child<QComboBox>(dialog, "cboParity")->setCurrentIndex(2);
    child<QLineEdit>(dialog, "txtDataBits")->setText(QStringLiteral("8"));
    child<QLineEdit>(dialog, "txtStopBits")->setText(QStringLiteral("2"));
    child<QComboBox>(dialog, "cboDefType")->setCurrentIndex(4);
    child<QLineEdit>(dialog, "txtTimeout")->setText(QStringLiteral("32767"));
    QTest::mouseClick(child<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QCOMPARE(widened(settings), (QList<qint32>{4800, 3, 8, 4, 2, 2, 32767}));
    QCOMPARE(storedNumbers(store), widened(settings));
}

void TestOptions::cancelLeavesEverything_data()
{
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Cancel") << false;
    QTest::newRow("close box") << true;
}

void TestOptions::cancelLeavesEverything()
{
    QFETCH(bool, closeBox);
    AppSettings settings;
    settings.BaudRate = 2400;
    const AppSettings before = settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    {
        frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
        dialog.show();
        child<QComboBox>(dialog, "cboPort")->setCurrentIndex(3);
        child<QLineEdit>(dialog, "txtBaud")->setText(QStringLiteral("1200"));
        child<QComboBox>(dialog, "cboParity")->setCurrentIndex(1);
        child<QLineEdit>(dialog, "txtTimeout")->setText(QStringLiteral("3"));
        if (closeBox)
            QVERIFY(dialog.close());
        else
            QTest::mouseClick(child<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
    QVERIFY(sameRecord(settings, before));
    QVERIFY(store.calls.isEmpty());
    frmOptions again(settings, store, boxes, settingsKeyPath(), nullptr);
    QCOMPARE(child<QLineEdit>(again, "txtBaud")->text(), QStringLiteral("2400"));
    QCOMPARE(child<QComboBox>(again, "cboPort")->currentIndex(), 0);
}

void TestOptions::enterAndEscapeDoNothing()
{
    AppSettings settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    activate(dialog);
    auto* ok = child<QPushButton>(dialog, "cmdOK");
    auto* cancel = child<QPushButton>(dialog, "cmdCancel");
    auto* baud = child<QLineEdit>(dialog, "txtBaud");
    for (QWidget* target :
         {static_cast<QWidget*>(ok), static_cast<QWidget*>(cancel), static_cast<QWidget*>(baud)}) {
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
        QTest::keyClick(target, Qt::Key_Escape);
    }
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    QVERIFY(store.calls.isEmpty());
}

void TestOptions::numberTooBig_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("baud 38400") << QStringLiteral("txtBaud") << QStringLiteral("38400") << false;
    QTest::newRow("time-out 40000")
        << QStringLiteral("txtTimeout") << QStringLiteral("40000") << false;
    QTest::newRow("stop bits 32768")
        << QStringLiteral("txtStopBits") << QStringLiteral("32768") << false;
    QTest::newRow("data bits, twenty digits")
        << QStringLiteral("txtDataBits") << QStringLiteral("99999999999999999999") << false;
    QTest::newRow("time-out 32767")
        << QStringLiteral("txtTimeout") << QStringLiteral("32767") << true;
    QTest::newRow("leading zeros")
        << QStringLiteral("txtBaud") << QStringLiteral("0000009600") << true;
}

void TestOptions::numberTooBig()
{
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    AppSettings settings;
    const AppSettings before = settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    activate(dialog);
    auto* edit = dialog.findChild<QLineEdit*>(box);
    edit->setText(text);
    child<QComboBox>(dialog, "cboParity")->setCurrentIndex(1);
    child<QComboBox>(dialog, "cboParity")->setFocus();
    QTest::mouseClick(child<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    if (accepted) {
        QVERIFY(!dialog.isVisible());
        QCOMPARE(store.count(MemoryStore::SetValue), 7);
        QCOMPARE(settings.Parity, qint16(1));
        return;
    }
    QVERIFY(dialog.isVisible());
    QCOMPARE(QApplication::focusWidget(), edit);
    QCOMPARE(edit->selectedText(), text);
    QVERIFY(sameRecord(settings, before));
    QVERIFY(store.calls.isEmpty());
}

void TestOptions::valueWithoutListEntry_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("defType");
    QTest::addColumn<int>("portIndex");
    QTest::addColumn<int>("parityIndex");
    QTest::addColumn<int>("defTypeIndex");
    QTest::newRow("port 5, parity 3") << 5 << 3 << 1 << -1 << -1 << 1;
    QTest::newRow("port 0, parity -1, method -1") << 0 << -1 << -1 << -1 << -1 << -1;
    QTest::newRow("port -2, method 5") << -2 << 2 << 5 << -1 << 2 << -1;
    QTest::newRow("all in range") << 4 << 2 << 4 << 3 << 2 << 4;
}

void TestOptions::valueWithoutListEntry()
{
    QFETCH(int, port);
    QFETCH(int, parity);
    QFETCH(int, defType);
    QFETCH(int, portIndex);
    QFETCH(int, parityIndex);
    QFETCH(int, defTypeIndex);
    AppSettings settings;
    settings.CommPort = qint16(port);
    settings.Parity = qint16(parity);
    settings.DefType = qint16(defType);
    const AppSettings before = settings;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    dialog.show();
    QCOMPARE(child<QComboBox>(dialog, "cboPort")->currentIndex(), portIndex);
    QCOMPARE(child<QComboBox>(dialog, "cboParity")->currentIndex(), parityIndex);
    QCOMPARE(child<QComboBox>(dialog, "cboDefType")->currentIndex(), defTypeIndex);
    QTest::mouseClick(child<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    QVERIFY(sameRecord(settings, before));
    QCOMPARE(storedNumbers(store), widened(before));
}

void TestOptions::okReportsLostSave_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QString>("reason"); // "": saved; %1 is the folder beside the file
    QTest::newRow("nothing") << QString() << QString();
    QTest::newRow("read-only folder") << "read-only folder"
                                      << "the folder %1 is read-only";
    QTest::newRow("read-only file") << "read-only file"
                                    << "the file is read-only";
    QTest::newRow("lock held") << "lock held"
                               << "another program has it locked";
    QTest::newRow("folder is a file") << "folder is a file" << qt_error_string(ENOTDIR);
    QTest::newRow("another user's folder")
        << "another user's folder"
        << "%1 belongs to uid 4321, not to you (root): not using it. Fix: sudo chown -R root '%1'";
    QTest::newRow("size bound") << "size bound"
                                << "it would grow past 1 MiB, the most this program reads back";
}

void TestOptions::okReportsLostSave()
{
    QFETCH(QString, obstacle);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder =
        dir.filePath(obstacle == QLatin1String("read-only folder") ? QStringLiteral("locked")
                                                                   : QStringLiteral("plain"));
    const QString path = folder + QStringLiteral("/quorvex-tarnavel/user.reg");
    QByteArray original = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quorvex\\Quorvex Tarnavel]\n"
                          "\"Timeout\"=dword:00000005\n";
    if (obstacle == QLatin1String("size bound"))
        original += ';' + QByteArray(int(RegFileStore::kMaxFileSize - original.size() - 50), 'x');
    if (obstacle == QLatin1String("read-only folder")) {
        QVERIFY(QDir().mkpath(folder) && ::chmod(QFile::encodeName(folder).constData(), 0500) == 0);
        original.clear();
        reason = reason.arg(folder);
    } else if (obstacle == QLatin1String("another user's folder")) {
        if (::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        const QString mine = QFileInfo(path).absolutePath();
        QVERIFY(QDir().mkpath(mine) && ::chown(QFile::encodeName(mine).constData(), 4321, 0) == 0);
        original.clear();
        reason = reason.arg(mine);
    } else if (obstacle == QLatin1String("folder is a file")) {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        original.clear();
    } else {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(original) == original.size());
    }
    if (obstacle == QLatin1String("read-only file"))
        QVERIFY(::chmod(QFile::encodeName(path).constData(), 0400) == 0);
    // Another program's lock, taken through an open file of its own.
    const int other = ::open(QFile::encodeName(path + QStringLiteral(".lock")).constData(),
                             O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (obstacle == QLatin1String("lock held"))
        QVERIFY(other >= 0 && ::flock(other, LOCK_EX) == 0);

    AppSettings settings;
    RegFileStore fileStore(path);
    fileStore.setLockTimeout(0);
    ScriptedMessageBox boxes;
    if (!reason.isEmpty())
        boxes.answer(mb::IDOK);
    {
        const PermissionsBind bind;
        if (!bind.binds())
            QSKIP("root here keeps the power to write past permissions");
        frmOptions dialog(settings, fileStore, boxes, settingsKeyPath(), nullptr);
        dialog.show();
        child<QLineEdit>(dialog, "txtTimeout")->setText(QStringLiteral("25"));
        QTest::mouseClick(child<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }
    if (other >= 0)
        ::close(other);

    // The window keeps the new value for this run whatever became of the save.
    QCOMPARE(settings.Timeout, qint16(25));
    AppSettings loaded;
    RegFileStore again(path);
    LoadSettings(loaded, again, settingsKeyPath());
    if (reason.isEmpty()) {
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(loaded.Timeout, qint16(25));
        return;
    }
    QCOMPARE(boxes.shown.size(), 1);
    const ScriptedMessageBox::Box& box = boxes.shown.first();
    QCOMPARE(box.text, QStringLiteral("The settings could not be saved to %1: %2. Only the new "
                                      "time-out is used, and only until the program closes; the "
                                      "port, line settings and default card method stay as they "
                                      "were.")
                           .arg(path, reason));
    QCOMPARE(box.title, QStringLiteral("Quorvex Tarnavel - ERROR"));
    QCOMPARE(box.buttons, mb::OK);
    QCOMPARE(box.icon, mb::Critical);
    QCOMPARE(readAll(path), original);
    QCOMPARE(loaded.Timeout, qint16(original.isEmpty() ? 10 : 5));
}

void TestOptions::screenshot()
{
    AppSettings settings;
    settings.DefType = 4;
    MemoryStore store;
    ScriptedMessageBox boxes;
    frmOptions dialog(settings, store, boxes, settingsKeyPath(), nullptr);
    dialog.show();
    const QPixmap picture = dialog.grab();
    QCOMPARE(picture.size(), QSize(twips(7215), twips(3135)));
    QVERIFY(picture.save(QCoreApplication::applicationDirPath() + QStringLiteral("/options.png")));
    // The open list shows the longest method name whole.
    auto* list = child<QComboBox>(dialog, "cboDefType");
    QVERIFY(list->view()->minimumWidth() >=
            list->fontMetrics().horizontalAdvance(list->currentText()));
}

QTEST_MAIN(TestOptions)
#include "test_options.moc"
