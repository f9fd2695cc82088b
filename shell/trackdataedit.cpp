#include "shell/trackdataedit.h"

#include <QValidator>

namespace {
// Refuses growth past the limit: typed or pasted characters beyond it are dropped, shrinking
// or same-length edits of an over-long text still work.
class LengthLimitValidator : public QValidator
{
public:
    explicit LengthLimitValidator(TrackDataEdit* edit) : QValidator(edit), m_edit(edit) {}

    State validate(QString& input, int& pos) const override
    {
        const int limit = m_edit->lengthLimit();
        const qsizetype oldLength = m_edit->acceptedLength();
        if (limit <= 0 || input.size() <= limit || input.size() <= oldLength)
            return Acceptable;
        const qsizetype keep = qMax<qsizetype>(limit, oldLength);
        const qsizetype excess = qMin<qsizetype>(input.size() - keep, pos);
        input.remove(pos - excess, excess);
        pos -= int(excess);
        if (input.size() > keep)
            input.truncate(keep);
        return Acceptable;
    }

private:
    TrackDataEdit* m_edit;
};
} // namespace

TrackDataEdit::TrackDataEdit(QWidget* parent) : QLineEdit(parent)
{
    setValidator(new LengthLimitValidator(this));
    // The line edit has already changed its text when it asks the validator, so the length
    // before the edit is kept here.
    connect(this, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_acceptedLength = text.size(); });
}

void TrackDataEdit::putText(const QString& text)
{
    setText(m_limit > 0 ? text.left(m_limit) : text);
}

#include "moc_trackdataedit.cpp"
