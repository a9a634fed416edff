#include "platform/SdlAudio.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

namespace {

// Guarded by sdlAudioMutex
bool ready = false;
int openDevices = 0;     // SDL devices opened by a port and not yet closed
std::string lastFailure; // why audio or a device last failed to start

// Caller holds the port's deviceMutex. Waits for SDL's audio thread to
// finish its last period.
void closeDevice(SdlWavePort& port) {
    std::lock_guard lock(sdlAudioMutex());
    if (port.device == 0) {
        return; // released
    }
    SDL_CloseAudioDevice(port.device);
    port.device = 0;
    --openDevices;
}

// Caller holds sdlAudioMutex. After a failure, with no device open, quits
// SDL's audio, so that the next use picks its driver afresh: SDL falls back
// to another driver when no sound server runs, and would keep it after the
// server has started.
void forgetDriverLocked() {
    if (ready && openDevices == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        ready = false;
    }
}

// Caller holds sdlAudioMutex. Keeps SDL's text for sdlLastFailure; a failure
// without one still says what went wrong.
void noteFailure(const char* fallback) {
    const char* reason = SDL_GetError();
    lastFailure = reason && *reason ? reason : fallback;
}

// The SDL sample format and bytes per sample of 8-bit unsigned, 16 and
// 32-bit signed PCM and 32-bit float.
bool sampleFormatFor(const WaveFormat& format, SDL_AudioFormat* out, int* bytesPerSample) {
    if (format.wFormatTag == 1) {
        switch (format.wBitsPerSample) {
        case 8:
            *out = AUDIO_U8;
            *bytesPerSample = 1;
            return true;
        case 16:
            *out = AUDIO_S16LSB;
            *bytesPerSample = 2;
            return true;
        case 32:
            *out = AUDIO_S32LSB;
            *bytesPerSample = 4;
            return true;
        default:
            return false;
        }
    }
    if (format.wFormatTag == 3 && format.wBitsPerSample == 32) {
        *out = AUDIO_F32LSB;
        *bytesPerSample = 4;
        return true;
    }
    return false;
}

// Caller holds sdlAudioMutex and audio is ready. Opens an SDL device
// (name null: the default one) paused, counting it; 0, with the reason kept
// and written to standard error, when it cannot be opened.
SDL_AudioDeviceID openDeviceLocked(const char* name, bool capture, const SDL_AudioSpec& want) {
    SDL_AudioSpec have{};
    // No allowed changes: SDL converts between the device's format and
    // ours.
    SDL_ClearError();
    SDL_AudioDeviceID device = SDL_OpenAudioDevice(name, capture ? 1 : 0, &want, &have, 0);
    if (device == 0 && name == nullptr && openDevices == 0) {
        // The driver SDL chose when audio started may no longer be the
        // one to use: a sound server started since, or the one it spoke
        // to has gone and another took its place. Start afresh once.
        forgetDriverLocked();
        if (sdlAudioReadyLocked()) {
            SDL_ClearError();
            device = SDL_OpenAudioDevice(nullptr, capture ? 1 : 0, &want, &have, 0);
        }
    }
    if (device == 0) {
        noteFailure("the audio device could not be opened");
        std::fprintf(stderr, "Velumo: cannot open the audio %s device: %s\n",
                     capture ? "input" : "output", lastFailure.c_str());
        forgetDriverLocked();
        return 0;
    }
    ++openDevices;
    return device;
}

} // namespace

std::mutex& sdlAudioMutex() {
    static std::mutex mutex;
    return mutex;
}

bool sdlAudioReadyLocked() {
    if (ready) {
        return true;
    }
    // The audio subsystem brings up SDL's events, which would take SIGINT
    // and SIGTERM for a quit event no Velumo program reads: the signals
    // stay the program's own.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A sound server's monitor sources (what its outputs play) are ordinary
    // inputs to record from; SDL leaves them out of its list unless asked.
    SDL_SetHint("SDL_AUDIO_INCLUDE_MONITORS", "1");
    SDL_ClearError();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        noteFailure("audio could not be initialised");
        std::fprintf(stderr, "Velumo: cannot initialise audio: %s\n", lastFailure.c_str());
        return false;
    }
    ready = true;
    return true;
}

int sdlDeviceCountLocked(bool capture) {
    int n = SDL_GetNumAudioDevices(capture ? 1 : 0);
    if (n == 0) {
        const char* driver = SDL_GetCurrentAudioDriver();
        lastFailure = std::string("no audio ") + (capture ? "input" : "output") +
                      " device on the " + (driver ? driver : "current") + " driver";
        forgetDriverLocked();
    }
    return n < 0 ? 1 : n;
}

std::string sdlLastFailure() {
    std::lock_guard lock(sdlAudioMutex());
    return lastFailure;
}

bool sdlAudioShutdown() {
    std::lock_guard lock(sdlAudioMutex());
    if (openDevices != 0) {
        return false;
    }
    if (ready) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        ready = false;
    }
    return true;
}

