#include "platform/widgets/qtmessagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <memory>

namespace {
struct Choice {
    QMessageBox::StandardButton button;
    int result;
};

QList<Choice> choicesOf(mb::Buttons buttons)
{
    switch (buttons) {
    case mb::OK:
        return {{QMessageBox::Ok, mb::IDOK}};
    case mb::OKCancel:
        return {{QMessageBox::Ok, mb::IDOK}, {QMessageBox::Cancel, mb::IDCANCEL}};
    case mb::YesNo:
        return {{QMessageBox::Yes, mb::IDYES}, {QMessageBox::No, mb::IDNO}};
    case mb::RetryCancel:
        return {{QMessageBox::Retry, mb::IDRETRY}, {QMessageBox::Cancel, mb::IDCANCEL}};
    }
    return {{QMessageBox::Ok, mb::IDOK}};
}
} // namespace

QMessageBox* QtMessageBox::build(const QString& text, const QString& title, mb::Buttons buttons,
                                 mb::Icon icon, int defaultResult, QWidget* parent)
{
    auto* box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("messageBox"));
    box->setWindowTitle(title);
    // A port path or link target may hold tag-like text: never let Qt guess rich text.
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    switch (icon) {
    case mb::Critical:
        box->setIcon(QMessageBox::Critical);
        break;
    case mb::Exclamation:
        box->setIcon(QMessageBox::Warning);
        break;
    case mb::Information:
        box->setIcon(QMessageBox::Information);
        break;
    case mb::NoIcon:
        box->setIcon(QMessageBox::NoIcon);
        break;
    }
    const QList<Choice> choices = choicesOf(buttons);
    QMessageBox::StandardButtons set;
    for (const Choice& c : choices)
        set |= c.button;
    box->setStandardButtons(set);
    QMessageBox::StandardButton def = choices.first().button;
    for (const Choice& c : choices)
        if (c.result == defaultResult)
            def = c.button;
    box->setDefaultButton(def);
    // A Yes/No box has no cancel button; closing it must not be taken as Yes.
    if (buttons == mb::YesNo)
        box->setEscapeButton(QMessageBox::No);
    return box;
}

int QtMessageBox::show(const QString& text, const QString& title, mb::Buttons buttons,
                       mb::Icon icon, int defaultResult)
{
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    std::unique_ptr<QMessageBox> box(build(text, title, buttons, icon, defaultResult, parent));
    const int pressed = box->exec();
    for (const Choice& c : choicesOf(buttons))
        if (c.button == pressed)
            return c.result;
    // Closed without a button: the set's "cancel" meaning.
    return buttons == mb::YesNo ? int(mb::IDNO)
                                : (buttons == mb::OK ? int(mb::IDOK) : int(mb::IDCANCEL));
}
