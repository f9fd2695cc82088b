#pragma once

#include <QString>

class QWidget;

// Modal message boxes with the classic button sets and return codes.
namespace mb {
enum Buttons { OK = 0, OKCancel = 1, YesNo = 4, RetryCancel = 5 };
enum Icon { NoIcon = 0, Critical = 16, Exclamation = 48, Information = 64 };
enum Result { IDOK = 1, IDCANCEL = 2, IDRETRY = 4, IDYES = 6, IDNO = 7 };
} // namespace mb

class IMessageBox
{
public:
    virtual ~IMessageBox() = default;
    // Shows a modal box and returns the pressed button's code. defaultResult names the default
    // button (0: the first of the set).
    virtual int show(const QString& text, const QString& title, mb::Buttons buttons, mb::Icon icon,
                     int defaultResult = 0) = 0;
};

class QMessageBox;

class QtMessageBox : public IMessageBox
{
public:
    // The box as show() would present it, not yet shown (for screenshots too).
    static QMessageBox* build(const QString& text, const QString& title, mb::Buttons buttons,
                              mb::Icon icon, int defaultResult, QWidget* parent);

    int show(const QString& text, const QString& title, mb::Buttons buttons, mb::Icon icon,
             int defaultResult = 0) override;
};
