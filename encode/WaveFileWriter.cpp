#include "encode/WaveFileWriter.h"

#include "platform/MessageBox.h"

#include <algorithm>
#include <utility>

namespace {

void put16(uint8_t* at, uint16_t v) {
    at[0] = uint8_t(v);
    at[1] = uint8_t(v >> 8);
}

void put32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        at[i] = uint8_t(v >> (8 * i));
    }
}

// A four-character chunk id, without its terminating zero.
void putTag(uint8_t* at, const char (&tag)[5]) {
    std::copy_n(tag, 4, at);
}

} // namespace

std::array<uint8_t, WaveFileWriter::kHeaderBytes>
WaveFileWriter::makeHeader(const WaveFormat& format, uint32_t n) {
    std::array<uint8_t, kHeaderBytes> h{};
    uint8_t* p = h.data();
    uint32_t bitsTimesChannels = uint32_t(format.wBitsPerSample) * format.nChannels;
    putTag(p, "RIFF");
    put32(p + 4, n + 36);
    putTag(p + 8, "WAVE");
    putTag(p + 12, "fmt ");
    put32(p + 16, 16);
    put16(p + 20, kWaveFormatPcm);
    put16(p + 22, format.nChannels);
    put32(p + 24, format.nSamplesPerSec);
    put32(p + 28, (bitsTimesChannels * format.nSamplesPerSec) >> 3);
    put16(p + 32, uint16_t(bitsTimesChannels / 8));
    put16(p + 34, format.wBitsPerSample);
    putTag(p + 36, "data");
    put32(p + 40, n);
    return h;
}

bool WaveFileWriter::writeHeader(uint32_t n) {
    if (!file) {
        return true;
    }
    header = makeHeader(format, n);
    if (std::fseek(file, 0, SEEK_SET) != 0) {
        return false;
    }
    return writeToFile(header.data(), header.size());
}

bool WaveFileWriter::Begin() {
    dataBytes = 0;
    return writeHeader(0);
}

bool WaveFileWriter::Encode(AudioBuffer& input, AudioBuffer& out) {
    uint32_t length = input.length();
    if (length > dataLimit - dataBytes) {
        // The header cannot describe more: refuse this buffer and end the
        // file here rather than write sizes that have wrapped.
        Stop();
        endedAtLimit = true;
        showMessage(kTooLargeMessage);
        input.clear();
        return false;
    }
    // input already is a private copy of what Write received; handing the
    // block over saves copying it again. The next Write starts a new block.
    out = std::move(input);
    input = AudioBuffer();
    dataBytes += length;
    return true;
}

bool WaveFileWriter::Finish() {
    if (!file) {
        return true;
    }
    if (std::fflush(file) != 0) {
        return false;
    }
    bool ok = writeHeader(dataBytes);
    // Leave the position at the end so that nothing can follow the header.
    std::fseek(file, 0, SEEK_END);
    return ok;
}
