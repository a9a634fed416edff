#include "platform/WaveIn.h"

#include "base/WaveFormat.h"
#include "platform/HeaderQueue.h"
#include "platform/SdlAudio.h"

#include <SDL.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string>

// The headers of a wave-in device are those added and not yet full, the
// front one filling now; bytesRecorded of the front one is guarded by the
// queue's mutex.
struct WaveInPort : SdlWavePort {
    // Guarded by headers.mutex(): bytes captured while no header was queued,
    // oldest first, waiting for the next header added. A sound server may
    // deliver seconds of sound in one burst, faster than the owner can hand
    // back and requeue its buffers; what the device captured is kept rather
    // than dropped. Bounded by kMaxBacklogBytes.
    std::deque<uint8_t> backlog;

    // SDL's audio thread only: the device was found lost.
    bool lost = false;
    // Guarded by headers.mutex(): bytes captured since the device opened.
    uint64_t captured = 0;
};

namespace {

// A minute of 16-bit stereo at 48 kHz: far beyond any burst a server sends,
// and a bound on the memory of an owner that stopped adding headers.
constexpr size_t kMaxBacklogBytes = size_t(60) * 48000 * 4;

// Caller holds the queue's mutex. Copies bytes into the queued headers,
// front first, finishing each one that fills; returns the bytes that found
// no header. Sets *finishedAny when a header was finished.
size_t fillHeadersLocked(WaveInPort& port, const uint8_t* from, size_t left, bool* finishedAny) {
    while (left > 0) {
        WaveHeader* header = port.headers.frontLocked();
        if (!header) {
            break;
        }
        size_t room = header->bufferLength > header->bytesRecorded
                          ? header->bufferLength - header->bytesRecorded
                          : 0;
        size_t n = std::min(room, left);
        if (n > 0) {
            std::memcpy(header->data + header->bytesRecorded, from, n);
            header->bytesRecorded += uint32_t(n);
            from += n;
            left -= n;
        }
        if (header->bytesRecorded >= header->bufferLength) {
            port.headers.finishFrontLocked();
            *finishedAny = true;
        }
    }
    return left;
}

// Caller holds the queue's mutex. Moves the backlog into the queued
// headers, as far as they take it.
void drainBacklogLocked(WaveInPort& port, bool* finishedAny) {
    while (!port.backlog.empty() && port.headers.frontLocked()) {
        uint8_t chunk[4096];
        const size_t n = std::min(sizeof chunk, port.backlog.size());
        std::copy_n(port.backlog.begin(), n, chunk);
        const size_t left = fillHeadersLocked(port, chunk, n, finishedAny);
        port.backlog.erase(port.backlog.begin(), port.backlog.begin() + ptrdiff_t(n - left));
    }
}

// SDL's audio thread: copy captured bytes into the queued headers, and keep
// what they cannot take for the next ones.
void captureFromDevice(void* userdata, Uint8* stream, int len) {
    auto* port = static_cast<WaveInPort*>(static_cast<SdlWavePort*>(userdata));
    // SDL goes on calling with silence once a device is lost (the sound
    // server went away): that is no captured sound, and none is kept. The
    // status only reads SDL's flags; it takes no lock.
    if (port->lost || SDL_GetAudioDeviceStatus(port->device) == SDL_AUDIO_STOPPED) {
        port->lost = true;
        return;
    }
    const size_t length = len > 0 ? size_t(len) : 0;
    bool finishedAny = false;
    {
        std::lock_guard lock(port->headers.mutex());
        port->captured += length;
        drainBacklogLocked(*port, &finishedAny);
        size_t left = length;
        if (port->backlog.empty()) {
            left = fillHeadersLocked(*port, stream, length, &finishedAny);
        }
        const size_t keep =
            std::min(left, kMaxBacklogBytes - std::min(kMaxBacklogBytes, port->backlog.size()));
        port->backlog.insert(port->backlog.end(), stream + (length - left),
                             stream + (length - left) + keep);
    }
    if (finishedAny) {
        port->headers.wakeNotifier();
    }
}

} // namespace

