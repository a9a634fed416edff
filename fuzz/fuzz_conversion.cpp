// Feeds a format record and data through the conversion layer and through
// ConversionStream, to mono 16-bit at one of a few rates.
//
// Input: byte 0 picks the target rate and the conversion flags, byte 1 the
// size of the source buffers, bytes 2-3 the length of the format record
// (little-endian, at most the largest format size), then the record, then
// the data.
//
// Besides not crashing, the conversion layer must keep its size promise:
// after a call whose destination had the size the size query gave, nothing
// may be held back for a later call.
#include "base/FormatLimits.h"
#include "engine/ConversionStream.h"
#include "platform/AudioConverter.h"
#include "platform/MessageBox.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

class BytesStream : public AudioStream {
  public:
    BytesStream(const uint8_t* record, size_t recordSize, const uint8_t* bytes, size_t size,
                uint32_t chunk)
        : data(bytes), length(size), chunkSize(chunk) {
        format.assignBytes(record, recordSize);
    }
    const WaveFormat* GetFormat() override { return format.get(); }
    AudioBuffer GetBuffer() override {
        size_t n = std::min<size_t>(chunkSize, length - position);
        if (n == 0) {
            return {};
        }
        AudioBuffer buffer =
            AudioBuffer::fromBytes(data + position, static_cast<uint32_t>(n), true);
        position += n;
        return buffer;
    }
    void Rewind() override { position = 0; }

    FormatBuffer format;
    const uint8_t* data;
    size_t length;
    size_t position = 0;
    uint32_t chunkSize;
};

const uint32_t kRates[] = {8000, 11025, 22050, 44100, 48000, 96000};

void checkSizePromise(const WaveFormat* source, const WaveFormat* target, const uint8_t* data,
                      size_t size, uint32_t chunk, uint32_t flags) {
    AcmStream stream = nullptr;
    if (acmStreamOpen(&stream, source, target, 0) != kAcmOk) {
        return;
    }
    std::vector<uint8_t> out;
    for (size_t at = 0; at < size; at += chunk) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(chunk, size - at));
        uint32_t room = 0;
        if (acmStreamSize(stream, n, &room, kAcmSizeSource) != kAcmOk) {
            break;
        }
        if (room > (64u << 20)) {
            std::abort(); // a bound this large for a small input is a fault
        }
        out.assign(room, 0);
        AcmStreamHeader header;
        header.pbSrc = const_cast<uint8_t*>(data + at);
        header.cbSrcLength = n;
        header.pbDst = out.data();
        header.cbDstLength = room;
        if (acmStreamPrepareHeader(stream, &header, 0) != kAcmOk ||
            acmStreamConvert(stream, &header, flags) != kAcmOk) {
            std::abort();
        }
        if (header.cbDstLengthUsed > room || header.cbSrcLengthUsed > n) {
            std::abort();
        }
        acmStreamUnprepareHeader(stream, &header, 0);

        uint8_t probe[16];
        AcmStreamHeader empty;
        empty.pbDst = probe;
        empty.cbDstLength = sizeof probe;
        acmStreamPrepareHeader(stream, &empty, 0);
        acmStreamConvert(stream, &empty, 0);
        if (empty.cbDstLengthUsed != 0) {
            std::abort(); // output was held back although the size query promised room
        }
        acmStreamUnprepareHeader(stream, &empty, 0);
    }
    acmStreamClose(stream, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        setMessageHandler([](const MessageRequest&) { return MessageAnswer::Ok; });
        return true;
    }();
    (void)quiet;
    if (size < 4) {
        return 0;
    }
    uint32_t rate = kRates[data[0] % std::size(kRates)];
    uint32_t flags = kAcmConvertBlockAlign;
    if (data[0] & 0x40) {
        flags = 0;
    }
    if (data[0] & 0x80) {
        flags |= kAcmConvertEnd;
    }
    uint32_t chunk = 16u + data[1] * 37u;
    size_t recordSize =
        std::min<size_t>(static_cast<size_t>(data[2] | (data[3] << 8)), largestFormatSize());
    recordSize = std::min(recordSize, size - 4);
    const uint8_t* record = data + 4;
    const uint8_t* audio = record + recordSize;
    size_t audioSize = size - 4 - recordSize;

    BytesStream source(record, recordSize, audio, audioSize, chunk);
    WaveFormat mono = pcmFormat(1, rate, 16);
    checkSizePromise(source.GetFormat(), &mono, audio, audioSize, chunk, flags);

    ConversionStream conversion;
    conversion.SetSource(&source);
    conversion.SetOutputFormat(&mono);
    for (int i = 0; i < 4096; ++i) {
        AudioBuffer buffer = conversion.GetBuffer();
        if (buffer.isEmpty()) {
            break;
        }
        if (buffer.length() % 2 != 0) {
            std::abort();
        }
    }
    return 0;
}
