// Recording through a real sound server (a private PulseAudio or PipeWire,
// see support/SoundServer.h): sources that deliver in bursts, monitors, a
// server that goes away, and a driver chosen before the server was there.

#include "platform/MessageBox.h"
#include "platform/WaveIn.h"
#include "platform/WaveOut.h"
#include "record/WaveRecorder.h"
#include "support/SoundServer.h"
#include "support/TestSupport.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The samples of a take (16-bit mono at 11025 Hz): what follows its
// 44-byte header.
std::vector<int16_t> takeSamples(const std::string& path) {
    std::vector<uint8_t> bytes = readFileBytes(path);
    if (bytes.size() < 44) {
        return {};
    }
    std::vector<int16_t> samples((bytes.size() - 44) / 2);
    std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
    return samples;
}

// Breaks in a steady sine: places where a sample departs from what the two
// before it predict (s[n] = 2 cos(w) s[n-1] - s[n-2]) by more than a quarter
// of the peak. A stretch dropped from the middle of the sound shows as one,
// as does invented silence. Looked for between the first and last loud
// sample; the sample index of each break.
std::vector<size_t> sineBreaks(const std::vector<int16_t>& samples, double hz, uint32_t rate) {
    int peak = 0;
    for (int16_t s : samples) {
        peak = std::max(peak, std::abs(int(s)));
    }
    size_t first = 0;
    size_t last = samples.size();
    while (first < samples.size() && std::abs(int(samples[first])) < peak / 4) {
        ++first;
    }
    while (last > first && std::abs(int(samples[last - 1])) < peak / 4) {
        --last;
    }
    const double c = 2.0 * std::cos(2.0 * M_PI * hz / rate);
    std::vector<size_t> breaks;
    // The first few milliseconds are the resampler settling on the onset.
    for (size_t n = first + 64; n < last; ++n) {
        const double predicted = c * samples[n - 1] - samples[n - 2];
        if (std::abs(predicted - samples[n]) > peak / 4.0) {
            breaks.push_back(n);
            n += 8; // one break, not each sample around it
        }
    }
    return breaks;
}

// One server per test: a private runtime folder, stopped by process id.
class ServerRecording : public ::testing::Test {
  protected:
    void start(ServerKind kind) {
        server = std::make_unique<SoundServer>(kind);
        if (server->unavailableHere()) {
            GTEST_SKIP() << server->whyNot();
        }
        if (!server->ok()) {
            GTEST_FAIL() << server->whyNot();
        }
        waveAudioShutdown(); // the next open picks the pulseaudio driver
        server->use();
    }
    // A sine source (PulseAudio's, which delivers two-second blocks) as the
    // default source.
    bool useSineSource(const std::string& name) {
        return server->loadModule("module-sine-source",
                                  {"source_name=" + name, "frequency=" + std::to_string(kHz)}) >=
                   0 &&
               server->waitFor("sources", name) && server->pactl({"set-default-source", name});
    }

    static constexpr int kHz = 440;
    TempDir dir;
    std::unique_ptr<SoundServer> server;
};

TEST_F(ServerRecording, BurstsOfASineSourceReachTheTakeWhole) {
    start(ServerKind::PulseAudio);
    ASSERT_TRUE(useSineSource("velumo_sine"));
    // A source that only remaps another one passes the bursts on as they come.
    ASSERT_GE(server->loadModule("module-remap-source",
                                 {"master=velumo_sine", "source_name=velumo_remap", "channels=1",
                                  "channel_map=mono", "master_channel_map=front-left"}),
              0);
    ASSERT_TRUE(server->waitFor("sources", "velumo_remap"));

    for (const char* source : {"velumo_sine", "velumo_remap"}) {
        SCOPED_TRACE(source);
        ASSERT_TRUE(server->pactl({"set-default-source", source}));
        const std::string take = dir.file(std::string(source) + ".wav");
        // Capture runs from inside Start to inside Stop, each of which may
        // take a while on a loaded machine: at least from Start's return to
        // Stop's call, at most from Start's call to Stop's return.
        double least = 0;
        double most = 0;
        {
            WaveRecorder recorder;
            recorder.SetOutputFile(take);
            MessageRecorder messages;
            const auto called = Clock::now();
            ASSERT_EQ(recorder.Start(), 0u);
            const auto started = Clock::now();
            ASSERT_TRUE(recorder.isRecording()) << ::testing::PrintToString(messages.texts());
            // Three blocks of the source: each comes at once, far more than
            // the queued buffers hold.
            std::this_thread::sleep_for(6500ms);
            least = secondsSince(started);
            recorder.Stop();
            most = secondsSince(called);
        }
        const std::vector<int16_t> samples = takeSamples(take);
        const double taken = double(samples.size()) / WaveRecorder::kSampleRate;
        // The source holds back up to one block of two seconds; nothing is
        // lost otherwise, and nothing is made up.
        EXPECT_GT(taken, least - 2.8) << "recorded for " << least << " to " << most << " s";
        EXPECT_LT(taken, most + 0.3);
        EXPECT_EQ(sineBreaks(samples, kHz, WaveRecorder::kSampleRate), std::vector<size_t>{})
            << samples.size() << " samples";
        const HeardSound heard = listen(samples, 1, WaveRecorder::kSampleRate);
        EXPECT_NEAR(heard.hz, kHz, 10);
        EXPECT_EQ(heard.gaps, 0);
    }
}

class MonitorRecording : public ServerRecording,
                         public ::testing::WithParamInterface<ServerKind> {};

