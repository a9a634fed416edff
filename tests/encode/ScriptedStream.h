#pragma once
// A source stream for writer tests: hands out the given PCM in buffers of a
// fixed size, then empty buffers. A hook runs before each buffer is handed
// out, so that a test can stop a writer in the middle of Run.

#include "engine/AudioStream.h"

#include <cstdint>
#include <functional>
#include <vector>

class ScriptedStream : public AudioStream {
  public:
    ScriptedStream(const WaveFormat& f, std::vector<uint8_t> content, uint32_t bufferSize)
        : format(f), bytes(std::move(content)), bufferBytes(bufferSize) {}

    const WaveFormat* GetFormat() override { return &format; }
    AudioBuffer GetBuffer() override {
        ++calls;
        if (beforeBuffer) {
            beforeBuffer(calls);
        }
        if (offset >= bytes.size()) {
            return {};
        }
        uint32_t n = uint32_t(std::min<size_t>(bufferBytes, bytes.size() - offset));
        AudioBuffer b = AudioBuffer::fromBytes(bytes.data() + offset, n, true);
        offset += n;
        return b;
    }
    void Rewind() override { offset = 0; }

    WaveFormat format;
    std::vector<uint8_t> bytes;
    uint32_t bufferBytes;
    size_t offset = 0;
    int calls = 0;
    std::function<void(int call)> beforeBuffer;
};
