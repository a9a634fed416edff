#include "platform/WaveIn.h"

#include "base/WaveFormat.h"
#include "platform/SdlAudio.h"

#include <SDL.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <thread>

struct WaveInPort {
    // Immutable after waveInOpen
    SDL_AudioDeviceID device = 0;
    WaveInCallback callback = nullptr;
    void* instance = nullptr;

    std::mutex mutex;
    std::condition_variable wake;      // the notifier has something to do
    std::condition_variable delivered; // a WIM_DATA has been delivered

    // Guarded by mutex
    std::deque<WaveHeader*> queue;    // added, not yet full; front fills now
    std::deque<WaveHeader*> finished; // full or handed back, WIM_DATA pending
    uint64_t finishedCount = 0;
    uint64_t deliveredCount = 0;
    bool closing = false;

    std::thread notifier; // opening/closing thread only
};

namespace {

thread_local WaveInPort* notifierPort = nullptr;

// Caller holds the port's mutex.
void finishFront(WaveInPort* port) {
    port->finished.push_back(port->queue.front());
    port->queue.pop_front();
    ++port->finishedCount;
}

// SDL's audio thread: copy captured bytes into the queued headers.
void captureFromDevice(void* userdata, Uint8* stream, int len) {
    auto* port = static_cast<WaveInPort*>(userdata);
    size_t left = len > 0 ? size_t(len) : 0;
    const Uint8* from = stream;
    bool finishedAny = false;
    {
        std::lock_guard lock(port->mutex);
        while (left > 0 && !port->queue.empty()) {
            WaveHeader* header = port->queue.front();
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
                finishFront(port);
                finishedAny = true;
            }
        }
    }
    if (finishedAny) {
        port->wake.notify_one();
    }
}

void deliver(WaveInPort* port, unsigned message, uintptr_t param1) {
    if (port->callback) {
        port->callback(port, message, port->instance, param1, 0);
    }
}

void runNotifier(WaveInPort* port) {
    notifierPort = port;
    deliver(port, kWimOpen, 0);
    std::unique_lock lock(port->mutex);
    for (;;) {
        port->wake.wait(lock, [port] { return !port->finished.empty() || port->closing; });
        if (port->finished.empty()) {
            break;
        }
        WaveHeader* header = port->finished.front();
        port->finished.pop_front();
        header->flags = (header->flags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
        lock.unlock();
        deliver(port, kWimData, reinterpret_cast<uintptr_t>(header));
        lock.lock();
        ++port->deliveredCount;
        port->delivered.notify_all();
    }
    lock.unlock();
    deliver(port, kWimClose, 0);
    notifierPort = nullptr;
}

// Caller holds sdlAudioMutex and audio is initialised.
int deviceCount() {
    int n = SDL_GetNumAudioDevices(1);
    // A negative count means SDL cannot list the devices; the default one
    // may still open.
    return n < 0 ? 1 : n;
}

} // namespace

unsigned waveInGetNumDevs() {
    std::lock_guard lock(sdlAudioMutex());
    if (!sdlAudioReadyLocked()) {
        return 0;
    }
    return unsigned(deviceCount());
}

