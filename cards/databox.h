#pragma once

#include <QString>

// The main window's track-data box as the operations see it.
class IDataBox
{
public:
    virtual ~IDataBox() = default;
    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
};
