#pragma once

#include "config/appsettings.h"
#include "link/linkdriver.h"
#include "link/protocol/cardmethod.h"
#include "link/readerlink.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

class ISerialPort;
class IClock;
class IMessageBox;
class IEventPump;
class ISettingsStore;
class IShell;
class QAction;
class QGroupBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QButtonGroup;
class CardOperations;
class frmStatus;
class frmAbout;
class frmLEDTest;
class DataBoxAdapter;
class TrackDataEdit;
class HelpTextBox;

// What the main window works with; main() passes the real ones, tests their doubles.
struct MainServices {
    ISerialPort& port;
    IClock& clock;
    IMessageBox& messages;
    IEventPump& pump;
    ISettingsStore& store; // the per-user store; its machine root serves the About box
    IShell& shell;
};

// Start-up initialisation: default settings, the settings key path, demonstration mode off.
// Returns the key path "Software\Quorvex\Quorvex Tarnavel\".
QString InitGlobals(AppSettings& settings, ReaderLink& link);

class frmMain : public QMainWindow
{
    Q_OBJECT
public:
    // commandLine: the text after the program's name (Qt's own arguments already removed).
    frmMain(const MainServices& services, const QString& commandLine, QWidget* parent = nullptr);
    ~frmMain() override;

    // The start-up sequence; shows the window.
    void Form_Load();

    // Link status.
    void TryToConnect();
    void UpdateStatus();
    void SetHelpText(const QString& text);

    void cmdConnect_Click();
    void cmdRead_Click();
    void cmdWrite_Click();
    void cmdReset_Click();
    void optMethod_Click(int index);
    void mnuSettings_Click(int index);
    void mnuTools_Click(int index);
    void mnuHelp_Click(int index);

    ReaderLink& link() { return m_link; }
    AppSettings& settings() { return m_settings; }
    bool LinkUp() const { return m_linkUp; }
    qint16 CardMethod() const { return m_cardMethod; }
    frmStatus* statusWindow() const { return m_status; }
    frmAbout* aboutBox() const;
    QString settingsKey() const { return m_keyPath; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    void runStartupStep(int step);
    void showCentred();
    void openPort();
    void configurePort();
    void showError(const QString& text, bool retry, int* answer = nullptr);
    // Runs an event handler: no error escapes into the event loop, and a close asked for
    // while a reply wait was running is carried out once the handlers have unwound.
    void runHandler(const std::function<void()>& handler);
    void Form_Unload();
    // The port lost its device: go offline and tell the operator once.
    void onPortLost();
    void showLossWhenIdle();

    ISerialPort& m_port;
    IMessageBox& m_messages;
    ISettingsStore& m_store;
    IShell& m_shell;
    QString m_commandLine;

    AppSettings m_settings;
    ReaderLink m_link;
    QString m_keyPath;
    bool m_linkUp = false;
    qint16 m_cardMethod = 0;
    // The port and the 200 ms poll tmrCheckComms.
    LinkDriver m_driver;
    frmStatus* m_status = nullptr;
    std::unique_ptr<DataBoxAdapter> m_dataBox;
    std::unique_ptr<CardOperations> m_operations;
    QPointer<frmAbout> m_about;
    QPointer<frmLEDTest> m_ledTest;

    int m_handlerDepth = 0;
    bool m_closePending = false;
    bool m_unloaded = false;
    bool m_startingUp = false;
    // A loss of the port's device: noticed (the window went offline), and told (by its own
    // box or a start-up prompt that named it). Both last until the port is opened again.
    bool m_lossNoticed = false;
    bool m_lossTold = false;

    QWidget* m_picMain = nullptr;
    QWidget* m_picError = nullptr;
    QGroupBox* m_fraMethod = nullptr;
    QRadioButton* m_optMethod[CARD_METHOD_COUNT] = {};
    QButtonGroup* m_methodGroup = nullptr;
    QPushButton* m_cmdRead = nullptr;
    QPushButton* m_cmdWrite = nullptr;
    QPushButton* m_cmdReset = nullptr;
    HelpTextBox* m_txtHelp = nullptr;
    TrackDataEdit* m_txtData = nullptr;
    QPushButton* m_cmdClose = nullptr;
    QPushButton* m_cmdConnect = nullptr;
    QAction* m_mnuFile0 = nullptr;
    QAction* m_mnuSettings0 = nullptr;
    QAction* m_mnuTools0 = nullptr;
    QAction* m_mnuHelp0 = nullptr;
};
