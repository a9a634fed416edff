#pragma once
// The bitrate texts of the main window's Bitrate box and the output sample
// rates they mean (11025 x kilobytes / 16): the rate of a conversion, shared
// by the Convert command and velumo-convert's --bitrate.

#include <string>

struct Bitrate {
    const char* text; // "32KB" .. "192KB"
    double rate;      // samples per second
};

inline constexpr Bitrate kBitrates[] = {
    {"32KB", 22050.0},  {"48KB", 33075.0},   {"64KB", 44100.0},
    {"80KB", 55125.0},  {"96KB", 66150.0},   {"112KB", 77175.0},
    {"144KB", 99225.0}, {"160KB", 110250.0}, {"192KB", 132300.0},
};

// The rate of any other text.
inline constexpr double kDefaultBitrateRate = 22050.0;

// The rate for a bitrate text, compared exactly (case and spaces count);
// kDefaultBitrateRate for any other text.
double bitrateValueOf(const std::string& text);
