#pragma once
// Reads the Info (or Xing) frame that opens an MP3 stream: the fields that
// tell a player the exact length and how much to trim at both ends.

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct Mp3InfoFrame {
    std::string tag;          // "Info" for constant bitrate, "Xing" otherwise
    uint32_t frameBytes = 0;  // size of the Info frame itself
    uint32_t frames = 0;      // audio frames after the Info frame
    uint32_t bytes = 0;       // bytes of the stream, the Info frame included
    std::string encoder;      // "LAME3.100"
    uint32_t delay = 0;       // samples to drop at the start
    uint32_t padding = 0;     // samples to drop at the end
    uint32_t musicLength = 0; // bytes of the stream, as the encoder counted them
    uint16_t musicCrc = 0;    // of the audio frames' bytes
    uint16_t tagCrc = 0;      // of the frame's bytes before this field
    size_t tagCrcAt = 0;      // where that field is in the frame
};

// CRC-16, polynomial 0x8005 bit-reversed, bit by bit.
inline uint16_t infoCrc16(const uint8_t* bytes, size_t count) {
    uint16_t crc = 0;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
        }
    }
    return crc;
}

// The Info frame at the start of file, or nothing when the first frame is
// an ordinary audio frame.
inline std::optional<Mp3InfoFrame> readInfoFrame(const std::vector<uint8_t>& file) {
    if (file.size() < 4 || file[0] != 0xFF || (file[1] & 0xE0) != 0xE0) {
        return std::nullopt;
    }
    static const int kMpeg1Rates[] = {44100, 48000, 32000};
    static const int kMpeg1Bitrates[] = {0,   32,  40,  48,  56,  64,  80, 96,
                                         112, 128, 160, 192, 224, 256, 320};
    static const int kMpeg2Bitrates[] = {0,  8,  16, 24,  32,  40,  48, 56,
                                         64, 80, 96, 112, 128, 144, 160};
    const int version = (file[1] >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    const int bitrateIndex = file[2] >> 4;
    const int rateIndex = (file[2] >> 2) & 3;
    const bool mono = (file[3] >> 6) == 3;
    if (version == 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
        return std::nullopt;
    }
    const int rate = kMpeg1Rates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
    const int kbps = version == 3 ? kMpeg1Bitrates[bitrateIndex] : kMpeg2Bitrates[bitrateIndex];
    const int slots = version == 3 ? 144 : 72;
    const size_t at = 4 + (version == 3 ? (mono ? 17 : 32) : (mono ? 9 : 17));
    if (file.size() < at + 8 + 120 + 36) {
        return std::nullopt;
    }
    auto be32 = [&](size_t p) {
        return uint32_t(file[p]) << 24 | uint32_t(file[p + 1]) << 16 | uint32_t(file[p + 2]) << 8 |
               file[p + 3];
    };
    Mp3InfoFrame info;
    info.tag.assign(reinterpret_cast<const char*>(&file[at]), 4);
    if (info.tag != "Info" && info.tag != "Xing") {
        return std::nullopt;
    }
    info.frameBytes = uint32_t(slots * kbps * 1000 / rate + ((file[2] >> 1) & 1));
    const uint32_t flags = be32(at + 4);
    size_t p = at + 8;
    if (flags & 1) {
        info.frames = be32(p);
        p += 4;
    }
    if (flags & 2) {
        info.bytes = be32(p);
        p += 4;
    }
    p += (flags & 4) ? 100 : 0;
    p += (flags & 8) ? 4 : 0;
    info.encoder.assign(reinterpret_cast<const char*>(&file[p]), 9);
    info.delay = uint32_t(file[p + 21]) << 4 | file[p + 22] >> 4;
    info.padding = uint32_t(file[p + 22] & 0x0F) << 8 | file[p + 23];
    info.musicLength = be32(p + 28);
    info.musicCrc = uint16_t(file[p + 32] << 8 | file[p + 33]);
    info.tagCrc = uint16_t(file[p + 34] << 8 | file[p + 35]);
    info.tagCrcAt = p + 34;
    return info;
}

} // namespace testing_support
