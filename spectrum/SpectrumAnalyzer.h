#pragma once
// A pass-through stage of the stream chain that keeps the spectra of the
// audio read through it.
//
// GetBuffer hands out the source's buffers unchanged and queues a reference to
// each non-empty one; the analysis thread (started by SetSource) takes the
// queued buffers oldest first, reads the left (first) channel as 16-bit
// samples scaled by 1/32767, and runs forward real FFTs of fftSize samples
// over each buffer: blocks - 1 transforms for a buffer of `blocks` whole
// blocks (the last whole block and any remainder are not transformed). Each
// result is a SpectrumFrame of fftSize + 1 values in half-complex order
// (platform/Fft.h), the last value 0. Spectra are not windowed, scaled or
// reduced. Only the 51 most recent are kept, newest at the front.
//
// The transform size is chosen by SetSource from the source's request:
// F = 2 x ((requestSize / channels) / 4) sample frames; when fftSize >= F the
// whole request is one transform (fftSize = F), otherwise fftSize = F / d for
// the first divisor d of F from F / 256 (at least 1) below 1024, and unchanged
// when there is none. The size is never reset, so a later SetSource chooses
// from the previous size. F = 0 gives no plan, and then nothing is analysed.
//
// Threads: the chain's reader calls GetBuffer; the owner (the user-interface
// thread) calls SetSource and the destructor; the analysis thread runs Run().
// Lock order: a Mixer's mutex is taken before an analyser's, never the
// reverse; the analyser calls nothing that takes another lock while holding
// its own, apart from the plan lock of platform/Fft and the message box shown
// when analysing a buffer fails.

#include "engine/FilterStream.h"
#include "platform/Fft.h"
#include "spectrum/SpectrumFrame.h"
#include "spectrum/WorkerThread.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

class SpectrumAnalyzer : public FilterStream, public WorkerThread {
  public:
    SpectrumAnalyzer();
    // Stops the thread (waiting for it to empty the input queue and end),
    // then frees the plan and both queues.
    ~SpectrumAnalyzer() override;

    const WaveFormat* GetFormat() override;
    AudioBuffer GetBuffer() override;
    // Chooses the transform for stream's format and request size, starts the
    // thread if none runs, then stores the source. A null stream only
    // detaches the analyser.
    void SetSource(AudioStream* stream) override;

    // The analysis loop: every 5 ms, analyse what is queued; return once a
    // stop is requested and the queue has been emptied.
    void Run() override;

    // Reading the results (any thread; each takes mutex).
    uint32_t SpectrumCount();
    // The most recent spectrum; the empty frame when there is none.
    SpectrumFrame FrontSpectrum();
    // Every kept spectrum, most recent first.
    std::deque<SpectrumFrame> Spectra();
    // Buffers queued and not yet analysed.
    uint32_t PendingBuffers();
    uint32_t FftSize();
    bool HasPlan();

    static constexpr const char* kFailureText =
        "Exception 0x01 (Access Violation) in Spectrum Analyzer, but it has been caught safely!";

  protected:
    // Analyses one buffer into `spectra`. Called with mutex held. Throws on
    // failure (std::bad_alloc, or std::runtime_error for a buffer that cannot
    // be read as 16-bit samples); Run() reports that and goes on.
    virtual void Analyse(const AudioBuffer& buffer);

  private:
    // Guarded by mutex
    std::mutex mutex;
    std::deque<SpectrumFrame> spectra;  // newest at the front
    uint32_t spectrumLimit = 52;        // trimmed to fewer than this
    std::deque<AudioBuffer> inputQueue; // newest at the front
    uint32_t channels = 2;
    std::unique_ptr<RealFftPlan> plan;
    uint32_t fftSize = 256;
};
