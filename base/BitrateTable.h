#pragma once
// The bitrates a conversion offers, as the main window's Bitrate box, the
// program's string table and velumo-convert's --bitrate write them, and the
// output sample rates they mean (11025 x kilobytes / 16). The one place
// their texts and the default are written.

struct Bitrate {
    const char* text; // "32KB" .. "192KB"
    double rate;      // samples per second
    bool listed;      // offered in the Bitrate box; a typed text may name any
};

inline constexpr Bitrate kBitrates[] = {
    {"32KB", 22050.0, true},  {"48KB", 33075.0, true},   {"64KB", 44100.0, true},
    {"80KB", 55125.0, true},  {"96KB", 66150.0, true},   {"112KB", 77175.0, true},
    {"144KB", 99225.0, true}, {"160KB", 110250.0, true}, {"192KB", 132300.0, false},
};

// What the Bitrate box shows at start, and the rate of any unknown text.
inline constexpr const Bitrate& kDefaultBitrate = kBitrates[0];
