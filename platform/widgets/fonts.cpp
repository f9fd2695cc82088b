#include "platform/widgets/fonts.h"

#include <QFontDatabase>
#include <QStringList>

QFont designFont(const QString& family, qreal points, bool bold)
{
    const bool fixedPitch = family.compare(QStringLiteral("Courier New"), Qt::CaseInsensitive) == 0;
    const QStringList candidates =
        fixedPitch ? QStringList{family, QStringLiteral("Liberation Mono"),
                                 QStringLiteral("DejaVu Sans Mono")}
                   : QStringList{family, QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                 QStringLiteral("DejaVu Sans")};
    QFont font = QFontDatabase::systemFont(fixedPitch ? QFontDatabase::FixedFont
                                                      : QFontDatabase::GeneralFont);
    for (const QString& candidate : candidates) {
        if (QFontDatabase::hasFamily(candidate)) {
            font = QFont(candidate);
            break;
        }
    }
    font.setStyleHint(fixedPitch ? QFont::TypeWriter : QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}
