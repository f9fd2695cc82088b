#include "link/widgets/frmledtest.h"

#include "platform/widgets/fonts.h"

#include "link/lampcommand.h"
#include "link/protocol/commands.h"
#include "link/readerlink.h"
#include "platform/apperror.h"
#include "platform/messagebox.h"
#include "platform/twips.h"
#include "platform/version.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPointer>
#include <QPushButton>
#include <exception>

frmLEDTest::frmLEDTest(ReaderLink& link, IMessageBox& messages, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_link(link), m_messages(messages)
{
    setObjectName(QStringLiteral("frmLEDTest"));
    setFont(designFont(QStringLiteral("MS Sans Serif"), 8.25));
    setFixedSize(twips(3255), twips(2175));
    buildControls();
    Form_Load();
}

void frmLEDTest::buildControls()
{
    m_fraLEDTest = new QGroupBox(QStringLiteral(" &LED Test "), this);
    m_fraLEDTest->setObjectName(QStringLiteral("fraLEDTest"));
    m_fraLEDTest->setGeometry(twipsRect(120, 120, 3015, 1335));

    struct Lamp {
        int index;
        const char* caption;
        int left, top, width;
    };
    // On screen GREEN, YELLOW, RED; the index is the digit each sends.
    const Lamp lamps[] = {{1, "&GREEN", 120, 360, 855},
                          {3, "&YELLOW", 1080, 360, 855},
                          {2, "&RED", 2040, 360, 855},
                          {0, "&OFF", 120, 840, 2775}};
    for (const Lamp& lamp : lamps) {
        auto* button = new QPushButton(QString::fromLatin1(lamp.caption), m_fraLEDTest);
        button->setObjectName(QStringLiteral("chkButtons%1").arg(lamp.index));
        button->setGeometry(twipsRect(lamp.left, lamp.top, lamp.width, 375));
        button->setCheckable(true);
        button->setAutoDefault(false);
        button->setDefault(false);
        const int index = lamp.index;
        connect(button, &QPushButton::clicked, this, [this, index] { chkButtons_Click(index); });
        m_chkButtons[index] = button;
    }

    m_cmdClose = new QPushButton(QStringLiteral("&Close"), this);
    m_cmdClose->setObjectName(QStringLiteral("cmdClose"));
    m_cmdClose->setGeometry(twipsRect(1920, 1680, 1215, 375));
    m_cmdClose->setAutoDefault(false);
    m_cmdClose->setDefault(false);
    connect(m_cmdClose, &QPushButton::clicked, this, &frmLEDTest::cmdClose_Click);

    QWidget::setTabOrder(m_chkButtons[1], m_chkButtons[3]);
    QWidget::setTabOrder(m_chkButtons[3], m_chkButtons[2]);
    QWidget::setTabOrder(m_chkButtons[2], m_chkButtons[0]);
    QWidget::setTabOrder(m_chkButtons[0], m_cmdClose);
    m_chkButtons[1]->setFocus();
}

void frmLEDTest::Form_Load()
{
    setWindowTitle(appTitle() + QStringLiteral(" - LED Test"));
    setWindowIcon(QIcon(QStringLiteral(":/tarnavel.png")));
}

void frmLEDTest::chkButtons_Click(int index)
{
    if (index < 0 || index > 3)
        return;
    // OFF springs back up and puts every lamp out; a colour only puts OFF up.
    if (index == 0) {
        for (QPushButton* button : m_chkButtons)
            button->setChecked(false);
    } else {
        m_chkButtons[0]->setChecked(false);
    }

    // The wait runs the event loop: Close may end this dialog before the wait returns, so
    // nothing of the dialog is touched after a wait without checking it is still there.
    struct WaitCount {
        explicit WaitCount(frmLEDTest* dialog) : m_dialog(dialog) { ++dialog->m_waits; }
        ~WaitCount()
        {
            if (m_dialog)
                --m_dialog->m_waits;
        }
        QPointer<frmLEDTest> m_dialog;
    };
    QPointer<frmLEDTest> self(this);
    ReaderLink& link = m_link;
    try {
        {
            const WaitCount counting(this);
            sendLampCommand(link, index, [&self] { return self && !self->m_closed; });
        }
        if (!self)
            return;
        // The program is shutting down: this modal dialog must not hold it up.
        if (link.aborting() && !m_closed)
            reject();
    } catch (const AppError& error) {
        if (self)
            reportPortError(error.text());
    } catch (const std::exception& error) {
        if (self)
            reportPortError(QString::fromLocal8Bit(error.what()));
    }
}

void frmLEDTest::cmdClose_Click()
{
    try {
        m_link.SendData(QByteArray(1, cmd::CMD_RESET));
    } catch (const AppError& error) {
        reportPortError(error.text());
    } catch (const std::exception& error) {
        reportPortError(QString::fromLocal8Bit(error.what()));
    }
    // Nothing is awaited after the reset, and any lamp command still waiting stops now.
    m_link.endWait();
    done(QDialog::Accepted);
}

void frmLEDTest::done(int result)
{
    m_closed = true;
    QDialog::done(result);
}

void frmLEDTest::showEvent(QShowEvent* event)
{
    m_closed = false;
    QDialog::showEvent(event);
}

void frmLEDTest::reportPortError(const QString& text)
{
    // A vanished device is told once, by the main window's own box.
    if (m_link.portLost())
        return;
    m_messages.show(text, appTitle() + QStringLiteral(" - ERROR"), mb::OK, mb::Critical);
}

void frmLEDTest::keyPressEvent(QKeyEvent* event)
{
    // Escape does not close this dialog; only the Close button and the close box do.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmLEDTest::closeEvent(QCloseEvent* event)
{
    // The close box sends nothing, but a lamp command of this closed dialog must not go on
    // waiting (and later ask to try again).
    if (m_waits > 0)
        m_link.endWait();
    QDialog::closeEvent(event);
}

#include "moc_frmledtest.cpp"
