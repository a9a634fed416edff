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
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

struct PlayOverCount : CommandTarget {
    void postCommand(int id) override { count += id == kPlayOver; }
    bool reaches(int n, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (count.load() < n && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(10ms);
        }
        return count.load() == n;
    }
    std::atomic<int> count{0};
};

class ServerPlayback : public ::testing::TestWithParam<ServerKind> {};

TEST_P(ServerPlayback, WhatTheSinkHearsIsTheFileWithoutGaps) {
    SoundServer server(GetParam());
    if (server.unavailableHere()) {
        GTEST_SKIP() << server.whyNot();
    }
    ASSERT_TRUE(server.ok()) << server.whyNot();
    waveAudioShutdown();
    server.use();
    TempDir dir;
    constexpr double kSeconds = 3.0;
    constexpr double kHz = 500.0;
    const std::string file = writeWave(dir.file("tone.wav"), 1, 44100, kSeconds, kHz);

    Mixer mixer;
    ASSERT_NE(nullptr, mixer.LoadWave(file.c_str()));
    PlayOverCount playOvers;
    WaveOutDevice device; // declared after the Mixer: closed before it goes
    device.SetNotifyWindow(&playOvers);
    device.SetSource(&mixer);
    ASSERT_TRUE(device.isOpen()) << device.openError();
    ASSERT_STREQ(waveOutDriverName(), "pulseaudio");

    MonitorCapture monitor(server);
    ASSERT_TRUE(monitor.running());
    // parec is recording once its first bytes arrive (the sink's silence).
    ASSERT_TRUE(monitor.waitForBytes(4096, 10000));
    ASSERT_TRUE(device.Play());
    ASSERT_TRUE(playOvers.reaches(1, 30s));
    // The server plays out what it holds after the last buffer went.
    std::this_thread::sleep_for(500ms);
    device.Close();
    const HeardSound heard =
        listen(monitor.stop(), MonitorCapture::kChannels, MonitorCapture::kRate);

    // The whole file, at its level and pitch. A loaded machine may still
    // lose a period now and then, which delays the rest: the benchmark
    // (bench/server_playback.sh) counts those strictly, here only a long
    // dropout or many fail.
    EXPECT_GT(heard.soundSeconds, kSeconds - 0.15);
    EXPECT_LT(heard.soundSeconds, kSeconds + 0.4);
    EXPECT_NEAR(heard.hz, kHz, 30.0);
    EXPECT_NEAR(heard.rms, 0.5 / std::sqrt(2.0), 0.03);
    EXPECT_LE(heard.gaps, 10);
    EXPECT_LT(heard.longestGapMs, 150.0);
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerPlayback,
                         ::testing::Values(ServerKind::PulseAudio, ServerKind::PipeWire),
                         [](const ::testing::TestParamInfo<ServerKind>& param) {
                             return serverKindName(param.param);
                         });

} // namespace
