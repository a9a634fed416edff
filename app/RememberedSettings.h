#pragma once
// The window's part in the remembered settings (playlist/Settings.h): the
// volume slider, the Repeat button and the Bitrate box.
//
// User-interface thread only.

#include "playlist/Settings.h"

class MainWindow;

// What the window's controls are set to now.
Settings settingsOf(MainWindow& window);
// Sets the controls as the user would: the volume moves the slider (and the
// output's level), the repeat mode shows on its button. A bitrate that is
// not one of the Bitrate box's own texts leaves the box as it is.
void applySettings(MainWindow& window, const Settings& settings);
