#include "player/PlayRow.h"

#include <algorithm>
#include <cstdio>

FileKind audioFileKind(const std::string& path) {
    return fileKind(path, ExtensionRule::OfFileName);
}

std::string lengthText(int64_t seconds) {
    seconds = std::max<int64_t>(seconds, 0);
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
    return text;
}

std::string sizeText(int64_t bytes) {
    bytes = std::max<int64_t>(bytes, 0);
    char text[32];
    std::snprintf(text, sizeof text, "%lld KB", static_cast<long long>(bytes / 1024));
    return text;
}

PlayRow PlayRow::file(const std::string& path, int64_t seconds, int64_t bytes) {
    const auto slash = path.rfind('/');
    return namedFile(slash == std::string::npos ? path : path.substr(slash + 1), path, seconds,
                     bytes);
}

PlayRow PlayRow::namedFile(const std::string& name, const std::string& path, int64_t seconds,
                           int64_t bytes) {
    return fromStored({std::string(), name, lengthText(seconds), sizeText(bytes), path});
}

PlayRow PlayRow::cdTrack(int index, int64_t seconds, int64_t bytes) {
    return fromStored(
        {std::string(), trackName(index), lengthText(seconds), sizeText(bytes), kCdRowPath});
}

PlayRow PlayRow::fromStored(const StoredRow& columns) {
    PlayRow row;
    row.mark = columns[0];
    row.name = columns[1];
    row.length = columns[2];
    row.size = columns[3];
    row.path = columns[4];
    if (isCdRow(row.path)) {
        row.kind = Kind::CdTrack;
        row.track = trackIndexOfTitle(row.name);
    } else {
        row.fileKind = audioFileKind(row.path);
    }
    return row;
}

StoredRow PlayRow::storedColumns() const {
    return {mark, name, length, size, path};
}

std::string PlayRow::item() const {
    return rowItem(name, path);
}
