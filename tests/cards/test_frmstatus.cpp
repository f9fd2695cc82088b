#include "cards/widgets/frmstatus.h"
#include "platform/widgets/fonts.h"

#include <QLabel>
#include <QPainter>
#include <QTest>

namespace {
const QColor GREEN(0, 255, 0);
const QColor RED(255, 0, 0);
const QColor YELLOW(255, 255, 0);
const QColor MAGENTA(255, 0, 255);

QColor titleColour(const frmStatus& window)
{
    return window.lblTitle()->palette().color(QPalette::WindowText);
}

void setBackground(frmStatus& window, const QColor& colour)
{
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, colour);
    window.setPalette(palette);
}
} // namespace

class TestFrmStatus : public QObject
{
    Q_OBJECT
private slots:
    void createdHidden();
    void modesInTurn();
    void emptyMessage();
    void alternativeColours_data();
    void alternativeColours();
    void geometry();
    void fonts();
    void windowKind();
    void centredOnOwner();
    void showWhileVisibleOnlyUpdates();
    void edgeDrawn();
    void drawRaisedEdge();
};

void TestFrmStatus::createdHidden()
{
    QWidget owner;
    frmStatus window(&owner);
    QVERIFY(!window.isVisible());
    QCOMPARE(window.objectName(), QStringLiteral("frmStatus"));
    QCOMPARE(window.parentWidget(), &owner);
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("lblTitle")), window.lblTitle());
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("lblStatus")), window.lblStatus());
    QCOMPARE(window.backgroundColour(), owner.palette().color(QPalette::Highlight));
    QCOMPARE(window.lblStatus()->palette().color(QPalette::WindowText),
             owner.palette().color(QPalette::HighlightedText));
}

void TestFrmStatus::modesInTurn()
{
    QWidget owner;
    owner.show();
    frmStatus window(&owner);
    IStatusWindow& status = window;

    status.ShowStatusWindow(QStringLiteral("Swipe card when ready"), false);
    QVERIFY(window.isVisible());
    QCOMPARE(window.lblTitle()->text(), QStringLiteral("READING MODE"));
    QCOMPARE(titleColour(window), GREEN);
    QCOMPARE(window.lblStatus()->text(), QStringLiteral("Swipe card when ready"));

    status.ShowStatusWindow(QStringLiteral("Second"), true);
    QCOMPARE(window.lblTitle()->text(), QStringLiteral("WRITING MODE"));
    QCOMPARE(titleColour(window), RED);
    QCOMPARE(window.lblStatus()->text(), QStringLiteral("Second"));

    status.HideStatusWindow();
    QVERIFY(!window.isVisible());

    status.ShowStatusWindow(QStringLiteral("Connecting to Card Reader on COM1"), false);
    QVERIFY(window.isVisible());
    QCOMPARE(window.lblTitle()->text(), QStringLiteral("READING MODE"));
    QCOMPARE(titleColour(window), GREEN);
    QCOMPARE(window.lblStatus()->text(), QStringLiteral("Connecting to Card Reader on COM1"));
    status.HideStatusWindow();
    QVERIFY(!window.isVisible());
}

void TestFrmStatus::emptyMessage()
{
    frmStatus window;
    window.ShowStatusWindow(QStringLiteral("Swipe card when ready"), true);
    window.ShowStatusWindow(QString(), true);
    QVERIFY(window.lblStatus()->text().isEmpty());
    QCOMPARE(window.lblTitle()->text(), QStringLiteral("WRITING MODE"));
    window.HideStatusWindow();
}

void TestFrmStatus::alternativeColours_data()
{
    QTest::addColumn<QColor>("background");
    QTest::addColumn<QColor>("reading");
    QTest::addColumn<QColor>("writing");
    QTest::newRow("red background") << RED << GREEN << MAGENTA;
    QTest::newRow("green background") << GREEN << YELLOW << RED;
    QTest::newRow("blue background") << QColor(0, 0, 255) << GREEN << RED;
    QTest::newRow("nearly red") << QColor(254, 0, 0) << GREEN << RED;
}

