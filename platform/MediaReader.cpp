#include "platform/MediaReader.h"

#include "base/FileIo.h"
#include "base/WaveFormat.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

const uint8_t kMediaTypeAudio[16] = {'a',  'u',  'd',  's',  0x00, 0x00, 0x10, 0x00,
                                     0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const uint8_t kMediaTypeVideo[16] = {'v',  'i',  'd',  's',  0x00, 0x00, 0x10, 0x00,
                                     0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
const uint8_t kMediaTypeOther[16] = {'d',  'a',  't',  'a',  0x00, 0x00, 0x10, 0x00,
                                     0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

namespace {

constexpr int64_t kUnitsPerSecond = 10000000;
constexpr int64_t kUnknownPosition = INT64_MIN;
// Files up to this size are scanned for their duration when the container
// does not state it; reading that much takes well under a second.
constexpr int64_t kScanLimitBytes = 64 * 1024 * 1024;
// How far before a seek target decoding starts, in seconds: MP3 needs the
// frames before a position (bit reservoir), the WMA decoder drops what it gets
// right after a flush, and seeking by table of contents is approximate. The
// last attempt decodes from the start.
constexpr int64_t kPrerollSeconds[] = {1, 5, -1};

// The file's streams as probed, limited to what the reader serves: MP3,
// ASF (WMA), FLAC, Ogg (Vorbis, Opus, FLAC) and MP4 (M4A: AAC, ALAC).
const char* const kFormats = "mp3,asf,flac,ogg,mov";
// The containers whose tags readTags reads: the reader's, and those of the
// files that other readers play (WAVE) or that carry the same tags.
const char* const kTagFormats = "mp3,asf,wav,flac,ogg,mov";

// Opening reads no more than a fixed budget whatever the file's size: the
// container is told from its first bytes, the streams from their first
// packets, and a file with no audio frames in it (zeros, noise) is refused
// once it has been read that far without one, instead of being read to its
// end. Time is no bound: a file on slow storage (a network or FUSE mount, a
// disk waking up) opens however long its reads take, and the owner's stop
// flag ends a wait for it.
constexpr int kProbeBytes = 1 << 20;              // telling the container
constexpr int64_t kStreamInfoBytes = 4 << 20;     // learning the streams
constexpr int64_t kAnalyzeMicroseconds = 5000000; // of audio, likewise
// The demuxer and its parser keep what they read until they find a packet
// in it (and keep it twice while their buffer grows), so reading on through
// bytes that hold none would take time and memory in proportion to the
// file. After this many bytes without an audio packet (or, when decoding,
// without a decoded frame) the file is taken to hold no more audio: far
// more than any damaged stretch of a real file.
constexpr int64_t kBytesWithoutAudio = 8 << 20;
// The container's header may be larger: tags with cover pictures come
// before the first packet.
constexpr int64_t kHeaderBytes = 32 << 20;
constexpr int kIoBufferBytes = 64 * 1024;

MediaResult openError(int error) {
    if (error == AVERROR(ENOENT) || error == AVERROR(ENOTDIR)) {
        return kMediaFileNotFound;
    }
    if (error == AVERROR(EACCES) || error == AVERROR(EPERM)) {
        return kMediaAccessDenied;
    }
    if (error == AVERROR(ENOMEM)) {
        return kMediaOutOfMemory;
    }
    if (error == AVERROR_EXIT) {
        return kMediaInterrupted;
    }
    return kMediaInvalidFormat;
}

void quietLibrary() {
    // Damaged input is expected and handled here; the library's own
    // complaints on standard error would only be noise.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_FATAL); });
}

// The code point of the UTF-8 sequence at text[at] and its length; length
// 0 for a byte that starts no valid sequence (overlong forms and
// surrogates included).
struct Utf8Char {
    uint32_t code = 0;
    size_t length = 0;
};

Utf8Char decodeUtf8(std::string_view text, size_t at) {
    const auto byte = [text](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) {
        return {lead, 1};
    }
    size_t length = 0;
    uint32_t code = 0;
    uint32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        code = lead & 0x1Fu;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        code = lead & 0x0Fu;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        code = lead & 0x07u;
        least = 0x10000;
    } else {
        return {};
    }
    if (length > text.size() - at) {
        return {};
    }
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return {};
        }
        code = (code << 6) | (byte(at + i) & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return {};
    }
    return {code, length};
}

bool validUtf8(std::string_view text) {
    for (size_t at = 0; at < text.size();) {
        const size_t length = decodeUtf8(text, at).length;
        if (length == 0) {
            return false;
        }
        at += length;
    }
    return true;
}

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool controlCharacter(uint32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

// Noncharacters, which older bus daemons refuse in a string.
bool nonCharacter(uint32_t code) {
    return (code >= 0xFDD0 && code <= 0xFDEF) || (code & 0xFFFE) == 0xFFFE;
}

// The text of a tag: the container's own first, then the first audio
// stream that has it (Ogg files keep their comments with the stream).
std::string tagText(const AVFormatContext* input, const char* key) {
    std::string text;
    if (const AVDictionaryEntry* entry = av_dict_get(input->metadata, key, nullptr, 0)) {
        text = cleanTagText(entry->value);
    }
    for (unsigned i = 0; text.empty() && i < input->nb_streams; ++i) {
        const AVStream* stream = input->streams[i];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) {
            continue;
        }
        if (const AVDictionaryEntry* entry = av_dict_get(stream->metadata, key, nullptr, 0)) {
            text = cleanTagText(entry->value);
        }
    }
    return text;
}

// The library gives every container's tags the same names.
MediaTags tagsOf(const AVFormatContext* input) {
    MediaTags tags;
    tags.title = tagText(input, "title");
    tags.artist = tagText(input, "artist");
    tags.album = tagText(input, "album");
    return tags;
}

} // namespace

std::string cleanTagText(std::string_view raw) {
    const bool utf8 = validUtf8(raw);
    std::string out;
    for (size_t at = 0; at < raw.size();) {
        uint32_t code = static_cast<unsigned char>(raw[at]);
        size_t length = 1;
        if (utf8) {
            const Utf8Char decoded = decodeUtf8(raw, at);
            code = decoded.code;
            length = decoded.length;
        }
        at += length;
        if (controlCharacter(code)) {
            code = ' ';
        } else if (nonCharacter(code)) {
            code = 0xFFFD;
        }
        if (code == ' ' && out.empty()) {
            continue;
        }
        std::string character;
        appendUtf8(character, code);
        if (out.size() + character.size() > kMaxTagBytes) {
            break;
        }
        out += character;
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    return out;
}

struct MediaReader::State {
    ~State();

    // The file, read through our own I/O context so that every read can be
    // counted and refused (see readPacket).
    int fd = -1;
    AVIOContext* io = nullptr;
    // Bytes read since the demuxer last handed out an audio packet, or the
    // decoder a frame, and how many may be (kHeaderBytes while the header is
    // read, then kBytesWithoutAudio).
    int64_t readWithoutAudio = 0;
    int64_t readLimit = kHeaderBytes;
    // Set by the owner; checked by every read and by FFmpeg's loops. Any
    // thread may set what it points to.
    const std::atomic<bool>* stop = nullptr;

    // Immutable after open
    AVFormatContext* input = nullptr;
    AVCodecContext* decoder = nullptr;
    int audioIndex = -1;
    int rate = 0;     // delivered frames per second
    int channels = 0; // delivered channels
    bool hasDuration = false;
    uint64_t duration = 0;     // 100-ns units
    int64_t origin = 0;        // timestamp of the first sample of the file, in samples
    int64_t firstPacketTs = 0; // timestamp of the first audio packet, in the stream's units
    bool firstPacketSeen = false;

    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    bool frameReady = false; // frame holds a decoded frame not yet delivered
    bool inputEnded = false;

    SwrContext* swr = nullptr;
    int swrFormat = -1;
    int swrChannels = 0;
    int swrRate = 0;

    // Position of the next decoded frame, in samples from the start of the
    // audio; unknown right after a seek until a frame's timestamp tells it.
    bool positionKnown = true;
    int64_t nextPosition = 0;
    int64_t discardUntil = 0; // samples before this position are dropped

    bool openFile(const char* path, const char* formats, MediaResult* failure);
    bool interrupted() const;
    static int readPacket(void* opaque, uint8_t* buffer, int size);
    static int64_t seekFile(void* opaque, int64_t offset, int whence);
    static int interruptCallback(void* opaque);

    bool decodeNextFrame();
    void notePacket(const AVPacket* read);
    int64_t framePosition(const AVFrame* decoded) const;
    bool convert(const AVFrame* decoded, std::vector<uint8_t>& out);
    bool seekTo(int64_t position);
    uint64_t scanDuration();
};

MediaReader::State::~State() {
    swr_free(&swr);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&input);
    // Our I/O context is not the library's to free (AVFMT_FLAG_CUSTOM_IO).
    if (io) {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
    if (fd >= 0) {
        ::close(fd);
    }
}

bool MediaReader::State::interrupted() const {
    return stop && stop->load(std::memory_order_acquire);
}

int MediaReader::State::interruptCallback(void* opaque) {
    return static_cast<const State*>(opaque)->interrupted() ? 1 : 0;
}

int MediaReader::State::readPacket(void* opaque, uint8_t* buffer, int size) {
    State& s = *static_cast<State*>(opaque);
    if (s.interrupted()) {
        return AVERROR_EXIT;
    }
    if (s.readWithoutAudio >= s.readLimit) {
        return AVERROR_EOF;
    }
    const ssize_t got = readSome(s.fd, buffer, static_cast<size_t>(size));
    if (got < 0) {
        return AVERROR(errno);
    }
    if (got == 0) {
        return AVERROR_EOF;
    }
    s.readWithoutAudio += got;
    return static_cast<int>(got);
}

int64_t MediaReader::State::seekFile(void* opaque, int64_t offset, int whence) {
    const State& s = *static_cast<const State*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat info {};
        return ::fstat(s.fd, &info) == 0 ? static_cast<int64_t>(info.st_size) : AVERROR(errno);
    }
    whence &= ~AVSEEK_FORCE;
    off_t at = ::lseek(s.fd, static_cast<off_t>(offset), whence);
    return at < 0 ? AVERROR(errno) : static_cast<int64_t>(at);
}

// Opens the file (a regular file only), tells its container from its first
// bytes, within the probe budget, and reads its header (tags included) if
// the container is one of formats. On failure *failure says why.
bool MediaReader::State::openFile(const char* path, const char* formats, MediaResult* failure) {
    RegularFileOpen opened = openRegularFile(path);
    if (!opened.ok()) {
        *failure = opened.notRegular() || opened.error == EISDIR ? kMediaNotAFile
                                                                 : openError(AVERROR(opened.error));
        return false;
    }
    fd = opened.fd;
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
    if (!buffer) {
        *failure = kMediaOutOfMemory;
        return false;
    }
    io = avio_alloc_context(buffer, kIoBufferBytes, 0, this, &State::readPacket, nullptr,
                            &State::seekFile);
    if (!io) {
        av_free(buffer);
        *failure = kMediaOutOfMemory;
        return false;
    }
    input = avformat_alloc_context();
    if (!input) {
        *failure = kMediaOutOfMemory;
        return false;
    }
    input->pb = io;
    input->flags |= AVFMT_FLAG_CUSTOM_IO;
    input->interrupt_callback.callback = &State::interruptCallback;
    input->interrupt_callback.opaque = this;
    input->probesize = kStreamInfoBytes;
    input->max_analyze_duration = kAnalyzeMicroseconds;
    input->format_probesize = kProbeBytes;

    // The name is passed for the extension only, which the probe weighs
    // when the content alone does not decide.
    const AVInputFormat* format = nullptr;
    int result = av_probe_input_buffer2(io, &format, path, input, 0, kProbeBytes);
    if (result < 0 || !format) {
        *failure = result < 0 ? openError(result) : kMediaInvalidFormat;
        return false;
    }
    if (av_match_list(format->name, formats, ',') <= 0) {
        *failure = kMediaInvalidFormat;
        return false;
    }
    result = avformat_open_input(&input, path, format, nullptr);
    if (result < 0) {
        // The library freed the context; the I/O context is still ours.
        input = nullptr;
        *failure = openError(result);
        return false;
    }
    readWithoutAudio = 0;
    readLimit = kBytesWithoutAudio;
    return true;
}

void MediaReader::State::notePacket(const AVPacket* read) {
    int64_t ts = read->pts != AV_NOPTS_VALUE ? read->pts : read->dts;
    if (!firstPacketSeen && ts != AV_NOPTS_VALUE) {
        firstPacketSeen = true;
        firstPacketTs = ts;
    }
}

bool MediaReader::State::decodeNextFrame() {
    // A stop ends the audio at once, not after what is buffered already.
    if (stop && stop->load(std::memory_order_acquire)) {
        return false;
    }
    if (frameReady) {
        frameReady = false;
        return true;
    }
    for (;;) {
        av_frame_unref(frame);
        int result = avcodec_receive_frame(decoder, frame);
        if (result >= 0) {
            readWithoutAudio = 0;
            return true;
        }
        // Any other error is damaged data the decoder has dropped: go on
        // with the next packet, as the ffmpeg tool does.
        if (result == AVERROR_EOF || inputEnded) {
            return false;
        }
        result = av_read_frame(input, packet);
        if (result < 0) {
            // End of file or a read error: let the decoder give up what it holds.
            inputEnded = true;
            avcodec_send_packet(decoder, nullptr);
            continue;
        }
        if (packet->stream_index == audioIndex) {
            notePacket(packet);
            // A damaged packet is skipped, as a player skips a bad frame.
            avcodec_send_packet(decoder, packet);
        }
        av_packet_unref(packet);
    }
}

int64_t MediaReader::State::framePosition(const AVFrame* decoded) const {
    int64_t ts = decoded->best_effort_timestamp != AV_NOPTS_VALUE ? decoded->best_effort_timestamp
                                                                  : decoded->pts;
    if (ts == AV_NOPTS_VALUE) {
        return kUnknownPosition;
    }
    AVRational base = input->streams[audioIndex]->time_base;
    return av_rescale_q(ts, base, AVRational{1, rate}) - origin;
}

bool MediaReader::State::convert(const AVFrame* decoded, std::vector<uint8_t>& out) {
    int inChannels = decoded->ch_layout.nb_channels;
    if (!swr || decoded->format != swrFormat || inChannels != swrChannels ||
        decoded->sample_rate != swrRate) {
        swr_free(&swr);
        if (inChannels < 1 || decoded->sample_rate < 1) {
            return false;
        }
        AVChannelLayout inLayout{};
        AVChannelLayout outLayout{};
        if (av_channel_layout_copy(&inLayout, &decoded->ch_layout) < 0) {
            return false;
        }
        if (inChannels == channels) {
            av_channel_layout_copy(&outLayout, &decoded->ch_layout);
        } else {
            av_channel_layout_default(&outLayout, channels);
        }
        bool ok = swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_S16, rate, &inLayout,
                                      static_cast<AVSampleFormat>(decoded->format),
                                      decoded->sample_rate, 0, nullptr) >= 0 &&
                  swr_init(swr) >= 0;
        av_channel_layout_uninit(&inLayout);
        av_channel_layout_uninit(&outLayout);
        if (!ok) {
            swr_free(&swr);
            return false;
        }
        swrFormat = decoded->format;
        swrChannels = inChannels;
        swrRate = decoded->sample_rate;
    }
    int room = swr_get_out_samples(swr, decoded->nb_samples);
    if (room < 0) {
        return false;
    }
    out.resize(static_cast<size_t>(room) * channels * 2);
    uint8_t* target = out.data();
    int made = swr_convert(swr, &target, room, const_cast<const uint8_t**>(decoded->extended_data),
                           decoded->nb_samples);
    if (made < 0) {
        return false;
    }
    out.resize(static_cast<size_t>(made) * channels * 2);
    return true;
}

