// Playing through a real sound server (a private PulseAudio or PipeWire):
// the Mixer into the WaveOutDevice on SDL's pulseaudio driver, with the
// null sink's monitor recorded by parec and compared with the file.

#include "engine/WaveOutDevice.h"
#include "mixer/Mixer.h"
#include "platform/WaveOut.h"
#include "support/SoundServer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

template <typename Pred> bool waitUntil(Pred pred, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    while (!pred()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

struct PlayOverCount : CommandTarget {
    void postCommand(int id) override { count += id == kPlayOver; }
    std::atomic<int> count{0};
};

// Samples of channel 0 louder than silence: the same count heard as played
// means nothing was lost or played twice, whatever silence a loaded server
// put in between.
size_t loudSamples(const std::vector<int16_t>& samples, uint16_t channels, int silence = 64) {
    size_t n = 0;
    for (size_t i = 0; i < samples.size(); i += channels) {
        n += std::abs(int(samples[i])) > silence;
    }
    return n;
}

constexpr uint32_t kRate = 44100;
constexpr double kSeconds = 3.0;

// A sweep played by the player's own chain through a private server whose
// monitor is recorded from before the first sample until the device is
// closed.
class ServerPlayback : public ::testing::TestWithParam<ServerKind> {
  protected:
    void SetUp() override {
        server = std::make_unique<SoundServer>(GetParam());
        if (server->unavailableHere()) {
            GTEST_SKIP() << server->whyNot();
        }
        ASSERT_TRUE(server->ok()) << server->whyNot();
        waveAudioShutdown();
        server->use();
        sweep = sweepSamples(kRate, kSeconds);
        const std::string file = dir.file("sweep.wav");
        writeFileBytes(file, waveFile(pcmFormat(1, kRate, 16), toBytes(sweep)));
        ASSERT_NE(nullptr, mixer.LoadWave(file.c_str()));
        device = std::make_unique<WaveOutDevice>(); // closed before the Mixer goes
        device->SetNotifyWindow(&playOvers);
        device->SetSource(&mixer);
        ASSERT_TRUE(device->isOpen()) << device->openError();
        ASSERT_STREQ(waveOutDriverName(), "pulseaudio");
        monitor = std::make_unique<MonitorCapture>(*server);
        ASSERT_TRUE(monitor->running());
        // parec is recording once its first bytes arrive (the sink's silence).
        ASSERT_TRUE(monitor->waitForBytes(4096, 10000));
    }
    void TearDown() override { device.reset(); }

    bool streamsOnServer(int n) const {
        return waitUntil([&] { return sinkInputCount(*server) == n; }, 10s);
    }
    bool playedOut() const {
        return waitUntil([&] { return playOvers.count.load() == 1; }, 30s);
    }
    // Closes the device and returns what the monitor heard.
    std::vector<int16_t> heard() {
        device->Close();
        return monitor->stop();
    }

    TempDir dir;
    std::unique_ptr<SoundServer> server;
    std::vector<int16_t> sweep;
    Mixer mixer;
    PlayOverCount playOvers;
    std::unique_ptr<WaveOutDevice> device;
    std::unique_ptr<MonitorCapture> monitor;
};

// PipeWire runs the sink at a rate of its own: resampled twice, what is
// heard is no longer the file to the bit, and a stream that joins may lose
// its first milliseconds on the monitor. PulseAudio's sink (without
// rewinds) passes every sample on as it was played.
long slack(ServerKind kind) {
    return kind == ServerKind::PulseAudio ? 8 : long(kRate / 40);
}

TEST_P(ServerPlayback, TheSinkHearsTheWholeFileToItsLastSample) {
    device->Restart(); // as the player starts an item
    ASSERT_EQ(device->GetState(), WaveOutDevice::kPlaying);
    ASSERT_TRUE(playedOut());
    // Closed at once, as the player does to load the next item: the end of
    // the file still reaches the sink.
    const std::vector<int16_t> samples = heard();

    // The first sound heard is the file's first: nothing is missing at the
    // start.
    if (GetParam() == ServerKind::PulseAudio) {
        EXPECT_EQ(placeFirstSound(samples, MonitorCapture::kChannels, sweep),
                  placeFirstSound(sweep, 1, sweep));
    }
    // Every sample from there to the last, none twice. A loaded machine may
    // still lose a period now and then, which delays the rest with silence:
    // the benchmark (bench/server_playback.sh) counts those strictly, here
    // only a long dropout or many fail.
    EXPECT_NEAR(double(loudSamples(samples, MonitorCapture::kChannels)),
                double(loudSamples(sweep, 1)), double(slack(GetParam())));
    const HeardSound played = listen(sweep, 1, kRate);
    const HeardSound got = listen(samples, MonitorCapture::kChannels, kRate);
    EXPECT_GT(got.soundSeconds, played.soundSeconds - double(slack(GetParam())) / kRate);
    EXPECT_LT(got.soundSeconds, played.soundSeconds + 0.4);
    EXPECT_NEAR(got.rms, played.rms, 0.01);
    EXPECT_LE(got.gaps, 10);
    EXPECT_LT(got.longestGapMs, 150.0);
}

TEST_P(ServerPlayback, NothingRunsOnTheServerWhileIdleOrPausedAndResumeGoesOnWhereItWas) {
    // Open, but nothing played yet.
    EXPECT_TRUE(streamsOnServer(0)) << "before Play";
    device->Restart();
    EXPECT_TRUE(streamsOnServer(1)) << "playing";
    ASSERT_TRUE(waitUntil([&] { return mixer.GetPosition() >= 1.0; }, 10s));
    ASSERT_TRUE(device->Pause());
    EXPECT_TRUE(streamsOnServer(0)) << "while paused";
    ASSERT_TRUE(device->Resume());
    ASSERT_TRUE(playedOut());
    EXPECT_TRUE(streamsOnServer(0)) << "after the end";
    const std::vector<int16_t> samples = heard();

    const HeardSound got = listen(samples, MonitorCapture::kChannels, kRate);
    EXPECT_GE(got.longestGapMs, 300.0) << "the pause";
    // Before and after the pause every sample once, from the first.
    EXPECT_NEAR(double(loudSamples(samples, MonitorCapture::kChannels)),
                double(loudSamples(sweep, 1)), double(2 * slack(GetParam())));
    if (GetParam() == ServerKind::PulseAudio) {
        EXPECT_EQ(placeFirstSound(samples, MonitorCapture::kChannels, sweep),
                  placeFirstSound(sweep, 1, sweep));
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerPlayback,
                         ::testing::Values(ServerKind::PulseAudio, ServerKind::PipeWire),
                         [](const ::testing::TestParamInfo<ServerKind>& param) {
                             return serverKindName(param.param);
                         });

} // namespace
