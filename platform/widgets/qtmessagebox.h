#pragma once

#include "platform/messagebox.h"

class QMessageBox;
class QWidget;

class QtMessageBox : public IMessageBox
{
public:
    // The box as show() would present it, not yet shown (for screenshots too).
    static QMessageBox* build(const QString& text, const QString& title, mb::Buttons buttons,
                              mb::Icon icon, int defaultResult, QWidget* parent);

    int show(const QString& text, const QString& title, mb::Buttons buttons, mb::Icon icon,
             int defaultResult = 0) override;
};
