#include "platform/FileDialog.h"

#include <mutex>

namespace {

std::mutex handlerMutex;
OpenFilesHandler openHandler; // Guarded by handlerMutex
SaveFileHandler saveHandler;  // Guarded by handlerMutex

} // namespace

OpenFilesHandler setOpenFilesHandler(OpenFilesHandler handler) {
    std::lock_guard lock(handlerMutex);
    std::swap(openHandler, handler);
    return handler;
}

SaveFileHandler setSaveFileHandler(SaveFileHandler handler) {
    std::lock_guard lock(handlerMutex);
    std::swap(saveHandler, handler);
    return handler;
}

// The handlers run outside the lock: a dialog waits for the user.
std::vector<std::string> openFiles(const OpenFilesRequest& request) {
    OpenFilesHandler handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = openHandler;
    }
    return handler ? handler(request) : std::vector<std::string>{};
}

std::optional<std::string> saveFile(const SaveFileRequest& request) {
    SaveFileHandler handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = saveHandler;
    }
    return handler ? handler(request) : std::nullopt;
}

std::vector<std::pair<std::string, std::string>> parseFileFilter(const std::string& filter) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= filter.size()) {
        const size_t bar = filter.find('|', start);
        if (bar == std::string::npos) {
            parts.push_back(filter.substr(start));
            break;
        }
        parts.push_back(filter.substr(start, bar - start));
        start = bar + 1;
    }
    std::vector<std::pair<std::string, std::string>> entries;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].empty() && parts[i + 1].empty()) {
            break; // the "||" that ends the list
        }
        if (!parts[i + 1].empty()) {
            entries.emplace_back(parts[i], parts[i + 1]);
        }
    }
    return entries;
}
