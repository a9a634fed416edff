#pragma once
// The live spectrum of the main window: bars on a logarithmic frequency axis
// from kLowestHz to the Nyquist rate of the analysed output, each the power
// of its band in decibels below a full-scale sine (0 dB at the top, kFloorDb
// at the bottom), with a peak mark that holds, then falls.
//
// While running, a timer every kFrameMs takes the analyser's spectrum of
// what is heard now (below), when it is one the view has not taken before, and reduces it to
// the bands; bars fall towards a lower level at kBarFallDb per frame. Spectra
// the analyser made before setRunning(true) are not shown (they belong to an
// earlier item), and when no new spectrum arrives for kStaleFrames frames the
// bars fall to the floor: a source the analyser does not see shows nothing.
// At rest (not running) the bars and peaks are at the floor, the timer is
// stopped and the view is hidden, so the picture beneath it shows.
//
// The spectra are the analyser's heard spectra (spectrum/HeardSpectrum.h):
// Hann-windowed transforms long enough that a tone lights the bar that holds
// it, reduced to bands by SpectrumBands. Each frame shows the spectrum of
// the audio being heard: the delay source tells how many sample frames the
// output device holds and has not yet played, and the analyser picks the
// spectrum that far behind what it has read. Without a delay source the
// latest spectrum is shown.
//
// Threads: user-interface thread only. The view reads the analyser through
// HeardSpectrumAt alone, which finds one of a few dozen kept spectra and
// copies its reference-counted handle under the analyser's mutex; the delay
// source is asked before, never under that mutex. That mutex is otherwise held by the analysis
// thread while it transforms one buffer and by the reader of the chain (the wave-out notifier)
// while it queues one buffer; neither waits for anything the user-interface thread holds, and the
// view holds the mutex only for the copy, so the notifier never waits on the view for longer than
// that copy. The view never calls the Mixer, whose mutex the notifier holds while it pulls a
// buffer. The values behind a handle are written before the analyser publishes it and never change
// afterwards, so reducing them needs no lock.

#include "spectrum/SpectrumBands.h"
#include "spectrum/SpectrumFrame.h"

#include <QBasicTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>

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
    // sample rate of the audio it analyses (the axis until a spectrum gives
    // its own). Turns the analyser's heard spectra on. Puts the view at rest.
    void setAnalyser(SpectrumAnalyzer* analyser, double sampleRate);
    // Sample frames read from the analyser that the output has not yet
    // played (called once per frame, on this thread); null for none.
    void setDelaySource(std::function<uint64_t()> unheardFrames);
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
    void rest();

    SpectrumAnalyzer* analyser = nullptr;
    double rate = 44100.0;
    QBasicTimer timer;

    std::function<uint64_t()> delay;

    SpectrumFrame lastFrame; // the latest spectrum taken (or seen at start)
    int framesSinceNew = 0;
    SpectrumBands bands{kBands, kLowestHz, kFloorDb};
    std::array<double, kBands> targetDb{};
    std::array<double, kBands> barDb{};
    std::array<double, kBands> peakDb{};
    std::array<int, kBands> peakHold{};
};