bool MediaReader::State::seekTo(int64_t position) {
    for (int64_t preroll : kPrerollSeconds) {
        int64_t from = preroll < 0 ? 0 : position - preroll * rate;
        bool atStart = from <= 0;
        // The start is the first packet itself, not the first sample: MP3
        // frames before the first sample prime the decoder and carry the
        // encoder delay that is trimmed.
        int64_t ts = atStart ? firstPacketTs
                             : av_rescale_q(from + origin, AVRational{1, rate},
                                            input->streams[audioIndex]->time_base);
        int result = av_seek_frame(input, audioIndex, ts, AVSEEK_FLAG_BACKWARD);
        if (result < 0 && atStart) {
            result = avformat_seek_file(input, audioIndex, INT64_MIN, ts, ts, 0);
        }
        avcodec_flush_buffers(decoder);
        swr_free(&swr);
        frameReady = false;
        inputEnded = false;
        discardUntil = position;
        if (result < 0) {
            if (atStart) {
                return false;
            }
            continue;
        }
        if (!decodeNextFrame()) {
            // Past the end: nothing more to read.
            positionKnown = true;
            nextPosition = position;
            return true;
        }
        frameReady = true;
        // Positions come from the timestamps, which also tells how much of
        // the encoder delay is still to be dropped when the demuxer did not
        // trim it after the seek.
        int64_t at = framePosition(frame);
        if (at == kUnknownPosition) {
            if (!atStart) {
                continue;
            }
            at = 0;
        }
        if (at > position && !atStart) {
            continue; // landed too late: start earlier
        }
        positionKnown = true;
        nextPosition = at;
        return true;
    }
    return false;
}

