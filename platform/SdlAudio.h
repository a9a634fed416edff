#pragma once
// SDL's audio subsystem, shared by the wave-out and wave-in layers: it is
// initialised once per process, and devices are opened and closed one at a
// time, under one lock.

#include "base/WaveFormat.h"

#include <SDL.h>

#include <cstdint>
#include <mutex>

std::mutex& sdlAudioMutex();

// Caller holds sdlAudioMutex. Initialises SDL's audio on first use; false
// (SDL's reason written to standard error) when no driver can start. A
// failed start is tried again on the next call.
bool sdlAudioReadyLocked();

// The SDL audio driver in use, or "" before audio was initialised.
const char* sdlAudioDriverName();

// The SDL sample format and bytes per sample of a wave format: 8-bit
// unsigned, 16 and 32-bit signed PCM and 32-bit float. False for others.
bool sdlFormatFor(const WaveFormat& format, SDL_AudioFormat* out, int* bytesPerSample);

// Samples per device period at a rate: about 20 to 40 ms, a power of two
// as SDL prefers.
Uint16 periodSamples(uint32_t rate);
