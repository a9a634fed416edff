#pragma once
// SDL's audio subsystem, shared by the wave-out and wave-in layers: it is
// initialised once per process, and devices are opened and closed one at a
// time, under one lock. An open wave device is a port (SdlWavePort): its SDL
// device and the queue of its headers with the notifier thread that hands
// them back. Opening and closing a port are the same for both layers.

#include "base/WaveFormat.h"
#include "platform/HeaderQueue.h"
#include "platform/WaveHeader.h"

#include <SDL.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

std::mutex& sdlAudioMutex();

// Caller holds sdlAudioMutex. Initialises SDL's audio on first use; false
// (SDL's reason written to standard error) when no driver can start. A
// failed start is tried again on the next call.
bool sdlAudioReadyLocked();

// Caller holds sdlAudioMutex and audio is ready. The number of capture (or
// playback) devices SDL lists, monitors of a sound server's outputs
// included; 1 when SDL cannot list them, as the default device may still
// open. When there is none, the reason is kept for sdlLastFailure and, with
// no device open, audio is quit so that the next call tries the drivers
// afresh. A device that cannot be opened does the same.
int sdlDeviceCountLocked(bool capture);

// The SDL audio driver in use, or "" before audio was initialised.
const char* sdlAudioDriverName();

// SDL's reason for the last time audio could not start or a device could
// not be opened, in either direction; "" when that never happened.
std::string sdlLastFailure();

// Quits SDL's audio when no device is open, so that the next open starts it
// again with the driver SDL_AUDIODRIVER names then. False (nothing done)
// while a device is open.
bool sdlAudioShutdown();

struct SdlWavePort;
// Whether the SDL device of an open port has gone away (unplugged, or its
// driver failed): it takes or gives no more sound, and stays so. Any thread
// but SDL's audio thread.
bool sdlPortLost(const SdlWavePort& port);

// The SDL sample format of a wave format that a device takes: format tag 1
// with 8-bit unsigned or 16 or 32-bit signed samples, or tag 3 with 32-bit
// float; 1 to 255 channels; a rate of 1 to INT32_MAX; a block alignment of
// one sample frame. False for any other.
bool sdlFormatFor(const WaveFormat& format, SDL_AudioFormat* out);

// Samples per device period at a rate, a power of two as SDL prefers:
// about 20 to 40 ms, or 33 to 66 ms when roomy (playback through a sound
// server or a sound card).
Uint16 periodSamples(uint32_t rate, bool roomy);

// What an open wave device holds whatever its direction; WaveOutPort and
// WaveInPort derive from it and add their own fields.
struct SdlWavePort {
    SdlWavePort() = default;
    SdlWavePort(const SdlWavePort&) = delete;
    SdlWavePort& operator=(const SdlWavePort&) = delete;
    virtual ~SdlWavePort() = default; // sdlClosePort deletes through the base

    // Immutable once open
    bool capture = false;
    SDL_AudioSpec opened{}; // what the SDL device was opened with
    // Whether the SDL device may be let go while nothing is heard: on real
    // drivers, where an open stream keeps the sound server busy. SDL's disk
    // and dummy drivers keep theirs (reopening would start a new file).
    bool releasable = false;

    // The SDL device, 0 while released (or never opened). Changed only
    // under deviceMutex and sdlAudioMutex both; read under either, or by
    // SDL's audio thread of that device.
    SDL_AudioDeviceID device = 0;
    // Held while the SDL device is released or opened again; taken before
    // sdlAudioMutex and never under the queue's mutex.
    std::mutex deviceMutex;
    // Set when a released device could not be opened again: the port is
    // as good as lost.
    std::atomic<bool> reopenFailed{false};

    // The headers queued on the device. Its mutex also guards the fields of
    // a derived port that change together with the queue.
    HeaderQueue headers;
};

constexpr unsigned kSdlDefaultDevice = 0xFFFFFFFFu;

