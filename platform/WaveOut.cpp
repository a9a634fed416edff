#include "platform/WaveOut.h"

#include "base/WaveFormat.h"
#include "platform/HeaderQueue.h"
#include "platform/SdlAudio.h"

#include <SDL.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
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

    // While nothing is heard (stopped, paused, run dry) the SDL device of a
    // releasable port is let go, so that the sound server's stream goes
    // with it; it is opened again, with the next header already there,
    // when there is something to play. Guarded by headers.mutex():
    uint32_t silentFrames = 0;          // frames of silence fed since the last sound
    bool released = false;              // the SDL device is gone, or going: feed nothing
    bool releaseAsked = false;          // the notifier was asked to let it go
    std::condition_variable tailPlayed; // silentFrames reached drainFrames
    // Immutable after waveOutOpen (0 on a port that is never released): the
    // silence after which what was fed has been heard, and the silence
    // after which the device is let go.
    uint32_t drainFrames = 0;
    uint32_t idleFrames = 0;
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

// Caller holds the queue's mutex; SDL's audio thread, on a releasable port.
// Counts the silence at the end of a period of wanted bytes of which filled
// held sound, wakes a close waiting for the tail to be heard, and says
// whether the notifier is to let the device go.
bool countSilence(WaveOutPort& port, size_t wanted, size_t filled) {
    const size_t frameBytes = size_t(SDL_AUDIO_BITSIZE(port.sampleFormat) / 8) * port.channels;
    const auto silent = uint32_t((wanted - filled) / frameBytes);
    const uint32_t before = filled > 0 ? 0 : port.silentFrames;
    port.silentFrames = before + std::min(silent, UINT32_MAX / 2 - before);
    if (before < port.drainFrames && port.silentFrames >= port.drainFrames) {
        port.tailPlayed.notify_all();
    }
    if (port.silentFrames >= port.idleFrames && !port.releaseAsked && !port.released) {
        port.releaseAsked = true;
        port.headers.askChoreLocked();
        return true;
    }
    return false;
}

// SDL's audio thread: copy queued bytes, mark finished headers, nothing else.
void feedDevice(void* userdata, Uint8* stream, int len) {
    auto* port = static_cast<WaveOutPort*>(static_cast<SdlWavePort*>(userdata));
    const size_t wanted = len > 0 ? size_t(len) : 0;
    size_t filled = 0;
    bool finishedAny = false;
    bool askRelease = false;
    uint32_t volume;
    {
        std::lock_guard lock(port->headers.mutex());
        volume = port->volume;
        while (!port->paused && !port->released && filled < wanted) {
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
        if (port->releasable) {
            askRelease = countSilence(*port, wanted, filled);
        }
    }
    if (filled < wanted) {
        std::memset(stream + filled, port->silence, wanted - filled);
    }
    if (volume != 0xFFFFFFFF) {
        applyVolume(*port, stream, filled, volume);
    }
    if (finishedAny || askRelease) {
        port->headers.wakeNotifier();
    }
}

// The notifier thread, asked by feedDevice: lets the SDL device go if
// nothing has been heard from it for a while and nothing is to be.
void releaseIdleDevice(SdlWavePort& base) {
    auto& port = static_cast<WaveOutPort&>(base);
    std::lock_guard device(port.deviceMutex);
    if (sdlPortLost(port)) {
        return; // kept, so that its owner learns that it was lost
    }
    {
        std::lock_guard lock(port.headers.mutex());
        port.releaseAsked = false;
        if (port.released || port.silentFrames < port.idleFrames ||
            (port.headers.frontLocked() && !port.paused)) {
            return;
        }
        port.released = true; // from here SDL's audio thread feeds nothing
    }
    sdlReleaseDeviceLocked(port);
}

// Opens a released SDL device again when there is something to play. The
// headers are queued before SDL's audio thread runs the callback, so the
// first period already holds the first sample. Any thread but SDL's audio
// thread, without the queue's mutex.
void reopenIfNeeded(WaveOutPort& port) {
    std::lock_guard device(port.deviceMutex);
    {
        std::lock_guard lock(port.headers.mutex());
        if (!port.released || port.paused || !port.headers.frontLocked()) {
            return;
        }
    }
    if (!sdlReopenDeviceLocked(port)) {
        return; // the port reads as lost; the headers stay queued until reset
    }
    {
        std::lock_guard lock(port.headers.mutex());
        port.released = false;
        port.silentFrames = 0;
    }
    SDL_PauseAudioDevice(port.device, 0);
}

} // namespace

int waveOutOpen(WaveOutHandle* handle, const WaveFormat* format, WaveOutCallback callback,
                void* instance) {
    SdlWaveDevice device;
    device.feed = feedDevice;
    device.messages = {kMmWomOpen, kMmWomDone, kMmWomClose};
    device.chore = releaseIdleDevice;
    const int result = sdlOpenPort(
        handle, format, callback, instance, device, [format](SDL_AudioFormat sampleFormat) {
            return new (std::nothrow) WaveOutPort(sampleFormat, format->nChannels);
        });
    if (result != kWaveOk) {
        return result;
    }
    WaveOutPort& port = **handle;
    if (port.releasable) {
        // What was fed has been heard once a few periods of silence have
        // followed it (SDL and the server hold about two); a quarter of a
        // second more and the device is idle.
        const uint32_t period = port.opened.samples;
        port.drainFrames = std::max(4 * period, uint32_t(port.opened.freq) / 5);
        port.idleFrames = port.drainFrames + uint32_t(port.opened.freq) / 4;
    }
    SDL_PauseAudioDevice(port.device, 0); // written headers play at once
    return kWaveOk;
}

int waveOutWrite(WaveOutHandle handle, WaveHeader* header, uint32_t) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (!header || (header->data == nullptr && header->bufferLength != 0)) {
        return kWaveInvalidParam;
    }
    int result;
    {
        std::lock_guard lock(handle->headers.mutex());
        result = handle->headers.addLocked(header);
    }
    if (result == kWaveOk) {
        reopenIfNeeded(*handle);
    }
    return result;
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
    {
        std::lock_guard lock(handle->headers.mutex());
        handle->paused = false;
    }
    reopenIfNeeded(*handle);
    return kWaveOk;
}

int waveOutReset(WaveOutHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (!handle->headers.onNotifierThread()) {
        std::lock_guard lock(handle->headers.mutex());
        if (handle->headers.frontLocked()) {
            // Sound is dropped on purpose: what the device holds of it need
            // not be heard before a close.
            handle->silentFrames = std::max(handle->silentFrames, handle->drainFrames);
        }
    }
    return sdlResetPort(handle, &handle->offset);
}

int waveOutClose(WaveOutHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (!handle->headers.onNotifierThread()) {
        // The last sound fed is still on its way through SDL and the sound
        // server: closing now would cut the end of an item. Bounded, as a
        // device that stopped taking sound never plays it.
        std::unique_lock lock(handle->headers.mutex());
        if (!handle->headers.frontLocked()) {
            handle->tailPlayed.wait_for(lock, std::chrono::seconds(1), [handle] {
                return handle->released || handle->silentFrames >= handle->drainFrames;
            });
        }
    }
    return sdlClosePort(handle);
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
