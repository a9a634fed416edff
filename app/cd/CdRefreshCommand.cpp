#include "app/cd/CdRefreshCommand.h"

#include "app/MainWindow.h"
#include "cd/CdDrive.h"
#include "controls/PlayListView.h"
#include "platform/MessageBox.h"

#include <cstdio>

void cdRefreshCommand(MainWindow& window) {
    if (window.outputDevice.playing) {
        window.outputDevice.Stop();
    }
    window.mixer.RemoveAll();
    window.outputDevice.Detach();
    // Coming from the file mode this keeps the file rows for later.
    window.setListMode(kListCdTracks);
    if (window.listView) {
        window.listView->DeleteAllItems();
    }

    // The drive that lists the tracks is not the one that plays them: the
    // Mixer opens its own on the first track.
    CdDrive drive;
    if (!drive.ReadDisc()) {
        showMessage(kNoCdMessage);
        return;
    }
    for (int i = 0; i < drive.TrackCount(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Track-%02d", i);
        window.addRow(name, drive.TrackSeconds(i), drive.TrackBytes(i), "CDROM");
    }

    const bool loaded = window.mixer.LoadCdTrack(0) != nullptr;
    window.currentIndex = 0;
    if (window.listView) {
        window.listView->SelectRow(0);
    }
    window.loadCdTrack("Track-00");
    window.setStatus(0);
    // A device opened on an empty Mixer would have no format to play.
    if (loaded) {
        window.outputDevice.SetSource(&window.mixer);
    }
}
