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
