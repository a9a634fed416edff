#include "app/record/RecordCommand.h"

#include "app/MainWindow.h"
#include "app/record/RecordDialog.h"

#include <memory>

void runRecordCommand(MainWindow& window) {
    const ProgramFiles& files = window.programFiles();
    files.ensureDataDirectory();
    const std::string take = files.recordedTakePath();

    window.onCommand(kIdStop);
    const int modeBefore = window.player().modeWithoutTake();
    window.setListMode(kListRecording);

    auto dialog = std::make_unique<RecordDialog>(&window);
    dialog->SetOutputFile(take);
    dialog->exec();
    const bool recorded = dialog->recordedTake();
    // The recorder stops with the dialog: only then is the file complete.
    dialog.reset();

    if (!recorded) {
        // Capture never started: the file is an earlier take, or none, and
        // nothing is loaded. The list goes back to the mode it was in, with
        // its rows and buttons enabled, rather than staying greyed for a
        // take that does not exist.
        window.setListMode(modeBefore);
        window.resetPlayer();
        window.setStatus(0);
        return;
    }
    // A take that cannot be loaded shows the player's error in the title.
    window.loadFile(take, "Record Audio");
}

void installRecordCommand(MainWindow& window) {
    window.setCommandHandler(kIdRecord, runRecordCommand);
}