uint64_t MediaReader::State::scanDuration() {
    AVStream* stream = input->streams[audioIndex];
    int64_t first = AV_NOPTS_VALUE;
    int64_t end = AV_NOPTS_VALUE;
    while (av_read_frame(input, packet) >= 0) {
        if (packet->stream_index == audioIndex) {
            readWithoutAudio = 0;
        }
        if (packet->stream_index == audioIndex && packet->pts != AV_NOPTS_VALUE) {
            notePacket(packet);
            if (first == AV_NOPTS_VALUE || packet->pts < first) {
                first = packet->pts;
            }
            int64_t last = packet->pts + std::max<int64_t>(packet->duration, 0);
            if (end == AV_NOPTS_VALUE || last > end) {
                end = last;
            }
        }
        av_packet_unref(packet);
    }
    if (first == AV_NOPTS_VALUE || end <= first) {
        return 0;
    }
    return static_cast<uint64_t>(
        av_rescale_q(end - first, stream->time_base, AVRational{1, kUnitsPerSecond}));
}

MediaReader::MediaReader() = default;

MediaReader::~MediaReader() = default;

MediaResult MediaReader::open(const char* path) {
    close();
    quietLibrary();
    if (!path || !*path) {
        return kMediaInvalidArg;
    }
    if (stop && stop->load(std::memory_order_acquire)) {
        return kMediaInterrupted;
    }
    try {
        state = std::make_unique<State>();
        State& s = *state;
        s.stop = stop;
        MediaResult failure = kMediaInvalidFormat;
        if (!s.openFile(path, kFormats, &failure)) {
            state.reset();
            return failure;
        }
        if (avformat_find_stream_info(s.input, nullptr) < 0 || s.interrupted()) {
            MediaResult why = s.interrupted() ? kMediaInterrupted : kMediaInvalidFormat;
            state.reset();
            return why;
        }
        s.readWithoutAudio = 0;
        for (unsigned i = 0; i < s.input->nb_streams; ++i) {
            if (s.audioIndex < 0 &&
                s.input->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                s.audioIndex = static_cast<int>(i);
            } else {
                s.input->streams[i]->discard = AVDISCARD_ALL;
            }
        }
        if (s.audioIndex < 0) {
            fileTags = tagsOf(s.input);
            return kMediaOk; // opens, but offers no audio output
        }
        AVStream* stream = s.input->streams[s.audioIndex];
        s.rate = stream->codecpar->sample_rate;
        s.channels = stream->codecpar->ch_layout.nb_channels;
        if (s.rate <= 0 || s.channels <= 0 || s.channels > 255) {
            state.reset();
            return kMediaInvalidFormat;
        }
        const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
        s.decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
        s.packet = av_packet_alloc();
        s.frame = av_frame_alloc();
        if (!s.decoder || !s.packet || !s.frame) {
            state.reset();
            return codec ? kMediaOutOfMemory : kMediaNoDecoder;
        }
        if (avcodec_parameters_to_context(s.decoder, stream->codecpar) < 0) {
            state.reset();
            return kMediaNoDecoder;
        }
        s.decoder->pkt_timebase = stream->time_base;
        s.decoder->thread_count = 1;
        if (avcodec_open2(s.decoder, codec, nullptr) < 0) {
            state.reset();
            return kMediaNoDecoder;
        }

        if (s.input->duration != AV_NOPTS_VALUE && s.input->duration > 0) {
            s.hasDuration = true;
            s.duration =
                static_cast<uint64_t>(s.input->duration) * (kUnitsPerSecond / AV_TIME_BASE);
        } else {
            int64_t size = avio_size(s.input->pb);
            if (size > 0 && size <= kScanLimitBytes) {
                s.duration = s.scanDuration();
                s.hasDuration = s.duration > 0;
                s.seekTo(0);
            }
        }

        // The first frame fixes the timestamp of the file's first sample,
        // which positions after a seek are counted from. A file in which
        // not one frame decodes holds nothing to read.
        s.positionKnown = true;
        s.nextPosition = 0;
        if (!s.frameReady && s.decodeNextFrame()) {
            s.frameReady = true;
        }
        if (!s.frameReady || s.interrupted()) {
            MediaResult why = s.interrupted() ? kMediaInterrupted : kMediaInvalidFormat;
            state.reset();
            return why;
        }
        {
            int64_t ts = s.frame->best_effort_timestamp != AV_NOPTS_VALUE
                             ? s.frame->best_effort_timestamp
                             : s.frame->pts;
            if (ts != AV_NOPTS_VALUE) {
                s.origin = av_rescale_q(ts, stream->time_base, AVRational{1, s.rate});
            }
        }
        fileTags = tagsOf(s.input);
        return kMediaOk;
    } catch (const std::bad_alloc&) {
        state.reset();
        return kMediaOutOfMemory;
    }
}

