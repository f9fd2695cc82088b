#pragma once

#include <QPlainTextEdit>

// The read-only help box; keeps the text exactly as given (line breaks included), which the
// document underneath would normalise.
class HelpTextBox : public QPlainTextEdit
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text)
public:
    explicit HelpTextBox(QWidget* parent = nullptr);
    void setText(const QString& text);
    QString text() const { return m_text; }

private:
    QString m_text;
};
