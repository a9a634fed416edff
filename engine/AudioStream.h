#pragma once
// An audio source: describes its audio with one WaveFormat and hands it out
// one buffer per request until it returns an empty buffer.
//
// GetBuffer contract, kept by every stream:
//  - the buffer is newly allocated, of kind WaveOut, and holds at most
//    requestSize bytes (rounded down to whole blocks); the last buffer of a
//    source may be shorter, and a filter may return another size;
//  - an empty buffer (kind None or length 0) is the end of the stream, or a
//    failure the stream reports no other way;
//  - the caller owns the returned handle.
//
// Positions are whole seconds in, seconds (double) out; -1.0 means unknown.
// Streams lock nothing themselves: their owner serialises calls (the Mixer
// reads under its lock).

#include "base/WaveFormat.h"
#include "engine/AudioBuffer.h"

#include <cstdint>

class AudioStream {
  public:
    AudioStream() = default;
    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;
    virtual ~AudioStream() = default;

    // The stream's format, owned by the stream and valid while it lives;
    // null when a stream has none.
    virtual const WaveFormat* GetFormat() = 0;
    virtual AudioBuffer GetBuffer() = 0;

    virtual void Rewind() {}
    virtual void SkipBack(uint32_t seconds) { (void)seconds; }
    virtual void SkipForward(uint32_t seconds) { (void)seconds; }
    // Rewind, then skip forward by the same seconds.
    virtual void Seek(uint32_t seconds) {
        Rewind();
        SkipForward(seconds);
    }
    virtual double GetPosition() { return -1.0; }
    virtual double GetDuration() { return -1.0; }

    // Bytes that one GetBuffer asks for.
    uint32_t requestSize = 4096;

  protected:
    // Rounds requestSize down to whole blocks of the format (left alone for a
    // format without block alignment).
    void roundRequestSize(const WaveFormat& format) {
        if (format.nBlockAlign != 0 && requestSize % format.nBlockAlign != 0) {
            requestSize = format.nBlockAlign * (requestSize / format.nBlockAlign);
        }
    }
};
