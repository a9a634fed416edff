#pragma once
// The stage that turns whatever its source delivers (PCM of any layout, or a
// compressed WAVE format the conversion layer decodes) into the PCM format
// its reader asks for: in the Mixer's chain, mono 16-bit at the output rate.
//
// Each GetBuffer reads one source buffer and converts it synchronously through
// one conversion stream (platform/AudioConverter.h); the output is sized by
// the converter's size query. The converter keeps the resampler's and the
// decoder's state from one buffer to the next, so a file converted buffer by
// buffer sounds the same as one converted at once. When the source ends, what
// the converter still holds is delivered as one last buffer.
//
// A format the converter cannot handle leaves it closed; the stream then
// yields only empty buffers, which ends the item.
//
// Threads: none of its own; the owner serialises calls (the Mixer reads it
// under its lock).

#include "base/WaveFormat.h"
#include "engine/FilterStream.h"
#include "platform/AudioConverter.h"

#include <deque>

class ConversionStream : public FilterStream {
  public:
    ConversionStream();
    ~ConversionStream() override;

    // targetFormat.
    const WaveFormat* GetFormat() override { return targetFormat.get(); }
    // One source buffer, converted; empty at the end of the source, when no
    // converter is open, or on a failure.
    AudioBuffer GetBuffer() override;

    // Seeking goes to the source; the converter forgets what it held from
    // before, so no stale samples are played at the new position.
    void Rewind() override;
    void SkipBack(uint32_t seconds) override;
    void SkipForward(uint32_t seconds) override;
    void Seek(uint32_t seconds) override;

    // Stores the source, takes its format as sourceFormat, sets targetFormat to
    // 16-bit PCM with the source's channels and rate, and opens the converter.
    void SetSource(AudioStream* stream) override;

    // With the same first 18 bytes as targetFormat nothing happens and the
    // result is false. Otherwise the converter is closed, the format (18 +
    // cbSize bytes) becomes targetFormat, and the result is whether the
    // converter opened.
    bool SetOutputFormat(const WaveFormat* format);

    // For a conversion completed asynchronously (never requested): queues a
    // copy of the header's output, unprepares the header, and deletes the
    // header (allocated with new) and the two buffer handles its source and
    // destination user words point to (each allocated with new).
    virtual void OnConvertDone(AcmStreamHeader* header);

    // Buffers completed asynchronously, oldest first.
    const std::deque<AudioBuffer>& completedBuffers() const { return completed; }

    // Null when closed.
    AcmStream converter = nullptr;
    FormatBuffer sourceFormat;
    FormatBuffer targetFormat;

  private:
    bool openConverter();
    void closeConverter();
    // Converts one source block; an empty buffer when nothing came out.
    AudioBuffer convert(const AudioBuffer& input, uint32_t flags);

    std::deque<AudioBuffer> completed;
    bool restart = false; // the next conversion starts afresh (after a seek)
};
