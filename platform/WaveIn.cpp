#include "platform/WaveIn.h"

#include "base/WaveFormat.h"
#include "platform/HeaderQueue.h"
#include "platform/SdlAudio.h"

#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

// The headers of a wave-in device are those added and not yet full, the
// front one filling now; bytesRecorded of the front one is guarded by the
// queue's mutex.
struct WaveInPort : SdlWavePort {};

namespace {

// SDL's audio thread: copy captured bytes into the queued headers.
void captureFromDevice(void* userdata, Uint8* stream, int len) {
    auto* port = static_cast<WaveInPort*>(static_cast<SdlWavePort*>(userdata));
    size_t left = len > 0 ? size_t(len) : 0;
    const Uint8* from = stream;
    bool finishedAny = false;
    {
        std::lock_guard lock(port->headers.mutex());
        while (left > 0) {
            WaveHeader* header = port->headers.frontLocked();
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
                port->headers.finishFrontLocked();
                finishedAny = true;
            }
        }
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
    std::lock_guard lock(handle->headers.mutex());
    const int result = handle->headers.addLocked(header);
    if (result == kWaveOk) {
        // Under the lock: SDL's audio thread fills from here once it sees it.
        header->bytesRecorded = 0;
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
    return handle ? sdlResetPort(handle) : kWaveInvalidHandle;
}

int waveInClose(WaveInHandle handle) {
    return handle ? sdlClosePort(handle) : kWaveInvalidHandle;
}
