#include "shell/frmmain.h"

#include "cards/cardmethods.h"
#include "cards/cardoperations.h"
#include "cards/databox.h"
#include "cards/widgets/frmstatus.h"
#include "config/settingsio.h"
#include "config/widgets/frmoptions.h"
#include "link/widgets/frmledtest.h"
#include "platform/apperror.h"
#include "platform/messagebox.h"
#include "platform/serialport.h"
#include "platform/twips.h"
#include "platform/version.h"
#include "platform/widgets/fonts.h"
#include "shell/commandline.h"
#include "shell/frmabout.h"
#include "shell/helptextbox.h"
#include "shell/trackdataedit.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLayout>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

class DataBoxAdapter : public IDataBox
{
public:
    explicit DataBoxAdapter(TrackDataEdit* edit) : m_edit(edit) {}
    QString text() const override { return m_edit->text(); }
    void setText(const QString& text) override { m_edit->putText(text); }

private:
    TrackDataEdit* m_edit;
};

QString InitGlobals(AppSettings& settings, ReaderLink& link)
{
    settings = AppSettings{};
    link.setDemoMode(false);
    return settingsKeyPath();
}

namespace {
QPushButton* makeButton(const QString& caption, const QString& name, QWidget* parent,
                        const QRect& rect)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(rect);
    button->setAutoDefault(false);
    return button;
}

QGroupBox* makeFrame(const QString& caption, const QString& name, QWidget* parent,
                     const QRect& rect)
{
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(name);
    frame->setGeometry(rect);
    return frame;
}
} // namespace

frmMain::frmMain(const MainServices& services, const QString& commandLine, QWidget* parent)
    : QMainWindow(parent), m_port(services.port), m_messages(services.messages),
      m_store(services.store), m_shell(services.shell), m_commandLine(commandLine),
      m_link(services.port, services.clock, services.messages, services.pump, m_settings),
      m_driver(m_link, ReaderLink::kPollIntervalMs)
{
    setObjectName(QStringLiteral("frmMain"));
    if (m_port.objectName().isEmpty())
        m_port.setObjectName(QStringLiteral("MSComm1"));
    setWindowIcon(QIcon(QStringLiteral(":/tarnavel.png")));
    setFont(designFont(QStringLiteral("MS Sans Serif"), 8.25));
    m_driver.poll().setParent(this);
    m_driver.poll().setObjectName(QStringLiteral("tmrCheckComms"));
    connect(&m_link, &ReaderLink::lost, this, &frmMain::onPortLost);
    // Fixed single border, no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    buildControls();
    buildMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_dataBox = std::make_unique<DataBoxAdapter>(m_txtData);
}

frmMain::~frmMain()
{
    Form_Unload();
}

frmAbout* frmMain::aboutBox() const
{
    return m_about;
}

