#include "engine/ConversionStream.h"

#include "platform/MessageBox.h"

#include <new>

namespace {

const char* const kConvertException =
    "Exception converting stream in ConversionStream::GetBuffer()";

// A source block that yields no output yet (the start of a resampler, an
// MPEG frame split across blocks) must not read as the end of the item, so
// a few more blocks are read before giving up.
constexpr int kMaxSilentBlocks = 64;

bool openFailed(int result) {
    return result == kAcmInvalidHandle || result == kAcmNoMemory || result == kAcmInvalidFlag ||
           result == kAcmInvalidParam || result == kAcmNotPossible;
}

WaveFormat zeroFormat() {
    WaveFormat format;
    format.wFormatTag = 0;
    format.nChannels = 0;
    format.nSamplesPerSec = 0;
    format.nAvgBytesPerSec = 0;
    format.nBlockAlign = 0;
    format.wBitsPerSample = 0;
    format.cbSize = 0;
    return format;
}

} // namespace

ConversionStream::ConversionStream()
    : sourceFormat(zeroFormat()), targetFormat(defaultWaveFormat()) {}

ConversionStream::~ConversionStream() {
    closeConverter();
}

bool ConversionStream::openConverter() {
    int result = acmStreamOpen(&converter, sourceFormat.get(), targetFormat.get(), 0);
    restart = false;
    return !openFailed(result);
}

void ConversionStream::closeConverter() {
    if (converter && acmStreamClose(converter, 0) == kAcmOk) {
        converter = nullptr;
    }
}

void ConversionStream::SetSource(AudioStream* stream) {
    if (source) {
        closeConverter();
    }
    FilterStream::SetSource(stream);
    const WaveFormat* format = stream ? stream->GetFormat() : nullptr;
    if (!format) {
        return;
    }
    sourceFormat.assign(*format);
    targetFormat.assign(pcmFormat(format->nChannels, format->nSamplesPerSec, 16));
    openConverter();
}

bool ConversionStream::SetOutputFormat(const WaveFormat* format) {
    if (!format || sameFormat(*format, *targetFormat)) {
        return false;
    }
    closeConverter();
    targetFormat.assign(*format);
    return openConverter();
}

AudioBuffer ConversionStream::convert(const AudioBuffer& input, uint32_t flags) {
    uint32_t size = 0;
    if (acmStreamSize(converter, input.length(), &size, kAcmSizeSource) != kAcmOk) {
        return {};
    }
    AudioBuffer output = AudioBuffer::allocate(size, true);
    if (size > 0 && output.length() != size) {
        throw std::bad_alloc();
    }
    AcmStreamHeader header;
    header.dwUser = reinterpret_cast<uintptr_t>(this);
    header.pbSrc = const_cast<uint8_t*>(input.data());
    header.cbSrcLength = input.length();
    header.dwSrcUser = reinterpret_cast<uintptr_t>(&input);
    header.pbDst = output.data();
    header.cbDstLength = size;
    header.dwDstUser = reinterpret_cast<uintptr_t>(&output);
    if (restart) {
        flags |= kAcmConvertStart;
        restart = false;
    }
    if (acmStreamPrepareHeader(converter, &header, 0) != kAcmOk) {
        return {};
    }
    if (acmStreamConvert(converter, &header, flags) != kAcmOk) {
        acmStreamUnprepareHeader(converter, &header, 0);
        return {};
    }
    AudioBuffer result;
    if (header.cbDstLengthUsed > 0) {
        result = AudioBuffer::fromBytes(output.data(), header.cbDstLengthUsed, true);
        if (result.isEmpty()) {
            throw std::bad_alloc();
        }
    }
    acmStreamUnprepareHeader(converter, &header, 0);
    return result;
}

AudioBuffer ConversionStream::GetBuffer() {
    try {
        if (!converter || !source) {
            return {};
        }
        for (int attempt = 0; attempt < kMaxSilentBlocks; ++attempt) {
            AudioBuffer input = source->GetBuffer();
            if (input.isEmpty()) {
                // The end of the source: hand out what the converter still
                // holds (the resampler's last samples, a last MPEG frame).
                return convert(AudioBuffer(), kAcmConvertBlockAlign | kAcmConvertEnd);
            }
            AudioBuffer output = convert(input, kAcmConvertBlockAlign);
            if (!output.isEmpty()) {
                return output;
            }
        }
        return {};
    } catch (...) {
        showMessage(kConvertException);
        return {};
    }
}

void ConversionStream::Rewind() {
    FilterStream::Rewind();
    restart = true;
}

void ConversionStream::SkipBack(uint32_t seconds) {
    FilterStream::SkipBack(seconds);
    restart = true;
}

void ConversionStream::SkipForward(uint32_t seconds) {
    FilterStream::SkipForward(seconds);
    restart = true;
}

void ConversionStream::Seek(uint32_t seconds) {
    FilterStream::Seek(seconds);
    restart = true;
}

void ConversionStream::OnConvertDone(AcmStreamHeader* header) {
    if (!header) {
        return;
    }
    completed.push_back(AudioBuffer::fromBytes(header->pbDst, header->cbDstLengthUsed, true));
    if (converter) {
        acmStreamUnprepareHeader(converter, header, 0);
    }
    delete reinterpret_cast<AudioBuffer*>(header->dwSrcUser);
    delete reinterpret_cast<AudioBuffer*>(header->dwDstUser);
    delete header;
}
