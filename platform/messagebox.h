#pragma once

#include <QString>

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
