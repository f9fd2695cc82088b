#pragma once

#include "platform/messagebox.h"

#include <QList>
#include <QString>
#include <functional>

// Records every box and answers from a queue; a box with no queued answer fails the test.
class ScriptedMessageBox : public IMessageBox
{
public:
    struct Box {
        QString text;
        QString title;
        mb::Buttons buttons;
        mb::Icon icon;
        int defaultResult;
    };

    int show(const QString& text, const QString& title, mb::Buttons buttons, mb::Icon icon,
             int defaultResult = 0) override;

    void answer(int result) { m_answers.append(result); }
    void answer(std::initializer_list<int> results);
    int pending() const { return int(m_answers.size()); }

    QList<Box> shown;
    // Runs while the box is "up", before it is answered.
    std::function<void(const Box&)> onShow;
    bool unexpected = false;

private:
    QList<int> m_answers;
};
