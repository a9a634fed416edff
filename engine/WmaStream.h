#pragma once
// The AudioStream over a file that the media reader decodes: every audio
// file but WAVE (MP3, WMA, FLAC, Ogg, Opus, M4A). It opens the file, picks the first output whose
// major type is audio, takes that output's format (16-bit PCM at the file's rate and channel count)
// as the stream format, and hands out each decoded sample as one buffer.
//
// Diagnostics of Open go to standard output; nothing shows them to the user.
// Positions and the duration are whole seconds; seeking is by whole seconds
// from the start (SkipBack and SkipForward do nothing).
//
// Threads: none of its own; the owner serialises calls (the Mixer reads
// under its lock, the play list asks the duration on the user-interface
// thread).

#include "base/WaveFormat.h"
#include "engine/AudioStream.h"
#include "platform/MediaReader.h"

#include <atomic>
#include <cstdint>
#include <memory>

class WmaStream : public AudioStream {
  public:
    WmaStream();
    ~WmaStream() override;

    // HRESULT-like: negative on failure (kMediaInvalidArg for a null or empty
    // path and for a URL with a scheme, "http://" and the like, the reader's
    // result when the file cannot be opened or has no audio). Called once
    // per object; a second call starts over with the new file.
    int32_t Open(const char* path);
    // A flag whose setting (from any thread) makes an Open in progress fail
    // at once and ends the audio at the next read; null for none. Owned by
    // the caller and kept alive while the stream lives. Set before Open.
    void SetStopFlag(const std::atomic<bool>* flag);

    const WaveFormat* GetFormat() override { return format.get(); }
    // One decoded sample; empty at the end of the file, on a read error, or
    // when nothing is open.
    AudioBuffer GetBuffer() override;

    void Rewind() override;
    // Positions the reader at seconds from the start (a 64-bit product in
    // 100-ns units); time becomes that position.
    void Seek(uint32_t seconds) override;
    // Whole seconds of time.
    double GetPosition() override;
    // Whole seconds of duration.
    double GetDuration() override;

    // Owned format, the default PCM 44100 Hz stereo 16-bit until a file opens.
    FormatBuffer format;
    // 100-ns units, from the file's "Duration" attribute; 0 when absent.
    uint64_t duration = 0;
    // The audio output read (each sample read stores its output here too).
    uint32_t outputNumber = 0;
    // 100-ns units: the durations of the samples handed out since the start
    // or the last seek, added to the position seeked to.
    uint64_t time = 0;
    // Null when no file is open.
    std::unique_ptr<MediaReader> reader;
    // The file's title, artist and album, read as it opened.
    MediaTags tags;

  private:
    int32_t findAudioOutput();
    void releaseReader();

    const std::atomic<bool>* stopFlag = nullptr;
};
