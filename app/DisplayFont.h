#pragma once
// The font of the windows' display labels (the main window's status, time
// and caption labels, the Record dialog's labels): a heavy italic sans of
// 16 pixels. Arial comes first; where it is missing, as on most Linux
// systems, Nimbus Sans has its metrics and DejaVu Sans is always there.

#include <QFont>

QFont makeDisplayFont();
