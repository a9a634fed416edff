#pragma once
// The program's string table, addressed by number.

#include <string>

inline constexpr int kStringAbout = 101; // "&About..." (system menu)
// kBitrates (base/BitrateTable.h) in order from 103: "32KB" .. "160KB", the
// listed ones, are 103 to 110; "192KB" is in the table, not in the list.
inline constexpr int kStringFirstBitrate = 103;
inline constexpr int kStringLastListedBitrate = 110;
inline constexpr int kStringBitrate192 = 111;
inline constexpr int kStringMono = 118;
inline constexpr int kStringStereo = 119;

// The entry, or "" when the table has no such number.
std::string loadString(int id);
bool hasString(int id);
