#include "app/cd/CdRefreshCommand.h"

#include "app/MainWindow.h"
#include "cd/CdDrive.h"
#include "platform/MessageBox.h"
#include "player/PlayRow.h"

void cdRefreshCommand(MainWindow& window) {
    window.emptyPlayer();
    // Coming from the file mode this keeps the file rows for later.
    window.setListMode(kListCdTracks);
    window.removeAllRows();

    // The drive that lists the tracks is not the one that plays them: the
    // Mixer opens its own on the first track.
    CdDrive drive;
    if (!drive.ReadDisc()) {
        showMessage(kNoCdMessage);
        return;
    }
    for (int i = 0; i < drive.TrackCount(); ++i) {
        window.addRow(PlayRow::cdTrack(i, drive.TrackSeconds(i), drive.TrackBytes(i)));
    }
    window.startFirstCdTrack();
}
