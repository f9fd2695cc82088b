#include "cards/widgets/frmstatus.h"

#include "platform/widgets/fonts.h"

#include "platform/twips.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <qdrawutil.h>

namespace {

QLabel* makeLabel(QWidget* parent, const char* name, int top, int height, qreal pointSize)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignCenter);
    label->setAutoFillBackground(false);
    label->setFont(designFont(QStringLiteral("MS Sans Serif"), pointSize, true));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::HighlightedText));
    label->setPalette(palette);
    // Both labels run from 120 twips to the right edge of the window.
    const int width = frmStatus::kWidthTwips - 120;
    label->setGeometry(twipsRect(120, top, width, height));
    return label;
}

} // namespace

void DrawRaisedEdge(QPainter& painter, const QPalette& palette, int x1, int y1, int x2, int y2)
{
    const QRect rect(QPoint(x1, y1), QPoint(x2 - x1 - 1, y2 - y1 - 1));
    if (rect.width() < 2 || rect.height() < 2)
        return;
    qDrawWinPanel(&painter, rect, palette, false, nullptr);
}

frmStatus::frmStatus(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
{
    setObjectName(QStringLiteral("frmStatus"));
    // Showing the prompt must not take the keyboard from the main window.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFixedSize(twips(kWidthTwips), twips(kHeightTwips));

    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Highlight));
    setPalette(palette);
    setAutoFillBackground(true);

    m_lblTitle = makeLabel(this, "lblTitle", 135, 375, 12.0);
    m_lblStatus = makeLabel(this, "lblStatus", 735, 255, 9.75);
}

QColor frmStatus::backgroundColour() const
{
    return palette().color(QPalette::Window);
}

void frmStatus::ShowStatusWindow(const QString& message, bool writingMode)
{
    const QColor background = backgroundColour();
    QColor title;
    if (writingMode) {
        title = background == QColor(255, 0, 0) ? QColor(255, 0, 255) : QColor(255, 0, 0);
        m_lblTitle->setText(QStringLiteral("WRITING MODE"));
    } else {
        title = background == QColor(0, 255, 0) ? QColor(255, 255, 0) : QColor(0, 255, 0);
        m_lblTitle->setText(QStringLiteral("READING MODE"));
    }
    QPalette palette = m_lblTitle->palette();
    palette.setColor(QPalette::WindowText, title);
    m_lblTitle->setPalette(palette);
    m_lblStatus->setText(message);

    if (!isVisible()) {
        centreOnOwner();
        show();
    }
}

void frmStatus::HideStatusWindow()
{
    hide();
}

void frmStatus::centreOnOwner()
{
    QRect area;
    if (QWidget* owner = parentWidget())
        area = owner->window()->frameGeometry();
    if (area.isEmpty()) {
        const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
        if (screen)
            area = screen->availableGeometry();
    }
    if (!area.isEmpty())
        move(area.center() - QPoint(width() / 2, height() / 2));
}

void frmStatus::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DrawRaisedEdge(painter, palette(), 0, 0, width(), height());
}

#include "moc_frmstatus.cpp"
