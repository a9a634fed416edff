#include "encode/Bitrates.h"

double bitrateValueOf(const std::string& text) {
    for (const Bitrate& entry : kBitrates) {
        if (text == entry.text) {
            return entry.rate;
        }
    }
    return kDefaultBitrateRate;
}
