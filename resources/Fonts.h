#pragma once
// The fonts Velumo draws with. They are compiled into the program
// (resources/fonts, from the DejaVu font packages at build time), registered
// with Qt on first use, and named by the family that their files register,
// so the windows look the same whatever fonts a machine has: no family name
// goes to fontconfig, which would map it to whatever the machine holds.
//
// User-interface thread only (after the QApplication exists).

#include <QFont>

// The dialogs' text: DejaVu Sans Condensed, whose average character at 8
// points (96 dots per inch) is the classic 6 x 13 pixels, and at 14 pixels
// the classic system font's 8 x 16.
QFont dialogFont();

// The display labels and group titles: DejaVu Sans Bold Oblique, 16 pixels,
// antialiased.
QFont displayFont();

// Whether both embedded fonts were registered; false only when the program
// was built without them or Qt refused the files (then the fonts above fall
// back to Qt's default sans font).
bool embeddedFontsLoaded();
