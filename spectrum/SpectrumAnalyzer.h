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
// Heard spectra (for a display, off unless SetHeardSpectra turns them on):
// the analysis thread also feeds every buffer, its channels averaged, to a
// HeardSpectrum at the source's rate, and counts the sample frames read
// through GetBuffer. A display that knows how many of those frames its
// output device has not yet played asks HeardSpectrumAt for the spectrum of
// the audio being heard now, rather than the latest one, which runs ahead of
// the sound by the device's whole queue. These spectra are apart from the
// queue above, which they leave as it is.
//
// Threads: the chain's reader calls GetBuffer; the owner (the user-interface
// thread) calls SetSource and the destructor; the analysis thread runs Run().
// Lock order: a Mixer's mutex is taken before an analyser's, never the
// reverse; the analyser calls nothing that takes another lock while holding
// its own, apart from the plan lock of platform/Fft and the message box shown
// when analysing a buffer fails.

#include "engine/FilterStream.h"
#include "platform/Fft.h"
#include "spectrum/HeardSpectrum.h"
#include "spectrum/SpectrumFrame.h"
#include "spectrum/WorkerThread.h"

#include <condition_variable>
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

    // Requests the end of the thread as WorkerThread does, and wakes an idle
    // thread so that it sees the request at once.
    bool Stop(bool wait) override;

    // The analysis loop: analyse what is queued, then wait for the next
    // buffer or a stop request (a stop that did not come through Stop is
    // seen within a second); return once a stop is requested and the queue
    // has been emptied.
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

    // Turns the heard spectra on or off (off: they are forgotten). Any
    // thread; takes mutex.
    void SetHeardSpectra(bool on);
    // The heard spectrum of the audio at unheardFrames sample frames before
    // the last frame read through GetBuffer (HeardSpectrum::at); the empty
    // one when heard spectra are off or none has been made yet. Takes mutex
    // for as long as copying one handle takes.
    PowerSpectrum HeardSpectrumAt(uint64_t unheardFrames);
    // Sample frames read through GetBuffer since construction.
    uint64_t FramesRead();

    static constexpr const char* kFailureText =
        "Exception 0x01 (Access Violation) in Spectrum Analyzer, but it has been caught safely!";

  protected:
    // Analyses one buffer into `spectra`. Called with mutex held. Throws on
    // failure (std::bad_alloc, or std::runtime_error for a buffer that cannot
    // be read as 16-bit samples); Run() reports that and goes on.
    virtual void Analyse(const AudioBuffer& buffer);

  private:
    // A buffer read through GetBuffer, with the layout of the source it came
    // from: a new source may be set while buffers of the old one wait.
    struct QueuedBuffer {
        AudioBuffer buffer;
        uint32_t channels = 0;
        uint32_t rate = 0;
    };

    // Feeds one buffer to the heard spectra (at the buffer's own rate) and
    // counts its frames as GetBuffer counted them. Called with mutex held.
    // Throws std::bad_alloc.
    void Follow(const QueuedBuffer& queuedBuffer);

    // Guarded by mutex
    std::mutex mutex;
    std::deque<SpectrumFrame> spectra;   // newest at the front
    uint32_t spectrumLimit = 52;         // trimmed to fewer than this
    std::deque<QueuedBuffer> inputQueue; // newest at the front
    std::condition_variable queued;      // a buffer was queued
    uint32_t channels = 2;
    std::unique_ptr<RealFftPlan> plan;
    uint32_t fftSize = 256;
    uint32_t sampleRate = 0;  // of the source's format
    bool followHeard = false; // heard spectra on
    HeardSpectrum heard;
    uint64_t framesRead = 0;     // counted by GetBuffer
    uint64_t framesAnalysed = 0; // counted by Run, in the same order
};
