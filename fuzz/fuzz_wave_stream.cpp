// Loads the input as a WAVE file and reads it to the end with positioning
// calls mixed in. The bytes go to an anonymous memory file opened by its
// /proc path, so the reader sees a real file with a real length.
#include "engine/WaveStream.h"
#include "platform/MessageBox.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

int memoryFile() {
    static int fd = [] {
        setMessageHandler([](const MessageRequest&) { return MessageAnswer::Ok; });
        return memfd_create("fuzz-wave", 0);
    }();
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fd = memoryFile();
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size)) {
        std::abort();
    }
    std::string path = "/proc/self/fd/" + std::to_string(fd);

    WaveStream stream;
    bool loaded = stream.LoadWave(path.c_str());
    (void)stream.GetDuration();
    (void)stream.GetPosition();
    if (!loaded) {
        if (!stream.GetBuffer().isEmpty()) {
            std::abort(); // a failed load hands out no audio
        }
        return 0;
    }
    // The last input bytes steer the positioning so that the fuzzer can
    // reach every call.
    uint8_t steer = size > 0 ? data[size - 1] : 0;
    for (int i = 0; i < 64; ++i) {
        AudioBuffer buffer = stream.GetBuffer();
        if (buffer.isEmpty()) {
            break;
        }
        if (buffer.length() > stream.requestSize) {
            std::abort();
        }
        switch ((steer >> (i % 4 * 2)) & 3) {
        case 0:
            stream.SkipForward(i % 3);
            break;
        case 1:
            stream.SkipBack(uint32_t(i) * 1000003u);
            break;
        case 2:
            stream.Seek(i == 5 ? 0x80000000u : uint32_t(i % 2));
            break;
        default:
            break;
        }
        double position = stream.GetPosition();
        if (position < 0 || position > stream.GetDuration()) {
            std::abort();
        }
    }
    stream.Rewind();
    stream.SkipForward(0xFFFFFFFFu);
    if (!stream.GetBuffer().isEmpty()) {
        std::abort();
    }
    return 0;
}
