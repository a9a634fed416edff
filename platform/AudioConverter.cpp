#include "platform/AudioConverter.h"

#include "base/FormatLimits.h"
#include "base/LittleEndian.h"
#include "base/WaveFormat.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <set>
#include <vector>

namespace {

constexpr uint16_t kTagPcm = 0x0001;
constexpr uint16_t kTagMsAdpcm = 0x0002;
constexpr uint16_t kTagFloat = 0x0003;
constexpr uint16_t kTagALaw = 0x0006;
constexpr uint16_t kTagMuLaw = 0x0007;
constexpr uint16_t kTagImaAdpcm = 0x0011;
constexpr uint16_t kTagGsm610 = 0x0031;
constexpr uint16_t kTagMpegLayer3 = 0x0055;
constexpr uint16_t kTagExtensible = 0xFFFE;

constexpr int kMaxChannels = 8;
constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 768000;
constexpr uint32_t kGsmBlockBytes = 65;
constexpr uint32_t kGsmBlockFrames = 320;
// MPEG audio: at most 1152 frames per audio frame, and no frame is shorter
// than 24 bytes (MPEG-2 at 8 kbit/s, 24 kHz), so 48 frames per byte bounds any
// stream, free-format ones included, with room to spare.
constexpr uint64_t kMpegFramesPerByte = 48;
constexpr uint64_t kMpegHeldFrames = 2 * 1152;
constexpr int kMpegLowestRate = 8000;
// The parser holds back at most one frame in progress (the longest layer 3
// frame is under 1800 bytes); what it skips as garbage it does not keep.
constexpr uint64_t kMpegLongestFrame = 4096;
// Extra output frames allowed for the resampler's rounding.
constexpr uint64_t kRoundingFrames = 32;
// Input frames handed to the resampler in one go; keeps its int counts safe.
constexpr int kChunkFrames = 1 << 16;

// The tail of the KSDATAFORMAT_SUBTYPE_* GUIDs that carry a wave format tag
// in their first two bytes.
constexpr uint8_t kSubFormatGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

enum class SourceKind { Pcm, Blocks, Mpeg };

struct FormatFields {
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;
    uint16_t cbSize = 0;
    const uint8_t* extra = nullptr;
};

FormatFields readFields(const WaveFormat* format) {
    FormatFields f;
    WaveFormat record;
    std::memcpy(&record, format, sizeof record);
    f.tag = record.wFormatTag;
    f.channels = record.nChannels;
    f.rate = record.nSamplesPerSec;
    f.blockAlign = record.nBlockAlign;
    f.bits = record.wBitsPerSample;
    f.cbSize = record.cbSize;
    f.extra = reinterpret_cast<const uint8_t*>(format) + kWaveFormatBaseSize;
    return f;
}

bool channelsAndRateOk(const FormatFields& f) {
    return f.channels >= 1 && f.channels <= kMaxChannels && f.rate >= kMinRate &&
           f.rate <= kMaxRate && f.blockAlign != 0;
}

// The sample format of a float source or of a target layout, or NONE. The
// resampler writes a 24-bit target as 32-bit words (*packed24 says so).
AVSampleFormat pcmSampleFormat(bool isFloat, uint16_t bits, bool* packed24) {
    *packed24 = false;
    if (isFloat) {
        return bits == 32 ? AV_SAMPLE_FMT_FLT : bits == 64 ? AV_SAMPLE_FMT_DBL : AV_SAMPLE_FMT_NONE;
    }
    switch (bits) {
    case 8:
        return AV_SAMPLE_FMT_U8;
    case 16:
        return AV_SAMPLE_FMT_S16;
    case 24:
        *packed24 = true;
        return AV_SAMPLE_FMT_S32;
    case 32:
        return AV_SAMPLE_FMT_S32;
    default:
        return AV_SAMPLE_FMT_NONE;
    }
}

// The sample format an integer PCM source is handed to the resampler in, by
// the bytes of its container, or NONE. A sample narrower than its container
// (12 bits in 16, 20 in 24) is left-justified in it, so it reads as the
// container's size. Containers the resampler does not take (24 and 64 bits)
// are widened to 32 bits first: *widenFrom becomes the container's bytes
// (else 0), of which the top four are kept.
AVSampleFormat integerSourceFormat(uint32_t containerBytes, uint32_t* widenFrom) {
    *widenFrom = 0;
    switch (containerBytes) {
    case 1:
        return AV_SAMPLE_FMT_U8;
    case 2:
        return AV_SAMPLE_FMT_S16;
    case 3:
    case 8:
        *widenFrom = containerBytes;
        return AV_SAMPLE_FMT_S32;
    case 4:
        return AV_SAMPLE_FMT_S32;
    default:
        return AV_SAMPLE_FMT_NONE;
    }
}

// The top (at most) four bytes of a little-endian sample of containerBytes,
// as a 32-bit sample.
int32_t widenedSample(const uint8_t* sample, uint32_t containerBytes) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < 4 && i < containerBytes; ++i) {
        value |= static_cast<uint32_t>(sample[containerBytes - 1 - i]) << (24 - 8 * i);
    }
    return static_cast<int32_t>(value);
}

