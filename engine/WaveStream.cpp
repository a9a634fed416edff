#include "engine/WaveStream.h"

#include "platform/AudioConverter.h"
#include "platform/MessageBox.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr const char* kOpenException = "Exception opening wave RIFF format.";
constexpr const char* kLoadException = "Exception caught in WaveStream::LoadWave!";

} // namespace

bool WaveStream::LoadWave(const char* path) {
    loaded = false;
    dataStart = 0;
    swapBytes = 0;
    try {
        if (!reader.Open(path)) {
            return false;
        }
    } catch (...) {
        showMessage(kOpenException);
        return false;
    }
    try {
        loaded = loadChunks();
        if (!loaded) {
            dataStart = 0;
        }
        return loaded;
    } catch (...) {
        loaded = false;
        dataStart = 0;
        showMessage(kLoadException);
        return false;
    }
}

bool WaveStream::loadChunks() {
    if (!reader.isOpen()) {
        return false;
    }
    const char* id = reader.id();
    const char* form = reader.formType();
    if (!id || !form || (std::memcmp(id, "RIFF", 4) != 0 && std::memcmp(id, "RIFX", 4) != 0) ||
        std::memcmp(form, "WAVE", 4) != 0) {
        return false;
    }
    if (!reader.Descend("fmt ")) {
        return false;
    }
    // The payload is copied over the start of the format buffer; a payload
    // larger than the buffer is cut to its size (cbSize is clamped to what
    // was kept), a shorter one leaves the rest of the record as it was.
    std::vector<uint8_t> payload(std::min<size_t>(reader.size(), format.capacity()));
    size_t got = payload.empty() ? 0 : reader.read(payload.data(), payload.size());
    if (got > 0) {
        if (reader.bigEndian()) {
            waveFormatFromBigEndian(payload.data(), got);
        }
        format.assignBytes(payload.data(), got);
    }
    reader.Ascend();

    requestSize = tenthOfSecondBytes(*format);

    if (!reader.Descend("data")) {
        return false;
    }
    // Without these, neither buffer sizes nor positions can be computed.
    if (format->nBlockAlign == 0 || bytesPerSecond(*format) == 0) {
        return false;
    }
    // A format that no conversion reads (no channels, an impossible rate or
    // sample size, an unknown tag, a block that does not fit the format)
    // would only ever yield an empty item, which a conversion would write
    // as an empty file and call a success: refuse it here. The conversion
    // layer itself is asked, so the two cannot disagree.
    WaveFormat pcm = pcmFormat(format->nChannels, format->nSamplesPerSec, 16);
    if (acmStreamOpen(nullptr, format.get(), &pcm, kAcmOpenQuery) != kAcmOk) {
        return false;
    }
    if (reader.bigEndian()) {
        // Only samples of whole bytes can be put in little-endian order;
        // what a compressed format would mean in this form is not defined.
        constexpr uint16_t kFloat = 3;
        constexpr uint16_t kExtensible = 0xFFFE;
        const uint16_t tag = format->wFormatTag;
        if (tag != kWaveFormatPcm && tag != kFloat && tag != kExtensible) {
            return false;
        }
        // The conversion layer has checked that a block is one sample per
        // channel.
        swapBytes = format->nBlockAlign / format->nChannels;
    }
    dataStart = reader.tell();
    return dataStart > 0;
}

AudioBuffer WaveStream::GetBuffer() {
    if (!loaded || !reader.isOpen()) {
        return {};
    }
    roundRequestSize(*format);
    if (requestSize == 0 || reader.atEnd()) {
        return {};
    }
    // Never allocate more than the file still holds, whatever the format
    // claims for its byte rate.
    int64_t position = reader.tell();
    int64_t left = position >= 0 ? reader.fileLength() - position : 0;
    uint32_t want = uint32_t(std::clamp<int64_t>(left, 0, requestSize));
    if (want == 0) {
        return {};
    }
    AudioBuffer buffer = AudioBuffer::allocate(want);
    if (buffer.isEmpty()) {
        return {};
    }
    buffer.setKind(BufferKind::WaveOut);
    size_t got = reader.read(buffer.data(), want);
    if (swapBytes > 1) {
        // Every read starts on a block, so whole samples line up from the
        // start; a cut-off last sample is left for the conversion to drop.
        for (size_t at = 0; at + swapBytes <= got; at += swapBytes) {
            std::reverse(buffer.data() + at, buffer.data() + at + swapBytes);
        }
    }
    buffer.setLength(uint32_t(got));
    return buffer;
}

bool WaveStream::moveTo(int64_t offset) {
    if (!loaded) {
        return false;
    }
    offset = std::clamp<int64_t>(offset, dataStart, std::max(dataStart, reader.fileLength()));
    return reader.seek(offset);
}

void WaveStream::Rewind() {
    moveTo(dataStart);
}

void WaveStream::SkipBack(uint32_t seconds) {
    if (!loaded) {
        return;
    }
    // Before the first audio byte the move stops there.
    int64_t here = std::max(reader.tell(), dataStart);
    uint64_t back =
        std::min<uint64_t>(secondsToBytes(*format, seconds), uint64_t(here - dataStart));
    moveTo(here - int64_t(back));
}

void WaveStream::SkipForward(uint32_t seconds) {
    if (!loaded) {
        return;
    }
    // Past the end the move stops at the end (secondsToBytes stays below
    // 2^64, the clamp keeps it inside the file).
    uint64_t forward = secondsToBytes(*format, seconds);
    int64_t here = reader.tell();
    uint64_t target = uint64_t(std::max<int64_t>(here, 0)) + forward;
    moveTo(target > uint64_t(INT64_MAX) ? INT64_MAX : int64_t(target));
}

void WaveStream::Seek(uint32_t seconds) {
    if (!loaded || int32_t(seconds) < 0) {
        return;
    }
    uint64_t offset = std::min<uint64_t>(secondsToBytes(*format, seconds),
                                         uint64_t(std::max<int64_t>(reader.fileLength(), 0)));
    moveTo(dataStart + int64_t(offset));
}

double WaveStream::GetPosition() {
    if (!loaded || bytesPerSecond(*format) == 0) {
        return 0.0;
    }
    return double(reader.tell() - dataStart) / bytesPerSecond(*format);
}

double WaveStream::GetDuration() {
    if (bytesPerSecond(*format) == 0) {
        return 0.0;
    }
    return double(reader.fileLength() - dataStart) / bytesPerSecond(*format);
}
