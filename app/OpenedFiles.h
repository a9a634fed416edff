#pragma once
// Files opened from outside the window: `velumo FILE...`, the file
// manager's "Open With", and a second `velumo FILE...` handing its files
// to the window already open.
//
// User-interface thread only.

#include <string>
#include <vector>

class MainWindow;

// Switches the list to the file rows, adds paths as Add Audio Files does
// (files it cannot read are skipped, rows already there are not added
// twice) and plays the first of paths that is in the list afterwards, as a
// double click on its row would. Returns whether a row was started.
bool addAndPlay(MainWindow& window, const std::vector<std::string>& paths);