std::mutex liveMutex;
std::set<const AcmStreamState*>& liveStreams() {
    static std::set<const AcmStreamState*> streams; // Guarded by liveMutex
    return streams;
}

} // namespace

struct AcmStreamState {
    ~AcmStreamState();

    // Source, immutable after open
    SourceKind kind = SourceKind::Pcm;
    AVSampleFormat pcmFormat = AV_SAMPLE_FMT_NONE; // Pcm only
    // Pcm only: the container bytes widened to 32 bits first, or 0.
    uint32_t pcmWidenFrom = 0;
    bool partialBlocks = false;   // whether a short last block can be decoded
    bool wholeRunPackets = false; // A-law and mu-law: one packet per call
    uint32_t blockAlign = 0;
    uint64_t framesPerBlock = 0; // upper bound for block codecs
    int channels = 0;
    int rate = 0;

    // Target, immutable after open
    AVSampleFormat outFormat = AV_SAMPLE_FMT_NONE;
    bool outPacked24 = false;
    int outChannels = 0;
    int outRate = 0;
    uint32_t outFrameBytes = 0;     // bytes per frame delivered to the caller
    uint32_t outWorkFrameBytes = 0; // bytes per frame as the resampler writes them

    // Decoder (Blocks and Mpeg)
    AVCodecContext* decoder = nullptr;
    AVCodecParserContext* parser = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    uint64_t parserHeld = 0; // bytes given to the parser and not yet framed

    // Resampler, rebuilt when the decoded layout changes
    SwrContext* swr = nullptr;
    AVSampleFormat swrInFormat = AV_SAMPLE_FMT_NONE;
    int swrInChannels = 0;
    int swrInRate = 0;

    std::vector<uint8_t> pending;     // converted bytes the caller has not received
    std::vector<uint8_t> produced;    // this call's output, in the resampler's layout
    std::vector<int32_t> widened;     // 24- or 64-bit source samples widened to 32 bits
    std::vector<uint8_t> parserInput; // MPEG input with the padding the parser needs

    bool openDecoder(AVCodecID id, const FormatFields& f);
    bool configureResampler(AVSampleFormat inFormat, int inChannels, int inRate);
    bool resample(const uint8_t* const* data, int frames);
    bool flushResampler();
    bool takeFrame(const AVFrame* decoded);
    void receiveFrames();
    void decodePacket(const uint8_t* data, int size);
    void feedParser(const uint8_t* data, uint32_t size);
    void drain();
    void reset();
    uint64_t inputFramesBound(uint32_t bytes) const;
    uint64_t outputBytesBound(uint32_t bytes) const;
    void deliver(AcmStreamHeader* header);
};

AcmStreamState::~AcmStreamState() {
    swr_free(&swr);
    if (parser) {
        av_parser_close(parser);
    }
    avcodec_free_context(&decoder);
    av_packet_free(&packet);
    av_frame_free(&frame);
}

bool AcmStreamState::openDecoder(AVCodecID id, const FormatFields& f) {
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) {
        return false;
    }
    decoder = avcodec_alloc_context3(codec);
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    if (!decoder || !packet || !frame) {
        return false;
    }
    decoder->sample_rate = static_cast<int>(f.rate);
    av_channel_layout_default(&decoder->ch_layout, f.channels);
    decoder->block_align = f.blockAlign;
    decoder->bits_per_coded_sample = f.bits;
    decoder->thread_count = 1;
    if (f.cbSize > 0) {
        decoder->extradata =
            static_cast<uint8_t*>(av_mallocz(f.cbSize + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!decoder->extradata) {
            return false;
        }
        std::memcpy(decoder->extradata, f.extra, f.cbSize);
        decoder->extradata_size = f.cbSize;
    }
    if (avcodec_open2(decoder, codec, nullptr) < 0) {
        return false;
    }
    if (id == AV_CODEC_ID_MP3) {
        parser = av_parser_init(id);
        if (!parser) {
            return false;
        }
    }
    return true;
}

