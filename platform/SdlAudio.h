#pragma once
// SDL's audio subsystem, shared by the wave-out and wave-in layers: it is
// initialised once per process, and devices are opened and closed one at a
// time, under one lock.

#include <mutex>

std::mutex& sdlAudioMutex();

// Caller holds sdlAudioMutex. Initialises SDL's audio on first use; false
// (SDL's reason written to standard error) when no driver can start. A
// failed start is tried again on the next call.
bool sdlAudioReadyLocked();

// The SDL audio driver in use, or "" before audio was initialised.
const char* sdlAudioDriverName();
