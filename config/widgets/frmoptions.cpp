#include "config/widgets/frmoptions.h"

#include "platform/widgets/fonts.h"

#include "config/appsettings.h"
#include "config/settingsio.h"
#include "platform/messagebox.h"
#include "platform/twips.h"
#include "platform/version.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <exception>

namespace {
// The value of a box's digits, or false when it does not fit a settings field.
bool boxNumber(const QString& text, qint16* value)
{
    int number = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            continue;
        number = number * 10 + (c.unicode() - '0');
        if (number > 32767)
            return false;
    }
    *value = qint16(number);
    return true;
}

// Selects index, or nothing when the list has no entry for it.
void selectEntry(QComboBox* list, int index)
{
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

// A list left without a selection keeps what the record held: nothing was chosen.
qint16 chosen(const QComboBox* list, int offset, qint16 unchanged)
{
    return list->currentIndex() < 0 ? unchanged : qint16(list->currentIndex() + offset);
}
} // namespace

frmOptions::frmOptions(AppSettings& settings, ISettingsStore& store, IMessageBox& messages,
                       const QString& keyPath, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_settings(settings), m_store(store), m_messages(messages), m_keyPath(keyPath)
{
    setObjectName(QStringLiteral("frmOptions"));
    setFont(designFont(QStringLiteral("MS Sans Serif"), 8.25));
    setFixedSize(twips(7215), twips(3135));
    buildControls();
    Form_Load();
}

void frmOptions::buildControls()
{
    auto frame = [this](const char* name, const QString& caption, int left, int top, int width,
                        int height) {
        auto* control = new QGroupBox(caption, this);
        control->setObjectName(QString::fromLatin1(name));
        control->setGeometry(twipsRect(left, top, width, height));
        return control;
    };
    auto label = [](QWidget* parent, const char* name, const QString& caption, int left, int top,
                    int width, int height) {
        auto* control = new QLabel(caption, parent);
        control->setObjectName(QString::fromLatin1(name));
        control->setGeometry(twipsRect(left, top, width, height));
        control->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return control;
    };
    auto list = [](QWidget* parent, const char* name, int left, int top, int width, int height) {
        auto* control = new QComboBox(parent);
        control->setObjectName(QString::fromLatin1(name));
        control->setEditable(false);
        control->setGeometry(twipsRect(left, top, width, height));
        return control;
    };
    auto box = [this](QWidget* parent, const char* name, int left, int top, int width, int height) {
        auto* control = new QLineEdit(parent);
        control->setObjectName(QString::fromLatin1(name));
        control->setGeometry(twipsRect(left, top, width, height));
        connect(control, &QLineEdit::textChanged, this, [this, control] { FilterDigits(control); });
        return control;
    };
    auto button = [this](const char* name, const QString& caption, int left, int top, int width,
                         int height) {
        auto* control = new QPushButton(caption, this);
        control->setObjectName(QString::fromLatin1(name));
        control->setGeometry(twipsRect(left, top, width, height));
        control->setAutoDefault(false);
        control->setDefault(false);
        return control;
    };

    m_fraComm = frame("fraComm", QStringLiteral(" &Comm Settings "), 120, 120, 3375, 2295);
    m_lblPort = label(m_fraComm, "lblPort", QStringLiteral("&Comm Port:"), 240, 360, 975, 255);
    m_cboPort = list(m_fraComm, "cboPort", 1320, 360, 1815, 315);
    m_lblBaud = label(m_fraComm, "lblBaud", QStringLiteral("&Baud Rate:"), 240, 720, 975, 255);
    m_txtBaud = box(m_fraComm, "txtBaud", 1320, 720, 1815, 285);
    m_lblParity = label(m_fraComm, "lblParity", QStringLiteral("&Parity:"), 240, 1080, 975, 255);
    m_cboParity = list(m_fraComm, "cboParity", 1320, 1080, 1815, 315);
    m_lblDataBits =
        label(m_fraComm, "lblDataBits", QStringLiteral("&Data Bits:"), 240, 1440, 975, 255);
    m_txtDataBits = box(m_fraComm, "txtDataBits", 1320, 1440, 1815, 285);
    m_lblStopBits =
        label(m_fraComm, "lblStopBits", QStringLiteral("&Stop Bits:"), 240, 1800, 975, 255);
    m_txtStopBits = box(m_fraComm, "txtStopBits", 1320, 1800, 1815, 285);

    m_fraExtra = frame("fraExtra", QStringLiteral(" &Extras "), 3600, 120, 3495, 2295);
    m_lblDefType =
        label(m_fraExtra, "lblDefType", QStringLiteral("Default T&ype:"), 240, 360, 1095, 255);
    m_cboDefType = list(m_fraExtra, "cboDefType", 1440, 360, 1815, 315);
    m_cmdOK = button("cmdOK", QStringLiteral("&OK"), 4560, 2640, 1215, 375);
    m_cmdCancel = button("cmdCancel", QStringLiteral("C&ancel"), 5880, 2640, 1215, 375);
    m_txtTimeout = box(m_fraExtra, "txtTimeout", 1440, 720, 1815, 285);
    m_lblTimeout = label(m_fraExtra, "lblTimeout", QStringLiteral("&Timeout:"), 360, 720, 975, 255);

    m_lblPort->setBuddy(m_cboPort);
    m_lblBaud->setBuddy(m_txtBaud);
    m_lblParity->setBuddy(m_cboParity);
    m_lblDataBits->setBuddy(m_txtDataBits);
    m_lblStopBits->setBuddy(m_txtStopBits);
    m_lblDefType->setBuddy(m_cboDefType);
    m_lblTimeout->setBuddy(m_txtTimeout);

    const QList<QWidget*> order = {m_cboPort,     m_txtBaud,     m_cboParity,
                                   m_txtDataBits, m_txtStopBits, m_cboDefType,
                                   m_cmdOK,       m_cmdCancel,   m_txtTimeout};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order.at(i - 1), order.at(i));
    m_cboPort->setFocus();

    connect(m_cmdOK, &QPushButton::clicked, this, &frmOptions::cmdOK_Click);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmOptions::cmdCancel_Click);
}

