#include "resources/Fonts.h"

#include <QFontDatabase>
#include <QString>
#include <QStringList>

#include <cstdio>

// The fonts are compiled into the static library, whose resource initialiser
// nothing else references; Q_INIT_RESOURCE must stand outside a namespace.
static void initFontResources() {
    Q_INIT_RESOURCE(velumo_fonts);
}

namespace {

struct EmbeddedFonts {
    QString dialog;
    QString display;
};

// The family that the file registers, or an empty name when Qt does not take
// it. A file may register several, the most specific last ("DejaVu Sans",
// "DejaVu Sans Condensed").
QString registerFont(const QString& path) {
    const int id = QFontDatabase::addApplicationFont(path);
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    if (id < 0 || families.isEmpty()) {
        std::fprintf(stderr, "velumo: cannot load the font %s\n", qPrintable(path));
        return {};
    }
    return families.last();
}

const EmbeddedFonts& fonts() {
    static const EmbeddedFonts loaded = [] {
        initFontResources();
        return EmbeddedFonts{registerFont(QStringLiteral(":/fonts/DejaVuSansCondensed.ttf")),
                             registerFont(QStringLiteral(":/fonts/DejaVuSans-BoldOblique.ttf"))};
    }();
    return loaded;
}

} // namespace

QFont dialogFont() {
    QFont font;
    if (const QString& family = fonts().dialog; !family.isEmpty()) {
        font.setFamilies({family});
    }
    font.setPointSize(8);
    return font;
}

QFont displayFont() {
    QFont font;
    if (const QString& family = fonts().display; !family.isEmpty()) {
        font.setFamilies({family});
    }
    font.setPixelSize(16);
    font.setWeight(QFont::Bold);
    font.setItalic(true);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

bool embeddedFontsLoaded() {
    return !fonts().dialog.isEmpty() && !fonts().display.isEmpty();
}