bool AcmStreamState::configureResampler(AVSampleFormat inFormat, int inChannels, int inRate) {
    if (swr && inFormat == swrInFormat && inChannels == swrInChannels && inRate == swrInRate) {
        return true;
    }
    if (swr && !flushResampler()) {
        return false;
    }
    swr_free(&swr);
    if (inChannels < 1 || inChannels > kMaxChannels || inRate < static_cast<int>(kMinRate) ||
        inRate > static_cast<int>(kMaxRate)) {
        return false;
    }
    AVChannelLayout inLayout{};
    AVChannelLayout outLayout{};
    av_channel_layout_default(&inLayout, inChannels);
    av_channel_layout_default(&outLayout, outChannels);
    bool ok = swr_alloc_set_opts2(&swr, &outLayout, outFormat, outRate, &inLayout, inFormat, inRate,
                                  0, nullptr) >= 0;
    if (ok && inChannels != outChannels && (outChannels == 1 || inChannels == 1)) {
        // Mono out: the plain average of all channels, which cannot clip.
        // Mono in: the same signal on every output channel.
        std::vector<double> matrix(static_cast<size_t>(inChannels * outChannels),
                                   outChannels == 1 ? 1.0 / inChannels : 1.0);
        ok = swr_set_matrix(swr, matrix.data(), inChannels) >= 0;
    }
    ok = ok && swr_init(swr) >= 0;
    av_channel_layout_uninit(&inLayout);
    av_channel_layout_uninit(&outLayout);
    if (!ok) {
        swr_free(&swr);
        return false;
    }
    swrInFormat = inFormat;
    swrInChannels = inChannels;
    swrInRate = inRate;
    return true;
}

bool AcmStreamState::resample(const uint8_t* const* data, int frames) {
    int room = swr_get_out_samples(swr, frames);
    if (room < 0) {
        return false;
    }
    room += 1;
    size_t used = produced.size();
    produced.resize(used + static_cast<size_t>(room) * outWorkFrameBytes);
    uint8_t* out = produced.data() + used;
    int made = swr_convert(swr, &out, room, const_cast<const uint8_t**>(data), frames);
    produced.resize(used + static_cast<size_t>(std::max(made, 0)) * outWorkFrameBytes);
    return made >= 0;
}

bool AcmStreamState::flushResampler() {
    return swr ? resample(nullptr, 0) : true;
}

bool AcmStreamState::takeFrame(const AVFrame* decoded) {
    if (decoded->nb_samples <= 0) {
        return true;
    }
    if (!configureResampler(static_cast<AVSampleFormat>(decoded->format),
                            decoded->ch_layout.nb_channels, decoded->sample_rate)) {
        return false;
    }
    return resample(decoded->extended_data, decoded->nb_samples);
}

void AcmStreamState::receiveFrames() {
    while (avcodec_receive_frame(decoder, frame) >= 0) {
        takeFrame(frame);
        av_frame_unref(frame);
    }
}

void AcmStreamState::decodePacket(const uint8_t* data, int size) {
    av_packet_unref(packet);
    if (av_new_packet(packet, size) < 0) {
        return;
    }
    std::memcpy(packet->data, data, static_cast<size_t>(size));
    // A block the decoder refuses is skipped, as a player skips a bad frame.
    if (avcodec_send_packet(decoder, packet) >= 0) {
        receiveFrames();
    }
    av_packet_unref(packet);
}

