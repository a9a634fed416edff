#pragma once
// The live spectrum of the main window: bars on a logarithmic frequency axis
// from kLowestHz to the Nyquist rate of the analysed output, each the power
// of its band in decibels below a full-scale sine (0 dB at the top, kFloorDb
// at the bottom), with a peak mark that holds, then falls.
//
// While running, a timer every kFrameMs takes the analyser's most recent
// spectrum, when it is one the view has not taken before, and reduces it to
// the bands; bars fall towards a lower level at kBarFallDb per frame. Spectra
// the analyser made before setRunning(true) are not shown (they belong to an
// earlier item), and when no new spectrum arrives for kStaleFrames frames the
// bars fall to the floor: a source the analyser does not see shows nothing.
// At rest (not running) the bars and peaks are at the floor, the timer is
// stopped and the view is hidden, so the picture beneath it shows.
//
// The spectra are the analyser's half-complex FFT outputs of its first
// channel (spectrum/SpectrumAnalyzer.h): N + 1 values for a transform of N
// samples. Bin k (1 <= k <= N / 2) stands for the frequencies within half a
// bin of k x rate / N (bin 1 reaching down to 0 Hz; the DC bin is left out).
// The bins are Hann-windowed (in frequency) before they are summed, so that a
// tone stays within a few bins. A band wider than a bin sums the power of
// the bins it overlaps, each in proportion to the overlap; a narrower band
// averages them the same way, so it reads the power of the bin it lies in.
// The band-to-bin table is made once per transform size; a frame costs no
// allocation.
//
// Threads: user-interface thread only. The view reads the analyser through
// FrontSpectrum alone, which copies one reference-counted handle under the
// analyser's mutex. That mutex is otherwise held by the analysis thread while
// it transforms one buffer and by the reader of the chain (the wave-out
// notifier) while it queues one buffer; neither waits for anything the
// user-interface thread holds, and the view holds the mutex only for the
// copy, so the notifier never waits on the view for longer than that copy.
// The view never calls the Mixer, whose mutex the notifier holds while it
// pulls a buffer. The values behind a handle are written before the analyser
// publishes it and never change afterwards, so reducing them needs no lock.

#include "spectrum/SpectrumFrame.h"

#include <QBasicTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <vector>

class SpectrumAnalyzer;

class SpectrumView : public QWidget {
  public:
    static constexpr int kBands = 20;
    static constexpr double kLowestHz = 50.0;
    static constexpr double kFloorDb = -60.0;
    static constexpr int kFrameMs = 40; // 25 frames a second
    static constexpr double kBarFallDb = 1.8;
    static constexpr int kPeakHoldFrames = 12;
    static constexpr double kPeakFallDb = 0.75;
    static constexpr int kStaleFrames = 8;

    explicit SpectrumView(QWidget* parent = nullptr);

    // The analyser whose spectra are shown (not owned; null for none) and the
    // sample rate of the audio it analyses. Puts the view at rest.
    void setAnalyser(SpectrumAnalyzer* analyser, double sampleRate);
    // Starts the frames (and shows the view) or puts the view at rest.
    void setRunning(bool run);
    bool isRunning() const { return timer.isActive(); }

    // One frame: takes the analyser's latest spectrum if it is new, moves the
    // bars and peaks, and schedules a repaint. True when a new spectrum was
    // taken. The timer calls it; tests call it to step the view.
    bool advance();

    // Per band, in dB (kFloorDb at rest).
    const std::array<double, kBands>& levels() const { return barDb; }
    const std::array<double, kBands>& peaks() const { return peakDb; }
    // The band's frequencies in Hz: [bandLow, bandHigh).
    double bandLow(int band) const;
    double bandHigh(int band) const { return bandLow(band + 1); }
    // The band with the highest bar (the lowest such band on a tie).
    int tallestBand() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

  private:
    // The share of one bin's power that one band takes.
    struct Share {
        int band;
        uint32_t bin;
        double weight;
    };
    // Makes the band-to-bin table for a transform of size samples.
    void mapBins(uint32_t size);
    // Sets targetDb from one spectrum.
    void reduce(const SpectrumFrame& frame);
    void rest();

    SpectrumAnalyzer* analyser = nullptr;
    double rate = 44100.0;
    QBasicTimer timer;

    SpectrumFrame lastFrame; // the latest spectrum taken (or seen at start)
    int framesSinceNew = 0;
    uint32_t mappedSize = 0;
    std::vector<Share> shares;
    std::vector<double> binPower; // per bin, windowed; index 0 unused
    std::array<double, kBands> power{};
    std::array<double, kBands> targetDb{};
    std::array<double, kBands> barDb{};
    std::array<double, kBands> peakDb{};
    std::array<int, kBands> peakHold{};
};
