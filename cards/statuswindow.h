#pragma once

#include <QString>

// The swipe prompt as the operations see it.
class IStatusWindow
{
public:
    virtual ~IStatusWindow() = default;
    virtual void ShowStatusWindow(const QString& message, bool writingMode) = 0;
    virtual void HideStatusWindow() = 0;
};
