#pragma once
// The one stream the rest of Velumo reads PCM from. It loads an item (a WAVE,
// MP3 or WMA file, or a CD track) into a chain
//     source -> ConversionStream -> SpectrumAnalyzer
// and hands out the conversion's buffers in its single output format:
// 16-bit PCM, one tenth of a second per request. By default the output is
// outputChannels (mono) at outputSampleRate whatever the item is, as a
// conversion writes it; a player asks for the item's own channels (more than
// two are mixed down to stereo) and its own rate instead (followItemChannels,
// followItemRate).
//
// Threads: the loads, RemoveAll, seeking and positions are called on the
// owner's thread (the user-interface thread, or the conversion job's);
// GetBuffer on the reader's thread (the wave-out notifier, or the conversion
// worker). mutex serialises every operation that touches the entries
// (AddStream, GetBuffer, RemoveAll, seeking, positions, calcoutputformat),
// so no stream is moved or deleted while a reader is inside it. Lock order:
// a Mixer's mutex is taken before an analyser's, never the reverse.
//
// Failures inside the loads, AddStream and calcoutputformat (such as running
// out of memory) are shown as messages with fixed texts; the operation then
// returns its failure value. A failed AddStream leaves no entry and deletes
// the stages it built, but not the stream it was given.

#include "engine/AudioStream.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class WaveStream;
class WmaStream;
class CdDrive;
class ConversionStream;
class SpectrumAnalyzer;

class Mixer : public AudioStream {
  public:
    Mixer();
    ~Mixer() override;

    const WaveFormat* GetFormat() override { return &outputFormat; }
    // About a tenth of a second of the first entry's conversion: its
    // buffers are joined until they hold at least three quarters of a
    // request, so that a source that decodes a frame at a time (26 ms for
    // an MP3 frame) does not wake the device's notifier and the analyser
    // reading the output for every frame, and the device's queue holds as
    // much sound as with a WAVE file. Empty with no entry or at the end of
    // the item.
    AudioBuffer GetBuffer() override;
    // Seeking moves every entry through its conversion, which also drops
    // what the converter held from before.
    void Rewind() override;
    void SkipBack(uint32_t seconds) override;
    void SkipForward(uint32_t seconds) override;
    void Seek(uint32_t seconds) override;
    // The smallest value the entries' sources know; -1.0 when none knows.
    double GetPosition() override;
    double GetDuration() override;

    // Each returns the new source (owned by the Mixer) or null.
    WaveStream* LoadWave(const char* path);
    // Media files (every kind the media reader decodes, not only WMA) are
    // opened with the stop flag (see SetStopFlag).
    WmaStream* LoadWMA(const char* path);
    CdDrive* LoadCdTrack(int track); // 0-based index among the audio tracks

    // Builds stream -> ConversionStream -> SpectrumAnalyzer, pulls the first
    // buffer through the analyser and appends the entry. With owned, the
    // Mixer deletes the stream with the entry.
    bool AddStream(AudioStream* stream, bool owned);
    // Deletes every entry with its stages (and owned sources).
    void RemoveAll();
    // 16-bit PCM in the layout chosen below, a tenth of a second per
    // request, given to every entry's conversion.
    void calcoutputformat();
    bool IsCdTrack() const { return isCdTrack; }
    // The source of the index-th entry, or null.
    AudioStream* GetStream(int index);
    // Whether at least one stream is loaded.
    bool hasEntries();
    // The embedded analyser, attached to this Mixer's output (by this call
    // when no stream has been added yet). A player that reads the Mixer
    // through it has every buffer it plays analysed, so its FrontSpectrum is
    // the latest spectrum of what is played; seeking and positions pass
    // through it to the Mixer. It lives as long as the Mixer. Owner's thread,
    // while no reader is running (the first call may attach it).
    SpectrumAnalyzer& outputAnalyser();

    // A flag whose setting, from any thread, makes a media file being opened
    // by LoadWMA fail at once and ends the audio of a loaded one at its next
    // read. Owned by the caller, alive while the Mixer is; null for none.
    void SetStopFlag(const std::atomic<bool>* flag) { stopFlag = flag; }

    // Set by the owner before the first load (the Convert job sets its
    // chosen rate and calls calcoutputformat).
    double outputSampleRate = 44100.0;
    // 1 or 2 (anything else counts as 1).
    uint16_t outputChannels = 1;
    // With these set, the output takes the first entry's own channel count
    // (at most two: more are mixed down to stereo) and its own rate rather
    // than outputChannels and outputSampleRate, which stay in use while no
    // item is loaded. Owner's thread; they take effect at the next
    // AddStream or calcoutputformat.
    bool followItemChannels = false;
    bool followItemRate = false;

  private:
    // Sets outputFormat and requestSize and reconfigures the entries'
    // conversions; false when that failed. Called with mutex held.
    bool computeOutputFormat();

    struct StreamEntry {
        AudioStream* source = nullptr;
        ConversionStream* conversion = nullptr;
        SpectrumAnalyzer* analyser = nullptr;
        AudioStream* tail = nullptr;
        AudioBuffer buffer; // the first buffer, pulled through the analyser
        bool owned = false;
    };

    // Guarded by mutex
    std::mutex mutex;
    std::vector<StreamEntry> entries;

    // A conversion buffer read but not handed out, because joining it ran
    // out of memory; the next GetBuffer starts with it. Dropped by every
    // seek, load and removal.
    AudioBuffer carried;

    std::unique_ptr<SpectrumAnalyzer> embeddedAnalyser;
    WaveFormat outputFormat{};
    bool isCdTrack = false;
    const std::atomic<bool>* stopFlag = nullptr; // owner's thread only
};
