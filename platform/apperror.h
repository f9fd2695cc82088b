#pragma once

#include <QString>
#include <stdexcept>

// The one error type for failures the design "raises" (a port that cannot be opened, a write to
// a closed port). It carries a number and a description, shown to the operator as
// "<number>: <description>". Caught at every event-handler boundary.
class AppError : public std::runtime_error
{
public:
    AppError(int number, const QString& description)
        : std::runtime_error(description.toStdString()), m_number(number),
          m_description(description)
    {
    }
    int number() const { return m_number; }
    QString description() const { return m_description; }
    QString text() const { return QString::number(m_number) + QStringLiteral(": ") + m_description; }

private:
    int m_number;
    QString m_description;
};
