#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The track data of a numbered or spreadsheet-driven job, written once for every card: fixed
// text with fields in braces.
//   {seq}, {seq:WIDTH}  the card's number (first, first + step, ...), zero-padded to WIDTH
//   {luhn}              the Luhn (mod 10) check digit of the digits just before it, back to
//                       the first character that is not a digit: the account number in every
//                       usual track
//   {NAME}              the column NAME of the card's CSV row
// "{{" and "}}" stand for a brace itself.
class CardTemplate
{
public:
    // Nothing, with *error saying what is wrong and where, when the text is not a template.
    static std::optional<CardTemplate> parse(const QString& text, QString* error);

    QString text() const { return m_text; }
    // The CSV columns it names, in order.
    QStringList columns() const;
    bool usesNumber() const;

    // The card's track data: number for {seq}, values for the columns (in columns() order).
    // Nothing, with *error set, when the number does not fit its width or {luhn} has no
    // digits before it.
    std::optional<QString> render(qint64 number, const QStringList& values, QString* error) const;

private:
    struct Part {
        enum class Kind { Text, Number, Luhn, Column };
        Kind kind = Kind::Text;
        QString text;   // Text: the text; Column: the column's name
        int width = 0;  // Number: 0 for no padding
        int column = 0; // Column: index into columns()
    };
    QString m_text;
    QList<Part> m_parts;
    QStringList m_columns;
};

// The Luhn (mod 10) check digit that makes digits + it pass the check; digits holds only 0-9.
QChar luhnDigit(const QString& digits);
