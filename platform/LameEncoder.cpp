#include "platform/LameEncoder.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstdarg>
#include <dlfcn.h>
#include <mutex>
#include <new>

namespace {

std::mutex nameMutex;
std::string libraryName = "libmp3lame.so.0"; // Guarded by nameMutex

MPEG_mode lameMode(int mode) {
    switch (mode) {
    case kBeModeStereo:
        return STEREO;
    case kBeModeJointStereo:
        return JOINT_STEREO;
    case kBeModeDualChannel:
        return DUAL_CHANNEL;
    default:
        return MONO;
    }
}

void quiet(const char*, va_list) {}

} // namespace

bool mpegDefinesRate(uint32_t rate) {
    return std::find(kMpegSampleRates.begin(), kMpegSampleRates.end(), rate) !=
           kMpegSampleRates.end();
}

void setEncoderLibraryName(const std::string& name) {
    std::lock_guard lock(nameMutex);
    libraryName = name;
}

std::string encoderLibraryName() {
    std::lock_guard lock(nameMutex);
    return libraryName;
}

// LAME's entry points, looked up by name in the loaded module.
struct EncoderLibrary::Api {
// clang-format off
#define VELUMO_LAME_CALLS(X) \
    X(lame_init) \
    X(lame_close) \
    X(lame_init_params) \
    X(lame_set_in_samplerate) \
    X(lame_set_out_samplerate) \
    X(lame_get_out_samplerate) \
    X(lame_set_num_channels) \
    X(lame_set_mode) \
    X(lame_set_brate) \
    X(lame_set_VBR) \
    X(lame_set_VBR_q) \
    X(lame_set_VBR_min_bitrate_kbps) \
    X(lame_set_VBR_max_bitrate_kbps) \
    X(lame_set_VBR_mean_bitrate_kbps) \
    X(lame_set_bWriteVbrTag) \
    X(lame_set_quality) \
    X(lame_set_copyright) \
    X(lame_set_original) \
    X(lame_set_error_protection) \
    X(lame_set_extension) \
    X(lame_set_emphasis) \
    X(lame_set_disable_reservoir) \
    X(lame_set_strict_ISO) \
    X(lame_get_framesize) \
    X(lame_encode_buffer) \
    X(lame_encode_buffer_interleaved) \
    X(lame_encode_flush) \
    X(lame_set_errorf) \
    X(lame_set_debugf) \
    X(lame_set_msgf)
// clang-format on
// Entry points that older or reduced builds of the library may lack: the
// encoder works without them and leaves out what they add.
// clang-format off
#define VELUMO_LAME_OPTIONAL_CALLS(X) \
    X(lame_get_encoder_delay) \
    X(lame_get_encoder_padding) \
    X(lame_get_frameNum) \
    X(lame_get_lowpassfreq) \
    X(get_lame_very_short_version)
// clang-format on
// The macros' argument is an entry point's name, declared and looked up as
// such: it cannot be put in parentheses.
// NOLINTBEGIN(bugprone-macro-parentheses)
#define VELUMO_LAME_MEMBER(name) decltype(&::name) name = nullptr;
    VELUMO_LAME_CALLS(VELUMO_LAME_MEMBER)
    VELUMO_LAME_OPTIONAL_CALLS(VELUMO_LAME_MEMBER)
#undef VELUMO_LAME_MEMBER

