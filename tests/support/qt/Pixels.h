#pragma once
// Pixel helpers for the tests that look at what a window draws.

#include <QImage>
#include <QRect>
#include <QRgb>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <utility>

namespace testing_support {

// Relative luminance of an sRGB colour, and the contrast ratio of two.
inline double luminance(QRgb colour) {
    const auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(colour)) + 0.7152 * channel(qGreen(colour)) +
           0.0722 * channel(qBlue(colour));
}

inline double contrast(QRgb a, QRgb b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// What widget shows, one pixel per unit of its coordinates whatever the
// scale factor (nearest pixel, so text keeps its darkest ink).
inline QImage grabUnits(QWidget& widget) {
    QImage shot = widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (shot.devicePixelRatio() != 1.0) {
        shot = shot.scaled(widget.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
        shot.setDevicePixelRatio(1.0);
    }
    return shot;
}

// The pixel of a tile repeated from the image's top-left corner.
inline QRgb tileAt(const QImage& tile, int x, int y) {
    return tile.pixel(x % tile.width(), y % tile.height());
}

// The darkest pixel of area.
inline QRgb darkestPixel(const QImage& image, const QRect& area) {
    QRgb darkest = qRgb(255, 255, 255);
    const QRect inside = area.intersected(image.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            if (luminance(image.pixel(x, y)) < luminance(darkest)) {
                darkest = image.pixel(x, y);
            }
        }
    }
    return darkest;
}

// The first and last rows of area that hold a pixel darker than a luminance
// of 0.1 (text); -1, -1 when none does.
inline std::pair<int, int> darkRows(const QImage& image, const QRect& area) {
    int top = -1;
    int bottom = -1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (luminance(image.pixel(x, y)) < 0.1) {
                top = top < 0 ? y : top;
                bottom = y;
                break;
            }
        }
    }
    return {top, bottom};
}

// How many pixels of column x, within the image, have exactly colour.
inline int pixelsInColumn(const QImage& image, int x, QRgb colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        count += image.pixel(x, y) == colour ? 1 : 0;
    }
    return count;
}

} // namespace testing_support