unsigned waveInGetNumDevs() {
    std::lock_guard lock(sdlAudioMutex());
    if (!sdlAudioReadyLocked()) {
        return 0;
    }
    return unsigned(sdlDeviceCountLocked(true));
}

int waveInGetDevCaps(unsigned deviceId, WaveInCaps* caps, uint32_t size) {
    if (!caps || size < sizeof(WaveInCaps)) {
        return kWaveInvalidParam;
    }
    std::lock_guard lock(sdlAudioMutex());
    if (!sdlAudioReadyLocked()) {
        return kWaveBadDevice;
    }
    int count = sdlDeviceCountLocked(true);
    if (deviceId != kWaveMapper && (count <= 0 || deviceId >= unsigned(count))) {
        return kWaveBadDevice;
    }
    *caps = WaveInCaps{};
    const char* name = deviceId == kWaveMapper ? nullptr : SDL_GetAudioDeviceName(int(deviceId), 1);
    std::string text = name ? name : "Default capture device";
    std::strncpy(caps->name, text.c_str(), sizeof(caps->name) - 1);
    caps->formats = kWaveInAllStandardFormats;
    caps->channels = 2;
    return kWaveOk;
}

int waveInOpen(WaveInHandle* handle, unsigned deviceId, const WaveFormat* format,
               WaveInCallback callback, void* instance) {
    SdlWaveDevice device;
    device.capture = true;
    device.index = deviceId == kWaveMapper ? kSdlDefaultDevice : deviceId;
    device.feed = captureFromDevice;
    device.messages = {kWimOpen, kWimData, kWimClose};
    return sdlOpenPort(handle, format, callback, instance, device,
                       [](SDL_AudioFormat) { return new (std::nothrow) WaveInPort; });
}

int waveInAddBuffer(WaveInHandle handle, WaveHeader* header, uint32_t) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (!header || header->data == nullptr || header->bufferLength == 0) {
        return kWaveInvalidParam;
    }
    bool finishedAny = false;
    int result;
    {
        std::lock_guard lock(handle->headers.mutex());
        result = handle->headers.addLocked(header);
        if (result == kWaveOk) {
            // Under the lock: SDL's audio thread fills from here once it
            // sees it. Sound captured while no header was queued comes
            // first.
            header->bytesRecorded = 0;
            drainBacklogLocked(*handle, &finishedAny);
        }
    }
    if (finishedAny) {
        handle->headers.wakeNotifier();
    }
    return result;
}

int waveInStart(WaveInHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    SDL_PauseAudioDevice(handle->device, 0);
    return kWaveOk;
}

int waveInStop(WaveInHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    // Returns once SDL's audio thread has left its callback.
    SDL_PauseAudioDevice(handle->device, 1);
    std::lock_guard lock(handle->headers.mutex());
    WaveHeader* front = handle->headers.frontLocked();
    if (front && front->bytesRecorded > 0) {
        handle->headers.finishFrontLocked();
        handle->headers.wakeNotifier();
    }
    return kWaveOk;
}

int waveInReset(WaveInHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (handle->headers.onNotifierThread()) {
        return kWaveError;
    }
    // Returns once SDL's audio thread has left its callback.
    SDL_PauseAudioDevice(handle->device, 1);
    bool finishedAny = false;
    {
        std::lock_guard lock(handle->headers.mutex());
        drainBacklogLocked(*handle, &finishedAny);
        handle->backlog.clear();
    }
    if (finishedAny) {
        handle->headers.wakeNotifier();
    }
    return sdlResetPort(handle);
}

uint64_t waveInCapturedBytes(WaveInHandle handle) {
    if (!handle) {
        return 0;
    }
    std::lock_guard lock(handle->headers.mutex());
    return handle->captured;
}

std::string waveInErrorText() {
    return sdlLastFailure();
}

bool waveInDeviceLost(WaveInHandle handle) {
    return handle && sdlPortLost(*handle);
}

int waveInClose(WaveInHandle handle) {
    return handle ? sdlClosePort(handle) : kWaveInvalidHandle;
}
