#include "support/scriptedmessagebox.h"

#include <QTest>

void ScriptedMessageBox::answer(std::initializer_list<int> results)
{
    for (int r : results)
        m_answers.append(r);
}

int ScriptedMessageBox::show(const QString& text, const QString& title, mb::Buttons buttons,
                             mb::Icon icon, int defaultResult)
{
    const Box box{text, title, buttons, icon, defaultResult};
    shown.append(box);
    if (onShow)
        onShow(box);
    if (m_answers.isEmpty()) {
        unexpected = true;
        QTest::qFail(
            qPrintable(QStringLiteral("unexpected message box \"%1\": %2").arg(title, text)),
            __FILE__, __LINE__);
        return buttons == mb::YesNo ? int(mb::IDNO)
                                    : (buttons == mb::OK ? int(mb::IDOK) : int(mb::IDCANCEL));
    }
    return m_answers.takeFirst();
}
