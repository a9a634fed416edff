#pragma once
// Bitmaps and icons compiled into the program, addressed by number
// (resources/images/<number>.bmp).
//
// User-interface thread, or any thread for the QImage forms.

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPalette>
#include <QPixmap>

// Magenta: the transparent colour of every button image.
inline constexpr QRgb kTransparentColour = 0xFF00FF;

// Numbers of the images.
enum ImageId : int {
    kIconProgram = 128,
    kBitmapBackground = 129, // tile, 56 x 15, 256 colours
    kBitmapDisplay = 132,    // picture in the display area, 68 x 15
    kBitmapPlay = 133,
    kBitmapPause = 134,
    kBitmapStop = 135,
    kBitmapEject = 138,
    kBitmapPrev = 140,
    kBitmapNext = 141,
    kBitmapRecord = 142,
    kBitmapMoveUp = 146,
    kBitmapCdRefresh = 147,
    kBitmapMoveDown = 148,
    kBitmapClearAll = 149,
    kBitmapAddFiles = 150,
    kBitmapRemove = 151,
    kBitmapConvert = 152,
    kBitmapRepeatAll = 157,
    kBitmapRepeatOne = 158,
    kBitmapGoStraight = 159,
    kBitmapConvertArrow = 162,
    kIconRecord = 164,
};

bool hasBitmap(int id);
// The bitmap as stored, or a null image when there is none.
QImage loadBitmapImage(int id);
// The bitmap with every pixel of transparent (0xRRGGBB) made fully
// transparent, or a null image.
QImage loadBitmapImage(int id, QRgb transparent);
// Pixmap forms of the above.
QPixmap loadBitmap(int id);
QPixmap loadBitmap(int id, QRgb transparent);
// An icon (128, 164): its bitmap with magenta transparent; a null icon when missing.
QIcon loadIcon(int id);

class QWidget;
// Fills widget with copies of tile from its top-left corner, from its paint
// event. False, with nothing painted, when tile is null.
bool paintTiled(QWidget& widget, const QPixmap& tile);

// The light palette that the tile and the button images are drawn for (the
// standard light palette of Qt's Fusion style): black text on light grey,
// white fields. Windows that paint the tile use it whatever the desktop's
// palette is, so that their texts stay readable on a dark desktop theme.
QPalette imagePalette();
