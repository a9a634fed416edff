#include "encode/Mp3FileWriter.h"

#include "encode/Mp3InfoFrame.h"
#include "platform/MessageBox.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

Mp3FileWriter::Mp3FileWriter() = default;

Mp3FileWriter::~Mp3FileWriter() = default;

uint16_t Mp3FileWriter::chooseBitrate(const WaveFormat& format) {
    uint32_t target =
        uint32_t(format.nSamplesPerSec * format.wBitsPerSample * format.nChannels) / 11025;
    // The walk starts from the first entry, so that even the smallest
    // target gets a bitrate the encoder accepts.
    uint32_t best = kBitrates[0];
    for (uint16_t rate : kBitrates) {
        uint32_t distance = rate > target ? rate - target : target - rate;
        uint32_t bestDistance = best > target ? best - target : target - best;
        if (distance < bestDistance) {
            best = rate;
        }
    }
    return uint16_t(best);
}

BeConfig Mp3FileWriter::makeConfig(const WaveFormat& format) {
    BeConfig c;
    std::memset(&c, 0, sizeof c);
    uint16_t bitrate = chooseBitrate(format);
    uint32_t rate = format.nSamplesPerSec;
    if (rate == 32000 || rate == 44100 || rate == 48000) {
        c.configKind = kBeConfigMp3;
        c.format.mp3.sampleRate = rate;
        c.format.mp3.mode = format.nChannels == 2 ? kBeModeStereo : kBeModeMono;
        c.format.mp3.bitrate = bitrate;
    } else {
        BeConfigLhv1& x = c.format.lhv1;
        c.configKind = kBeConfigLhv1;
        x.structVersion = 1;
        x.structSize = sizeof(BeConfig);
        x.sampleRate = rate;
        x.resampleRate = 0;
        x.mode = format.nChannels == 1 ? kBeModeMono : kBeModeStereo;
        x.bitrate = bitrate;
        x.maxBitrate = 192;
        x.preset = 5;
        x.mpegVersion = kBeMpeg1;
        x.original = 1;
        x.vbrQuality = 2;
        x.noReservoir = 1;
    }
    return c;
}

std::string Mp3FileWriter::sampleRateList(const std::string& separator,
                                          const std::string& lastSeparator) {
    std::string list;
    for (size_t i = 0; i < kMpegSampleRates.size(); ++i) {
        if (i > 0) {
            list += i + 1 == kMpegSampleRates.size() ? lastSeparator : separator;
        }
        list += std::to_string(kMpegSampleRates[i]);
    }
    return list;
}

uint32_t Mp3FileWriter::encodedRate(const WaveFormat& format) {
    if (holdsSampleRate(format.nSamplesPerSec)) {
        return format.nSamplesPerSec;
    }
    // The encoder chooses the rate from the bitrate as well; starting a
    // stream with the writer's settings is the one sure way to learn it.
    std::unique_ptr<EncoderLibrary> library = EncoderLibrary::load();
    if (!library) {
        return 0;
    }
    const BeConfig settings = makeConfig(format);
    uint32_t chunk = 0;
    uint32_t bufferSize = 0;
    BeStream stream = 0;
    if (library->beInitStream(&settings, &chunk, &bufferSize, &stream) != kBeOk) {
        return 0;
    }
    return library->beOutputRate(stream); // the library ends the stream when unloaded
}

std::array<uint8_t, Mp3FileWriter::kTagBytes> Mp3FileWriter::makeTag(const std::string& path) {
    std::array<uint8_t, kTagBytes> tag{};
    auto put = [&](size_t at, const std::string& text, size_t width) {
        std::memcpy(tag.data() + at, text.data(), std::min(width, text.size()));
    };
    put(0, "TAG", 3);
    put(3, path, 30);
    put(33, "Unknown artist", 30);
    put(63, "Unknown album", 30);
    put(93, "2003", 4);
    tag[125] = 0;
    tag[126] = 1; // track
    tag[127] = 1; // genre
    return tag;
}

void Mp3FileWriter::logEncoderFailure() const {
    // The encoder's failures show no message box; without this line a
    // library that loads but fails would leave no trace of why.
    const std::string& why = encoderLibrary->lastFailure();
    std::fprintf(stderr, "%s: %s: the MP3 encoder failed: %s\n", program_invocation_short_name,
                 fileName.c_str(), why.empty() ? "unknown reason" : why.c_str());
}

bool Mp3FileWriter::Begin() {
    streamOpen = false;
    chunkCalls = 0;
    // A library left from a file whose flush failed is dropped (and its
    // stream ended) before the new one loads.
    encoderLibrary.reset();
    std::string reason;
    encoderLibrary = EncoderLibrary::load(&reason);
    if (!encoderLibrary) {
        // The user needs the cause to mend it: a missing package, a library
        // of another version.
        showMessage(reason.empty() ? std::string(kLoadFailedMessage)
                                   : std::string(kLoadFailedMessage) + "\n" + reason);
        return false;
    }
    config = makeConfig(format);
    if (encoderLibrary->beInitStream(&config, &samplesPerChunk, &outputBufferSize,
                                     &encoderStream) != kBeOk) {
        logEncoderFailure();
        return false;
    }
    outputBuffer.reset(new (std::nothrow) uint8_t[outputBufferSize]);
    if (!outputBuffer || samplesPerChunk == 0) {
        encoderLibrary.reset();
        return false;
    }
    streamOpen = true;
    leftoverBytes = -1;
    streamStart = file && encoderLibrary->describesStreams() ? ftello(file) : -1;
    streamBytes = 0;
    infoFrameBytes = 0;
    musicCrc = 0;
    return true;
}

