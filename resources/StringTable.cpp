#include "resources/StringTable.h"

#include <map>

namespace {

const std::map<int, std::string>& table() {
    static const std::map<int, std::string> entries = {
        {101, "&About..."}, {103, "32KB"},  {104, "48KB"},  {105, "64KB"},
        {106, "80KB"},      {107, "96KB"},  {108, "112KB"}, {109, "144KB"},
        {110, "160KB"},     {111, "192KB"}, {118, "mono"},  {119, "stereo"},
    };
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
