#include "base/FormatLimits.h"

// WAVE_FORMAT_EXTENSIBLE needs 40 bytes and MS ADPCM with its seven standard
// coefficient pairs 50; codecs with larger set-up data (MPEG layer 3's 30,
// GSM's 20) all fit well within this.
uint32_t largestFormatSize() {
    return 256;
}
