#pragma once

#include "cards/statuswindow.h"

#include <QColor>
#include <QWidget>

class QLabel;
class QPainter;
class QPalette;

// Draws a two-pixel raised bevel (light outside top-left, dark outside bottom-right) around
// the rectangle from (x1, y1) to (x2 - x1, y2 - y1), right and bottom exclusive.
void DrawRaisedEdge(QPainter& painter, const QPalette& palette, int x1, int y1, int x2, int y2);

// The borderless swipe prompt. It floats over its owner without entering the task bar and is
// kept hidden between uses.
class frmStatus : public QWidget, public IStatusWindow
{
    Q_OBJECT
public:
    explicit frmStatus(QWidget* owner = nullptr);

    void ShowStatusWindow(const QString& message, bool writingMode) override;
    void HideStatusWindow() override;

    QColor backgroundColour() const;
    QLabel* lblTitle() const { return m_lblTitle; }
    QLabel* lblStatus() const { return m_lblStatus; }

    static constexpr int kWidthTwips = 4680;
    static constexpr int kHeightTwips = 1125;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void centreOnOwner();

    QLabel* m_lblTitle = nullptr;
    QLabel* m_lblStatus = nullptr;
};
