#pragma once
// The wave-out device: plays PCM buffers queued by header, in order, and hands
// each header back through a callback once it has been played.
//
// Built on SDL2 audio. SDL's own audio thread only copies queued bytes to the
// device (silence while paused or starved), applying the volume, and marks
// finished headers. Every message of the callback (MM_WOM_OPEN, MM_WOM_DONE in
// the order the headers were written, MM_WOM_CLOSE last) is delivered on a
// notifier thread that the layer runs for each open device, never inside
// SDL's audio thread. The callback may call waveOutWrite, the prepare calls
// and the volume calls of its own device; waveOutReset and waveOutClose from
// inside the callback are refused (they wait for the notifier thread).
//
// On a real driver (a sound server, a sound card), the SDL device is let go
// while nothing has been heard from it for about half a second (stopped,
// paused, run dry), so that an idle player keeps no stream open on the
// server and costs no CPU; the handle stays open and valid, and the device
// is opened again as soon as a header is to be played. Should that fail,
// waveOutDeviceLost reports the device lost. SDL's disk and dummy drivers
// keep their device open.
//
// All calls are thread-safe. Results are kWaveOk (0) or one of the error
// codes of platform/WaveHeader.h.

#include "platform/WaveHeader.h"

#include <cstdint>
#include <string>

struct WaveFormat; // the 18-byte format record (base/WaveFormat.h)

constexpr unsigned kMmWomOpen = 955;  // the device was opened
constexpr unsigned kMmWomClose = 956; // the device is closing; the last message
constexpr unsigned kMmWomDone = 957;  // param1: the WaveHeader* that finished

// Called on the notifier thread with the instance word given to waveOutOpen.
using WaveOutCallback = void (*)(WaveOutHandle device, unsigned message, void* instance,
                                 uintptr_t param1, uintptr_t param2);

// Opens the default output device in the given PCM format: format tag 1 with
// 8-bit (unsigned), 16 or 32-bit (signed) samples, or tag 3 with 32-bit
// float; any channel count SDL supports and any rate (SDL converts to what
// the hardware takes). Other formats, or a block alignment that is not one
// sample frame, give kWaveBadFormat. When SDL cannot
// initialise audio or open a device (no sound card, no driver), SDL's reason
// is written to standard error and kWaveBadDevice is returned; *handle is
// then null. The device starts unpaused: written headers play at once.
int waveOutOpen(WaveOutHandle* handle, const WaveFormat* format, WaveOutCallback callback,
                void* instance);

// Queues a prepared header (kWaveUnprepared otherwise; kWaveStillPlaying if
// it is queued already). Its bytes must stay valid until MM_WOM_DONE.
int waveOutWrite(WaveOutHandle handle, WaveHeader* header, uint32_t size);

// Pause holds playback where it is (the device outputs silence); restart
// continues it. Both may be repeated.
int waveOutPause(WaveOutHandle handle);
int waveOutRestart(WaveOutHandle handle);

// Stops playback and returns every queued header as done, in queue order.
// Their MM_WOM_DONE messages have all been delivered when reset returns
// (so the caller may free the buffers right after). The pause state is kept.
// Refused (kWaveError) on the notifier thread.
int waveOutReset(WaveOutHandle handle);

// Closes the device: kWaveStillPlaying while headers wait to be played
// (reset first). Unless a reset dropped sound, what was played last is
// still on its way to the speakers: close waits until it has been heard
// (at most a second) so that the end of an item is not cut. Headers that have played are handed
// back (MM_WOM_DONE) before the device closes; MM_WOM_CLOSE is delivered before close returns,
// after which the handle is invalid. Refused (kWaveError) on the notifier
// thread.
int waveOutClose(WaveOutHandle handle);

// Software volume applied to the samples as they are fed to the device:
// low 16 bits left, high 16 bits right, 0 silent, 0xFFFF unchanged. Mono
// uses the low word (left); with more than two channels, the first channel
// takes the left volume, the second the right, and the others the left.
int waveOutSetVolume(WaveOutHandle handle, uint32_t volume);
int waveOutGetVolume(WaveOutHandle handle, uint32_t* volume);

// SDL's reason why the last device could not be opened (or audio could not
// start), for the user; "" when that never happened.
std::string waveOutErrorText();

// Whether the device of an open handle has gone away (a headset unplugged,
// the sound server gone): it plays nothing more, and headers may never come
// back. Only closing it is left. False for a null handle.
bool waveOutDeviceLost(WaveOutHandle handle);

// The bytes written and not yet fed to the device: what it will play before
// anything written now. kWaveInvalidParam without bytes.
int waveOutGetQueuedBytes(WaveOutHandle handle, uint64_t* bytes);

// Quits the audio layer (both directions) when no wave device is open, so
// that the next open starts it again on the driver SDL_AUDIODRIVER names
// then. False, and nothing done, while a device is open.
bool waveAudioShutdown();

// The SDL audio driver in use ("disk", "pulseaudio", ...), or an empty text
// before audio was initialised. For diagnostics and tests.
const char* waveOutDriverName();
