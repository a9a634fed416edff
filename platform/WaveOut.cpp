#include "platform/WaveOut.h"

#include "base/WaveFormat.h"
#include "platform/HeaderQueue.h"
#include "platform/SdlAudio.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

struct WaveOutPort : SdlWavePort {
    WaveOutPort(SDL_AudioFormat format, int channelCount)
        : sampleFormat(format), channels(channelCount), silence(format == AUDIO_U8 ? 0x80 : 0) {}

    // Immutable after waveOutOpen
    const SDL_AudioFormat sampleFormat;
    const int channels;
    const uint8_t silence;

    // Guarded by headers.mutex(); headers holds the written headers not yet
    // fully played, the front one playing now.
    uint32_t offset = 0; // bytes of the front header already fed to SDL
    bool paused = false;
    uint32_t volume = 0xFFFFFFFF;
};

namespace {

// Scales the whole samples of a stretch of output that starts on a frame
// boundary. Channel 0 takes the left volume, channel 1 the right, the
// others the left. Volumes are 0..0xFFFF; 0xFFFF leaves samples unchanged.
void applyVolume(const WaveOutPort& port, uint8_t* bytes, size_t length, uint32_t volume) {
    const uint32_t left = volume & 0xFFFF;
    const uint32_t right = volume >> 16;
    const int channels = port.channels;
    auto gain = [&](size_t sampleIndex) {
        return (channels >= 2 && sampleIndex % channels == 1) ? right : left;
    };
    switch (port.sampleFormat) {
    case AUDIO_U8:
        for (size_t i = 0; i < length; ++i) {
            int32_t centred = int32_t(bytes[i]) - 128;
            bytes[i] = uint8_t(centred * int32_t(gain(i)) / 0xFFFF + 128);
        }
        break;
    case AUDIO_S16LSB:
        for (size_t i = 0; i + 2 <= length; i += 2) {
            int16_t s;
            std::memcpy(&s, bytes + i, 2);
            s = int16_t(int32_t(s) * int32_t(gain(i / 2)) / 0xFFFF);
            std::memcpy(bytes + i, &s, 2);
        }
        break;
    case AUDIO_S32LSB:
        for (size_t i = 0; i + 4 <= length; i += 4) {
            int32_t s;
            std::memcpy(&s, bytes + i, 4);
            s = int32_t(int64_t(s) * int64_t(gain(i / 4)) / 0xFFFF);
            std::memcpy(bytes + i, &s, 4);
        }
        break;
    case AUDIO_F32LSB:
        for (size_t i = 0; i + 4 <= length; i += 4) {
            float s;
            std::memcpy(&s, bytes + i, 4);
            s *= float(gain(i / 4)) / float(0xFFFF); // exactly 1 at 0xFFFF
            std::memcpy(bytes + i, &s, 4);
        }
        break;
    default:
        break;
    }
}

// SDL's audio thread: copy queued bytes, mark finished headers, nothing else.
void feedDevice(void* userdata, Uint8* stream, int len) {
    auto* port = static_cast<WaveOutPort*>(static_cast<SdlWavePort*>(userdata));
    const size_t wanted = len > 0 ? size_t(len) : 0;
    size_t filled = 0;
    bool finishedAny = false;
    uint32_t volume;
    {
        std::lock_guard lock(port->headers.mutex());
        volume = port->volume;
        while (!port->paused && filled < wanted) {
            WaveHeader* header = port->headers.frontLocked();
            if (!header) {
                break;
            }
            size_t available =
                header->bufferLength > port->offset ? header->bufferLength - port->offset : 0;
            size_t n = std::min(available, wanted - filled);
            if (n > 0) {
                // Copied under the lock: once reset holds it, no bytes of a
                // returned header are being read.
                std::memcpy(stream + filled, header->data + port->offset, n);
                filled += n;
                port->offset += uint32_t(n);
            }
            if (port->offset >= header->bufferLength) {
                port->headers.finishFrontLocked();
                port->offset = 0;
                finishedAny = true;
            }
        }
    }
    if (filled < wanted) {
        std::memset(stream + filled, port->silence, wanted - filled);
    }
    if (volume != 0xFFFFFFFF) {
        applyVolume(*port, stream, filled, volume);
    }
    if (finishedAny) {
        port->headers.wakeNotifier();
    }
}

} // namespace

int waveOutOpen(WaveOutHandle* handle, const WaveFormat* format, WaveOutCallback callback,
                void* instance) {
    SdlWaveDevice device;
    device.feed = feedDevice;
    device.messages = {kMmWomOpen, kMmWomDone, kMmWomClose};
    const int result = sdlOpenPort(
        handle, format, callback, instance, device, [format](SDL_AudioFormat sampleFormat) {
            return new (std::nothrow) WaveOutPort(sampleFormat, format->nChannels);
        });
    if (result == kWaveOk) {
        SDL_PauseAudioDevice((*handle)->device, 0); // written headers play at once
    }
    return result;
}

int waveOutWrite(WaveOutHandle handle, WaveHeader* header, uint32_t) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (!header || (header->data == nullptr && header->bufferLength != 0)) {
        return kWaveInvalidParam;
    }
    std::lock_guard lock(handle->headers.mutex());
    return handle->headers.addLocked(header);
}

int waveOutPause(WaveOutHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    std::lock_guard lock(handle->headers.mutex());
    handle->paused = true;
    return kWaveOk;
}

int waveOutRestart(WaveOutHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    std::lock_guard lock(handle->headers.mutex());
    handle->paused = false;
    return kWaveOk;
}

int waveOutReset(WaveOutHandle handle) {
    return handle ? sdlResetPort(handle, &handle->offset) : kWaveInvalidHandle;
}

int waveOutClose(WaveOutHandle handle) {
    return handle ? sdlClosePort(handle) : kWaveInvalidHandle;
}

int waveOutSetVolume(WaveOutHandle handle, uint32_t volume) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    std::lock_guard lock(handle->headers.mutex());
    handle->volume = volume;
    return kWaveOk;
}

int waveOutGetVolume(WaveOutHandle handle, uint32_t* volume) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (!volume) {
        return kWaveInvalidParam;
    }
    std::lock_guard lock(handle->headers.mutex());
    *volume = handle->volume;
    return kWaveOk;
}

int waveOutGetQueuedBytes(WaveOutHandle handle, uint64_t* bytes) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (!bytes) {
        return kWaveInvalidParam;
    }
    std::lock_guard lock(handle->headers.mutex());
    const uint64_t queued = handle->headers.queuedBytesLocked();
    *bytes = queued > handle->offset ? queued - handle->offset : 0;
    return kWaveOk;
}

std::string waveOutErrorText() {
    return sdlLastFailure();
}

bool waveOutDeviceLost(WaveOutHandle handle) {
    return handle && sdlPortLost(*handle);
}

bool waveAudioShutdown() {
    return sdlAudioShutdown();
}

const char* waveOutDriverName() {
    return sdlAudioDriverName();
}
