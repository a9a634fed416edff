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

bool sdlFormatFor(const WaveFormat& format, SDL_AudioFormat* out, int* bytesPerSample) {
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

Uint16 periodSamples(uint32_t rate) {
    uint32_t samples = 256;
    while (samples < 4096 && samples < rate / 50) {
        samples *= 2;
    }
    return Uint16(samples);
}