void AcmStreamState::feedParser(const uint8_t* data, uint32_t size) {
    // The parser reads a little past the end of its input, which must
    // therefore be padded: copy it.
    if (data) {
        parserInput.assign(data, data + size);
        parserInput.resize(size + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        data = parserInput.data();
    }
    parserHeld += size;
    bool flushing = data == nullptr;
    do {
        uint8_t* out = nullptr;
        int outSize = 0;
        int used = av_parser_parse2(parser, decoder, &out, &outSize, data, static_cast<int>(size),
                                    AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0 || (used == 0 && outSize == 0 && !flushing)) {
            break;
        }
        if (data) {
            data += used;
        }
        size -= static_cast<uint32_t>(used);
        if (outSize > 0) {
            parserHeld -= std::min<uint64_t>(parserHeld, static_cast<uint64_t>(outSize));
            decodePacket(out, outSize);
        } else if (flushing) {
            break;
        }
    } while (size > 0 || flushing);
}

void AcmStreamState::drain() {
    if (decoder) {
        if (parser) {
            feedParser(nullptr, 0);
        }
        if (avcodec_send_packet(decoder, nullptr) >= 0) {
            receiveFrames();
        }
    }
    flushResampler();
    reset();
}

void AcmStreamState::reset() {
    if (decoder) {
        avcodec_flush_buffers(decoder);
    }
    if (parser) {
        av_parser_close(parser);
        parser = av_parser_init(AV_CODEC_ID_MP3);
    }
    parserHeld = 0;
    // A fresh resampler: no history from before the reset.
    AVSampleFormat format = swrInFormat;
    int inChannels = swrInChannels;
    int inRate = swrInRate;
    swr_free(&swr);
    configureResampler(format, inChannels, inRate);
}

uint64_t AcmStreamState::inputFramesBound(uint32_t bytes) const {
    switch (kind) {
    case SourceKind::Pcm:
        return bytes / blockAlign;
    case SourceKind::Blocks:
        return (bytes / blockAlign + (bytes % blockAlign != 0 ? 1 : 0)) * framesPerBlock;
    case SourceKind::Mpeg:
        return (bytes + std::min(parserHeld, kMpegLongestFrame)) * kMpegFramesPerByte +
               kMpegHeldFrames;
    }
    return 0;
}

uint64_t AcmStreamState::outputBytesBound(uint32_t bytes) const {
    uint64_t inFrames = inputFramesBound(bytes);
    uint64_t outFrames = 0;
    // MPEG frames carry their own rate, whatever the record says: bound
    // them by the lowest rate MPEG audio has.
    int workRate = kind == SourceKind::Mpeg ? kMpegLowestRate : swr ? swrInRate : rate;
    // Samples the resampler holds from earlier calls come out on top of these.
    uint64_t held =
        swr ? static_cast<uint64_t>(std::max<int64_t>(0, swr_get_delay(swr, outRate))) : 0;
    outFrames = (inFrames * static_cast<uint64_t>(outRate) + static_cast<uint64_t>(workRate) - 1) /
                    static_cast<uint64_t>(workRate) +
                held + kRoundingFrames;
    return outFrames * outFrameBytes + pending.size();
}

void AcmStreamState::deliver(AcmStreamHeader* header) {
    // The resampler writes 24-bit output as 32-bit words; keep the top three bytes.
    if (outPacked24) {
        size_t samples = produced.size() / 4;
        for (size_t i = 0; i < samples; ++i) {
            std::memmove(produced.data() + i * 3, produced.data() + i * 4 + 1, 3);
        }
        produced.resize(samples * 3);
    }
    uint32_t room = header->cbDstLength;
    uint32_t written = 0;
    size_t fromPending = std::min<size_t>(pending.size(), room);
    if (fromPending > 0) {
        std::memcpy(header->pbDst, pending.data(), fromPending);
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(fromPending));
        written += static_cast<uint32_t>(fromPending);
    }
    size_t fromProduced = std::min<size_t>(produced.size(), room - written);
    if (fromProduced > 0) {
        std::memcpy(header->pbDst + written, produced.data(), fromProduced);
        written += static_cast<uint32_t>(fromProduced);
    }
    pending.insert(pending.end(), produced.begin() + static_cast<std::ptrdiff_t>(fromProduced),
                   produced.end());
    produced.clear();
    header->cbDstLengthUsed = written;
}

