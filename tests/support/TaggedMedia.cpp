#include "support/TaggedMedia.h"

#include "support/SoundServer.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <utility>

namespace testing_support {

bool haveFfmpeg() {
    static const bool present = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
    return present;
}

bool makeTaggedFile(const std::string& path, const std::vector<std::string>& codecArgs,
                    const MediaTags& tags, double seconds) {
    std::vector<std::string> argv = {
        "ffmpeg", "-nostdin", "-v",
        "error",  "-y",       "-f",
        "lavfi",  "-i",       "sine=frequency=440:duration=" + std::to_string(seconds)};
    argv.insert(argv.end(), codecArgs.begin(), codecArgs.end());
    const std::pair<const char*, const std::string*> fields[] = {
        {"title=", &tags.title}, {"artist=", &tags.artist}, {"album=", &tags.album}};
    for (const auto& [key, text] : fields) {
        if (!text->empty()) {
            argv.insert(argv.end(), {"-metadata", key + *text});
        }
    }
    argv.push_back(path);
    const pid_t pid = spawnProgram(argv, {}, "/dev/null");
    return pid > 0 && waitForProgram(pid, 120000) == 0;
}

bool appendId3v1(const std::string& path, const std::string& title, const std::string& artist,
                 const std::string& album) {
    std::vector<uint8_t> bytes = readFileBytes(path);
    if (bytes.empty()) {
        return false;
    }
    std::vector<uint8_t> tag(128, 0);
    std::copy_n("TAG", 3, tag.begin());
    auto field = tag.begin() + 3;
    for (const std::string* text : {&title, &artist, &album}) {
        std::copy_n(text->begin(), std::min<size_t>(text->size(), 30), field);
        field += 30;
    }
    tag[127] = 0xFF; // no genre
    bytes.insert(bytes.end(), tag.begin(), tag.end());
    writeFileBytes(path, bytes);
    return true;
}

bool replaceInFile(const std::string& path, const std::string& from, const std::string& to) {
    std::vector<uint8_t> bytes = readFileBytes(path);
    if (from.empty() || from.size() != to.size()) {
        return false;
    }
    const auto found = std::search(bytes.begin(), bytes.end(), from.begin(), from.end(),
                                   [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
    if (found == bytes.end()) {
        return false;
    }
    std::copy(to.begin(), to.end(), found);
    writeFileBytes(path, bytes);
    return true;
}

} // namespace testing_support
