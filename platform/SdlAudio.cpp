#include "platform/SdlAudio.h"

#include <SDL.h>

#include <cstdio>

namespace {
bool ready = false; // Guarded by sdlAudioMutex
}

std::mutex& sdlAudioMutex() {
    static std::mutex mutex;
    return mutex;
}

bool sdlAudioReadyLocked() {
    if (ready) {
        return true;
    }
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "Velumo: cannot initialise audio: %s\n", SDL_GetError());
        return false;
    }
    ready = true;
    return true;
}

const char* sdlAudioDriverName() {
    std::lock_guard lock(sdlAudioMutex());
    const char* name = ready ? SDL_GetCurrentAudioDriver() : nullptr;
    return name ? name : "";
}