    bool lookUp(void* module, std::string* error) {
#define VELUMO_LAME_LOOKUP(name)                                                                   \
    name = reinterpret_cast<decltype(name)>(dlsym(module, #name));                                 \
    if (!name) {                                                                                   \
        if (error) {                                                                               \
            *error = "missing entry point " #name " in " + encoderLibraryName();                   \
        }                                                                                          \
        return false;                                                                              \
    }
        VELUMO_LAME_CALLS(VELUMO_LAME_LOOKUP)
#undef VELUMO_LAME_LOOKUP
#define VELUMO_LAME_LOOKUP_OPTIONAL(name)                                                          \
    name = reinterpret_cast<decltype(name)>(dlsym(module, #name));
        VELUMO_LAME_OPTIONAL_CALLS(VELUMO_LAME_LOOKUP_OPTIONAL)
#undef VELUMO_LAME_LOOKUP_OPTIONAL
        // NOLINTEND(bugprone-macro-parentheses)
        return true;
    }
#undef VELUMO_LAME_CALLS
#undef VELUMO_LAME_OPTIONAL_CALLS
};

struct EncoderLibrary::Encoder {
    BeStream handle = 0;
    lame_global_flags* flags = nullptr;
    int channels = 1;
    uint32_t outputRate = 0;
    uint32_t outputBufferSize = 0;
};

EncoderLibrary::EncoderLibrary() : api(std::make_unique<Api>()) {}

namespace {
std::string callFailure(const char* call, int status) {
    return std::string(call) + " failed with " + std::to_string(status) + " in " +
           encoderLibraryName();
}
} // namespace

EncoderLibrary::~EncoderLibrary() {
    if (encoder && encoder->flags) {
        api->lame_close(encoder->flags);
    }
    encoder.reset();
    if (module) {
        dlclose(module);
    }
}

std::unique_ptr<EncoderLibrary> EncoderLibrary::load(std::string* error) {
    std::string name = encoderLibraryName();
    void* module = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        if (error) {
            const char* reason = dlerror();
            *error = reason ? reason : "cannot load " + name;
        }
        return nullptr;
    }
    std::unique_ptr<EncoderLibrary> library(new (std::nothrow) EncoderLibrary);
    if (!library) {
        dlclose(module);
        if (error) {
            *error = "out of memory";
        }
        return nullptr;
    }
    library->module = module;
    if (!library->api->lookUp(module, error)) {
        return nullptr;
    }
    return library;
}

BeResult EncoderLibrary::beInitStream(const BeConfig* config, uint32_t* samplesPerChunk,
                                      uint32_t* outputBufferSize, BeStream* stream) {
    if (!config || !samplesPerChunk || !outputBufferSize || !stream) {
        return kBeInvalidFormatParameters;
    }
    if (encoder) {
        return kBeNoMoreHandles;
    }
    uint32_t rate = 0;
    uint32_t outRate = 0;
    int mode = kBeModeStereo;
    uint32_t bitrate = 0;
    int privateFlag = 0, crc = 0, copyright = 0, original = 0;
    if (config->configKind == kBeConfigMp3) {
        const BeConfigMp3& c = config->format.mp3;
        rate = c.sampleRate;
        mode = c.mode;
        bitrate = c.bitrate;
        privateFlag = c.privateFlag;
        crc = c.crc;
        copyright = c.copyright;
        original = c.original;
    } else if (config->configKind == kBeConfigLhv1) {
        const BeConfigLhv1& c = config->format.lhv1;
        rate = c.sampleRate;
        outRate = c.resampleRate;
        mode = c.mode;
        bitrate = c.bitrate;
        privateFlag = c.privateFlag;
        crc = c.crc;
        copyright = c.copyright;
        original = c.original;
    } else {
        return kBeInvalidFormat;
    }
    if (rate == 0 || mode < kBeModeStereo || mode > kBeModeMono || bitrate == 0) {
        return kBeInvalidFormatParameters;
    }
    if (outRate == 0 && mpegDefinesRate(rate)) {
        outRate = rate;
    }
    int channels = mode == kBeModeMono ? 1 : 2;

    failure.clear();
    lastSummary = BeStreamSummary{};
    lame_global_flags* gf = api->lame_init();
    if (!gf) {
        failure = "lame_init returned no encoder in " + encoderLibraryName();
        return kBeNoMoreHandles;
    }
    api->lame_set_errorf(gf, quiet);
    api->lame_set_debugf(gf, quiet);
    api->lame_set_msgf(gf, quiet);
    api->lame_set_in_samplerate(gf, int(rate));
    if (outRate != 0) {
        api->lame_set_out_samplerate(gf, int(outRate));
    }
    api->lame_set_num_channels(gf, channels);
    api->lame_set_mode(gf, lameMode(mode));
    // LAME's own Info frame must have the stream's bitrate and does not fit
    // the small frames of low bitrates; the writer builds the frame itself
    // from streamSummary().
    api->lame_set_bWriteVbrTag(gf, 0);
    api->lame_set_extension(gf, privateFlag != 0);
    api->lame_set_error_protection(gf, crc != 0);
    api->lame_set_copyright(gf, copyright != 0);
    api->lame_set_original(gf, original != 0);
    api->lame_set_VBR(gf, vbr_off);
    api->lame_set_brate(gf, int(bitrate));
    if (config->configKind == kBeConfigLhv1) {
        const BeConfigLhv1& c = config->format.lhv1;
        api->lame_set_emphasis(gf, int(c.emphasis));
        api->lame_set_disable_reservoir(gf, c.noReservoir != 0);
        api->lame_set_strict_ISO(gf, c.strictIso != 0);
        uint8_t low = uint8_t(c.quality & 0xFF);
        uint8_t high = uint8_t(c.quality >> 8);
        if (high == uint8_t(~low) && low <= 9) {
            api->lame_set_quality(gf, low);
        }
        if (c.enableVbr) {
            if (c.vbrAbrBps > 0) {
                api->lame_set_VBR(gf, vbr_abr);
                api->lame_set_VBR_mean_bitrate_kbps(gf, int(c.vbrAbrBps / 1000));
            } else {
                api->lame_set_VBR(gf, vbr_default);
                int vbrQuality = c.vbrQuality; // copied: a packed field cannot be bound
                api->lame_set_VBR_q(gf, std::clamp(vbrQuality, 0, 9));
            }
            api->lame_set_VBR_min_bitrate_kbps(gf, int(bitrate));
            if (c.maxBitrate > 0) {
                api->lame_set_VBR_max_bitrate_kbps(gf, int(c.maxBitrate));
            }
        }
    }
    if (const int status = api->lame_init_params(gf); status < 0) {
        failure = callFailure("lame_init_params", status);
        api->lame_close(gf);
        return kBeInvalidFormatParameters;
    }

    auto fresh = std::unique_ptr<Encoder>(new (std::nothrow) Encoder);
    if (!fresh) {
        api->lame_close(gf);
        return kBeNoMoreHandles;
    }
    uint32_t frame = uint32_t(std::max(api->lame_get_framesize(gf), 1));
    uint32_t chunk = frame * uint32_t(channels);
    // The output holds 1.25 encoded samples per input sample plus LAME's
    // flush margin; resampling up produces more samples than it is given.
    uint64_t produced = chunk;
    int finalRate = api->lame_get_out_samplerate(gf);
    if (finalRate > 0 && uint32_t(finalRate) > rate) {
        produced = (uint64_t(chunk) * uint32_t(finalRate) + rate - 1) / rate;
    }
    fresh->handle = nextHandle++;
    if (nextHandle == 0) {
        nextHandle = 1;
    }
    fresh->flags = gf;
    fresh->channels = channels;
    fresh->outputRate = finalRate > 0 ? uint32_t(finalRate) : rate;
    fresh->outputBufferSize = uint32_t(produced + produced / 4 + 7200);
    *samplesPerChunk = chunk;
    *outputBufferSize = fresh->outputBufferSize;
    *stream = fresh->handle;
    encoder = std::move(fresh);
    return kBeOk;
}

BeResult EncoderLibrary::beEncodeChunk(BeStream stream, uint32_t count, const int16_t* samples,
                                       uint8_t* output, uint32_t* outputBytes) {
    if (!encoder || encoder->handle != stream || !output || !outputBytes) {
        return kBeInvalidHandle;
    }
    *outputBytes = 0;
    if (count == 0) {
        return kBeOk;
    }
    if (!samples) {
        return kBeInvalidFormatParameters;
    }
    int result;
    int size = int(encoder->outputBufferSize);
    // LAME's interfaces take non-const sample pointers but only read them.
    auto* pcm = const_cast<short*>(reinterpret_cast<const short*>(samples));
    if (encoder->channels == 1) {
        result = api->lame_encode_buffer(encoder->flags, pcm, pcm, int(count), output, size);
    } else {
        result =
            api->lame_encode_buffer_interleaved(encoder->flags, pcm, int(count / 2), output, size);
    }
    if (result < 0) {
        failure = callFailure(encoder->channels == 1 ? "lame_encode_buffer"
                                                     : "lame_encode_buffer_interleaved",
                              result);
        return result == -1 ? kBeBufferTooSmall : kBeInvalidFormatParameters;
    }
    *outputBytes = uint32_t(result);
    return kBeOk;
}

uint32_t EncoderLibrary::beOutputRate(BeStream stream) const {
    return encoder && encoder->handle == stream ? encoder->outputRate : 0;
}

bool EncoderLibrary::describesStreams() const {
    return api->lame_get_encoder_delay && api->lame_get_encoder_padding && api->lame_get_frameNum;
}

void EncoderLibrary::keepSummary() {
    if (!describesStreams()) {
        return;
    }
    BeStreamSummary summary;
    summary.known = true;
    summary.delay = uint32_t(std::max(api->lame_get_encoder_delay(encoder->flags), 0));
    summary.padding = uint32_t(std::max(api->lame_get_encoder_padding(encoder->flags), 0));
    summary.frames = uint32_t(std::max(api->lame_get_frameNum(encoder->flags), 0));
    if (api->lame_get_lowpassfreq) {
        summary.lowpassHz = uint32_t(std::max(api->lame_get_lowpassfreq(encoder->flags), 0));
    }
    if (api->get_lame_very_short_version) {
        if (const char* version = api->get_lame_very_short_version()) {
            summary.encoder = version;
        }
    }
    lastSummary = summary;
}

BeResult EncoderLibrary::beDeinitStream(BeStream stream, uint8_t* output, uint32_t* outputBytes) {
    if (!encoder || encoder->handle != stream || !output || !outputBytes) {
        return kBeInvalidHandle;
    }
    *outputBytes = 0;
    int result = api->lame_encode_flush(encoder->flags, output, int(encoder->outputBufferSize));
    if (result >= 0) {
        keepSummary();
    }
    api->lame_close(encoder->flags);
    encoder.reset();
    if (result < 0) {
        failure = callFailure("lame_encode_flush", result);
        return kBeBufferTooSmall;
    }
    *outputBytes = uint32_t(result);
    return kBeOk;
}
