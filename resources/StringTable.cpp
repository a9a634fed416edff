#include "resources/StringTable.h"

#include "base/BitrateTable.h"

#include <map>

namespace {

std::map<int, std::string> makeTable() {
    std::map<int, std::string> entries = {
        {kStringAbout, "&About..."},
        {kStringMono, "mono"},
        {kStringStereo, "stereo"},
    };
    int id = kStringFirstBitrate;
    for (const Bitrate& bitrate : kBitrates) {
        entries[id++] = bitrate.text;
    }
    return entries;
}

const std::map<int, std::string>& table() {
    static const std::map<int, std::string> entries = makeTable();
    return entries;
}

} // namespace

std::string loadString(int id) {
    const auto it = table().find(id);
    return it == table().end() ? std::string() : it->second;
}

bool hasString(int id) {
    return table().count(id) != 0;
}
