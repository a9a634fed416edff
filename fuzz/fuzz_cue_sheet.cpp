// Feeds arbitrary text to the CUE sheet layout as a sheet beside three small
// files it may name ("a.bin", "b.wav", "c.raw"). Whatever it accepts must be
// a layout a reader can trust: rising tracks inside the disc, and segments
// that cover the disc from frame 0 to the lead-out without gaps or overlaps.
#include "platform/CueSheet.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string makeDirectory() {
    char pattern[] = "/tmp/velumo-fuzz-cue-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) {
        std::abort();
    }
    const std::string dir = made;
    auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
        FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
            std::abort();
        }
        std::fclose(f);
    };
    write("a.bin", std::vector<uint8_t>(2352 * 20 + 100, 1));
    write("c.raw", std::vector<uint8_t>(2352 * 3, 2));
    // A WAVE file of 5 frames of CD audio.
    std::vector<uint8_t> wave = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W',  'A', 'V',
                                 'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,    1,   0,
                                 2,   0,   0x44, 0xAC, 0,   0,   0x10, 0xB1, 0x02, 0,   4,
                                 0,   16,  0,    'd',  'a', 't', 'a',  0xF0, 0x2D, 0,   0};
    wave.resize(wave.size() + 2352 * 5, 3);
    write("b.wav", wave);
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = makeDirectory();
    const std::string sheet = dir + "/disc.cue";
    FILE* f = std::fopen(sheet.c_str(), "wb");
    if (!f) {
        std::abort();
    }
    std::fwrite(data, 1, size, f);
    std::fclose(f);

    (void)cueSheetNeedsLayout(std::string(reinterpret_cast<const char*>(data), size), sheet);
    CueLayout layout;
    std::string error;
    if (!loadCueLayout(sheet, &layout, &error)) {
        return 0;
    }
    uint32_t at = 0;
    for (const CueSegment& s : layout.segments) {
        if (s.start != at || s.frames == 0 || s.file >= static_cast<int>(layout.files.size())) {
            std::abort();
        }
        at += s.frames;
    }
    if (at != layout.leadOut || layout.tracks.empty()) {
        std::abort();
    }
    uint32_t previous = 0;
    for (size_t i = 0; i < layout.tracks.size(); ++i) {
        const CueTrack& t = layout.tracks[i];
        if (t.start >= layout.leadOut || (i > 0 && t.start < previous)) {
            std::abort();
        }
        previous = t.start;
    }
    return 0;
}
