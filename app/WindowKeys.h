#pragma once
// The window's keys for the player and the list:
//  - Space plays or pauses: it pauses what is playing, and otherwise does
//    what Play does (resumes, starts the loaded item, or loads the selected
//    row or the first one);
//  - Delete removes the selected row as Remove does.
// Both belong to the window alone: they do nothing while a dialog is the
// active window, and a text field (the Bitrate box's edit field) keeps
// them for typing. Holding a key down does not repeat it.
//
// User-interface thread only.

class MainWindow;

// Installs the keys on window, which owns them.
void installWindowKeys(MainWindow& window);

// What Space does now: pause when the window's player is playing, else play.
void playOrPause(MainWindow& window);
