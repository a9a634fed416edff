#include "app/DisplayFont.h"

#include <QStringList>

QFont makeDisplayFont() {
    QFont font;
    font.setFamilies(
        {QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(16);
    font.setWeight(QFont::Black);
    font.setItalic(true);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}
