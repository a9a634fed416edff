#include "app/OpenedFiles.h"

#include "app/MainWindow.h"
#include "controls/PlayListView.h"
#include "player/PlayRow.h"

#include <string>
#include <unordered_map>
#include <vector>

bool addAndPlay(MainWindow& window, const std::vector<std::string>& paths) {
    if (paths.empty() || window.listView == nullptr) {
        return false;
    }
    window.setListMode(kListFiles);
    window.addFiles(paths);
    // A file already in the list was not added again: its row plays.
    const std::vector<PlayRow>& shown = window.player().rows().all();
    std::unordered_map<std::string, int> rows;
    for (int row = static_cast<int>(shown.size()) - 1; row >= 0; --row) {
        rows[shown[static_cast<size_t>(row)].path] = row;
    }
    for (const std::string& path : paths) {
        const auto found = rows.find(path);
        if (found != rows.end()) {
            window.listView->SelectRow(found->second);
            window.playRow(found->second);
            return true;
        }
    }
    return false;
}
