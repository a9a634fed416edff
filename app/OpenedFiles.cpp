#include "app/OpenedFiles.h"

#include "app/MainWindow.h"
#include "controls/PlayListView.h"

#include <unordered_map>

bool addAndPlay(MainWindow& window, const std::vector<std::string>& paths) {
    if (paths.empty() || window.listView == nullptr) {
        return false;
    }
    window.setListMode(kListFiles);
    window.addFiles(paths);
    // A file already in the list was not added again: its row plays.
    PlayListView& list = *window.listView;
    std::unordered_map<std::string, int> rows;
    for (int row = list.GetItemCount() - 1; row >= 0; --row) {
        rows[list.GetItemText(row, 4)] = row;
    }
    for (const std::string& path : paths) {
        const auto found = rows.find(path);
        if (found != rows.end()) {
            list.SelectRow(found->second);
            list.clickedRow = found->second;
            window.onCommand(kNewItem);
            return true;
        }
    }
    return false;
}