void frmMain::buildControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    client->setFixedSize(twips(7710), twips(3990));
    setCentralWidget(client);

    m_picMain = new QWidget(client);
    m_picMain->setObjectName(QStringLiteral("picMain"));
    m_picMain->setGeometry(twipsRect(0, 0, 7695, 3375));

    m_fraMethod = makeFrame(QStringLiteral(" &Card Method "), QStringLiteral("fraMethod"),
                            m_picMain, twipsRect(120, 120, 2295, 2175));
    m_methodGroup = new QButtonGroup(this);
    for (const CardMethodId method : CardMethodId::all()) {
        const int i = method.index();
        auto* option = new QRadioButton(QString::fromLatin1(method.row().caption), m_fraMethod);
        option->setObjectName(QStringLiteral("optMethod%1").arg(i));
        option->setGeometry(twipsRect(120, 360 + 360 * i, 2055, 255));
        m_methodGroup->addButton(option, i);
        m_optMethod[i] = option;
    }
    connect(m_methodGroup, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            runHandler([this, id] { optMethod_Click(id); });
    });

    auto* fraOperation = makeFrame(QStringLiteral(" &Operation "), QStringLiteral("fraOperation"),
                                   m_picMain, twipsRect(2520, 120, 1455, 2175));
    m_cmdRead = makeButton(QStringLiteral("&Read"), QStringLiteral("cmdRead"), fraOperation,
                           twipsRect(120, 360, 1215, 375));
    m_cmdWrite = makeButton(QStringLiteral("&Write"), QStringLiteral("cmdWrite"), fraOperation,
                            twipsRect(120, 840, 1215, 375));
    m_cmdReset = makeButton(QStringLiteral("&Reset"), QStringLiteral("cmdReset"), fraOperation,
                            twipsRect(120, 1680, 1215, 375));
    connect(m_cmdRead, &QPushButton::clicked, this,
            [this] { runHandler([this] { cmdRead_Click(); }); });
    connect(m_cmdWrite, &QPushButton::clicked, this,
            [this] { runHandler([this] { cmdWrite_Click(); }); });
    connect(m_cmdReset, &QPushButton::clicked, this,
            [this] { runHandler([this] { cmdReset_Click(); }); });

    auto* fraHelp = makeFrame(QStringLiteral(" &Help "), QStringLiteral("fraHelp"), m_picMain,
                              twipsRect(4080, 120, 3495, 2175));
    auto* help = new HelpTextBox(fraHelp);
    help->setObjectName(QStringLiteral("txtHelp"));
    help->setGeometry(twipsRect(120, 360, 3255, 1695));
    help->setFont(designFont(QStringLiteral("Courier New"), 8.25));
    QPalette helpPalette = help->palette();
    helpPalette.setColor(QPalette::Base, helpPalette.color(QPalette::Button));
    help->setPalette(helpPalette);
    m_txtHelp = help;

    auto* fraData = makeFrame(QStringLiteral(" &Data "), QStringLiteral("fraData"), m_picMain,
                              twipsRect(120, 2400, 7455, 855));
    m_txtData = new TrackDataEdit(fraData);
    m_txtData->setObjectName(QStringLiteral("txtData"));
    m_txtData->setGeometry(twipsRect(120, 360, 7215, 285));
    m_txtData->setFont(designFont(QStringLiteral("Courier New"), 8.25));

    m_cmdClose = makeButton(QStringLiteral("C&lose"), QStringLiteral("cmdClose"), client,
                            twipsRect(6360, 3480, 1215, 375));
    connect(m_cmdClose, &QPushButton::clicked, this, &QWidget::close);

    // At design time the offline panel lies elsewhere; start-up moves it over picMain.
    m_picError = new QWidget(client);
    m_picError->setObjectName(QStringLiteral("picError"));
    m_picError->setGeometry(twipsRect(0, 3480, 7695, 3375));
    m_cmdConnect =
        makeButton(QStringLiteral("&Connect to Card Reader/Writer"), QStringLiteral("cmdConnect"),
                   m_picError, twipsRect(2235, 1628, 3000, 735));
    connect(m_cmdConnect, &QPushButton::clicked, this,
            [this] { runHandler([this] { cmdConnect_Click(); }); });

    // Tab order: the panels' controls in design order, then Close, then the offline panel.
    QWidget* order[] = {m_optMethod[0], m_optMethod[1], m_optMethod[2], m_optMethod[3],
                        m_optMethod[4], m_cmdRead,      m_cmdWrite,     m_cmdReset,
                        m_txtHelp,      m_txtData,      m_cmdClose,     m_cmdConnect};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        QWidget::setTabOrder(order[i], order[i + 1]);
}

void frmMain::buildMenus()
{
    struct Entry {
        const char* top;
        const char* topName;
        const char* item;
        const char* itemName;
        QKeySequence shortcut;
    };
    const Entry entries[] = {
        {"&File", "mnuMain0", "E&xit", "mnuFile0", {}},
        {"&Settings", "mnuMain1", "&Options...", "mnuSettings0",
         QKeySequence(Qt::CTRL | Qt::Key_O)},
        {"&Tools", "mnuMain2", "LED &Test...", "mnuTools0", QKeySequence(Qt::CTRL | Qt::Key_T)},
        {"&Help", "mnuMain3", "&About...", "mnuHelp0", QKeySequence(Qt::Key_F1)},
    };
    QAction* actions[4] = {};
    for (int i = 0; i < 4; ++i) {
        QMenu* menu = menuBar()->addMenu(QString::fromLatin1(entries[i].top));
        menu->setObjectName(QString::fromLatin1(entries[i].topName));
        QAction* action = menu->addAction(QString::fromLatin1(entries[i].item));
        action->setObjectName(QString::fromLatin1(entries[i].itemName));
        if (!entries[i].shortcut.isEmpty())
            action->setShortcut(entries[i].shortcut);
        actions[i] = action;
    }
    m_mnuFile0 = actions[0];
    m_mnuSettings0 = actions[1];
    m_mnuTools0 = actions[2];
    m_mnuHelp0 = actions[3];
    connect(m_mnuFile0, &QAction::triggered, this, &QWidget::close);
    connect(m_mnuSettings0, &QAction::triggered, this,
            [this] { runHandler([this] { mnuSettings_Click(0); }); });
    connect(m_mnuTools0, &QAction::triggered, this,
            [this] { runHandler([this] { mnuTools_Click(0); }); });
    connect(m_mnuHelp0, &QAction::triggered, this,
            [this] { runHandler([this] { mnuHelp_Click(0); }); });
}

