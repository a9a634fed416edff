#include "resources/Images.h"

#include <QFile>
#include <QPainter>
#include <QString>
#include <QWidget>

// The images are compiled into the static library; its resource initialiser
// is not referenced by anything else, so it is called explicitly.
static void initImageResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(velumo);
        return true;
    }();
    (void)done;
}

namespace {

QString pathOf(int id) {
    return QStringLiteral(":/images/%1.bmp").arg(id);
}

} // namespace

bool hasBitmap(int id) {
    initImageResources();
    return QFile::exists(pathOf(id));
}

QImage loadBitmapImage(int id) {
    initImageResources();
    QImage image;
    if (!image.load(pathOf(id), "BMP")) {
        return {};
    }
    return image;
}

QImage loadBitmapImage(int id, QRgb transparent) {
    QImage image = loadBitmapImage(id);
    if (image.isNull()) {
        return image;
    }
    image = image.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = transparent & 0xFFFFFF;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((line[x] & 0xFFFFFF) == key) {
                line[x] = 0;
            }
        }
    }
    return image;
}

QPixmap loadBitmap(int id) {
    const QImage image = loadBitmapImage(id);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

QPixmap loadBitmap(int id, QRgb transparent) {
    const QImage image = loadBitmapImage(id, transparent);
    return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

QIcon loadIcon(int id) {
    const QPixmap pixmap = loadBitmap(id, kTransparentColour);
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

bool paintTiled(QWidget& widget, const QPixmap& tile) {
    if (tile.isNull()) {
        return false;
    }
    QPainter painter(&widget);
    painter.drawTiledPixmap(widget.rect(), tile);
    return true;
}

QPalette imagePalette() {
    const QColor window(239, 239, 239);
    const QColor light = window.lighter(150);
    const QColor mid = window.darker(130);
    const QColor dark = window.darker(150);
    const QColor shadow = dark.darker(135);
    const QColor disabledText(190, 190, 190);
    QColor placeholder(Qt::black);
    placeholder.setAlpha(128);

    QPalette palette(Qt::black, window, light, dark, mid, Qt::black, Qt::white);
    palette.setColor(QPalette::Midlight, mid.lighter(110));
    palette.setColor(QPalette::Button, window);
    palette.setColor(QPalette::Shadow, shadow);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::PlaceholderText, placeholder);
    palette.setColor(QPalette::ToolTipBase, QColor(255, 255, 220));
    palette.setColor(QPalette::ToolTipText, Qt::black);
    palette.setColor(QPalette::Link, QColor(0, 0, 255));
    palette.setColor(QPalette::LinkVisited, QColor(255, 0, 255));
    palette.setColor(QPalette::AlternateBase, QColor(247, 247, 247));
    palette.setColor(QPalette::Active, QPalette::Highlight, QColor(48, 140, 198));
    palette.setColor(QPalette::Inactive, QPalette::Highlight, QColor(48, 140, 198));
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(145, 145, 145));
    palette.setColor(QPalette::Disabled, QPalette::Text, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
    palette.setColor(QPalette::Disabled, QPalette::Base, window);
    palette.setColor(QPalette::Disabled, QPalette::Dark, QColor(209, 209, 209).darker(110));
    palette.setColor(QPalette::Disabled, QPalette::Shadow, shadow.lighter(150));
    return palette;
}
