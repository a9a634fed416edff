#pragma once
// Installs the Qt implementations of the platform's message boxes and file
// dialogs (platform/MessageBox.h, platform/FileDialog.h).
//
// Message boxes are always shown on the user-interface thread. From another
// thread, a message with only OK is queued there and the call returns at once;
// a Yes/No question blocks until the user has answered, so a worker must not
// ask while the user-interface thread waits for that worker, or both wait
// forever. The thread that installs must be the user-interface thread, and a
// QApplication must exist.
//
// A file request without an initial folder opens where the last dialog of
// its kind was confirmed (app/DialogFolders.h); every confirmed choice is
// remembered there for the next run.

class QWidget;

// owner: the window the dialogs are centred on (may be null; not owned, and
// forgotten when it is destroyed).
void installQtDialogs(QWidget* owner = nullptr);
// Restores the defaults (messages to standard error, file requests cancelled).
void removeQtDialogs();
