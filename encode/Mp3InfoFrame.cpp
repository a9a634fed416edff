#include "encode/Mp3InfoFrame.h"

#include <algorithm>
#include <array>

namespace mp3_info_frame {

namespace {

struct Layout {
    int version = 0; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    uint32_t rate = 0;
    int bitrateIndex = 0;
    bool mono = false;
};

constexpr std::array<uint32_t, 15> kMpeg1Kbps = {0,   32,  40,  48,  56,  64,  80, 96,
                                                 112, 128, 160, 192, 224, 256, 320};
constexpr std::array<uint32_t, 15> kMpeg2Kbps = {0,  8,  16, 24,  32,  40,  48, 56,
                                                 64, 80, 96, 112, 128, 144, 160};
constexpr std::array<uint32_t, 3> kMpeg1Rates = {44100, 48000, 32000};

// Bytes from the frame's start to the "Info" tag: the header and the side
// information, which stays zero (a silent frame).
constexpr size_t kHeaderBytes = 4;
// "Info", flags, frames, bytes, the 100-entry seek table; then LAME's
// 36-byte extension.
constexpr size_t kTagBytes = 4 + 4 + 4 + 4 + 100;
constexpr size_t kExtensionBytes = 36;

bool parse(const uint8_t* h, Layout& layout) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1) {
        return false; // no sync, or not layer III
    }
    layout.version = (h[1] >> 3) & 3;
    const int rateIndex = (h[2] >> 2) & 3;
    layout.bitrateIndex = h[2] >> 4;
    if (layout.version == 1 || rateIndex == 3 || layout.bitrateIndex == 0 ||
        layout.bitrateIndex == 15) {
        return false;
    }
    const int shift = layout.version == 3 ? 0 : layout.version == 2 ? 1 : 2;
    layout.rate = kMpeg1Rates[size_t(rateIndex)] >> shift;
    layout.mono = (h[3] >> 6) == 3;
    return true;
}

size_t sideInfoBytes(const Layout& layout) {
    if (layout.version == 3) {
        return layout.mono ? 17 : 32;
    }
    return layout.mono ? 9 : 17;
}

uint32_t kbpsOf(const Layout& layout, int index) {
    return layout.version == 3 ? kMpeg1Kbps[size_t(index)] : kMpeg2Kbps[size_t(index)];
}

uint32_t sizeAt(const Layout& layout, int index) {
    const uint32_t slots = layout.version == 3 ? 144 : 72;
    return slots * kbpsOf(layout, index) * 1000 / layout.rate;
}

// The bitrate index of the Info frame: the stream's own, or the smallest
// larger one whose frame holds every field.
int infoBitrateIndex(const Layout& layout) {
    const size_t needed = kHeaderBytes + sideInfoBytes(layout) + kTagBytes + kExtensionBytes;
    for (int index = layout.bitrateIndex; index < 15; ++index) {
        if (sizeAt(layout, index) >= needed) {
            return index;
        }
    }
    return 0;
}

void putBe32(std::vector<uint8_t>& frame, size_t at, uint32_t value) {
    frame[at] = uint8_t(value >> 24);
    frame[at + 1] = uint8_t(value >> 16);
    frame[at + 2] = uint8_t(value >> 8);
    frame[at + 3] = uint8_t(value);
}

} // namespace

uint16_t crc16(const uint8_t* bytes, size_t count, uint16_t crc) {
    static const std::array<uint16_t, 256> table = [] {
        std::array<uint16_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int bit = 0; bit < 8; ++bit) {
                c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
            }
            t[i] = uint16_t(c);
        }
        return t;
    }();
    for (size_t i = 0; i < count; ++i) {
        crc = uint16_t((crc >> 8) ^ table[(crc ^ bytes[i]) & 0xFF]);
    }
    return crc;
}

uint32_t frameBytes(const uint8_t* header) {
    Layout layout;
    if (!parse(header, layout)) {
        return 0;
    }
    const int index = infoBitrateIndex(layout);
    return index == 0 ? 0 : sizeAt(layout, index);
}

std::vector<uint8_t> build(const uint8_t* header, const Mp3StreamFigures& figures) {
    Layout layout;
    if (!parse(header, layout)) {
        return {};
    }
    const int index = infoBitrateIndex(layout);
    if (index == 0) {
        return {};
    }
    std::vector<uint8_t> frame(sizeAt(layout, index), 0);
    // The stream's version, rate and mode; no checksum, no padding slot.
    frame[0] = 0xFF;
    frame[1] = uint8_t(header[1] | 0x01);
    frame[2] = uint8_t(index << 4 | (header[2] & 0x0D));
    frame[3] = header[3];

    size_t at = kHeaderBytes + sideInfoBytes(layout);
    std::copy_n("Info", 4, frame.begin() + long(at));
    putBe32(frame, at + 4, 0x07); // frames, bytes and seek table present
    putBe32(frame, at + 8, figures.frames);
    putBe32(frame, at + 12, figures.bytes);
    // Constant bitrate: the share of the bytes grows with the share of the
    // time.
    for (size_t i = 0; i < 100; ++i) {
        frame[at + 16 + i] = uint8_t(i * 256 / 100);
    }

    at += kTagBytes;
    const std::string encoder = figures.encoder.substr(0, 9);
    std::copy(encoder.begin(), encoder.end(), frame.begin() + long(at));
    std::fill(frame.begin() + long(at + encoder.size()), frame.begin() + long(at + 9), ' ');
    frame[at + 9] = 0x01; // revision 0, constant bitrate
    frame[at + 10] = uint8_t(std::min<uint32_t>((figures.lowpassHz + 50) / 100, 255));
    // Peak and replay gain (11..18) and the encoding flags (19) stay 0.
    frame[at + 20] = uint8_t(std::min<uint32_t>(kbpsOf(layout, layout.bitrateIndex), 255));
    const uint32_t delay = std::min<uint32_t>(figures.delay, 4095);
    const uint32_t padding = std::min<uint32_t>(figures.padding, 4095);
    frame[at + 21] = uint8_t(delay >> 4);
    frame[at + 22] = uint8_t((delay & 0x0F) << 4 | padding >> 8);
    frame[at + 23] = uint8_t(padding);
    const uint32_t source = figures.sourceRate;
    const uint8_t sourceClass = source <= 32000 ? 0 : source <= 44100 ? 1 : source <= 48000 ? 2 : 3;
    frame[at + 24] = uint8_t(sourceClass << 6);
    putBe32(frame, at + 28, figures.bytes);
    frame[at + 32] = uint8_t(figures.musicCrc >> 8);
    frame[at + 33] = uint8_t(figures.musicCrc);
    const uint16_t tagCrc = crc16(frame.data(), at + 34);
    frame[at + 34] = uint8_t(tagCrc >> 8);
    frame[at + 35] = uint8_t(tagCrc);
    return frame;
}

} // namespace mp3_info_frame
