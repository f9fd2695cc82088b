#pragma once

#include <QDialog>

class IMessageBox;
class ReaderLink;
class QCloseEvent;
class QGroupBox;
class QKeyEvent;
class QShowEvent;
class QPushButton;

// The LED test dialog: switches the reader's lamps. Modal, made afresh for every opening.
class frmLEDTest : public QDialog
{
    Q_OBJECT
public:
    // messages: where a port failure is reported (the main window's boxes).
    frmLEDTest(ReaderLink& link, IMessageBox& messages, QWidget* parent);

    void chkButtons_Click(int index);
    void cmdClose_Click();

    QPushButton* chkButtons(int index) const { return m_chkButtons[index]; }

    void done(int result) override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void Form_Load();
    void reportPortError(const QString& text);

    ReaderLink& m_link;
    IMessageBox& m_messages;
    int m_waits = 0; // lamp commands of this dialog waiting for their reply
    bool m_closed = false;

    QGroupBox* m_fraLEDTest = nullptr;
    QPushButton* m_chkButtons[4] = {};
    QPushButton* m_cmdClose = nullptr;
};
