// The live spectrum: what its bars show for audio read through the Mixer's
// real analyser, and that it runs only while the window plays.

#include "app/SpectrumView.h"
#include "app/WindowFixture.h"
#include "mixer/Mixer.h"
#include "spectrum/SpectrumAnalyzer.h"
#include "support/qt/Pixels.h"

#include <algorithm>
#include <chrono>
#include <thread>

using namespace window_test;
using testing_support::waveFile;
using testing_support::writeFileBytes;
using testing_support::writeWave;

namespace {

constexpr double kRate = MainWindow::kPlaybackSampleRate;

// Plays path through mixer read the way the window's device reads it (a few
// buffers through the output analyser), then steps a view on that analyser
// once the analysis has caught up. False when no new spectrum reached the
// view. The view must go before the Mixer. With followItem, the Mixer plays
// the item at its own rate, as the window's does.
bool showItem(const std::string& path, Mixer& mixer, SpectrumView& view, int buffers = 3,
              bool followItem = false) {
    mixer.outputSampleRate = kRate;
    mixer.followItemChannels = followItem;
    mixer.followItemRate = followItem;
    mixer.calcoutputformat();
    if (!mixer.LoadWave(path.c_str())) {
        return false;
    }
    SpectrumAnalyzer& analyser = mixer.outputAnalyser();
    view.setAnalyser(&analyser, kRate);
    view.setRunning(true);
    mixer.Rewind();
    for (int i = 0; i < buffers; ++i) {
        if (analyser.GetBuffer().isEmpty()) {
            return false;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (analyser.PendingBuffers() != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return view.advance();
}

class SpectrumViewTest : public WindowTest {};

} // namespace

TEST_F(SpectrumViewTest, ToneRaisesTheBarWhoseBandHoldsItsFrequency) {
    // The conversion resamples the 22050 Hz file: the bins differ from the
    // file's own, and the tone still lands in its band. Played at its own
    // 96,000 Hz, the spectra are made at that rate.
    struct Case {
        uint32_t fileRate;
        bool followItem;
    };
    for (const Case c : {Case{44100, false}, Case{22050, false}, Case{96000, true}}) {
        const uint32_t fileRate = c.fileRate;
        SCOPED_TRACE(fileRate);
        const std::string path = dir.file("tone" + std::to_string(fileRate) + ".wav");
        writeWave(path, 1, fileRate, 1.0, 1000.0);
        Mixer mixer;
        SpectrumView view;
        ASSERT_TRUE(showItem(path, mixer, view, 3, c.followItem));
        const int band = view.tallestBand();
        EXPECT_LE(view.bandLow(band), 1000.0);
        EXPECT_GT(view.bandHigh(band), 1000.0);
        // Half of full scale is -6 dB; the rest of the axis stays far below.
        EXPECT_NEAR(view.levels()[band], -6.0, 3.0);
        for (int other = 0; other < SpectrumView::kBands; ++other) {
            if (std::abs(other - band) > 2) {
                EXPECT_LT(view.levels()[other], view.levels()[band] - 20.0) << "band " << other;
            }
        }
    }
}

TEST_F(SpectrumViewTest, BarsShowTheAudioTheDeviceIsPlayingNotTheLatestRead) {
    // 0.3 s of 440 Hz, then 0.3 s of 3000 Hz, all read through the analyser.
    const std::vector<int16_t> low = testing_support::sineSamples(44100, 1, 13230, 440.0);
    std::vector<int16_t> samples = testing_support::sineSamples(44100, 1, 13230, 3000.0);
    samples.insert(samples.begin(), low.begin(), low.end());
    const std::string path = dir.file("two tones.wav");
    writeFileBytes(path, waveFile(pcmFormat(1, 44100, 16), testing_support::toBytes(samples)));

    Mixer mixer;
    SpectrumView view;
    view.resize(200, 60);
    uint64_t unheard = 0;
    view.setDelaySource([&unheard] { return unheard; });
    ASSERT_TRUE(showItem(path, mixer, view, 6));
    auto bandOf = [&view](double hz) {
        int band = 0;
        while (band + 1 < SpectrumView::kBands && view.bandHigh(band) <= hz) {
            ++band;
        }
        return band;
    };
    EXPECT_EQ(view.tallestBand(), bandOf(3000.0));

    // The device still holds the last 0.4 s: what is heard is the 440 Hz.
    unheard = 17640;
    view.setRunning(false);
    view.setRunning(true);
    unheard = 17640 + 1024; // a hop later, so that the view takes a new spectrum
    ASSERT_TRUE(view.advance());
    const int heard = bandOf(440.0);
    EXPECT_EQ(view.tallestBand(), heard);
    EXPECT_LT(view.levels()[bandOf(3000.0)], view.levels()[heard] - 40.0);

    // Drawn so: the bar of that band is the tallest, those two away are far
    // shorter.
    const QImage shot = testing_support::grabUnits(view);
    const QRgb bar = view.palette().color(QPalette::Highlight).rgb();
    auto barHeight = [&](int band) {
        const int slot = view.width() / SpectrumView::kBands;
        return testing_support::pixelsInColumn(shot, band * slot + slot / 2, bar);
    };
    EXPECT_GT(barHeight(heard), view.height() / 2);
    EXPECT_LT(barHeight(heard - 2), barHeight(heard) / 2);
    EXPECT_LT(barHeight(heard + 2), barHeight(heard) / 2);
}

TEST_F(SpectrumViewTest, SilenceLeavesEveryBarAtTheFloor) {
    const std::string path = dir.file("silence.wav");
    writeFileBytes(path, waveFile(pcmFormat(1, 44100, 16), std::vector<uint8_t>(88200, 0)));
    Mixer mixer;
    SpectrumView view;
    ASSERT_TRUE(showItem(path, mixer, view));
    for (int band = 0; band < SpectrumView::kBands; ++band) {
        EXPECT_EQ(view.levels()[band], SpectrumView::kFloorDb) << "band " << band;
        EXPECT_EQ(view.peaks()[band], SpectrumView::kFloorDb) << "band " << band;
    }
}

TEST_F(SpectrumViewTest, RunsOnlyWhilePlayingAndRestsOnPauseAndStop) {
    useAudioDriver("dummy");
    const std::string path = dir.file("tone.wav");
    writeWave(path, 1, 44100, 3.0, 1000.0);
    chooseFiles({path});
    MainWindow& w = window();
    w.onCommand(kIdAddFiles);
    SpectrumView* view = w.spectrumView;
    ASSERT_NE(view, nullptr);
    EXPECT_FALSE(view->isRunning());

    auto lit = [view] {
        const auto& levels = view->levels();
        return *std::max_element(levels.begin(), levels.end()) > -20.0;
    };
    auto atRest = [view] {
        const auto& levels = view->levels();
        const auto& peaks = view->peaks();
        return std::all_of(levels.begin(), levels.end(),
                           [](double db) { return db == SpectrumView::kFloorDb; }) &&
               std::all_of(peaks.begin(), peaks.end(),
                           [](double db) { return db == SpectrumView::kFloorDb; });
    };

    // The device plays through the analyser: the bars rise by themselves.
    w.onCommand(kIdPlay);
    EXPECT_TRUE(view->isRunning());
    EXPECT_TRUE(waitFor(lit, 3000));

    w.onCommand(kIdPause);
    EXPECT_FALSE(view->isRunning());
    EXPECT_TRUE(atRest());
    EXPECT_FALSE(view->isVisible());

    w.onCommand(kIdPlay);
    EXPECT_TRUE(view->isRunning());
    EXPECT_TRUE(waitFor(lit, 3000));

    w.onCommand(kIdStop);
    EXPECT_FALSE(view->isRunning());
    EXPECT_TRUE(atRest());
    // Nothing moves the bars any more while the queued audio plays out.
    waitFor([] { return false; }, 300);
    EXPECT_TRUE(atRest());
}
