#pragma once
// The AudioStream over a RIFF WAVE file. The format of the file's "fmt "
// chunk is handed on unchanged (PCM or compressed); converting it is the
// conversion stage's work.
//
// A file loads when it is "RIFF" with form "WAVE" and holds a "fmt " and a
// "data" chunk, in either order; other chunks are skipped. The big-endian
// "RIFX" form loads too when it holds PCM or IEEE float (plain or
// extensible): its format is handed on as the little-endian record, and the
// bytes of every sample are reversed as they are read, so that what follows
// sees an ordinary little-endian file. The audio runs
// from the first byte of the "data" payload to the end of the file: the
// "data" size does not bound reading, position or duration, so chunks that
// follow it are played and counted.
//
// Threads: none of its own; the owner serialises calls (the Mixer reads
// under its lock, the play list asks the duration on the user-interface
// thread).

#include "base/WaveFormat.h"
#include "engine/AudioStream.h"
#include "engine/RiffReader.h"

#include <cstdint>

class WaveStream : public AudioStream {
  public:
    WaveStream() = default;
    ~WaveStream() override = default;

    // Opens and checks the file and positions at the first audio byte.
    // requestSize becomes one tenth of a second of the format. False when
    // the file cannot be opened (or is not a regular file), is not RIFF
    // WAVE, lacks "fmt " or "data", has a format without block alignment or
    // byte rate, or one that the conversion layer cannot turn into PCM
    // (platform/AudioConverter.h lists what it reads); the stream then
    // hands out no audio.
    bool LoadWave(const char* path);

    // The default PCM 44100 Hz stereo 16-bit format until a file is loaded.
    const WaveFormat* GetFormat() override { return format.get(); }
    // At most requestSize bytes from the current position; empty at the end
    // of the file or when nothing is loaded.
    AudioBuffer GetBuffer() override;

    // Positions are whole seconds of the format, rounded down to whole
    // blocks, and counted from the first audio byte. Moves beyond the end of
    // the file stop at the end.
    void Rewind() override;
    void SkipBack(uint32_t seconds) override;
    void SkipForward(uint32_t seconds) override;
    // Ignored when seconds, read as a signed 32-bit number, is negative.
    void Seek(uint32_t seconds) override;
    double GetPosition() override;
    // (file length - dataStart) / byte rate. Answers even after a failed
    // LoadWave: 0 when the file could not be opened, otherwise the file's
    // whole length over the byte rate of the format read so far.
    double GetDuration() override;

    // File offset of the first audio byte; 0 until a file has loaded.
    int64_t dataStart = 0;

  private:
    bool loadChunks();
    bool moveTo(int64_t offset);

    FormatBuffer format;
    RiffReader reader;
    bool loaded = false;
    // "RIFX" files: the bytes of one sample, reversed in every buffer; 0 for
    // little-endian files.
    uint32_t swapBytes = 0;
};
