#pragma once
// The one stream the rest of Velumo reads PCM from. It loads an item (a WAVE,
// MP3 or WMA file, or a CD track) into a chain
//     source -> ConversionStream -> SpectrumAnalyzer
// and hands out the conversion's buffers in its single output format:
// 16-bit mono PCM at outputSampleRate, one tenth of a second per request.
//
// Threads: the loads, RemoveAll, seeking and positions are called on the
// owner's thread (the user-interface thread, or the conversion job's);
// GetBuffer on the reader's thread (the wave-out notifier, or the conversion
// worker). mutex serialises AddStream, GetBuffer and RemoveAll. Lock order:
// a Mixer's mutex is taken before an analyser's, never the reverse.

#include "engine/AudioStream.h"

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
    AudioBuffer GetBuffer() override;
    void Rewind() override;
    void SkipBack(uint32_t seconds) override;
    void SkipForward(uint32_t seconds) override;
    void Seek(uint32_t seconds) override;
    double GetPosition() override;
    double GetDuration() override;

    // Each returns the new source (owned by the Mixer) or null.
    WaveStream* LoadWave(const char* path);
    WmaStream* LoadWMA(const char* path);
    CdDrive* LoadCdTrack(int track); // 0-based index among the audio tracks

    bool AddStream(AudioStream* stream, bool owned);
    void RemoveAll();
    void calcoutputformat();
    bool IsCdTrack() const { return isCdTrack; }
    // The source of the index-th entry, or null.
    AudioStream* GetStream(int index);
    // Whether at least one stream is loaded.
    bool hasEntries();

    // Set by the owner before the first load (the Convert job sets its
    // chosen rate and calls calcoutputformat).
    double outputSampleRate = 44100.0;

private:
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

    std::unique_ptr<SpectrumAnalyzer> embeddedAnalyser;
    WaveFormat outputFormat{};
    bool isCdTrack = false;
};
