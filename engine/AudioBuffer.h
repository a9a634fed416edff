#pragma once
// A handle to a shared, reference-counted block of audio bytes that carries
// its own wave header (platform/WaveHeader.h) and knows for which wave device
// the header is prepared.
//
// Copying a handle adds a reference; destroying one drops it. When the handle
// holding the last reference is destroyed while the header is prepared, the
// header is unprepared first; then the bytes (if owned) and the block are
// freed. Reassigning a handle drops its old reference without that step.
//
// The reference count is atomic: handles to one block live on the
// user-interface thread, the device's notifier thread and the analysers.
// The bytes themselves are not guarded: a producer fills a block before it
// hands out copies, and consumers only read.
//
// An empty buffer (kind None, or length 0) means "end of data" everywhere.

#include "base/RefCounted.h"
#include "platform/WaveHeader.h"

#include <cstdint>

enum class BufferKind : int32_t {
    None = 0,    // empty, or an end marker
    WaveOut = 1, // data for the wave-out device (every producer of playback data)
    WaveIn = 2,  // data for the wave-in device
};

class AudioBuffer {
  public:
    // The empty buffer.
    AudioBuffer();
    AudioBuffer(const AudioBuffer& other);
    AudioBuffer(AudioBuffer&& other) noexcept;
    AudioBuffer& operator=(const AudioBuffer& other);
    AudioBuffer& operator=(AudioBuffer&& other) noexcept;
    ~AudioBuffer();

    // A block of n owned bytes of kind WaveIn (producers of playback data set
    // WaveOut right after). The bytes are zeroed only when asked. Returns the
    // empty buffer when the memory cannot be had.
    static AudioBuffer allocate(uint32_t bytes, bool zeroFill = false);
    // A block of kind WaveOut over existing bytes: copied into an owned block
    // with copy, otherwise wrapped (the caller keeps the bytes alive).
    static AudioBuffer fromBytes(const void* data, uint32_t bytes, bool copy);
    // Another handle to the block whose header this is (through its user
    // word). The header must belong to a live AudioBuffer block.
    static AudioBuffer fromHeader(WaveHeader* header);

    BufferKind kind() const;
    void setKind(BufferKind kind);
    uint8_t* data();
    const uint8_t* data() const;
    uint32_t length() const;
    // Shortens the buffer (a short read); never grows it.
    void setLength(uint32_t bytes);
    // Kind None or length 0: the end of data.
    bool isEmpty() const { return kind() == BufferKind::None || length() == 0; }
    bool sameBlock(const AudioBuffer& other) const { return block.get() == other.block.get(); }
    bool hasBlock() const { return bool(block); }

    WaveHeader* header();
    // The device the header is prepared for; null when not prepared.
    void* device() const;

    // Prepares the header for the device (wave-out for kind WaveOut, wave-in
    // for kind WaveIn; other kinds only remember the device). Unprepares first
    // when already prepared. A null device does nothing.
    void prepare(void* device);
    // Unprepares for the stored device; the device is forgotten only when the
    // platform call succeeds.
    void unprepare();

    // Growing, used by the output writers. Returns false when memory ran out
    // (the buffer is then unchanged). An empty handle gets a new block of kind
    // WaveOut.
    bool appendSamples(const int16_t* samples, uint32_t count);
    bool appendBuffer(const AudioBuffer& other);
    bool appendBytes(const void* bytes, uint32_t count);
    // Length 0, bytes freed.
    void clear();

  private:
    struct Block;
    explicit AudioBuffer(CountedRef<Block> shared);

    CountedRef<Block> block;
};