MediaResult MediaReader::close() {
    state.reset();
    fileTags = MediaTags{};
    return kMediaOk;
}

MediaResult MediaReader::readTags(const char* path, MediaTags* tags,
                                  const std::atomic<bool>* stop) {
    if (!tags) {
        return kMediaInvalidArg;
    }
    *tags = MediaTags{};
    quietLibrary();
    if (!path || !*path) {
        return kMediaInvalidArg;
    }
    if (stop && stop->load(std::memory_order_acquire)) {
        return kMediaInterrupted;
    }
    try {
        // The header alone: no stream is probed and no packet decoded.
        State s;
        s.stop = stop;
        MediaResult failure = kMediaInvalidFormat;
        if (!s.openFile(path, kTagFormats, &failure)) {
            return failure;
        }
        *tags = tagsOf(s.input);
        return kMediaOk;
    } catch (const std::bad_alloc&) {
        return kMediaOutOfMemory;
    }
}

void MediaReader::setStopFlag(const std::atomic<bool>* flag) {
    stop = flag;
    if (state) {
        state->stop = flag;
    }
}

MediaResult MediaReader::getAttributeByName(uint16_t streamNumber, const char* name,
                                            MediaAttributeType* type, uint8_t* value,
                                            uint16_t* length) {
    if (!state) {
        return kMediaUnexpected;
    }
    if (!name || !type || !length) {
        return kMediaInvalidArg;
    }
    if (streamNumber != 0 || std::strcmp(name, "Duration") != 0 || !state->hasDuration) {
        return kMediaNotFound;
    }
    *type = MediaAttributeType::Qword;
    if (!value) {
        *length = sizeof(uint64_t);
        return kMediaOk;
    }
    if (*length < sizeof(uint64_t)) {
        return kMediaInvalidArg;
    }
    std::memcpy(value, &state->duration, sizeof(uint64_t));
    *length = sizeof(uint64_t);
    return kMediaOk;
}

