#pragma once

#include <QRect>
#include <QString>
#include <QTest>
#include <QWidget>

// The control `name` under `root` sits in the container `parent` at `rect` (pixels).
inline void comparePlacement(const QWidget* root, const QString& name, const QString& parent,
                             const QRect& rect)
{
    const QWidget* control = root->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(control->parentWidget()->objectName(), parent);
    QCOMPARE(control->geometry(), rect);
}
