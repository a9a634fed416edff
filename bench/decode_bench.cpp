// Decodes a file through WmaStream to its end, as the player and the convert
// job read it, and prints how long that took.
//   decode_bench FILE [--convert RATE]
// With --convert the buffers also go through a ConversionStream to mono
// 16-bit at RATE, the Mixer's format.
#include "engine/ConversionStream.h"
#include "engine/WmaStream.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [--convert RATE]\n", argv[0]);
        return 2;
    }
    uint32_t convertRate = 0;
    if (argc >= 4 && std::strcmp(argv[2], "--convert") == 0) {
        convertRate = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    }
    auto start = std::chrono::steady_clock::now();
    WmaStream stream;
    if (stream.Open(argv[1]) < 0) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    ConversionStream conversion;
    AudioStream* reader = &stream;
    if (convertRate != 0) {
        conversion.SetSource(&stream);
        WaveFormat mono = pcmFormat(1, convertRate, 16);
        conversion.SetOutputFormat(&mono);
        reader = &conversion;
    }
    uint64_t bytes = 0;
    uint64_t buffers = 0;
    for (;;) {
        AudioBuffer buffer = reader->GetBuffer();
        if (buffer.isEmpty()) {
            break;
        }
        bytes += buffer.length();
        ++buffers;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const WaveFormat* format = reader->GetFormat();
    std::printf("%.3f s for %llu buffers, %.1f s of audio (%u Hz, %u channels)\n", seconds,
                static_cast<unsigned long long>(buffers),
                static_cast<double>(bytes) / format->nAvgBytesPerSec, format->nSamplesPerSec,
                format->nChannels);
    return 0;
}
