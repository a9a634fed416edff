#pragma once
// The font of the windows' display labels (the main window's status, time
// and caption labels, the Record dialog's labels): the program's own heavy
// italic sans of 16 pixels (resources/Fonts.h), the same on every machine.

#include <QFont>

QFont makeDisplayFont();