namespace {

bool isLive(const AcmStreamState* stream) {
    std::lock_guard lock(liveMutex);
    return stream && liveStreams().count(stream) != 0;
}

// Fills the source side of a stream; returns kAcmOk or the reason it cannot.
int describeSource(AcmStreamState& s, FormatFields f) {
    if (f.cbSize > largestFormatSize() - kWaveFormatBaseSize) {
        return kAcmInvalidParam;
    }
    // Bits that carry the sample; the rest of the container is padding.
    uint16_t validBits = f.bits;
    if (f.tag == kTagExtensible) {
        if (f.cbSize < 22 ||
            std::memcmp(f.extra + 8, kSubFormatGuidTail, sizeof kSubFormatGuidTail) != 0) {
            return kAcmNotPossible;
        }
        const uint16_t sub = readLe16(f.extra + 6);
        if (sub != kTagPcm && sub != kTagFloat) {
            return kAcmNotPossible;
        }
        // 0 is written by some tools for "all of the container".
        validBits = readLe16(f.extra) != 0 ? readLe16(f.extra) : f.bits;
        f.tag = sub;
        f.cbSize = 0;
    }
    if (!channelsAndRateOk(f)) {
        return kAcmNotPossible;
    }
    s.channels = f.channels;
    s.rate = static_cast<int>(f.rate);
    s.blockAlign = f.blockAlign;

    switch (f.tag) {
    case kTagPcm:
    case kTagFloat: {
        s.kind = SourceKind::Pcm;
        // Whole bytes per sample: 12 bits take two, 20 take three.
        const uint32_t container = (f.bits + 7u) / 8u;
        if (f.bits == 0 || validBits > f.bits || f.blockAlign != f.channels * container) {
            return kAcmNotPossible;
        }
        bool floatPacked24 = false;
        s.pcmFormat = f.tag == kTagFloat ? pcmSampleFormat(true, f.bits, &floatPacked24)
                                         : integerSourceFormat(container, &s.pcmWidenFrom);
        return s.pcmFormat == AV_SAMPLE_FMT_NONE ? kAcmNotPossible : kAcmOk;
    }
    case kTagALaw:
    case kTagMuLaw:
        if (f.bits != 8 || f.blockAlign != f.channels) {
            return kAcmNotPossible;
        }
        s.kind = SourceKind::Blocks;
        s.wholeRunPackets = true;
        s.framesPerBlock = 1;
        return s.openDecoder(f.tag == kTagALaw ? AV_CODEC_ID_PCM_ALAW : AV_CODEC_ID_PCM_MULAW, f)
                   ? kAcmOk
                   : kAcmNotPossible;
    case kTagMsAdpcm:
        if (f.bits != 4 || f.blockAlign <= 7u * f.channels || f.channels > 2) {
            return kAcmNotPossible;
        }
        s.kind = SourceKind::Blocks;
        s.partialBlocks = true;
        s.framesPerBlock = 2u * f.blockAlign / f.channels + 2;
        return s.openDecoder(AV_CODEC_ID_ADPCM_MS, f) ? kAcmOk : kAcmNotPossible;
    case kTagImaAdpcm:
        if (f.bits < 2 || f.bits > 5 || f.blockAlign <= 4u * f.channels) {
            return kAcmNotPossible;
        }
        s.kind = SourceKind::Blocks;
        s.partialBlocks = true;
        s.framesPerBlock = 4u * f.blockAlign / f.channels + 1;
        return s.openDecoder(AV_CODEC_ID_ADPCM_IMA_WAV, f) ? kAcmOk : kAcmNotPossible;
    case kTagGsm610:
        if (f.channels != 1 || f.blockAlign != kGsmBlockBytes) {
            return kAcmNotPossible;
        }
        s.kind = SourceKind::Blocks;
        s.framesPerBlock = kGsmBlockFrames;
        return s.openDecoder(AV_CODEC_ID_GSM_MS, f) ? kAcmOk : kAcmNotPossible;
    case kTagMpegLayer3:
        if (f.channels > 2) {
            return kAcmNotPossible;
        }
        s.kind = SourceKind::Mpeg;
        // The stream frames MPEG data itself; the block size of the record
        // means nothing to it.
        s.blockAlign = 1;
        f.cbSize = 0; // the layer 3 record's extra bytes are not decoder set-up
        return s.openDecoder(AV_CODEC_ID_MP3, f) ? kAcmOk : kAcmNotPossible;
    default:
        return kAcmNotPossible;
    }
}

int describeTarget(AcmStreamState& s, const FormatFields& f) {
    if (f.cbSize > largestFormatSize() - kWaveFormatBaseSize) {
        return kAcmInvalidParam;
    }
    if ((f.tag != kTagPcm && f.tag != kTagFloat) || !channelsAndRateOk(f)) {
        return kAcmNotPossible;
    }
    s.outFormat = pcmSampleFormat(f.tag == kTagFloat, f.bits, &s.outPacked24);
    if (s.outFormat == AV_SAMPLE_FMT_NONE || s.outFormat == AV_SAMPLE_FMT_DBL ||
        f.blockAlign != f.channels * f.bits / 8) {
        return kAcmNotPossible;
    }
    s.outChannels = f.channels;
    s.outRate = static_cast<int>(f.rate);
    s.outFrameBytes = f.blockAlign;
    s.outWorkFrameBytes = static_cast<uint32_t>(av_get_bytes_per_sample(s.outFormat) * f.channels);
    return kAcmOk;
}

} // namespace

