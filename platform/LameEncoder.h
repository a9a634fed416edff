#pragma once
// MP3 encoding through the LAME library, loaded at run time.
//
// The encoder offers the classic stream interface of an MP3 encoder library:
// a configuration record (BeConfig, 331 bytes, byte-packed, in two variants),
// beInitStream, beEncodeChunk and beDeinitStream. Each EncoderLibrary loads
// libmp3lame anew with dlopen and looks up LAME's entry points by name, so a
// machine without LAME still runs everything but MP3 output.
//
// Mapping of the record onto LAME:
//  - the input rate, the mode (0 stereo, 1 joint stereo, 2 dual channel,
//    3 mono; mono takes one input channel, every other mode two) and the
//    bitrate in kbit/s, constant bitrate unless the extended variant enables
//    VBR; LAME writes no Info frame (streamSummary() has what one needs);
//  - at a sample rate MPEG defines, the output keeps it; at any other rate
//    LAME resamples to the rate it chooses for the bitrate (the extended
//    variant may name a resample rate instead);
//  - the flag words (private, CRC, copyright, original), the emphasis, the
//    bit reservoir and strict-ISO switches of the extended variant. Presets
//    and the MPEG version are not mapped: LAME derives the version from the
//    output rate, and its default quality applies unless nQuality names one
//    (low byte 0-9, high byte its complement).
//
// Threads: one EncoderLibrary serves one writer at a time; different
// libraries may be used on different threads at once.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#pragma pack(push, 1)
struct BeConfigMp3 {
    uint32_t sampleRate;
    uint8_t mode;
    uint16_t bitrate;
    int32_t privateFlag;
    int32_t crc;
    int32_t copyright;
    int32_t original;
};

struct BeConfigLhv1 {
    uint32_t structVersion;
    uint32_t structSize;
    uint32_t sampleRate;
    uint32_t resampleRate;
    int32_t mode;
    uint32_t bitrate;
    uint32_t maxBitrate;
    int32_t preset;
    uint32_t mpegVersion;
    uint32_t psychoModel;
    uint32_t emphasis;
    int32_t privateFlag;
    int32_t crc;
    int32_t copyright;
    int32_t original;
    int32_t writeVbrHeader;
    int32_t enableVbr;
    int32_t vbrQuality;
    uint32_t vbrAbrBps;
    int32_t vbrMethod;
    int32_t noReservoir;
    int32_t strictIso;
    uint16_t quality;
    uint8_t reserved[237];
};

struct BeConfig {
    uint32_t configKind; // kBeConfigMp3 or kBeConfigLhv1
    union {
        BeConfigMp3 mp3;
        BeConfigLhv1 lhv1;
        uint8_t bytes[327];
    } format;
};
#pragma pack(pop)
static_assert(sizeof(BeConfigLhv1) == 327, "extended variant fills the record");
static_assert(sizeof(BeConfig) == 331, "BeConfig keeps its 331-byte layout");

constexpr uint32_t kBeConfigMp3 = 0;
constexpr uint32_t kBeConfigLhv1 = 256;
constexpr uint32_t kBeMpeg1 = 1;
constexpr uint8_t kBeModeStereo = 0;
constexpr uint8_t kBeModeJointStereo = 1;
constexpr uint8_t kBeModeDualChannel = 2;
constexpr uint8_t kBeModeMono = 3;

using BeStream = uint32_t;
using BeResult = uint32_t;
constexpr BeResult kBeOk = 0;
constexpr BeResult kBeInvalidFormat = 1;
constexpr BeResult kBeInvalidFormatParameters = 2;
constexpr BeResult kBeNoMoreHandles = 3;
constexpr BeResult kBeInvalidHandle = 4;
constexpr BeResult kBeBufferTooSmall = 5;

// The sample rates MPEG audio defines (MPEG-1, 2 and 2.5), ascending: an MP3
// file holds one of these. At any other input rate LAME resamples.
inline constexpr std::array<uint32_t, 9> kMpegSampleRates = {8000,  11025, 12000, 16000, 22050,
                                                             24000, 32000, 44100, 48000};
bool mpegDefinesRate(uint32_t rate);

// The figures of a finished stream that its Info frame gives to players.
struct BeStreamSummary {
    bool known = false;
    uint32_t delay = 0;     // samples the encoder put before the input
    uint32_t padding = 0;   // samples after the input in the last frame
    uint32_t frames = 0;    // audio frames of the stream
    uint32_t lowpassHz = 0; // 0 when not known
    std::string encoder;    // "LAME3.100"; empty when not known
};

class EncoderLibrary {
  public:
    // Loads the library; null when it or one of its entry points is missing
    // (the reason goes to *error when given).
    static std::unique_ptr<EncoderLibrary> load(std::string* error = nullptr);
    // Ends any stream still open, then unloads.
    ~EncoderLibrary();
    EncoderLibrary(const EncoderLibrary&) = delete;
    EncoderLibrary& operator=(const EncoderLibrary&) = delete;

    // Starts an encoder. samplesPerChunk: 16-bit samples (all channels) to
    // pass per beEncodeChunk; outputBufferSize: bytes the output buffer of
    // every later call must hold.
    BeResult beInitStream(const BeConfig* config, uint32_t* samplesPerChunk,
                          uint32_t* outputBufferSize, BeStream* stream);
    // Encodes count samples (interleaved for two channels, at most
    // samplesPerChunk) into output; *outputBytes may be 0.
    BeResult beEncodeChunk(BeStream stream, uint32_t count, const int16_t* samples, uint8_t* output,
                           uint32_t* outputBytes);
    // Flushes the encoder into output and ends the stream (also on failure).
    // After a successful flush streamSummary() describes the stream.
    BeResult beDeinitStream(BeStream stream, uint8_t* output, uint32_t* outputBytes);
    // The sample rate of the stream's MP3 output (the input rate, or the
    // rate LAME resamples to); 0 for a handle that is not open.
    uint32_t beOutputRate(BeStream stream) const;

    // What the stream that the last beDeinitStream ended needs for its Info
    // frame; not known after a failed flush, with a library that lacks the
    // calls, and after beInitStream.
    const BeStreamSummary& streamSummary() const { return lastSummary; }
    // Whether the library can tell streamSummary() at all.
    bool describesStreams() const;

    // Which of LAME's calls made the last failed be* call fail, and how
    // ("lame_init_params failed with -1 in libmp3lame.so.0"), for a log
    // line; empty when the failure was the caller's (a wrong handle).
    const std::string& lastFailure() const { return failure; }

  private:
    struct Api;
    struct Encoder;
    EncoderLibrary();
    // Takes what the flushed stream's Info frame needs into lastSummary.
    void keepSummary();

    void* module = nullptr;
    std::unique_ptr<Api> api;
    std::unique_ptr<Encoder> encoder; // one stream at a time
    BeStream nextHandle = 1;
    std::string failure;
    BeStreamSummary lastSummary;
};

// The file name dlopen looks for ("libmp3lame.so.0"). Tests point it at a
// missing file to see the failure path.
void setEncoderLibraryName(const std::string& name);
std::string encoderLibraryName();