void frmMain::showError(const QString& text, bool retry, int* answer)
{
    const int pressed = m_messages.show(text, appTitle() + QStringLiteral(" - ERROR"),
                                        retry ? mb::RetryCancel : mb::OK, mb::Critical);
    if (answer)
        *answer = pressed;
}

void frmMain::Form_Load()
{
    m_startingUp = true;
    setWindowTitle(appTitle());
    m_picError->setGeometry(m_picMain->geometry());
    m_picMain->setAutoFillBackground(false);
    m_picError->setAutoFillBackground(false);
    m_picMain->hide();
    m_picError->show();
    m_mnuTools0->setEnabled(false);
    m_mnuFile0->setText(m_mnuFile0->text() + QStringLiteral("\tAlt+F4"));
    m_txtData->clear();
    m_keyPath = InitGlobals(m_settings, m_link);
    if (isDemoSwitch(m_commandLine))
        m_link.setDemoMode(true);
    LoadSettings(m_settings, m_store, m_keyPath);
    m_status = new frmStatus(this);
    m_status->hide();
    m_operations = std::make_unique<CardOperations>(m_link, *m_status, m_messages, *m_dataBox);

    // Steps outside the retry prompt: a port that rejects its number or line settings is
    // reported once and the program stays offline.
    try {
        configurePort();
    } catch (const AppError& error) {
        showCentred();
        showError(error.text(), false);
        UpdateStatus();
        m_cmdConnect->setFocus();
        return;
    }

    int step = 15;
    bool reopen = false;
    while (step <= 23) {
        try {
            // A port that lost its device after it was opened is opened again before the
            // failed step is repeated, so a replugged reader can answer.
            if (reopen)
                openPort();
            reopen = false;
            runStartupStep(step);
            // Steps 15 to 18 are the one port-opening path Retry and Connect share.
            step = step == 15 ? 19 : step + 1;
        } catch (const AppError& error) {
            // A port error here already says that the device disappeared: one box is enough.
            if (m_link.portLost())
                m_lossTold = true;
            int answer = mb::IDCANCEL;
            showError(error.text(), true, &answer);
            if (answer != mb::IDRETRY) {
                UpdateStatus();
                break;
            }
            reopen = step > 15 && !m_port.portOpen();
        }
    }
    showCentred();
    m_startingUp = false;
    showLossWhenIdle();
    // The window was closed while the start-up check waited: carry the close out now.
    if (m_closePending)
        QTimer::singleShot(0, this, &QWidget::close);
}

void frmMain::showCentred()
{
    if (isVisible())
        return;
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
}

void frmMain::configurePort()
{
    m_driver.configure(m_settings.CommPort, lineSettingsText(m_settings));
}

void frmMain::openPort()
{
    m_driver.open();
    m_lossNoticed = false;
    m_lossTold = false;
}

void frmMain::runStartupStep(int step)
{
    switch (step) {
    case 15:
        openPort();
        break;
    case 19:
        showCentred();
        break;
    case 20:
        TryToConnect();
        break;
    case 21:
        UpdateStatus();
        break;
    case 22: {
        const int method = m_settings.DefType;
        if (method < 0 || method > 4)
            throw AppError(340,
                           QStringLiteral("Control array element '%1' doesn't exist").arg(method));
        if (m_optMethod[method]->isChecked())
            optMethod_Click(method);
        else
            m_optMethod[method]->setChecked(true);
        break;
    }
    case 23: {
        if (m_picMain->isVisibleTo(this)) {
            QRadioButton* target = m_optMethod[qBound(0, int(m_settings.DefType), 4)];
            // A default method the reader cannot serve stays selected, but the focus goes to
            // the first option that can be used.
            if (!target->isEnabled()) {
                target = nullptr;
                for (QRadioButton* option : m_optMethod)
                    if (option->isEnabled() && !target)
                        target = option;
            }
            if (target)
                target->setFocus();
        } else {
            m_cmdConnect->setFocus();
        }
        break;
    }
    default:
        break;
    }
}

void frmMain::TryToConnect()
{
    setEnabled(false);
    m_status->ShowStatusWindow(QStringLiteral("Connecting to Card Reader on COM") +
                                   QString::number(m_settings.CommPort),
                               false);
    bool replied = false;
    try {
        replied = m_link.GetReaderType();
    } catch (...) {
        // A port error goes on to the caller's prompt; the window must not stay disabled.
        m_status->HideStatusWindow();
        setEnabled(true);
        throw;
    }
    m_status->HideStatusWindow();
    if (replied) {
        m_linkUp = true;
        m_mnuTools0->setEnabled(true);
        m_picMain->show();
        m_picError->hide();
    } else {
        // A vanished device has its own box; the version error would only repeat it.
        if (!m_link.aborting() && !m_link.portLost())
            m_messages.show(
                QStringLiteral("Error retrieving BT905 Version.\r\n\r\n"
                               "Check your communications configuration and try again."),
                QStringLiteral("ERROR: Retrieval of BT905 Version"), mb::OK, mb::Critical);
        m_linkUp = false;
        m_picError->show();
        m_picMain->hide();
        m_mnuTools0->setEnabled(false);
    }
    setEnabled(true);
    activateWindow();
}