int acmStreamOpen(AcmStream* stream, const WaveFormat* source, const WaveFormat* target,
                  uint32_t flags) {
    if (stream) {
        *stream = nullptr;
    }
    if (flags & ~(kAcmOpenQuery | kAcmOpenNonRealtime)) {
        return kAcmInvalidFlag;
    }
    if (!source || !target || (!stream && !(flags & kAcmOpenQuery))) {
        return kAcmInvalidParam;
    }
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
    AcmStreamState* state = new (std::nothrow) AcmStreamState;
    if (!state) {
        return kAcmNoMemory;
    }
    int result = kAcmNoMemory;
    try {
        result = describeTarget(*state, readFields(target));
        if (result == kAcmOk) {
            result = describeSource(*state, readFields(source));
        }
        if (result == kAcmOk) {
            AVSampleFormat inFormat =
                state->kind == SourceKind::Pcm ? state->pcmFormat : state->decoder->sample_fmt;
            // A decoder that names its sample format only once it has seen
            // data gets its resampler with the first decoded frame.
            if (inFormat != AV_SAMPLE_FMT_NONE &&
                !state->configureResampler(inFormat, state->channels, state->rate)) {
                result = kAcmNotPossible;
            }
        }
    } catch (const std::bad_alloc&) {
        result = kAcmNoMemory;
    }
    if (result != kAcmOk || (flags & kAcmOpenQuery)) {
        delete state;
        return result;
    }
    {
        std::lock_guard lock(liveMutex);
        liveStreams().insert(state);
    }
    *stream = state;
    return kAcmOk;
}

int acmStreamClose(AcmStream stream, uint32_t flags) {
    if (flags != 0) {
        return kAcmInvalidFlag;
    }
    {
        std::lock_guard lock(liveMutex);
        if (!stream || liveStreams().erase(stream) == 0) {
            return kAcmInvalidHandle;
        }
    }
    delete stream;
    return kAcmOk;
}

int acmStreamSize(AcmStream stream, uint32_t inputBytes, uint32_t* outputBytes, uint32_t flags) {
    if (!isLive(stream)) {
        return kAcmInvalidHandle;
    }
    if (!outputBytes) {
        return kAcmInvalidParam;
    }
    if (flags == kAcmSizeSource) {
        uint64_t bound = stream->outputBytesBound(inputBytes);
        if (bound > std::numeric_limits<uint32_t>::max()) {
            return kAcmNotPossible;
        }
        *outputBytes = static_cast<uint32_t>(bound);
        return kAcmOk;
    }
    if (flags != kAcmSizeDestination) {
        return kAcmInvalidFlag;
    }
    // Search the largest whole number of source blocks whose bound fits.
    uint64_t low = 0;
    uint64_t high = std::numeric_limits<uint32_t>::max() / stream->blockAlign;
    while (low < high) {
        uint64_t mid = (low + high + 1) / 2;
        if (stream->outputBytesBound(static_cast<uint32_t>(mid * stream->blockAlign)) <=
            inputBytes) {
            low = mid;
        } else {
            high = mid - 1;
        }
    }
    if (low == 0) {
        return kAcmNotPossible;
    }
    *outputBytes = static_cast<uint32_t>(low * stream->blockAlign);
    return kAcmOk;
}

