#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>

// The data box. Its length limit bounds what is typed, pasted or put into the box afterwards,
// but never shortens text already there (QLineEdit::setMaxLength would cut it).
class TrackDataEdit : public QLineEdit
{
    Q_OBJECT
    Q_PROPERTY(int lengthLimit READ lengthLimit WRITE setLengthLimit)
public:
    explicit TrackDataEdit(QWidget* parent = nullptr);
    // 0: no limit.
    void setLengthLimit(int limit) { m_limit = limit; }
    int lengthLimit() const { return m_limit; }
    // Puts text into the box the way the program does: cut to the limit when there is one.
    void putText(const QString& text);
    qsizetype acceptedLength() const { return m_acceptedLength; }

private:
    int m_limit = 0;
    qsizetype m_acceptedLength = 0;
};

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
