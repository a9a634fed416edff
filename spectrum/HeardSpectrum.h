#pragma once
// Hann-windowed power spectra of a stream of samples, made every hop while
// the stream goes on, each tagged with the stream position at its centre, so
// that a display can show the one that belongs to the audio being heard.
//
// The transform is long enough to resolve the bass: sizeForRate gives the
// smallest power of two of at least rate / 12 samples (4096 at 44,100 and
// 48,000 Hz, 8192 at 96,000 Hz, 1024 at 8,000 Hz), so a bin is at most 12 Hz
// wide at any rate and a tone keeps within the few bins of the window's main
// lobe. Windows overlap by three quarters (hop = size / 4, 23 ms at
// 44,100 Hz), which is finer than a display frame.
//
// Positions count sample frames from the first frame ever pushed; a push
// whose first position is not where the previous one ended starts afresh
// (the partial window is dropped). The most recent spectra covering
// kHistorySeconds are kept, newest at the front.
//
// Not thread-safe: the owner (SpectrumAnalyzer) guards it with its mutex.

#include "platform/Fft.h"
#include "spectrum/SpectrumFrame.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

// One power spectrum: transformSize / 2 + 1 values, bin k's power for
// k x sampleRate / transformSize Hz, scaled so that the bins of a sine of
// amplitude A (full scale 1.0) sum to A^2. The values are written before the
// frame is handed out and never change.
struct PowerSpectrum {
    SpectrumFrame power;
    uint32_t transformSize = 0;
    uint32_t sampleRate = 0;
    uint64_t centre = 0; // stream position of the window's middle sample

    bool isEmpty() const { return power.isEmpty(); }
};

class HeardSpectrum {
  public:
    static constexpr double kHistorySeconds = 2.0;

    static uint32_t sizeForRate(uint32_t rate);

    // Sets the rate of the samples to come. A new rate (or the first) makes a
    // new plan and forgets the history and the partial window; false when no
    // plan can be made, and then nothing is analysed until a rate that works.
    bool setRate(uint32_t rate);
    uint32_t transformSize() const { return size; }

    // Appends count mono samples (full scale 1.0) whose first is at stream
    // position first, and makes every spectrum whose window is now complete.
    // Throws std::bad_alloc.
    void push(const double* samples, size_t count, uint64_t first);

    // The latest spectrum whose centre is at or before position; the oldest
    // kept when all are later; the empty one when none is kept.
    PowerSpectrum at(uint64_t position) const;
    size_t kept() const { return history.size(); }
    void clear();

  private:
    void transformFront();

    std::unique_ptr<RealFftPlan> plan;
    uint32_t rate = 0;
    uint32_t size = 0;
    uint32_t hop = 0;
    size_t historyLimit = 0;
    std::vector<double> window;  // Hann, size values
    std::vector<double> pending; // samples of the window being filled
    uint64_t pendingStart = 0;   // stream position of pending[0]
    std::vector<double> windowed;
    std::vector<double> transformed;
    std::deque<PowerSpectrum> history; // newest at the front
};
