#pragma once
// Little-endian numbers in byte buffers, as the WAVE, RIFF and stored-list
// layouts hold them, and the big-endian ones of the "RIFX" form. The caller
// makes sure the bytes are there.

#include <cstdint>

inline uint16_t readLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t readLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint16_t readLe16(const char* p) {
    return readLe16(reinterpret_cast<const uint8_t*>(p));
}

inline uint32_t readLe32(const char* p) {
    return readLe32(reinterpret_cast<const uint8_t*>(p));
}

inline uint32_t readBe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | static_cast<uint32_t>(p[3]);
}
