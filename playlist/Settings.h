#pragma once
// The player's settings that outlive a run: the volume, the repeat mode and
// the bitrate of conversions. They live apart from the stored list (whose
// layout never changes), in <config>/velumo/settings, where <config> is
// $XDG_CONFIG_HOME when it is an absolute path and <home>/.config
// otherwise.
//
// The file is text, one "name=value" line per setting:
//   volume=32768      0 .. 65535, the slider's position
//   repeat=0          0 go straight, 1 repeat one, 2 repeat all
//   bitrate=32KB      the Bitrate box's text (up to 32 printable ASCII
//                     characters; the window takes only one of its own)
// A missing file, one that cannot be read, a line that is not understood
// or a value out of range gives that setting's default, silently: the
// settings are a convenience, never a reason to refuse to start. Files
// larger than kMaxSettingsBytes are not read at all.
//
// Any thread; no Qt.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr size_t kMaxSettingsBytes = 4096;

struct Settings {
    int32_t volume = 0x8000;
    int32_t repeatMode = 0;
    std::string bitrate = "32KB";

    bool operator==(const Settings&) const = default;
};

// The settings file for these environment values (empty for unset); empty
// when neither names an absolute folder.
std::string settingsPath(const std::string& xdgConfigHome, const std::string& home);
// The settings file of the running user (the environment, and the password
// database's home when HOME is unset).
std::string currentSettingsPath();

Settings decodeSettings(std::string_view text);
std::string encodeSettings(const Settings& settings);

// Reads path; the defaults for anything it does not give. Never blocks on a
// FIFO or a device: only a regular file is read.
Settings readSettings(const std::string& path);
// Creates the folder when missing and replaces the file whole (a failure
// leaves the old file). False, with problem set when given, on failure.
bool writeSettings(const std::string& path, const Settings& settings,
                   std::string* problem = nullptr);