MediaResult MediaReader::getOutputCount(uint32_t* count) {
    if (!state) {
        return kMediaUnexpected;
    }
    if (!count) {
        return kMediaInvalidArg;
    }
    *count = state->input->nb_streams;
    return kMediaOk;
}

MediaResult MediaReader::getOutputProps(uint32_t output, std::unique_ptr<MediaOutputProps>* props) {
    if (!state) {
        return kMediaUnexpected;
    }
    if (!props || output >= state->input->nb_streams) {
        return kMediaInvalidArg;
    }
    try {
        auto made = std::make_unique<MediaOutputProps>();
        const AVCodecParameters* params = state->input->streams[output]->codecpar;
        if (params->codec_type == AVMEDIA_TYPE_AUDIO) {
            std::memcpy(made->majorType, kMediaTypeAudio, 16);
            int channels = static_cast<int>(output) == state->audioIndex
                               ? state->channels
                               : params->ch_layout.nb_channels;
            int rate =
                static_cast<int>(output) == state->audioIndex ? state->rate : params->sample_rate;
            WaveFormat format = pcmFormat(static_cast<uint16_t>(std::clamp(channels, 0, 65535 / 2)),
                                          static_cast<uint32_t>(std::max(rate, 0)), 16);
            made->sampleSize = format.nBlockAlign;
            made->format.resize(sizeof format);
            std::memcpy(made->format.data(), &format, sizeof format);
        } else if (params->codec_type == AVMEDIA_TYPE_VIDEO) {
            std::memcpy(made->majorType, kMediaTypeVideo, 16);
        } else {
            std::memcpy(made->majorType, kMediaTypeOther, 16);
        }
        *props = std::move(made);
        return kMediaOk;
    } catch (const std::bad_alloc&) {
        return kMediaOutOfMemory;
    }
}