bool Mp3FileWriter::Encode(AudioBuffer& input, AudioBuffer& out) {
    out = AudioBuffer();
    uint32_t length = input.length();
    if (length == 0) {
        return true;
    }
    if (!streamOpen) {
        return false;
    }
    bool flush = int64_t(length) == leftoverBytes;
    const uint8_t* bytes = input.data();
    uint64_t chunkBytes = uint64_t(samplesPerChunk) * 2;
    uint32_t pos = 0;
    for (;;) {
        if (!flush && length - pos <= chunkBytes) {
            break;
        }
        uint32_t n = samplesPerChunk;
        if (flush) {
            n = length / 2;
            flush = false;
        }
        ++chunkCalls;
        if (encoderLibrary->beEncodeChunk(encoderStream, n,
                                          reinterpret_cast<const int16_t*>(bytes + pos),
                                          outputBuffer.get(), &outputBytes) != kBeOk) {
            logEncoderFailure();
            out = AudioBuffer();
            return false;
        }
        pos += 2 * n;
        const uint32_t reserved = noteEncoded(outputBuffer.get(), outputBytes);
        if (reserved > 0) {
            const std::vector<uint8_t> placeholder(reserved, 0);
            out = AudioBuffer::fromBytes(placeholder.data(), reserved, true);
            if (!out.hasBlock()) {
                return false;
            }
        }
        if (!out.hasBlock()) {
            out = AudioBuffer::fromBytes(outputBuffer.get(), outputBytes, true);
            if (!out.hasBlock()) {
                return false;
            }
        } else if (!out.appendBytes(outputBuffer.get(), outputBytes)) {
            out = AudioBuffer();
            return false;
        }
    }
    if (pos < length) {
        leftoverBytes = int32_t(length - pos);
        if (pos > 0) {
            AudioBuffer rest = AudioBuffer::fromBytes(bytes + pos, length - pos, true);
            if (!rest.hasBlock()) {
                return false;
            }
            input = std::move(rest);
        }
    } else {
        input.clear();
        leftoverBytes = 0;
    }
    return true;
}

uint32_t Mp3FileWriter::noteEncoded(const uint8_t* bytes, uint32_t count) {
    if (count == 0) {
        return 0;
    }
    uint32_t reserved = 0;
    if (streamBytes == 0 && streamStart >= 0 && count >= firstHeader.size()) {
        // The Info frame goes first; its size follows from the first audio
        // frame's header, so the room is made before that frame is written.
        std::copy_n(bytes, firstHeader.size(), firstHeader.begin());
        infoFrameBytes = mp3_info_frame::frameBytes(firstHeader.data());
        reserved = infoFrameBytes;
    }
    streamBytes += count;
    musicCrc = mp3_info_frame::crc16(bytes, count, musicCrc);
    return reserved;
}

bool Mp3FileWriter::writeInfoFrame() {
    const BeStreamSummary& summary = encoderLibrary->streamSummary();
    if (infoFrameBytes == 0 || !summary.known) {
        return true; // no room was made: the stream stands without the frame
    }
    Mp3StreamFigures figures;
    figures.frames = summary.frames;
    figures.bytes = uint32_t(std::min<uint64_t>(infoFrameBytes + streamBytes, UINT32_MAX));
    figures.delay = summary.delay;
    figures.padding = summary.padding;
    figures.musicCrc = musicCrc;
    figures.lowpassHz = summary.lowpassHz;
    figures.sourceRate = format.nSamplesPerSec;
    figures.encoder = summary.encoder.empty() ? "LAME" : summary.encoder;
    const std::vector<uint8_t> frame = mp3_info_frame::build(firstHeader.data(), figures);
    if (frame.size() != infoFrameBytes) {
        return true; // cannot happen: the size depends on the header alone
    }
    if (fseeko(file, streamStart, SEEK_SET) != 0) {
        noteSystemError();
        return false;
    }
    const bool written = writeToFile(frame.data(), frame.size());
    if (fseeko(file, 0, SEEK_END) != 0) {
        noteSystemError();
        return false;
    }
    return written;
}

bool Mp3FileWriter::Finish() {
    if (!streamOpen) {
        return false;
    }
    streamOpen = false;
    if (encoderLibrary->beDeinitStream(encoderStream, outputBuffer.get(), &outputBytes) != kBeOk) {
        logEncoderFailure();
        return false;
    }
    if (const uint32_t reserved = noteEncoded(outputBuffer.get(), outputBytes); reserved > 0) {
        const std::vector<uint8_t> placeholder(reserved, 0);
        if (!writeToFile(placeholder.data(), reserved)) {
            return false;
        }
    }
    if (outputBytes > 0 && !writeToFile(outputBuffer.get(), outputBytes)) {
        return false;
    }
    if (!writeInfoFrame()) {
        return false;
    }
    encoderLibrary.reset();
    auto tag = makeTag(fileName);
    writeToFile(tag.data(), tag.size());
    return true;
}
