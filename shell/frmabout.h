#pragma once

#include "platform/version.h"

#include <QDialog>

class IMessageBox;
class IShell;
class ISettingsStore;
class QLabel;
class QPushButton;

// The About box: modeless, one at a time (the main window keeps it), deleted when closed.
class frmAbout : public QDialog
{
    Q_OBJECT
public:
    frmAbout(IShell& shell, ISettingsStore& store, IMessageBox& messages, QWidget* parent,
             const VersionInfo& info = appVersionInfo());

    static constexpr const char* WEB_ADDRESS = "http://www.quorvex.example";

    void cmdOK_Click();
    void cmdSysInfo_Click();
    void lblQuorvex_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void Form_Load();

    IShell& m_shell;
    ISettingsStore& m_store;
    IMessageBox& m_messages;
    VersionInfo m_info;

    QLabel* m_picIcon = nullptr;
    QLabel* m_lblTitle = nullptr;
    QLabel* m_lblVersion = nullptr;
    QLabel* m_lblCopyright = nullptr;
    QLabel* m_lblDescription = nullptr;
    QLabel* m_picQuorvex = nullptr;
    QLabel* m_lblQuorvex = nullptr;
    QLabel* m_lblComments = nullptr;
    QWidget* m_line10 = nullptr;
    QWidget* m_line11 = nullptr;
    QLabel* m_lblDisclaimer = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdSysInfo = nullptr;
};
