#pragma once
// Installs the Qt implementations of the platform's message boxes and file
// dialogs (platform/MessageBox.h, platform/FileDialog.h).
//
// Message boxes are always shown on the user-interface thread: a call from
// another thread blocks until the user has answered. The thread that installs
// must be the user-interface thread, and a QApplication must exist. A worker
// must not ask while the user-interface thread waits for that worker, or both
// wait forever.

class QWidget;

// owner: the window the dialogs are centred on (may be null; not owned, and
// forgotten when it is destroyed).
void installQtDialogs(QWidget* owner = nullptr);
// Restores the defaults (messages to standard error, file requests cancelled).
void removeQtDialogs();
