#pragma once

#include <QDialog>
#include <QString>

struct AppSettings;
class IMessageBox;
class ISettingsStore;
class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;

// The Options dialog: edits the seven settings and saves them on OK. Modal, made afresh for
// every opening. A save the store did not keep is the one failure it reports: the operator
// would otherwise find the new settings gone at the next start.
class frmOptions : public QDialog
{
    Q_OBJECT
public:
    frmOptions(AppSettings& settings, ISettingsStore& store, IMessageBox& messages,
               const QString& keyPath, QWidget* parent);

    void cmdOK_Click();
    void cmdCancel_Click();
    // Keeps only the digits 0 to 9 in the box, the caret at the same position.
    void FilterDigits(QLineEdit* box);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void Form_Load();

    AppSettings& m_settings;
    ISettingsStore& m_store;
    IMessageBox& m_messages;
    QString m_keyPath;
    bool m_filtering = false;

    QGroupBox* m_fraComm = nullptr;
    QLabel* m_lblPort = nullptr;
    QComboBox* m_cboPort = nullptr;
    QLabel* m_lblBaud = nullptr;
    QLineEdit* m_txtBaud = nullptr;
    QLabel* m_lblParity = nullptr;
    QComboBox* m_cboParity = nullptr;
    QLabel* m_lblDataBits = nullptr;
    QLineEdit* m_txtDataBits = nullptr;
    QLabel* m_lblStopBits = nullptr;
    QLineEdit* m_txtStopBits = nullptr;
    QGroupBox* m_fraExtra = nullptr;
    QLabel* m_lblDefType = nullptr;
    QComboBox* m_cboDefType = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdCancel = nullptr;
    QLineEdit* m_txtTimeout = nullptr;
    QLabel* m_lblTimeout = nullptr;
};
