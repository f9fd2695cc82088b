#include "cards/csvtable.h"

#include <QSet>
#include <QStringDecoder>

namespace {

// Splits one record off text at *at; false at the end of the text. A fault leaves *problem set
// and the record's remaining bytes skipped up to the next line break outside quotes.
class RecordReader
{
public:
    explicit RecordReader(const QByteArray& text) : m_text(text) {}

    bool next(QList<QByteArray>* fields, int* line, QString* problem)
    {
        fields->clear();
        problem->clear();
        // Blank lines separate nothing.
        while (m_at < m_text.size() && (m_text.at(m_at) == '\n' || m_text.at(m_at) == '\r')) {
            if (m_text.at(m_at) == '\n')
                ++m_line;
            ++m_at;
        }
        if (m_at >= m_text.size())
            return false;
        *line = m_line;
        QByteArray field;
        bool quoted = false;    // inside a quoted field
        bool wasQuoted = false; // the field began with a quote and it has closed
        for (;;) {
            if (m_at >= m_text.size()) {
                if (quoted)
                    *problem = QStringLiteral("a quoted field is never closed");
                fields->append(field);
                return true;
            }
            const char c = m_text.at(m_at++);
            if (quoted) {
                if (c == '"') {
                    if (m_at < m_text.size() && m_text.at(m_at) == '"') {
                        field.append('"');
                        ++m_at;
                    } else {
                        quoted = false;
                        wasQuoted = true;
                    }
                } else {
                    if (c == '\n')
                        ++m_line;
                    field.append(c);
                }
                continue;
            }
            if (c == ',') {
                fields->append(field);
                field.clear();
                wasQuoted = false;
                continue;
            }
            if (c == '\n' || (c == '\r' && m_at < m_text.size() && m_text.at(m_at) == '\n')) {
                if (c == '\r')
                    ++m_at;
                ++m_line;
                fields->append(field);
                return true;
            }
            if (c == '"' && field.isEmpty() && !wasQuoted) {
                quoted = true;
                continue;
            }
            if (problem->isEmpty())
                *problem = wasQuoted  ? QStringLiteral("text after a closing quote")
                           : c == '"' ? QStringLiteral("a quote inside a field that "
                                                       "does not start with one")
                                      : QString();
            if (wasQuoted || c == '"')
                continue;
            field.append(c);
        }
    }

private:
    const QByteArray& m_text;
    qsizetype m_at = 0;
    int m_line = 1;
};

} // namespace

CsvTable parseCsv(const QByteArray& input, QList<CsvProblem>* problems)
{
    CsvTable table;
    const QByteArray text = input.startsWith("\xEF\xBB\xBF") ? input.mid(3) : input;
    RecordReader reader(text);
    QList<QByteArray> raw;
    int line = 0;
    QString problem;
    int row = 0;
    while (reader.next(&raw, &line, &problem)) {
        ++row;
        QStringList fields;
        for (const QByteArray& bytes : std::as_const(raw)) {
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString field = utf8.decode(bytes);
            if (problem.isEmpty() && (utf8.hasError() || bytes.contains('\0')))
                problem = QStringLiteral("holds bytes that are not UTF-8 text");
            if (problem.isEmpty() && bytes.size() > kCsvMaxField)
                problem = QStringLiteral("a field is longer than %1 bytes").arg(kCsvMaxField);
            fields << field;
        }
        if (row == 1) {
            table.header = fields;
            QSet<QString> seen;
            for (const QString& name : std::as_const(fields)) {
                if (problem.isEmpty() && name.trimmed().isEmpty())
                    problem = QStringLiteral("the header row has a column without a name");
                else if (problem.isEmpty() && seen.contains(name))
                    problem = QStringLiteral("the header row names \"%1\" twice").arg(name);
                seen.insert(name);
            }
        } else if (problem.isEmpty() && fields.size() != table.header.size()) {
            problem = QStringLiteral("%1 fields where the header row has %2")
                          .arg(fields.size())
                          .arg(table.header.size());
        }
        if (!problem.isEmpty()) {
            problems->append({row, line, problem});
            continue;
        }
        if (row > 1)
            table.rows.append({row, line, fields});
    }
    if (row == 0)
        problems->append({1, 1, QStringLiteral("no header row: the file is empty")});
    return table;
}