TEST_P(MonitorRecording, TheMonitorOfTheDefaultSinkIsAnInputToRecord) {
    start(GetParam());
    if (IsSkipped()) {
        return;
    }
    // Only the sink's monitor is there to record from.
    ASSERT_TRUE(server->pactl({"set-default-source", SoundServer::kMonitorName}));
    const std::string tune = writeWave(dir.file("tune.wav"), 1, 44100, 20.0, 660.0);
    const pid_t player =
        spawnProgram({"paplay", tune}, server->clientEnv(), dir.file("paplay.log"));
    ASSERT_GT(player, 0);

    EXPECT_GT(waveInGetNumDevs(), 0u);
    const std::string take = dir.file("take.wav");
    {
        WaveRecorder recorder;
        recorder.SetOutputFile(take);
        MessageRecorder messages;
        ASSERT_EQ(recorder.Start(), 0u);
        EXPECT_TRUE(recorder.isRecording()) << ::testing::PrintToString(messages.texts());
        EXPECT_TRUE(waitUntil([&] { return recorder.buffersWritten() >= 12; }, 30s));
        recorder.Stop();
    }
    stopProgram(player, SIGTERM);
    const HeardSound heard = listen(takeSamples(take), 1, WaveRecorder::kSampleRate);
    EXPECT_GT(heard.soundSeconds, 1.5);
    EXPECT_NEAR(heard.hz, 660, 15);
    EXPECT_GT(heard.rms, 0.1);
}

INSTANTIATE_TEST_SUITE_P(Servers, MonitorRecording,
                         ::testing::Values(ServerKind::PulseAudio, ServerKind::PipeWire),
                         [](const ::testing::TestParamInfo<ServerKind>& param) {
                             return serverKindName(param.param);
                         });

TEST_F(ServerRecording, ALostServerEndsTheTakeWithWhatWasCaptured) {
    start(ServerKind::PulseAudio);
    ASSERT_TRUE(useSineSource("velumo_sine"));
    const std::string take = dir.file("take.wav");
    WaveRecorder recorder;
    recorder.SetOutputFile(take);
    MessageRecorder messages;
    const auto begun = Clock::now();
    ASSERT_EQ(recorder.Start(), 0u);
    ASSERT_TRUE(recorder.isRecording());
    // Two blocks of the source have come when the server goes.
    ASSERT_TRUE(waitUntil([&] { return recorder.buffersWritten() >= 20; }, 30s));
    server->kill();
    const double killedAt = secondsSince(begun);
    ASSERT_TRUE(waitUntil([&] { return recorder.inputLost(); }, 20s));
    // Long enough for any made-up silence to pile up.
    std::this_thread::sleep_for(1500ms);
    recorder.Stop();

    const std::vector<int16_t> samples = takeSamples(take);
    const double taken = double(samples.size()) / WaveRecorder::kSampleRate;
    // Every byte the device captured, the last partly filled buffer and
    // whatever waited for a buffer included.
    EXPECT_EQ(2 * samples.size(), recorder.bytesCaptured());
    // The sine source sends each two-second block ahead of its time.
    EXPECT_LE(taken, killedAt + 2.2);
    EXPECT_GE(taken, 20.0 * WaveRecorder::kBufferSamples / WaveRecorder::kSampleRate);
    // All of it is sound: no silence after the loss.
    const HeardSound heard = listen(samples, 1, WaveRecorder::kSampleRate);
    EXPECT_NEAR(heard.soundSeconds, taken, 0.05);
    EXPECT_EQ(sineBreaks(samples, kHz, WaveRecorder::kSampleRate), std::vector<size_t>{})
        << samples.size() << " samples";
}

TEST_F(ServerRecording, AFailedStartTriesTheDriversAgainOnceAServerIsThere) {
    // No server yet, and no driver named: SDL falls back to another driver,
    // which has no device here.
    TempDir nowhere;
    unsetenv("SDL_AUDIODRIVER");
    setenv("PULSE_SERVER", ("unix:" + nowhere.file("no-server")).c_str(), 1);
    setenv("AUDIODEV", "velumo-no-such-device", 1); // keeps ALSA from a real card
    waveAudioShutdown();
    const WaveFormat format = pcmFormat(2, 44100, 16);
    WaveOutHandle handle = nullptr;
    ASSERT_NE(waveOutOpen(&handle, &format, nullptr, nullptr), kWaveOk);
    EXPECT_NE(waveOutErrorText(), "");
    // Nor is there anything to record from; the reason comes with the
    // message.
    {
        MessageRecorder messages;
        WaveRecorder recorder;
        recorder.SetOutputFile(dir.file("none.wav"));
        EXPECT_EQ(recorder.Start(), 0u);
        EXPECT_FALSE(recorder.isRecording());
        ASSERT_EQ(messages.texts().size(), 1u);
        const std::string text = messages.texts()[0];
        EXPECT_EQ(text.substr(0, text.find('\n')), WaveRecorder::kNoDeviceMessage);
        EXPECT_GT(text.size(), text.find('\n') + 1) << "a reason on the second line";
    }

    server = std::make_unique<SoundServer>(ServerKind::PulseAudio);
    ASSERT_TRUE(server->ok()) << server->whyNot();
    server->use();
    unsetenv("SDL_AUDIODRIVER");
    ASSERT_EQ(waveOutOpen(&handle, &format, nullptr, nullptr), kWaveOk);
    EXPECT_STREQ(waveOutDriverName(), "pulseaudio");
    EXPECT_EQ(waveOutClose(handle), kWaveOk);
}

} // namespace
