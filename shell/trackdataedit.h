#pragma once

#include <QLineEdit>

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