bool sdlPortLost(const SdlWavePort& port) {
    // SDL marks a device that was unplugged, or whose driver failed,
    // disabled for good: it reports it stopped although it was never
    // paused. Under the lock, so that no open or close changes SDL's device
    // table meanwhile.
    // A released device is not lost; one that could not be opened again is.
    std::lock_guard lock(sdlAudioMutex());
    return port.reopenFailed ||
           (port.device != 0 && SDL_GetAudioDeviceStatus(port.device) == SDL_AUDIO_STOPPED);
}

const char* sdlAudioDriverName() {
    std::lock_guard lock(sdlAudioMutex());
    const char* name = ready ? SDL_GetCurrentAudioDriver() : nullptr;
    return name ? name : "";
}

bool sdlFormatFor(const WaveFormat& format, SDL_AudioFormat* out) {
    int bytesPerSample;
    return sampleFormatFor(format, out, &bytesPerSample) && format.nChannels != 0 &&
           format.nChannels <= 255 && format.nSamplesPerSec != 0 &&
           format.nSamplesPerSec <= INT32_MAX &&
           format.nBlockAlign == format.nChannels * bytesPerSample;
}

Uint16 periodSamples(uint32_t rate, bool roomy) {
    const uint32_t least = roomy ? rate / 30 : rate / 50;
    uint32_t samples = 256;
    while (samples < 8192 && samples < least) {
        samples *= 2;
    }
    return Uint16(samples);
}

int sdlStartPort(SdlWavePort& port, const SdlWaveDevice& device, const WaveFormat& format,
                 SDL_AudioFormat sampleFormat, HeaderQueue::Deliver deliver) {
    SDL_AudioSpec want{};
    want.freq = int(format.nSamplesPerSec);
    want.format = sampleFormat;
    want.channels = Uint8(format.nChannels);
    want.callback = device.feed;
    want.userdata = &port;
    const int capture = device.capture ? 1 : 0;
    port.capture = device.capture;
    {
        std::lock_guard lock(sdlAudioMutex());
        if (!sdlAudioReadyLocked()) {
            return kWaveBadDevice;
        }
        // A player needs no low latency, and a sound server on a busy
        // machine needs room: playback periods of at least a thirtieth of a
        // second (2048 samples at 44.1 kHz), as the desktop's players ask
        // for. SDL's disk and dummy drivers take periods at their own fixed
        // pace, with no server to starve, and keep short ones.
        const char* driver = SDL_GetCurrentAudioDriver();
        const bool fileDriver =
            driver && (std::strcmp(driver, "disk") == 0 || std::strcmp(driver, "dummy") == 0);
        want.samples = periodSamples(format.nSamplesPerSec, !device.capture && !fileDriver);
        const char* name = nullptr;
        if (device.index != kSdlDefaultDevice) {
            if (device.index >= unsigned(sdlDeviceCountLocked(device.capture))) {
                lastFailure = "no such audio device";
                return kWaveBadDevice;
            }
            name = SDL_GetAudioDeviceName(int(device.index), capture);
        }
        port.opened = want;
        port.releasable = !device.capture && !fileDriver;
        port.device = openDeviceLocked(name, device.capture, port.opened);
        if (port.device == 0) {
            return kWaveBadDevice;
        }
    }
    std::function<void()> chore;
    if (device.chore) {
        chore = [&port, run = device.chore] { run(port); };
    }
    if (!port.headers.startNotifier(device.messages, std::move(deliver), std::move(chore))) {
        std::lock_guard lock(port.deviceMutex);
        closeDevice(port);
        return kWaveNoMemory;
    }
    return kWaveOk;
}

void sdlReleaseDeviceLocked(SdlWavePort& port) {
    closeDevice(port);
}

bool sdlReopenDeviceLocked(SdlWavePort& port) {
    std::lock_guard audio(sdlAudioMutex());
    if (port.device != 0) {
        return true;
    }
    if (sdlAudioReadyLocked()) {
        port.device = openDeviceLocked(nullptr, port.capture, port.opened);
    }
    if (port.device == 0) {
        port.reopenFailed = true;
        return false;
    }
    return true;
}

int sdlResetPort(SdlWavePort* port, uint32_t* rewind) {
    if (port->headers.onNotifierThread()) {
        return kWaveError;
    }
    if (port->capture) {
        // Returns once SDL's audio thread has left its callback.
        SDL_PauseAudioDevice(port->device, 1);
    }
    std::unique_lock lock(port->headers.mutex());
    if (rewind) {
        *rewind = 0;
    }
    port->headers.handBackAll(lock);
    return kWaveOk;
}

int sdlClosePort(SdlWavePort* port) {
    if (port->headers.onNotifierThread()) {
        return kWaveError;
    }
    if (!port->headers.beginClose()) {
        return kWaveStillPlaying;
    }
    {
        std::lock_guard lock(port->deviceMutex);
        closeDevice(*port);
    }
    port->headers.stopNotifier(); // delivers the close message
    delete port;
    return kWaveOk;
}