void frmOptions::Form_Load()
{
    setWindowTitle(QStringLiteral("Options..."));
    setWindowIcon(QIcon(QStringLiteral(":/tarnavel.png")));

    m_cboPort->clear();
    m_cboPort->addItems({QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                         QStringLiteral("COM4")});
    selectEntry(m_cboPort, m_settings.CommPort - 1);
    m_txtBaud->setText(QString::number(m_settings.BaudRate));
    m_cboParity->clear();
    m_cboParity->addItems({QStringLiteral("Even"), QStringLiteral("Odd"), QStringLiteral("None")});
    selectEntry(m_cboParity, m_settings.Parity);
    m_txtDataBits->setText(QString::number(m_settings.DataBits));
    m_txtStopBits->setText(QString::number(m_settings.StopBits));
    m_cboDefType->clear();
    m_cboDefType->addItems({QStringLiteral("ISO in Track 1"), QStringLiteral("ISO in Track 2"),
                            QStringLiteral("ISO in Track 3"), QStringLiteral("IBM 4700 on Track 2"),
                            QStringLiteral("Track 1 ISO in Track 3")});
    selectEntry(m_cboDefType, m_settings.DefType);
    // The open list shows its entries whole, however narrow the closed box is.
    m_cboDefType->view()->setMinimumWidth(m_cboDefType->view()->sizeHintForColumn(0) +
                                          2 * m_cboDefType->view()->frameWidth());
    m_txtTimeout->setText(QString::number(m_settings.Timeout));
}

void frmOptions::FilterDigits(QLineEdit* box)
{
    if (m_filtering)
        return;
    m_filtering = true;
    const QString text = box->text();
    QString digits;
    digits.reserve(text.size());
    for (const QChar c : text)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits.append(c);
    qsizetype caret = box->cursorPosition();
    if (text != digits)
        box->setText(digits);
    // The caret keeps its number, not its place among the characters.
    caret = qMin(caret, box->text().size());
    box->setCursorPosition(int(caret));
    m_filtering = false;
}

void frmOptions::cmdOK_Click()
{
    // A number a settings field cannot hold is not stored cut down: the operator corrects it.
    QLineEdit* const boxes[] = {m_txtBaud, m_txtDataBits, m_txtStopBits, m_txtTimeout};
    qint16 values[4] = {};
    for (int i = 0; i < 4; ++i) {
        if (!boxNumber(boxes[i]->text(), &values[i])) {
            boxes[i]->setFocus(Qt::OtherFocusReason);
            boxes[i]->selectAll();
            QApplication::beep();
            return;
        }
    }
    m_settings.BaudRate = values[0];
    m_settings.CommPort = chosen(m_cboPort, 1, m_settings.CommPort);
    m_settings.DataBits = values[1];
    m_settings.StopBits = values[2];
    m_settings.Parity = chosen(m_cboParity, 0, m_settings.Parity);
    m_settings.DefType = chosen(m_cboDefType, 0, m_settings.DefType);
    m_settings.Timeout = values[3];
    store::Failure failure;
    try {
        failure = SaveSettings(m_settings, m_store, m_keyPath);
    } catch (const std::exception& error) {
        failure = {store::Cause::Other, QString(), QString::fromLocal8Bit(error.what())};
    }
    // The record keeps the new values either way; the operator only has to know that they
    // last no longer than this run.
    if (failure.cause != store::Cause::None)
        m_messages.show(saveFailureText(failure), appTitle() + QStringLiteral(" - ERROR"), mb::OK,
                        mb::Critical);
    accept();
}

void frmOptions::cmdCancel_Click()
{
    reject();
}

void frmOptions::keyPressEvent(QKeyEvent* event)
{
    // Escape does not cancel this dialog; only the Cancel button and the close box do.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

#include "moc_frmoptions.cpp"
