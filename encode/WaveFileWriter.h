#pragma once
// Writes PCM as a RIFF WAVE file with the classic 44-byte header:
//   "RIFF" n+36 "WAVE" "fmt " 16 {1, channels, rate, bytes/s, block, bits}
//   "data" n, then the n PCM bytes (no pad byte after an odd n).
// Bytes per second and block alignment are recomputed from bits, channels
// and rate; the format tag is always 1.
//
// The header holds 32-bit sizes, so a file carries at most
// kMaxDataBytes of PCM. A Write that would pass that limit is refused with
// kTooLargeMessage and stops the writer, so the finished file is still valid
// and states exactly the bytes it holds.

#include "encode/OutputFile.h"

#include <array>
#include <cstdint>

class WaveFileWriter : public OutputFile {
  public:
    static constexpr uint32_t kHeaderBytes = 44;
    static constexpr uint32_t kMaxDataBytes = UINT32_MAX - 36;
    static constexpr const char* kTooLargeMessage =
        "The wave file has reached its size limit of 4 GB; the rest is not written.";

    // Writes the header with a data length of 0; the data follows it.
    bool Begin() override;
    // Hands input over for writing as it is and counts its bytes.
    bool Encode(AudioBuffer& input, AudioBuffer& out) override;
    // Rewrites the header with the data length counted since Begin.
    bool Finish() override;

    uint32_t DataBytes() const { return dataBytes; }

    // The 44 header bytes for a data length of n.
    static std::array<uint8_t, kHeaderBytes> makeHeader(const WaveFormat& format, uint32_t n);

  protected:
    // Lowered by tests to reach the size limit without writing 4 GB.
    uint32_t dataLimit = kMaxDataBytes;

  private:
    bool writeHeader(uint32_t n);

    std::array<uint8_t, kHeaderBytes> header{};
    uint32_t dataBytes = 0;
};
