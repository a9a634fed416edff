#pragma once
// The Convert command (button 1031): reads the conversion rate from the
// Bitrate box, picks the source (the recorded take in the recording mode,
// otherwise the selected row's item), asks for the target with the save-file
// dialog and runs a ConvertDialog on them. Nothing follows the dialog's end.
//
// User-interface thread only.

#include "platform/FileDialog.h"

#include <string>

class MainWindow;

// The save-dialog settings for a source in a list mode (kListFiles,
// kListCdTracks, kListRecording). A file source is offered the other format
// when its last three characters, as typed, are "wav" or "mp3".
SaveFileRequest convertSaveRequest(int listMode, const std::string& source);

void convertCommand(MainWindow& window);