void TestFrmStatus::alternativeColours()
{
    QFETCH(QColor, background);
    QFETCH(QColor, reading);
    QFETCH(QColor, writing);
    frmStatus window;
    setBackground(window, background);
    window.ShowStatusWindow(QStringLiteral("x"), false);
    QCOMPARE(titleColour(window), reading);
    window.ShowStatusWindow(QStringLiteral("x"), true);
    QCOMPARE(titleColour(window), writing);
    window.HideStatusWindow();
}

void TestFrmStatus::geometry()
{
    frmStatus window;
    QCOMPARE(window.size(), QSize(312, 75));
    QCOMPARE(window.minimumSize(), QSize(312, 75));
    QCOMPARE(window.maximumSize(), QSize(312, 75));
    // 120 twips from the left to the right edge; tops 135 and 735, heights 375 and 255.
    QCOMPARE(window.lblTitle()->geometry(), QRect(8, 9, 304, 25));
    QCOMPARE(window.lblStatus()->geometry(), QRect(8, 49, 304, 17));
    QCOMPARE(window.lblTitle()->alignment(), Qt::AlignCenter);
    QCOMPARE(window.lblStatus()->alignment(), Qt::AlignCenter);
    QVERIFY(!window.lblTitle()->autoFillBackground());
    QVERIFY(!window.lblStatus()->autoFillBackground());
    window.ShowStatusWindow(QStringLiteral("Swipe card when ready"), false);
    QCOMPARE(window.size(), QSize(312, 75));
    QCOMPARE(window.lblTitle()->geometry(), QRect(8, 9, 304, 25));
    window.HideStatusWindow();
}

void TestFrmStatus::fonts()
{
    frmStatus window;
    const QFont title = window.lblTitle()->font();
    const QFont status = window.lblStatus()->font();
    QCOMPARE(title.family(), designFont(QStringLiteral("MS Sans Serif"), 12).family());
    QCOMPARE(title.pointSizeF(), 12.0);
    QVERIFY(title.bold());
    QCOMPARE(status.pointSizeF(), 9.75);
    QVERIFY(status.bold());
    // The longest message, centred in its label, must stay inside the edge with whatever font
    // stands in.
    window.ShowStatusWindow(QStringLiteral("Connecting to Card Reader on COM99"), false);
    const QFontMetrics metrics(window.lblStatus()->font());
    const int centre = window.lblStatus()->geometry().center().x() + 1;
    const int halfText = (metrics.horizontalAdvance(window.lblStatus()->text()) + 1) / 2;
    QVERIFY(centre + halfText <= window.width() - 2);
    QVERIFY(centre - halfText >= 2);
    QVERIFY(metrics.height() <= window.lblStatus()->height());
    QVERIFY(QFontMetrics(title).height() <= window.lblTitle()->height());
    window.HideStatusWindow();
}