// Which SDL device a port opens, and what it tells its owner.
struct SdlWaveDevice {
    bool capture = false;               // a capture device, else a playback one
    unsigned index = kSdlDefaultDevice; // in SDL's list, or the default device
    // Runs on SDL's audio thread with the port (an SdlWavePort*) as userdata.
    SDL_AudioCallback feed = nullptr;
    HeaderQueue::Messages messages{};
    // Runs on the notifier thread each time the queue's askChoreLocked was
    // called; null for none.
    void (*chore)(SdlWavePort& port) = nullptr;
};

// Opening thread. Opens the SDL device of a port that no other thread sees
// yet, paused, in a format that sdlFormatFor took, and starts the port's
// notifier. kWaveOk; kWaveBadDevice when audio cannot start, the index is
// out of range or SDL cannot open the device (SDL's reason on standard
// error); kWaveNoMemory when no notifier thread can be started (the SDL
// device is closed again). The caller keeps the port on failure.
int sdlStartPort(SdlWavePort& port, const SdlWaveDevice& device, const WaveFormat& format,
                 SDL_AudioFormat sampleFormat, HeaderQueue::Deliver deliver);

// Opens a wave device: *handle is cleared, then kWaveInvalidParam without a
// handle or a format; kWaveBadFormat for a format sdlFormatFor refuses;
// kWaveNoMemory when make (given the SDL sample format) returns null;
// otherwise what sdlStartPort gives, with *handle set to the port on
// success. The notifier delivers the device's messages to callback, with
// the port and instance. The device starts paused.
template <class Port, class Callback, class Make>
int sdlOpenPort(Port** handle, const WaveFormat* format, Callback callback, void* instance,
                const SdlWaveDevice& device, Make make) {
    if (!handle) {
        return kWaveInvalidParam;
    }
    *handle = nullptr;
    if (!format) {
        return kWaveInvalidParam;
    }
    SDL_AudioFormat sampleFormat;
    if (!sdlFormatFor(*format, &sampleFormat)) {
        return kWaveBadFormat;
    }
    Port* port = make(sampleFormat);
    if (!port) {
        return kWaveNoMemory;
    }
    auto deliver = [port, callback, instance](unsigned message, uintptr_t param1) {
        if (callback) {
            callback(port, message, instance, param1, 0);
        }
    };
    const int result = sdlStartPort(*port, device, *format, sampleFormat, deliver);
    if (result != kWaveOk) {
        delete port;
        return result;
    }
    *handle = port;
    return kWaveOk;
}

// Caller holds the port's deviceMutex, not the queue's mutex; any thread
// but SDL's audio thread. Lets go of a port's SDL device while the port
// stays open (its headers, notifier and fields kept), or opens it again on
// the default device in the same format, paused; reopening is true when
// the port has a device afterwards. A failed reopen sets reopenFailed, with
// SDL's reason for sdlLastFailure. The caller decides when: nothing may be
// playing from a device it lets go.
void sdlReleaseDeviceLocked(SdlWavePort& port);
bool sdlReopenDeviceLocked(SdlWavePort& port);

// Reset of either device. Hands back every header queued on a port, in
// queue order, and returns kWaveOk once their done messages (and those of
// every header finished before) have been delivered. A capture device is
// paused first, so that the header being filled goes back with what it
// holds. rewind, when given, is set to 0 under the queue's lock as the
// headers go (WaveOut's read offset into the front header). Any thread but
// the port's notifier, which this waits for: there it returns kWaveError
// and does nothing.
int sdlResetPort(SdlWavePort* port, uint32_t* rewind = nullptr);

// Close of either device: closes a port and deletes it. kWaveError on the
// port's notifier thread (closing waits for it) and kWaveStillPlaying while
// headers are queued; nothing changes then. Otherwise waits until every finished header has
// been handed back, refuses further headers, closes the SDL device (SDL's
// audio thread has left the callback for good when that returns), lets
// the notifier deliver the close message and returns kWaveOk once it has.
int sdlClosePort(SdlWavePort* port);