MediaResult MediaOutputProps::getMediaType(MediaType* type, uint32_t* size) const {
    if (!size) {
        return kMediaInvalidArg;
    }
    uint32_t needed = static_cast<uint32_t>(sizeof(MediaType) + format.size());
    if (!type) {
        *size = needed;
        return kMediaOk;
    }
    if (*size < needed) {
        return kMediaInvalidArg;
    }
    std::memcpy(type->majorType, majorType, 16);
    std::memset(type->subType, 0, 16);
    type->fixedSizeSamples = sampleSize != 0;
    type->sampleSize = sampleSize;
    type->formatSize = static_cast<uint32_t>(format.size());
    type->format = reinterpret_cast<uint8_t*>(type) + sizeof(MediaType);
    if (!format.empty()) {
        std::memcpy(type->format, format.data(), format.size());
    }
    return kMediaOk;
}

MediaResult MediaSample::getBufferAndLength(uint8_t** data, uint32_t* length) {
    if (!data || !length) {
        return kMediaInvalidArg;
    }
    *data = bytes.data();
    *length = static_cast<uint32_t>(bytes.size());
    return kMediaOk;
}

MediaResult MediaReader::getNextSample(uint16_t streamNumber, std::unique_ptr<MediaSample>* sample,
                                       uint64_t* sampleTime, uint64_t* sampleDuration,
                                       uint32_t* flags, uint32_t* outputNumber,
                                       uint16_t* outputStreamNumber) {
    if (!state) {
        return kMediaUnexpected;
    }
    State& s = *state;
    if (s.audioIndex < 0) {
        return kMediaNoMoreSamples;
    }
    if (!sample || (streamNumber != 0 && streamNumber != s.audioIndex + 1)) {
        return kMediaInvalidArg;
    }
    try {
        auto made = std::make_unique<MediaSample>();
        for (;;) {
            if (!s.decodeNextFrame()) {
                return kMediaNoMoreSamples;
            }
            int64_t start = s.positionKnown ? s.nextPosition : s.framePosition(s.frame);
            if (start == kUnknownPosition) {
                start = s.discardUntil; // no timestamp to go by
            }
            s.positionKnown = true;
            if (!s.convert(s.frame, made->bytes)) {
                return kMediaReadFailed;
            }
            int64_t frames = static_cast<int64_t>(made->bytes.size() / (2u * s.channels));
            s.nextPosition = start + frames;
            int64_t drop = std::clamp<int64_t>(s.discardUntil - start, 0, frames);
            if (drop == frames) {
                continue;
            }
            if (drop > 0) {
                made->bytes.erase(made->bytes.begin(), made->bytes.begin() + drop * 2 * s.channels);
            }
            int64_t begin = start + drop;
            int64_t beginUnits = av_rescale(begin, kUnitsPerSecond, s.rate);
            int64_t endUnits = av_rescale(start + frames, kUnitsPerSecond, s.rate);
            if (sampleTime) {
                *sampleTime = static_cast<uint64_t>(beginUnits);
            }
            if (sampleDuration) {
                *sampleDuration = static_cast<uint64_t>(endUnits - beginUnits);
            }
            if (flags) {
                *flags = 0;
            }
            if (outputNumber) {
                *outputNumber = static_cast<uint32_t>(s.audioIndex);
            }
            if (outputStreamNumber) {
                *outputStreamNumber = static_cast<uint16_t>(s.audioIndex + 1);
            }
            *sample = std::move(made);
            return kMediaOk;
        }
    } catch (const std::bad_alloc&) {
        return kMediaOutOfMemory;
    }
}

MediaResult MediaReader::setRange(uint64_t start, int64_t duration) {
    if (!state) {
        return kMediaUnexpected;
    }
    if (duration != 0) {
        return kMediaInvalidArg;
    }
    if (state->audioIndex < 0) {
        return kMediaOk;
    }
    if (start > static_cast<uint64_t>(INT64_MAX / 1000)) {
        start = static_cast<uint64_t>(INT64_MAX / 1000);
    }
    int64_t position = av_rescale(static_cast<int64_t>(start), state->rate, kUnitsPerSecond);
    return state->seekTo(position) ? kMediaOk : kMediaReadFailed;
}
