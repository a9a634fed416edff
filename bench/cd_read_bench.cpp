// Reads one whole track of a disc image through CdDrive, as a rip does, and
// prints the time taken and the speed in multiples of real time.
//
//     cd_read_bench image.cue [track-index] [plain|jitter] [output.raw]
//
// The track index is 0-based among the audio tracks (default 0). "jitter"
// reads through the jitter-correcting reader instead of plain sector reads.
// With an output path the audio is written there, for comparing with another
// reader's rip.

#include "cd/CdDrive.h"
#include "platform/CdLibrary.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s image.cue [track-index] [plain|jitter] [output.raw]\n",
                     argv[0]);
        return 2;
    }
    const int index = argc > 2 ? std::atoi(argv[2]) : 0;
    if (argc > 3 && std::strcmp(argv[3], "jitter") == 0) {
        setCdReadMethod(CdReadMethod::JitterCorrected);
    }
    FILE* out = nullptr;
    if (argc > 4 && !(out = std::fopen(argv[4], "wb"))) {
        std::fprintf(stderr, "cannot write %s\n", argv[4]);
        return 1;
    }
    registerDiscImage(argv[1]);

    const auto begin = std::chrono::steady_clock::now();
    CdDrive drive;
    if (!drive.OpenTrack(index) || index >= drive.TrackCount()) {
        std::fprintf(stderr, "cannot open track %d of %s\n", index, argv[1]);
        return 1;
    }
    uint64_t bytes = 0;
    for (AudioBuffer b = drive.GetBuffer(); !b.isEmpty(); b = drive.GetBuffer()) {
        bytes += b.length();
        if (out) {
            std::fwrite(b.data(), 1, b.length(), out);
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (out) {
        std::fclose(out);
    }
    if (!drive.discReady) {
        std::fprintf(stderr, "read failed\n");
        return 1;
    }
    const double audioSeconds = static_cast<double>(bytes) / 176400.0;
    std::printf("%llu bytes (%.1f s of audio) in %.3f s: %.0fx real time\n",
                static_cast<unsigned long long>(bytes), audioSeconds, seconds,
                seconds > 0 ? audioSeconds / seconds : 0.0);
    return 0;
}
