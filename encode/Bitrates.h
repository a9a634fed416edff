#pragma once
// The rate of a conversion for a bitrate text (base/BitrateTable.h), shared
// by the Convert command and velumo-convert's --bitrate.

#include "base/BitrateTable.h"

#include <string>

// The rate of any other text.
inline constexpr double kDefaultBitrateRate = kDefaultBitrate.rate;

// The rate for a bitrate text, compared exactly (case and spaces count);
// kDefaultBitrateRate for any other text.
double bitrateValueOf(const std::string& text);
