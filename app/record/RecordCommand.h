#pragma once
// The Record command (button 1024): stops the player, switches the list to
// the recording mode, runs a RecordDialog on the take file (ProgramFiles)
// and then loads the take as "Record Audio". When capture did not start,
// the file is left as it was and nothing is loaded: the player is emptied
// and stays stopped in the recording mode.
//
// User-interface thread only.

class MainWindow;

void runRecordCommand(MainWindow& window);
// Installs runRecordCommand as the window's Record command.
void installRecordCommand(MainWindow& window);
