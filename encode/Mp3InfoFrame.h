#pragma once
// The Info frame that opens a constant-bitrate MP3 stream, in the layout
// LAME gives it: a silent frame whose body tells a player how many frames
// and bytes follow and how many samples the encoder added before and after
// the input, so that the player trims them and shows the exact length.
//
// The frame takes its MPEG version, sample rate and channel mode from the
// stream's first audio frame and its bitrate from that frame too, unless
// that bitrate's frames are too small for the fields: then the smallest
// bitrate whose frame holds them (the frame's own header gives its length,
// so decoders step over it as usual).
//
// Pure functions; any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Mp3StreamFigures {
    uint32_t frames = 0;     // audio frames after the Info frame
    uint32_t bytes = 0;      // bytes of the stream, the Info frame included
    uint32_t delay = 0;      // samples before the input (at most 4095)
    uint32_t padding = 0;    // samples after the input (at most 4095)
    uint16_t musicCrc = 0;   // crc16 of the audio frames' bytes
    uint32_t lowpassHz = 0;  // the encoder's lowpass; 0 when not known
    uint32_t sourceRate = 0; // the input's sample rate
    std::string encoder;     // up to 9 characters ("LAME3.100")
};

namespace mp3_info_frame {

// The size of the Info frame for a stream whose first audio frame starts
// with header (4 bytes); 0 when header is no MPEG audio layer III header.
uint32_t frameBytes(const uint8_t* header);

// The Info frame (frameBytes(header) bytes), or empty for a header that is
// not layer III.
std::vector<uint8_t> build(const uint8_t* header, const Mp3StreamFigures& figures);

// CRC-16 with polynomial 0x8005, bit-reversed, as the frame's two checksums
// use; continue a running sum by passing it as crc.
uint16_t crc16(const uint8_t* bytes, size_t count, uint16_t crc = 0);

} // namespace mp3_info_frame
