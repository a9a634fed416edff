#pragma once
// The wave format record: the classic 18-byte little-endian layout followed by
// cbSize extra bytes of codec data. Two formats are equal when their first 18
// bytes are; the extra bytes are never compared.

#include <cstddef>
#include <cstdint>
#include <vector>

#pragma pack(push, 1)
struct WaveFormat {
    uint16_t wFormatTag = 1; // 1 = PCM; anything else is a compressed format
    uint16_t nChannels = 2;
    uint32_t nSamplesPerSec = 44100;
    uint32_t nAvgBytesPerSec = 176400;
    uint16_t nBlockAlign = 4; // bytes per block (for PCM, one sample frame)
    uint16_t wBitsPerSample = 16;
    uint16_t cbSize = 0; // extra bytes that follow the record
};
#pragma pack(pop)
static_assert(sizeof(WaveFormat) == 18, "WaveFormat must keep the on-disk layout");

constexpr uint16_t kWaveFormatPcm = 1;
constexpr size_t kWaveFormatBaseSize = 18;

// Compares the first 18 bytes.
bool sameFormat(const WaveFormat& a, const WaveFormat& b);

// PCM with block alignment, byte rate and cbSize derived from the rest:
// nBlockAlign = bits x channels / 8, nAvgBytesPerSec = nBlockAlign x rate.
WaveFormat pcmFormat(uint16_t channels, uint32_t samplesPerSec, uint16_t bitsPerSample);

// The format of a freshly made file stream: PCM, stereo, 44100 Hz, 16 bits.
inline WaveFormat defaultWaveFormat() {
    return pcmFormat(2, 44100, 16);
}

// Bytes per second of the format. Where one block is one sample frame (PCM,
// IEEE float, A-law, mu-law, the extensible form) that is nBlockAlign x rate,
// whatever nAvgBytesPerSec says: files get that field wrong, and a byte rate
// of 1 would make every read empty. Other formats only state it there.
uint32_t bytesPerSecond(const WaveFormat& format);

// Bytes for whole seconds of the format, rounded down to whole blocks:
// nBlockAlign x ((seconds x bytesPerSecond) / nBlockAlign). 64-bit, so that
// long positions do not wrap; 0 for a format with no block alignment.
uint64_t secondsToBytes(const WaveFormat& format, uint64_t seconds);

// One tenth of a second of the format, rounded down to whole blocks but at
// least one block (the request size of every source that loads a format).
uint32_t tenthOfSecondBytes(const WaveFormat& format);

// Turns a "fmt " payload of the big-endian "RIFX" form into the
// little-endian record, in place, as far as size bytes go: the seven fields
// and, for WAVE_FORMAT_EXTENSIBLE, the valid bits, the channel mask and the
// sub-format GUID's three leading fields. A GUID that a writer left in
// little-endian order is kept as it is.
void waveFormatFromBigEndian(uint8_t* record, size_t size);

// Owned storage for a stream's format: largestFormatSize() bytes, zero-filled,
// holding the 18-byte record and its extra bytes. Never reallocated, so the
// pointer a stream hands out stays valid for the stream's life.
class FormatBuffer {
  public:
    FormatBuffer(); // holds the default format
    explicit FormatBuffer(const WaveFormat& format);

    WaveFormat* get() { return reinterpret_cast<WaveFormat*>(bytes.data()); }
    const WaveFormat* get() const { return reinterpret_cast<const WaveFormat*>(bytes.data()); }
    WaveFormat* operator->() { return get(); }
    const WaveFormat* operator->() const { return get(); }
    WaveFormat& operator*() { return *get(); }
    const WaveFormat& operator*() const { return *get(); }
    size_t capacity() const { return bytes.size(); }

    // Copies 18 + cbSize bytes of a format record. Extra bytes that do not fit
    // are dropped and cbSize is reduced to what was kept.
    void assign(const WaveFormat& format);
    // Copies raw bytes (a file's "fmt " payload) over the start of the buffer,
    // leaving the bytes past them as they were; at most capacity() bytes are
    // taken and cbSize is clamped to what the buffer holds.
    void assignBytes(const void* data, size_t size);

    const uint8_t* extraBytes() const { return bytes.data() + kWaveFormatBaseSize; }

  private:
    std::vector<uint8_t> bytes;
};
