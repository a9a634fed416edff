#include "platform/WaveOut.h"

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
#include <thread>

struct WaveOutPort {
    // Immutable after waveOutOpen
    SDL_AudioDeviceID device = 0;
    WaveOutCallback callback = nullptr;
    void* instance = nullptr;
    SDL_AudioFormat sampleFormat = AUDIO_S16LSB;
    int channels = 1;
    uint8_t silence = 0;

    std::mutex mutex;
    std::condition_variable wake;      // the notifier has something to do
    std::condition_variable delivered; // a MM_WOM_DONE has been delivered

    // Guarded by mutex
    std::deque<WaveHeader*> queue;    // written, not fully played; front plays now
    uint32_t offset = 0;              // bytes of queue.front() already fed to SDL
    std::deque<WaveHeader*> finished; // played or reset, MM_WOM_DONE pending
    uint64_t finishedCount = 0;       // headers ever moved to finished
    uint64_t deliveredCount = 0;      // MM_WOM_DONE messages completed
    bool paused = false;
    bool closing = false;
    uint32_t volume = 0xFFFFFFFF;

    std::thread notifier; // opening/closing thread only
};

namespace {

// The port whose notifier runs on this thread, if any: reset and close wait
// for the notifier and must not be called from it.
thread_local WaveOutPort* notifierPort = nullptr;

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
    auto* port = static_cast<WaveOutPort*>(userdata);
    const size_t wanted = len > 0 ? size_t(len) : 0;
    size_t filled = 0;
    bool finishedAny = false;
    uint32_t volume;
    {
        std::lock_guard lock(port->mutex);
        volume = port->volume;
        while (!port->paused && !port->queue.empty() && filled < wanted) {
            WaveHeader* header = port->queue.front();
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
                port->queue.pop_front();
                port->offset = 0;
                port->finished.push_back(header);
                ++port->finishedCount;
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
        port->wake.notify_one();
    }
}

void deliver(WaveOutPort* port, unsigned message, uintptr_t param1) {
    if (port->callback) {
        port->callback(port, message, port->instance, param1, 0);
    }
}

// The notifier thread: MM_WOM_OPEN, every MM_WOM_DONE in order, MM_WOM_CLOSE.
void runNotifier(WaveOutPort* port) {
    notifierPort = port;
    deliver(port, kMmWomOpen, 0);
    std::unique_lock lock(port->mutex);
    for (;;) {
        port->wake.wait(lock, [port] { return !port->finished.empty() || port->closing; });
        if (port->finished.empty()) {
            break; // closing, and nothing left to hand back
        }
        WaveHeader* header = port->finished.front();
        port->finished.pop_front();
        header->flags = (header->flags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
        lock.unlock();
        deliver(port, kMmWomDone, reinterpret_cast<uintptr_t>(header));
        lock.lock();
        ++port->deliveredCount;
        port->delivered.notify_all();
    }
    lock.unlock();
    deliver(port, kMmWomClose, 0);
    notifierPort = nullptr;
}

} // namespace

int waveOutOpen(WaveOutHandle* handle, const WaveFormat* format, WaveOutCallback callback,
                void* instance) {
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
        format->nSamplesPerSec == 0 || format->nSamplesPerSec > INT32_MAX ||
        format->nBlockAlign != format->nChannels * bytesPerSample) {
        return kWaveBadFormat;
    }

    auto* port = new (std::nothrow) WaveOutPort;
    if (!port) {
        return kWaveNoMemory;
    }
    port->callback = callback;
    port->instance = instance;
    port->sampleFormat = sampleFormat;
    port->channels = format->nChannels;
    port->silence = sampleFormat == AUDIO_U8 ? 0x80 : 0;

    SDL_AudioSpec want{};
    want.freq = int(format->nSamplesPerSec);
    want.format = sampleFormat;
    want.channels = Uint8(std::min<uint16_t>(format->nChannels, 255));
    want.samples = periodSamples(format->nSamplesPerSec);
    want.callback = feedDevice;
    want.userdata = port;
    if (format->nChannels > 255) {
        delete port;
        return kWaveBadFormat;
    }
    {
        std::lock_guard lock(sdlAudioMutex());
        if (!sdlAudioReadyLocked()) {
            delete port;
            return kWaveBadDevice;
        }
        SDL_AudioSpec have{};
        // No allowed changes: SDL converts from our format to the device's.
        port->device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (port->device == 0) {
            std::fprintf(stderr, "Velumo: cannot open the audio output device: %s\n",
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
    SDL_PauseAudioDevice(port->device, 0);
    *handle = port;
    return kWaveOk;
}

int waveOutWrite(WaveOutHandle handle, WaveHeader* header, uint32_t) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (!header || (header->data == nullptr && header->bufferLength != 0)) {
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
    handle->queue.push_back(header);
    return kWaveOk;
}

int waveOutPause(WaveOutHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    std::lock_guard lock(handle->mutex);
    handle->paused = true;
    return kWaveOk;
}

int waveOutRestart(WaveOutHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    std::lock_guard lock(handle->mutex);
    handle->paused = false;
    return kWaveOk;
}

int waveOutReset(WaveOutHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (notifierPort == handle) {
        return kWaveError;
    }
    std::unique_lock lock(handle->mutex);
    handle->finishedCount += handle->queue.size();
    handle->finished.insert(handle->finished.end(), handle->queue.begin(), handle->queue.end());
    handle->queue.clear();
    handle->offset = 0;
    const uint64_t target = handle->finishedCount;
    handle->wake.notify_one();
    handle->delivered.wait(lock, [&] { return handle->deliveredCount >= target; });
    return kWaveOk;
}

int waveOutClose(WaveOutHandle handle) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    if (notifierPort == handle) {
        return kWaveError;
    }
    {
        // Headers that have finished playing are handed back first; one
        // still waiting to play makes the close fail.
        std::unique_lock lock(handle->mutex);
        handle->delivered.wait(lock, [handle] {
            return !handle->queue.empty() || handle->deliveredCount == handle->finishedCount;
        });
        if (!handle->queue.empty()) {
            return kWaveStillPlaying;
        }
        handle->closing = true; // later writes are refused
    }
    {
        // Waits for SDL's audio thread to finish its last period.
        std::lock_guard lock(sdlAudioMutex());
        SDL_CloseAudioDevice(handle->device);
    }
    handle->wake.notify_one();
    handle->notifier.join(); // delivers MM_WOM_CLOSE
    delete handle;
    return kWaveOk;
}

int waveOutSetVolume(WaveOutHandle handle, uint32_t volume) {
    if (!handle) {
        return kWaveInvalidHandle;
    }
    std::lock_guard lock(handle->mutex);
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
    std::lock_guard lock(handle->mutex);
    *volume = handle->volume;
    return kWaveOk;
}

const char* waveOutDriverName() {
    return sdlAudioDriverName();
}