int waveInGetDevCaps(unsigned deviceId, WaveInCaps* caps, uint32_t size) {
    if (!caps || size < sizeof(WaveInCaps)) {
        return kWaveInvalidParam;
    }
    std::lock_guard lock(sdlAudioMutex());
    if (!sdlAudioReadyLocked()) {
        return kWaveBadDevice;
    }
    int count = deviceCount();
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
    if (!handle) {
        return kWaveInvalidParam;
    }
    *handle = nullptr;
    if (!format) {
        return kWaveInvalidParam;
    }
    SDL_AudioFormat sampleFormat;
    int bytesPerSample;
    if (!sdlFormatFor(*format, &sampleFormat, &bytesPerSample) || format->nChannels == 0 ||
        format->nChannels > 255 || format->nSamplesPerSec == 0 ||
        format->nSamplesPerSec > INT32_MAX ||
        format->nBlockAlign != format->nChannels * bytesPerSample) {
        return kWaveBadFormat;
    }
    auto* port = new (std::nothrow) WaveInPort;
    if (!port) {
        return kWaveNoMemory;
    }
    port->callback = callback;
    port->instance = instance;

    SDL_AudioSpec want{};
    want.freq = int(format->nSamplesPerSec);
    want.format = sampleFormat;
    want.channels = Uint8(format->nChannels);
    want.samples = periodSamples(format->nSamplesPerSec);
    want.callback = captureFromDevice;
    want.userdata = port;
    {
        std::lock_guard lock(sdlAudioMutex());
        if (!sdlAudioReadyLocked()) {
            delete port;
            return kWaveBadDevice;
        }
        const char* name = nullptr;
        if (deviceId != kWaveMapper) {
            int count = deviceCount();
            if (deviceId >= unsigned(std::max(count, 0))) {
                delete port;
                return kWaveBadDevice;
            }
            name = SDL_GetAudioDeviceName(int(deviceId), 1);
        }
        SDL_AudioSpec have{};
        // No allowed changes: SDL converts from the device's format to ours.
        port->device = SDL_OpenAudioDevice(name, 1, &want, &have, 0);
        if (port->device == 0) {
            std::fprintf(stderr, "Velumo: cannot open the audio input device: %s\n",
                         SDL_GetError());
            delete port;
            return kWaveBadDevice;
        }
    }
    try {
        port->notifier = std::thread(runNotifier, port);
    } catch (const std::system_error&) {
        std::lock_guard lock(sdlAudioMutex());
        SDL_CloseAudioDevice(port->device);
        delete port;
        return kWaveNoMemory;
    }
    *handle = port;
    return kWaveOk;
}

int waveInAddBuffer(WaveInHandle handle, WaveHeader* header, uint32_t) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (!header || header->data == nullptr || header->bufferLength == 0) {
        return kWaveInvalidParam;
    }
    std::lock_guard lock(handle->mutex);
    if (handle->closing) {
        return kWaveInvalidHandle;
    }
    if (!(header->flags & kWaveHeaderPrepared)) {
        return kWaveUnprepared;
    }
    if (header->flags & kWaveHeaderInQueue) {
        return kWaveStillPlaying;
    }
    header->flags = (header->flags & ~kWaveHeaderDone) | kWaveHeaderInQueue;
    header->bytesRecorded = 0;
    handle->queue.push_back(header);
    return kWaveOk;
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
    std::lock_guard lock(handle->mutex);
    if (!handle->queue.empty() && handle->queue.front()->bytesRecorded > 0) {
        finishFront(handle);
        handle->wake.notify_one();
    }
    return kWaveOk;
}

int waveInReset(WaveInHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (notifierPort == handle) {
        return kWaveError;
    }
    SDL_PauseAudioDevice(handle->device, 1);
    std::unique_lock lock(handle->mutex);
    handle->finishedCount += handle->queue.size();
    handle->finished.insert(handle->finished.end(), handle->queue.begin(), handle->queue.end());
    handle->queue.clear();
    const uint64_t target = handle->finishedCount;
    handle->wake.notify_one();
    handle->delivered.wait(lock, [&] { return handle->deliveredCount >= target; });
    return kWaveOk;
}

int waveInClose(WaveInHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (notifierPort == handle) {
        return kWaveError;
    }
    {
        std::unique_lock lock(handle->mutex);
        handle->delivered.wait(lock, [handle] {
            return !handle->queue.empty() || handle->deliveredCount == handle->finishedCount;
        });
        if (!handle->queue.empty()) {
            return kWaveStillPlaying;
        }
        handle->closing = true;
    }
    {
        std::lock_guard lock(sdlAudioMutex());
        SDL_CloseAudioDevice(handle->device);
    }
    handle->wake.notify_one();
    handle->notifier.join(); // delivers WIM_CLOSE
    delete handle;
    return kWaveOk;
}
