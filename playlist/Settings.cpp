#include "playlist/Settings.h"

#include "base/FileIo.h"
#include "base/ReplacedFile.h"
#include "playlist/ProgramFiles.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <system_error>

namespace {

constexpr size_t kMaxBitrateText = 32;

// A whole decimal number in [low, high]; nothing else counts.
bool readNumber(std::string_view text, int32_t low, int32_t high, int32_t& out) {
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        return false;
    }
    out = value;
    return true;
}

bool printableText(std::string_view text) {
    if (text.empty() || text.size() > kMaxBitrateText) {
        return false;
    }
    for (const char c : text) {
        if (c < 0x21 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string settingsPath(const std::string& xdgConfigHome, const std::string& home) {
    if (!xdgConfigHome.empty() && xdgConfigHome.front() == '/') {
        return xdgConfigHome + "/velumo/settings";
    }
    if (!home.empty() && home.front() == '/') {
        return home + "/.config/velumo/settings";
    }
    return {};
}

std::string currentSettingsPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    return settingsPath(config ? config : "", ProgramFiles::homeDirectory());
}

Settings decodeSettings(std::string_view text) {
    Settings settings;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const std::string_view name = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (name == "volume") {
            readNumber(value, 0, 0xFFFF, settings.volume);
        } else if (name == "repeat") {
            readNumber(value, 0, 2, settings.repeatMode);
        } else if (name == "bitrate" && printableText(value)) {
            settings.bitrate = value;
        }
    }
    return settings;
}

std::string encodeSettings(const Settings& settings) {
    return "volume=" + std::to_string(settings.volume) +
           "\nrepeat=" + std::to_string(settings.repeatMode) + "\nbitrate=" + settings.bitrate +
           "\n";
}

Settings readSettings(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    // Never blocks on a FIFO in the file's place, and refuses a file that is
    // larger than any settings Velumo writes.
    const RegularFileContents contents = readRegularFile(path.c_str(), kMaxSettingsBytes);
    if (!contents.ok || contents.truncated) {
        return {};
    }
    return decodeSettings(std::string_view(reinterpret_cast<const char*>(contents.bytes.data()),
                                           contents.bytes.size()));
}

bool writeSettings(const std::string& path, const Settings& settings, std::string* problem) {
    if (path.empty()) {
        if (problem) {
            *problem = "no folder for the settings (neither XDG_CONFIG_HOME nor a home is set)";
        }
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    if (error) {
        if (problem) {
            *problem = error.message();
        }
        return false;
    }
    const std::string text = encodeSettings(settings);
    return replaceFileContents(
        path, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), problem);
}
