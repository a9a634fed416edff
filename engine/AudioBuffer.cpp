#include "engine/AudioBuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

struct AudioBuffer::Block : RefCounted {
    ~Block() {
        if (ownsData) {
            std::free(header.data);
        }
    }

    // Unprepares the header for the stored device; the device is forgotten
    // only when the platform call succeeds.
    void unprepare();

    BufferKind kind = BufferKind::None;
    void* device = nullptr; // prepared for this device; null when not prepared
    bool ownsData = false;
    uint32_t capacity = 0; // owned bytes allocated at header.data
    WaveHeader header;
};

AudioBuffer::AudioBuffer(CountedRef<Block> shared) : block(std::move(shared)) {}

AudioBuffer::AudioBuffer() = default;
AudioBuffer::AudioBuffer(const AudioBuffer&) = default;
AudioBuffer::AudioBuffer(AudioBuffer&&) noexcept = default;
AudioBuffer& AudioBuffer::operator=(const AudioBuffer&) = default;
AudioBuffer& AudioBuffer::operator=(AudioBuffer&&) noexcept = default;

AudioBuffer::~AudioBuffer() {
    // The last handle to go unprepares the header before the block is freed;
    // a handle that is reassigned frees it without that step.
    std::unique_ptr<Block> last = block.drop();
    if (last) {
        last->unprepare();
    }
}

AudioBuffer AudioBuffer::allocate(uint32_t bytes, bool zeroFill) {
    auto* b = new (std::nothrow) Block;
    if (!b) {
        return {};
    }
    uint8_t* data = nullptr;
    if (bytes > 0) {
        data = static_cast<uint8_t*>(zeroFill ? std::calloc(bytes, 1) : std::malloc(bytes));
        if (!data) {
            delete b;
            return {};
        }
    }
    b->kind = BufferKind::WaveIn;
    b->ownsData = true;
    b->capacity = bytes;
    b->header.data = data;
    b->header.bufferLength = bytes;
    b->header.user = reinterpret_cast<uintptr_t>(b);
    return AudioBuffer(CountedRef<Block>(b));
}

AudioBuffer AudioBuffer::fromBytes(const void* data, uint32_t bytes, bool copy) {
    if (copy) {
        AudioBuffer buffer = allocate(bytes, false);
        if (!buffer.block) {
            return {};
        }
        if (bytes > 0) {
            std::memcpy(buffer.block->header.data, data, bytes);
        }
        buffer.block->kind = BufferKind::WaveOut;
        return buffer;
    }
    auto* b = new (std::nothrow) Block;
    if (!b) {
        return {};
    }
    b->kind = BufferKind::WaveOut;
    b->header.data = static_cast<uint8_t*>(const_cast<void*>(data));
    b->header.bufferLength = bytes;
    b->header.user = reinterpret_cast<uintptr_t>(b);
    return AudioBuffer(CountedRef<Block>(b));
}

AudioBuffer AudioBuffer::fromHeader(WaveHeader* header) {
    return AudioBuffer(CountedRef<Block>::share(reinterpret_cast<Block*>(header->user)));
}

BufferKind AudioBuffer::kind() const {
    return block ? block->kind : BufferKind::None;
}

void AudioBuffer::setKind(BufferKind kind) {
    if (block) {
        block->kind = kind;
    }
}

uint8_t* AudioBuffer::data() {
    return block ? block->header.data : nullptr;
}

const uint8_t* AudioBuffer::data() const {
    return block ? block->header.data : nullptr;
}

uint32_t AudioBuffer::length() const {
    return block ? block->header.bufferLength : 0;
}

void AudioBuffer::setLength(uint32_t bytes) {
    if (block && bytes < block->header.bufferLength) {
        block->header.bufferLength = bytes;
    }
}

WaveHeader* AudioBuffer::header() {
    return block ? &block->header : nullptr;
}

void* AudioBuffer::device() const {
    return block ? block->device : nullptr;
}

void AudioBuffer::prepare(void* device) {
    if (!block || !device) {
        return;
    }
    if (block->device) {
        unprepare();
    }
    block->device = device;
    if (block->kind == BufferKind::WaveOut) {
        waveOutPrepareHeader(static_cast<WaveOutHandle>(device), &block->header, kWaveHeaderSize);
    } else if (block->kind == BufferKind::WaveIn) {
        waveInPrepareHeader(static_cast<WaveInHandle>(device), &block->header, kWaveHeaderSize);
    }
}

void AudioBuffer::unprepare() {
    if (block) {
        block->unprepare();
    }
}

void AudioBuffer::Block::unprepare() {
    if (!device) {
        return;
    }
    int result = kWaveOk;
    if (kind == BufferKind::WaveOut) {
        result =
            waveOutUnprepareHeader(static_cast<WaveOutHandle>(device), &header, kWaveHeaderSize);
    } else if (kind == BufferKind::WaveIn) {
        result = waveInUnprepareHeader(static_cast<WaveInHandle>(device), &header, kWaveHeaderSize);
    }
    if (result == kWaveOk) {
        device = nullptr;
    }
}

bool AudioBuffer::appendBytes(const void* bytes, uint32_t count) {
    if (count == 0) {
        return true;
    }
    if (!block) {
        AudioBuffer fresh = fromBytes(bytes, count, true);
        if (!fresh.block) {
            return false;
        }
        *this = std::move(fresh);
        return true;
    }
    uint32_t length = block->header.bufferLength;
    if (uint64_t(length) + count > UINT32_MAX) {
        return false;
    }
    uint32_t needed = length + count;
    if (!block->ownsData || needed > block->capacity) {
        // Grow geometrically so that a writer appending many small buffers
        // does not copy quadratically.
        uint64_t grown = std::max<uint64_t>(needed, uint64_t(block->capacity) * 3 / 2);
        uint32_t capacity = static_cast<uint32_t>(std::min<uint64_t>(grown, UINT32_MAX));
        auto* data = static_cast<uint8_t*>(std::malloc(capacity));
        if (!data) {
            return false;
        }
        if (length > 0) {
            std::memcpy(data, block->header.data, length);
        }
        if (block->ownsData) {
            std::free(block->header.data);
        }
        block->header.data = data;
        block->ownsData = true;
        block->capacity = capacity;
    }
    std::memcpy(block->header.data + length, bytes, count);
    block->header.bufferLength = needed;
    return true;
}

bool AudioBuffer::appendSamples(const int16_t* samples, uint32_t count) {
    if (count > UINT32_MAX / 2) {
        return false;
    }
    return appendBytes(samples, count * 2);
}

bool AudioBuffer::appendBuffer(const AudioBuffer& other) {
    if (other.length() == 0) {
        return true;
    }
    if (other.block.get() == block.get()) {
        // Appending a block to itself: copy the bytes first, growing may move them.
        AudioBuffer copy = fromBytes(other.data(), other.length(), true);
        return copy.block && appendBytes(copy.data(), copy.length());
    }
    return appendBytes(other.data(), other.length());
}

void AudioBuffer::clear() {
    if (!block || block->header.bufferLength == 0) {
        return;
    }
    if (block->ownsData) {
        std::free(block->header.data);
    }
    block->header.data = nullptr;
    block->header.bufferLength = 0;
    block->ownsData = false;
    block->capacity = 0;
}