void frmMain::UpdateStatus()
{
    setWindowTitle(appTitle() +
                   (m_linkUp ? QStringLiteral(": Online") : QStringLiteral(": Offline")));
    for (const CardMethodId method : unsupportedMethods(m_link.ReaderType()))
        m_optMethod[method.index()]->setEnabled(false);
}

void frmMain::cmdConnect_Click()
{
    // After a cancelled start-up the port is closed: open it with the settings start-up
    // gave it before asking the reader.
    if (!m_port.portOpen()) {
        try {
            if (!m_driver.configured())
                configurePort();
            openPort();
        } catch (const AppError& error) {
            showError(error.text(), false);
            UpdateStatus();
            return;
        }
    }
    TryToConnect();
    UpdateStatus();
}

void frmMain::onPortLost()
{
    if (m_lossNoticed || m_unloaded)
        return;
    m_lossNoticed = true;
    // The same offline state a failed connection check leaves.
    m_linkUp = false;
    m_picError->show();
    m_picMain->hide();
    m_mnuTools0->setEnabled(false);
    UpdateStatus();
    m_cmdConnect->setFocus();
    // The lamps cannot be tested without a reader; its wait (if any) has ended already.
    if (m_ledTest)
        m_ledTest->reject();
    showLossWhenIdle();
}

void frmMain::showLossWhenIdle()
{
    // Shown once the handler or start-up in hand has unwound: its waits end at once and its
    // own boxes stay away, so this is the only one.
    if (!m_lossNoticed || m_lossTold || m_handlerDepth > 0 || m_startingUp ||
        m_link.waitDepth() > 0 || m_link.aborting() || m_unloaded)
        return;
    m_lossTold = true;
    showError(m_link.lossDescription() +
                  QStringLiteral("\r\n\r\nCheck the cable. When the reader is back, press "
                                 "\"Connect to Card Reader/Writer\"."),
              false);
    if (!m_linkUp)
        m_cmdConnect->setFocus();
}

void frmMain::optMethod_Click(int index)
{
    m_cardMethod = qint16(index);
    const std::optional<CardMethodId> method = CardMethodId::fromIndex(index);
    if (!method)
        return;
    m_txtData->setLengthLimit(method->row().lengthLimit);
    SetHelpText(helpText(*method));
}

void frmMain::SetHelpText(const QString& text)
{
    m_txtHelp->setText(text);
}

void frmMain::cmdRead_Click()
{
    m_operations->cmdRead_Click(m_cardMethod);
}

void frmMain::cmdWrite_Click()
{
    m_operations->cmdWrite_Click(m_cardMethod);
}

void frmMain::cmdReset_Click()
{
    m_operations->cmdReset_Click();
}

void frmMain::mnuSettings_Click(int index)
{
    if (index != 0)
        return;
    frmOptions dialog(m_settings, m_store, m_messages, m_keyPath, this);
    dialog.exec();
}

void frmMain::mnuTools_Click(int index)
{
    if (index != 0)
        return;
    frmLEDTest dialog(m_link, m_messages, this);
    m_ledTest = &dialog;
    dialog.exec();
}

void frmMain::mnuHelp_Click(int index)
{
    if (index != 0)
        return;
    if (!m_about)
        m_about = new frmAbout(m_shell, m_store, m_messages, this);
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void frmMain::runHandler(const std::function<void()>& handler)
{
    ++m_handlerDepth;
    try {
        handler();
    } catch (const AppError& error) {
        if (!m_link.aborting() && !m_link.portLost())
            showError(error.text(), false);
    } catch (const std::exception& error) {
        if (!m_link.aborting())
            showError(QString::fromLocal8Bit(error.what()), false);
    }
    --m_handlerDepth;
    showLossWhenIdle();
    if (m_handlerDepth == 0 && m_closePending)
        QTimer::singleShot(0, this, &QWidget::close);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    // Closing inside a reply wait: end the waits, let their handlers unwind, then close.
    if (m_handlerDepth > 0 || m_link.waitDepth() > 0) {
        m_link.abortWaits();
        m_closePending = true;
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_driver.close();
    if (m_about)
        m_about->close();
    // The operations hold a reference to the status window: they go first.
    m_operations.reset();
    delete m_status;
    m_status = nullptr;
}

#include "moc_frmmain.cpp"
