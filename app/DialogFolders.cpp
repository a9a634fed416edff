#include "app/DialogFolders.h"

#include "base/FileIo.h"
#include "base/ReplacedFile.h"
#include "base/UserFolders.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <span>
#include <sstream>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr const char* kSettingsFolder = "velumo";
constexpr const char* kSettingsName = "dialog-folders";

const char* keyOf(DialogKind kind) {
    return kind == DialogKind::AddFiles ? "add-files" : "save-converted";
}

bool isFolder(const std::string& path, struct stat* info = nullptr) {
    struct stat own {};
    struct stat* out = info != nullptr ? info : &own;
    return !path.empty() && path[0] == '/' && ::stat(path.c_str(), out) == 0 &&
           S_ISDIR(out->st_mode);
}

// Longer settings are not a file Velumo or the desktop wrote: only their
// start is read.
constexpr size_t kSettingsLimit = 64 * 1024;

// The text of a small settings file; "" when it is missing or is not a
// regular file (a FIFO there must not hold the dialog, nor a device fill
// the memory).
std::string readText(const std::string& path) {
    const RegularFileContents contents = readRegularFile(path.c_str(), kSettingsLimit);
    if (!contents.ok) {
        if (!contents.missing) {
            std::fprintf(stderr, "velumo: cannot read %s: %s\n", path.c_str(),
                         contents.problem.c_str());
        }
        return {};
    }
    return {contents.bytes.begin(), contents.bytes.end()};
}

// The "key=value" lines of the settings file.
std::map<std::string, std::string> readSettings(const std::string& path) {
    std::map<std::string, std::string> settings;
    std::istringstream text(readText(path));
    std::string line;
    while (std::getline(text, line)) {
        const size_t equals = line.find('=');
        if (!line.empty() && line[0] != '#' && equals != std::string::npos) {
            settings[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return settings;
}

// The value of XDG_MUSIC_DIR in user-dirs.dirs, which the shell reads:
// XDG_MUSIC_DIR="$HOME/Music" or an absolute path, backslash escapes inside
// the quotes; the last line wins. "" when there is none.
std::string musicFolderSetting(const std::string& userDirs, const std::string& home) {
    constexpr std::string_view kKey = "XDG_MUSIC_DIR=";
    std::string found;
    std::istringstream text(readText(userDirs));
    std::string line;
    while (std::getline(text, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, kKey.size(), kKey) != 0) {
            continue;
        }
        std::string value;
        const std::string raw = line.substr(start + kKey.size());
        const bool quoted = !raw.empty() && raw[0] == '"';
        for (size_t i = quoted ? 1 : 0; i < raw.size(); ++i) {
            if (quoted && raw[i] == '"') {
                break;
            }
            if (raw[i] == '\\' && i + 1 < raw.size()) {
                ++i;
            }
            value += raw[i];
        }
        if (value == "$HOME" || value.compare(0, 6, "$HOME/") == 0) {
            found = home + value.substr(5);
        } else if (!value.empty() && value[0] == '/') {
            found = value;
        } else {
            found.clear();
        }
    }
    return found;
}

} // namespace

DialogFolders::DialogFolders(std::string configHomeFolder, std::string homeFolder)
    : configHome(std::move(configHomeFolder)), home(std::move(homeFolder)) {}

DialogFolders DialogFolders::fromEnvironment() {
    return {xdgFolder("XDG_CONFIG_HOME", ".config"), homeFolder()};
}

std::string DialogFolders::settingsPath() const {
    return configHome + "/" + kSettingsFolder + "/" + kSettingsName;
}

std::string DialogFolders::defaultFolder() const {
    std::string music = musicFolderSetting(configHome + "/user-dirs.dirs", home);
    struct stat musicInfo {};
    struct stat homeInfo {};
    // xdg-user-dir answers the home folder for a music folder that is not
    // set; only a folder of its own is the music folder.
    if (isFolder(music, &musicInfo) &&
        !(isFolder(home, &homeInfo) && musicInfo.st_dev == homeInfo.st_dev &&
          musicInfo.st_ino == homeInfo.st_ino)) {
        return music;
    }
    return home;
}

std::string DialogFolders::rememberedFolder(DialogKind kind) const {
    const auto settings = readSettings(settingsPath());
    const auto it = settings.find(keyOf(kind));
    return it == settings.end() ? std::string() : it->second;
}

std::string DialogFolders::folder(DialogKind kind) const {
    const std::string remembered = rememberedFolder(kind);
    return isFolder(remembered) ? remembered : defaultFolder();
}

bool DialogFolders::remember(DialogKind kind, const std::string& folder) const {
    if (folder.empty() || folder[0] != '/' || folder.find('\n') != std::string::npos ||
        folder.find('\0') != std::string::npos) {
        return false;
    }
    auto settings = readSettings(settingsPath());
    if (settings[keyOf(kind)] == folder) {
        return true;
    }
    settings[keyOf(kind)] = folder;
    std::string text = "# The folders Velumo's file dialogs open in\n";
    for (const auto& [key, value] : settings) {
        text.append(key).append("=").append(value).append("\n");
    }

    const std::string path = settingsPath();
    std::error_code error;
    std::filesystem::create_directories(configHome + "/" + kSettingsFolder, error);
    // The file is Velumo's own: anything else standing at its name (a FIFO,
    // a link to a device) gives way to it.
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        ::unlink(path.c_str());
    }
    // Replaced whole, so that a failed write leaves the folders remembered
    // before.
    std::string problem;
    const bool ok = replaceFileContents(
        path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), &problem);
    if (!ok) {
        std::fprintf(stderr, "velumo: cannot write %s: %s\n", path.c_str(), problem.c_str());
    }
    return ok;
}