int acmStreamPrepareHeader(AcmStream stream, AcmStreamHeader* header, uint32_t flags) {
    if (!isLive(stream)) {
        return kAcmInvalidHandle;
    }
    if (flags != 0) {
        return kAcmInvalidFlag;
    }
    if (!header || header->cbStruct != sizeof(AcmStreamHeader) ||
        (header->cbSrcLength > 0 && !header->pbSrc) ||
        (header->cbDstLength > 0 && !header->pbDst)) {
        return kAcmInvalidParam;
    }
    if (!(header->fdwStatus & kAcmHeaderPrepared)) {
        header->fdwStatus = kAcmHeaderPrepared;
    }
    return kAcmOk;
}

int acmStreamUnprepareHeader(AcmStream stream, AcmStreamHeader* header, uint32_t flags) {
    if (!isLive(stream)) {
        return kAcmInvalidHandle;
    }
    if (flags != 0) {
        return kAcmInvalidFlag;
    }
    if (!header || header->cbStruct != sizeof(AcmStreamHeader)) {
        return kAcmInvalidParam;
    }
    if (!(header->fdwStatus & kAcmHeaderPrepared)) {
        return kAcmUnprepared;
    }
    header->fdwStatus &= ~(kAcmHeaderPrepared | kAcmHeaderDone);
    return kAcmOk;
}

int acmStreamConvert(AcmStream stream, AcmStreamHeader* header, uint32_t flags) {
    if (!isLive(stream)) {
        return kAcmInvalidHandle;
    }
    if (flags & ~(kAcmConvertBlockAlign | kAcmConvertStart | kAcmConvertEnd)) {
        return kAcmInvalidFlag;
    }
    if (!header || header->cbStruct != sizeof(AcmStreamHeader)) {
        return kAcmInvalidParam;
    }
    if (!(header->fdwStatus & kAcmHeaderPrepared)) {
        return kAcmUnprepared;
    }
    AcmStreamState& s = *stream;
    header->fdwStatus &= ~kAcmHeaderDone;
    header->cbSrcLengthUsed = 0;
    header->cbDstLengthUsed = 0;
    try {
        if (flags & kAcmConvertStart) {
            s.pending.clear();
            s.reset();
        }
        const uint8_t* src = header->pbSrc;
        uint32_t length = header->cbSrcLength;
        uint32_t used = 0;
        switch (s.kind) {
        case SourceKind::Pcm: {
            // A partial frame cannot be converted, flag or no flag.
            uint32_t frames = length / s.blockAlign;
            used = frames * s.blockAlign;
            for (uint32_t done = 0; done < frames && s.swr;) {
                int chunk = static_cast<int>(std::min<uint32_t>(frames - done, kChunkFrames));
                const uint8_t* start = src + static_cast<size_t>(done) * s.blockAlign;
                if (s.pcmWidenFrom != 0) {
                    size_t count = static_cast<size_t>(chunk) * s.channels;
                    s.widened.resize(count);
                    for (size_t i = 0; i < count; ++i) {
                        s.widened[i] = widenedSample(start + i * s.pcmWidenFrom, s.pcmWidenFrom);
                    }
                    const uint8_t* planes[1] = {reinterpret_cast<const uint8_t*>(s.widened.data())};
                    s.resample(planes, chunk);
                } else {
                    const uint8_t* planes[1] = {start};
                    s.resample(planes, chunk);
                }
                done += static_cast<uint32_t>(chunk);
            }
            break;
        }
        case SourceKind::Blocks: {
            uint32_t whole = length / s.blockAlign * s.blockAlign;
            if (s.wholeRunPackets) {
                if (whole > 0) {
                    s.decodePacket(src, static_cast<int>(whole));
                }
            } else {
                for (uint32_t at = 0; at < whole; at += s.blockAlign) {
                    s.decodePacket(src + at, static_cast<int>(s.blockAlign));
                }
            }
            used = whole;
            if (!(flags & kAcmConvertBlockAlign) && s.partialBlocks && length > whole) {
                s.decodePacket(src + whole, static_cast<int>(length - whole));
                used = length;
            }
            break;
        }
        case SourceKind::Mpeg:
            if (length > 0) {
                s.feedParser(src, length);
            }
            used = length;
            break;
        }
        if (flags & kAcmConvertEnd) {
            s.drain();
        }
        header->cbSrcLengthUsed = used;
        s.deliver(header);
    } catch (const std::bad_alloc&) {
        s.produced.clear();
        return kAcmNoMemory;
    }
    header->fdwStatus |= kAcmHeaderDone;
    return kAcmOk;
}
