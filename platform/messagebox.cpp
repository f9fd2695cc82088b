#include "platform/messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

int QtMessageBox::show(const QString& text, const QString& title, mb::Buttons buttons,
                       mb::Icon icon, int defaultResult)
{
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    QMessageBox box(parent);
    box.setObjectName(QStringLiteral("messageBox"));
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
    case mb::Critical: box.setIcon(QMessageBox::Critical); break;
    case mb::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case mb::Information: box.setIcon(QMessageBox::Information); break;
    case mb::NoIcon: box.setIcon(QMessageBox::NoIcon); break;
    }
    struct Choice { QMessageBox::StandardButton button; int result; };
    QList<Choice> choices;
    switch (buttons) {
    case mb::OK: choices = {{QMessageBox::Ok, mb::IDOK}}; break;
    case mb::OKCancel: choices = {{QMessageBox::Ok, mb::IDOK}, {QMessageBox::Cancel, mb::IDCANCEL}}; break;
    case mb::YesNo: choices = {{QMessageBox::Yes, mb::IDYES}, {QMessageBox::No, mb::IDNO}}; break;
    case mb::RetryCancel: choices = {{QMessageBox::Retry, mb::IDRETRY}, {QMessageBox::Cancel, mb::IDCANCEL}}; break;
    }
    QMessageBox::StandardButtons set;
    for (const Choice& c : choices)
        set |= c.button;
    box.setStandardButtons(set);
    QMessageBox::StandardButton def = choices.first().button;
    for (const Choice& c : choices)
        if (c.result == defaultResult)
            def = c.button;
    box.setDefaultButton(def);
    // A Yes/No box has no cancel button; closing it must not be taken as Yes.
    if (buttons == mb::YesNo)
        box.setEscapeButton(QMessageBox::No);
    const int pressed = box.exec();
    for (const Choice& c : choices)
        if (c.button == pressed)
            return c.result;
    return buttons == mb::YesNo ? int(mb::IDNO) : (buttons == mb::OK ? int(mb::IDOK) : int(mb::IDCANCEL));
}
