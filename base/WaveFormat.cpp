#include "base/WaveFormat.h"

#include "base/FormatLimits.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

bool sameFormat(const WaveFormat& a, const WaveFormat& b) {
    return std::memcmp(&a, &b, kWaveFormatBaseSize) == 0;
}

WaveFormat pcmFormat(uint16_t channels, uint32_t samplesPerSec, uint16_t bitsPerSample) {
    WaveFormat f;
    f.wFormatTag = kWaveFormatPcm;
    f.nChannels = channels;
    f.nSamplesPerSec = samplesPerSec;
    f.wBitsPerSample = bitsPerSample;
    f.nBlockAlign = static_cast<uint16_t>(bitsPerSample * channels / 8);
    f.nAvgBytesPerSec = f.nBlockAlign * samplesPerSec;
    f.cbSize = 0;
    return f;
}

uint32_t bytesPerSecond(const WaveFormat& format) {
    constexpr uint16_t kIeeeFloat = 3;
    constexpr uint16_t kALaw = 6;
    constexpr uint16_t kMuLaw = 7;
    constexpr uint16_t kExtensible = 0xFFFE;
    switch (format.wFormatTag) {
    case kWaveFormatPcm:
    case kIeeeFloat:
    case kALaw:
    case kMuLaw:
    case kExtensible:
        return static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t{format.nBlockAlign} * format.nSamplesPerSec, UINT32_MAX));
    default:
        return format.nAvgBytesPerSec;
    }
}

uint64_t secondsToBytes(const WaveFormat& format, uint64_t seconds) {
    if (format.nBlockAlign == 0) {
        return 0;
    }
    return format.nBlockAlign * ((seconds * bytesPerSecond(format)) / format.nBlockAlign);
}

uint32_t tenthOfSecondBytes(const WaveFormat& format) {
    const uint32_t tenth = bytesPerSecond(format) / 10;
    if (format.nBlockAlign == 0) {
        return tenth;
    }
    return format.nBlockAlign * std::max<uint32_t>(tenth / format.nBlockAlign, 1);
}

void waveFormatFromBigEndian(uint8_t* record, size_t size) {
    auto swap = [&](size_t offset, size_t width) {
        if (offset + width <= size) {
            std::reverse(record + offset, record + offset + width);
        }
    };
    // wFormatTag, nChannels, nSamplesPerSec, nAvgBytesPerSec, nBlockAlign,
    // wBitsPerSample, cbSize.
    constexpr size_t kFields[][2] = {{0, 2}, {2, 2}, {4, 4}, {8, 4}, {12, 2}, {14, 2}, {16, 2}};
    for (const auto& field : kFields) {
        swap(field[0], field[1]);
    }
    constexpr uint16_t kExtensible = 0xFFFE;
    if (size < 2 || (record[0] | record[1] << 8) != kExtensible) {
        return;
    }
    swap(18, 2); // valid bits
    swap(20, 4); // channel mask
    // The known sub-format GUIDs all have 0x0010 as their third field: in
    // big-endian order its bytes read 00 10.
    constexpr size_t kGuid = 24;
    if (kGuid + 8 <= size && record[kGuid + 6] == 0x00 && record[kGuid + 7] == 0x10) {
        swap(kGuid, 4);
        swap(kGuid + 4, 2);
        swap(kGuid + 6, 2);
    }
}

FormatBuffer::FormatBuffer() : FormatBuffer(defaultWaveFormat()) {}

FormatBuffer::FormatBuffer(const WaveFormat& format)
    : bytes(std::max<size_t>(largestFormatSize(), kWaveFormatBaseSize), 0) {
    assign(format);
}

void FormatBuffer::assign(const WaveFormat& format) {
    size_t size = std::min(kWaveFormatBaseSize + format.cbSize, bytes.size());
    std::memcpy(bytes.data(), &format, size);
    get()->cbSize = static_cast<uint16_t>(size - kWaveFormatBaseSize);
}

void FormatBuffer::assignBytes(const void* data, size_t size) {
    size = std::min(size, bytes.size());
    if (size > 0) {
        std::memcpy(bytes.data(), data, size);
    }
    size_t room = bytes.size() - kWaveFormatBaseSize;
    if (get()->cbSize > room) {
        get()->cbSize = static_cast<uint16_t>(room);
    }
}