void TestFrmStatus::windowKind()
{
    QWidget owner;
    frmStatus window(&owner);
    QVERIFY(window.isWindow());
    QCOMPARE(window.windowType(), Qt::Tool);
    QVERIFY(window.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(window.testAttribute(Qt::WA_ShowWithoutActivating));
    QVERIFY(!window.isModal());
    QVERIFY(!window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

void TestFrmStatus::centredOnOwner()
{
    QWidget owner;
    owner.setGeometry(200, 150, 640, 480);
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    frmStatus window(&owner);
    window.ShowStatusWindow(QStringLiteral("Swipe card when ready"), false);
    const QPoint expected = owner.frameGeometry().center();
    const QPoint actual = window.frameGeometry().center();
    QVERIFY2((actual - expected).manhattanLength() <= 2,
             qPrintable(QStringLiteral("centre %1,%2 instead of %3,%4")
                            .arg(actual.x())
                            .arg(actual.y())
                            .arg(expected.x())
                            .arg(expected.y())));
    window.HideStatusWindow();

    // Opened again after the owner moved: centred on its new place.
    owner.move(20, 30);
    window.ShowStatusWindow(QStringLiteral("Swipe card when ready"), true);
    QVERIFY((window.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength() <=
            2);
    window.HideStatusWindow();
}

void TestFrmStatus::showWhileVisibleOnlyUpdates()
{
    QWidget owner;
    owner.setGeometry(100, 100, 500, 400);
    owner.show();
    frmStatus window(&owner);
    window.ShowStatusWindow(QStringLiteral("one"), false);
    const QPoint first = window.pos();
    // The operator may have dragged nothing, but the owner moved: a visible prompt stays put.
    owner.move(300, 300);
    window.ShowStatusWindow(QStringLiteral("two"), true);
    QVERIFY(window.isVisible());
    QCOMPARE(window.pos(), first);
    QCOMPARE(window.lblStatus()->text(), QStringLiteral("two"));
    window.HideStatusWindow();
}

void TestFrmStatus::edgeDrawn()
{
    frmStatus window;
    window.ShowStatusWindow(QStringLiteral("Swipe card when ready"), false);
    const QImage image = window.grab().toImage();
    window.HideStatusWindow();
    const int w = image.width();
    const int h = image.height();
    QCOMPARE(QSize(w, h), QSize(312, 75));
    const QRgb background = window.backgroundColour().rgb();
    // Inside the bevel, clear of the labels' text, the background shows.
    QCOMPARE(image.pixel(4, h / 2), background);
    const QPoint border[] = {{0, h / 2}, {1, h / 2},    {w - 1, h / 2}, {w - 2, h / 2},
                             {w / 2, 0}, {w / 2, 1},    {w / 2, h - 1}, {w / 2, h - 2},
                             {0, 0},     {w - 1, h - 1}};
    for (const QPoint& at : border) {
        QVERIFY2(image.pixel(at) != background,
                 qPrintable(QStringLiteral("no edge at %1,%2").arg(at.x()).arg(at.y())));
    }
    // Raised: lit from the top left, shaded to the bottom right.
    QVERIFY(image.pixel(0, h / 2) != image.pixel(w - 1, h / 2));
    QVERIFY(image.pixel(w / 2, 0) != image.pixel(w / 2, h - 1));
    QCOMPARE(image.pixel(0, h / 2), image.pixel(w / 2, 0));
    QCOMPARE(image.pixel(w - 1, h / 2), image.pixel(w / 2, h - 1));
}

void TestFrmStatus::drawRaisedEdge()
{
    QPalette palette;
    palette.setColor(QPalette::Light, Qt::white);
    palette.setColor(QPalette::Midlight, QColor(200, 200, 200));
    palette.setColor(QPalette::Dark, QColor(100, 100, 100));
    palette.setColor(QPalette::Shadow, Qt::black);
    const QColor fill(10, 20, 30);
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(fill);
    {
        QPainter painter(&image);
        // From (5, 5) to (25, 20): right and bottom are 20 and 15, exclusive.
        DrawRaisedEdge(painter, palette, 5, 5, 25, 20);
    }
    QCOMPARE(QColor(image.pixel(5, 10)), QColor(Qt::white));
    QCOMPARE(QColor(image.pixel(10, 5)), QColor(Qt::white));
    QCOMPARE(QColor(image.pixel(6, 10)), QColor(200, 200, 200));
    QCOMPARE(QColor(image.pixel(19, 10)), QColor(Qt::black));
    QCOMPARE(QColor(image.pixel(10, 14)), QColor(Qt::black));
    QCOMPARE(QColor(image.pixel(18, 10)), QColor(100, 100, 100));
    QCOMPARE(QColor(image.pixel(10, 13)), QColor(100, 100, 100));
    // Nothing inside or outside the rectangle is touched.
    QCOMPARE(QColor(image.pixel(10, 10)), fill);
    QCOMPARE(QColor(image.pixel(4, 10)), fill);
    QCOMPARE(QColor(image.pixel(20, 10)), fill);
    QCOMPARE(QColor(image.pixel(10, 15)), fill);
}

QTEST_MAIN(TestFrmStatus)
#include "test_frmstatus.moc"
