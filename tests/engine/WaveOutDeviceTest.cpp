#include "engine/WaveOutDevice.h"

#include "engine/WaveStream.h"
#include "platform/WaveOut.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// SDL reads its driver when audio is first initialised: choose the disk
// driver, which writes what would be heard to SDL_DISKAUDIOFILE, before any
// test of this program opens a device. The file and the pace are read at
// each open; the fixture points them at its own folder.
const bool diskDriverChosen = [] {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    static TempDir fallback;
    setenv("SDL_DISKAUDIOFILE", fallback.file("sdlaudio.raw").c_str(), 1);
    return true;
}();

// A source over bytes in memory, locked like the Mixer: the notifier thread
// pulls while the test thread rewinds or asks.
class MemoryStream : public AudioStream {
  public:
    MemoryStream(const WaveFormat& f, std::vector<uint8_t> content)
        : format(f), bytes(std::move(content)) {
        requestSize = tenthOfSecondBytes(f);
    }
    const WaveFormat* GetFormat() override { return &format; }
    AudioBuffer GetBuffer() override {
        std::this_thread::sleep_for(pullDelay);
        std::lock_guard lock(mutex);
        if (position >= bytes.size()) {
            return {};
        }
        size_t n = std::min<size_t>(requestSize, bytes.size() - position);
        AudioBuffer b = AudioBuffer::fromBytes(bytes.data() + position, uint32_t(n), true);
        position += n;
        return b;
    }
    void Rewind() override {
        std::lock_guard lock(mutex);
        position = 0;
    }
    size_t pulled() {
        std::lock_guard lock(mutex);
        return position;
    }
    // Test thread only, between plays.
    void replace(const WaveFormat& f, std::vector<uint8_t> newBytes) {
        std::lock_guard lock(mutex);
        format = f;
        bytes = std::move(newBytes);
        position = 0;
        requestSize = tenthOfSecondBytes(f);
    }
    std::chrono::milliseconds pullDelay{0};

  private:
    std::mutex mutex;
    WaveFormat format;
    std::vector<uint8_t> bytes;
    size_t position = 0;
};

class CommandCounter : public CommandTarget {
  public:
    void postCommand(int id) override {
        std::lock_guard lock(mutex);
        if (id == kPlayOver) {
            ++playOvers;
        } else {
            ++others;
        }
        changed.notify_all();
    }
    bool waitForPlayOvers(int n, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return playOvers >= n; });
    }
    int count() {
        std::lock_guard lock(mutex);
        return playOvers;
    }
    int otherCommands() {
        std::lock_guard lock(mutex);
        return others;
    }

  private:
    std::mutex mutex;
    std::condition_variable changed;
    int playOvers = 0;
    int others = 0;
};

// 16-bit samples that are never 0, so that the driver's silence can be told
// apart from the signal.
std::vector<int16_t> audible16(uint32_t rate, uint16_t channels, uint32_t frames) {
    std::vector<int16_t> out(size_t(frames) * channels);
    for (size_t i = 0; i < out.size(); ++i) {
        out[i] = int16_t(9000 + std::lround(6000 * std::sin(double(i) * 0.05)));
    }
    (void)rate;
    return out;
}

// 8-bit unsigned samples that are never the silence value 0x80.
std::vector<uint8_t> audible8(size_t count) {
    std::vector<uint8_t> out(count);
    for (size_t i = 0; i < count; ++i) {
        out[i] = uint8_t(0x40 + std::lround(0x30 * std::sin(double(i) * 0.05)));
    }
    return out;
}

std::vector<int16_t> withoutSilence16(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        int16_t s = int16_t(bytes[i] | bytes[i + 1] << 8);
        if (s != 0) {
            out.push_back(s);
        }
    }
    return out;
}

std::vector<uint8_t> withoutSilence8(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    for (uint8_t b : bytes) {
        if (b != 0x80) {
            out.push_back(b);
        }
    }
    return out;
}

class WaveOutDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(diskDriverChosen);
        useOutput("out.raw");
        setenv("SDL_DISKAUDIODELAY", "1", 1);
        device.SetNotifyWindow(&commands);
    }
    void TearDown() override {
        device.Detach();
        unsetenv("SDL_DISKAUDIODELAY");
    }
    // The file the next open of the device writes to.
    std::string useOutput(const std::string& name) {
        output = dir.file(name);
        setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
        return output;
    }
    bool openOn(AudioStream* stream) {
        device.SetSource(stream);
        if (!device.isOpen()) {
            return false;
        }
        if (std::string(waveOutDriverName()) != "disk") {
            driverMissing = true;
        }
        return true;
    }
    // Closes the device (the driver flushes its file) and reads what was heard.
    std::vector<uint8_t> heard() {
        device.Detach();
        return readFileBytes(output);
    }

    TempDir dir;
    std::string output;
    CommandCounter commands;
    WaveOutDevice device;
    bool driverMissing = false;
};

#define REQUIRE_DISK_DRIVER()                                                                      \
    do {                                                                                           \
        if (driverMissing) {                                                                       \
            GTEST_SKIP() << "SDL audio was initialised with another driver before this test";      \
        }                                                                                          \
    } while (0)

TEST_F(WaveOutDeviceTest, FilePcmReachesTheDriverAndPlayOverArrivesOnce) {
    WaveFormat mono16 = pcmFormat(1, 22050, 16);
    std::vector<int16_t> samples = audible16(22050, 1, 22050 * 7 / 10);
    std::string path = dir.file("in.wav");
    writeFileBytes(path, waveFile(mono16, toBytes(samples)));
    WaveStream wave;
    ASSERT_TRUE(wave.LoadWave(path.c_str()));

    ASSERT_TRUE(openOn(&wave));
    REQUIRE_DISK_DRIVER();
    EXPECT_EQ(device.GetState(), WaveOutDevice::kStopped);
    EXPECT_TRUE(device.Play());
    EXPECT_EQ(device.GetState(), WaveOutDevice::kPlaying);
    ASSERT_TRUE(commands.waitForPlayOvers(1));
    EXPECT_FALSE(device.playing);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(commands.count(), 1);
    EXPECT_EQ(withoutSilence16(heard()), samples);
    EXPECT_EQ(commands.count(), 1); // not again when the device closes

    // 8-bit stereo at another rate, through the same device object.
    useOutput("out8.raw");
    WaveFormat stereo8 = pcmFormat(2, 8000, 8);
    std::vector<uint8_t> bytes8 = audible8(8000 * 2 * 6 / 10);
    MemoryStream memory(stereo8, bytes8);
    ASSERT_TRUE(openOn(&memory));
    EXPECT_TRUE(device.Play());
    ASSERT_TRUE(commands.waitForPlayOvers(2));
    EXPECT_EQ(withoutSilence8(heard()), bytes8);
}

TEST_F(WaveOutDeviceTest, ShortSourceStillPlaysAndEnds) {
    WaveFormat f = pcmFormat(1, 11025, 16);
    std::vector<int16_t> samples = audible16(11025, 1, 11025 * 2 / 10); // two buffers
    MemoryStream memory(f, toBytes(samples));
    ASSERT_TRUE(openOn(&memory));
    REQUIRE_DISK_DRIVER();
    EXPECT_FALSE(device.Play()); // fewer than five buffers to queue
    // What was queued plays as an item that ran out, not as a stopped one,
    // so the player moves on to the next item when PlayOver arrives.
    EXPECT_FALSE(device.playing);
    EXPECT_EQ(device.GetState(), WaveOutDevice::kPlaying);
    ASSERT_TRUE(commands.waitForPlayOvers(1));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(commands.count(), 1);
    EXPECT_EQ(withoutSilence16(heard()), samples);
}

TEST_F(WaveOutDeviceTest, StopLetsTheQueuedBuffersPlayOutThenNotifies) {
    WaveFormat f = pcmFormat(1, 22050, 16);
    std::vector<int16_t> samples = audible16(22050, 1, 22050 * 20); // 20 s
    MemoryStream memory(f, toBytes(samples));
    ASSERT_TRUE(openOn(&memory));
    REQUIRE_DISK_DRIVER();
    ASSERT_TRUE(device.Play());
    size_t pulledAtStop = memory.pulled();
    EXPECT_EQ(device.Stop(), 1);
    EXPECT_EQ(device.GetState(), WaveOutDevice::kStopped);
    ASSERT_TRUE(commands.waitForPlayOvers(1));
    size_t pulled = memory.pulled();
    // At most the one buffer that was being pulled when Stop came.
    EXPECT_LE(pulled, pulledAtStop + memory.requestSize);
    EXPECT_LT(pulled, samples.size() * 2);
    std::vector<int16_t> played = withoutSilence16(heard());
    EXPECT_EQ(played, std::vector<int16_t>(samples.begin(), samples.begin() + pulled / 2));
    EXPECT_EQ(commands.count(), 1);
}

TEST_F(WaveOutDeviceTest, PauseHoldsPlaybackAndResumeFinishesIt) {
    WaveFormat f = pcmFormat(2, 44100, 16);
    std::vector<int16_t> samples = audible16(44100, 2, 44100); // 1 s
    MemoryStream memory(f, toBytes(samples));
    ASSERT_TRUE(openOn(&memory));
    REQUIRE_DISK_DRIVER();

    EXPECT_FALSE(device.Pause()); // stopped
    EXPECT_FALSE(device.Resume());
    ASSERT_TRUE(device.Play());
    EXPECT_FALSE(device.Resume()); // playing
    EXPECT_TRUE(device.Pause());
    EXPECT_EQ(device.GetState(), WaveOutDevice::kPaused);
    EXPECT_FALSE(device.Pause()); // already paused
    // A completion already being handled may still pull once; let it settle
    // (a loaded machine can delay it), then nothing may move.
    size_t pulled = memory.pulled();
    for (int i = 0; i < 50; ++i) {
        std::this_thread::sleep_for(30ms);
        if (memory.pulled() == pulled) {
            break;
        }
        pulled = memory.pulled();
    }
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(memory.pulled(), pulled); // nothing finishes while paused
    EXPECT_EQ(commands.count(), 0);
    EXPECT_TRUE(device.Resume());
    EXPECT_EQ(device.GetState(), WaveOutDevice::kPlaying);
    ASSERT_TRUE(commands.waitForPlayOvers(1));
    EXPECT_EQ(withoutSilence16(heard()), samples);
}

TEST_F(WaveOutDeviceTest, PlayAfterAStoppedPauseMakesTheDeviceRunAgain) {
    WaveFormat f = pcmFormat(1, 22050, 16);
    std::vector<int16_t> samples = audible16(22050, 1, 22050);
    MemoryStream memory(f, toBytes(samples));
    ASSERT_TRUE(openOn(&memory));
    REQUIRE_DISK_DRIVER();
    ASSERT_TRUE(device.Play());
    ASSERT_TRUE(device.Pause());
    device.Restart(); // Stop, Rewind, Play from the paused state
    EXPECT_EQ(device.GetState(), WaveOutDevice::kPlaying);
    ASSERT_TRUE(commands.waitForPlayOvers(1, 5s)) << "the device stayed paused";
}

TEST_F(WaveOutDeviceTest, VolumeScalesEachChannelAndSurvivesReopening) {
    WaveFormat stereo = pcmFormat(2, 22050, 16);
    std::vector<int16_t> samples = audible16(22050, 2, 22050 * 6 / 10);

    // Set while closed: applied when the device opens.
    EXPECT_NE(device.SetVolume(0), 0);
    MemoryStream memory(stereo, toBytes(samples));
    ASSERT_TRUE(openOn(&memory));
    REQUIRE_DISK_DRIVER();
    ASSERT_TRUE(device.Play());
    ASSERT_TRUE(commands.waitForPlayOvers(1));
    EXPECT_TRUE(withoutSilence16(heard()).empty());

    // Left silent, right untouched.
    useOutput("right.raw");
    memory.Rewind();
    ASSERT_TRUE(openOn(&memory));
    EXPECT_EQ(device.SetVolume(0xFFFF0000u), 0);
    ASSERT_TRUE(device.Play());
    ASSERT_TRUE(commands.waitForPlayOvers(2));
    std::vector<int16_t> right;
    for (size_t i = 1; i < samples.size(); i += 2) {
        right.push_back(samples[i]);
    }
    EXPECT_EQ(withoutSilence16(heard()), right);

    // Mono takes the low word: 0xFFFF leaves every sample as it was.
    useOutput("mono.raw");
    WaveFormat mono = pcmFormat(1, 22050, 16);
    std::vector<int16_t> monoSamples = audible16(22050, 1, 22050 * 6 / 10);
    MemoryStream monoStream(mono, toBytes(monoSamples));
    ASSERT_TRUE(openOn(&monoStream));
    EXPECT_EQ(device.SetVolume(0xFFFF), 0);
    ASSERT_TRUE(device.Play());
    ASSERT_TRUE(commands.waitForPlayOvers(3));
    EXPECT_EQ(withoutSilence16(heard()), monoSamples);
}

TEST_F(WaveOutDeviceTest, NewSourceWhileOpenPostsNoNoticeForTheOldOne) {
    WaveFormat f = pcmFormat(1, 22050, 16);
    MemoryStream longSource(f, toBytes(audible16(22050, 1, 22050 * 30)));
    ASSERT_TRUE(openOn(&longSource));
    REQUIRE_DISK_DRIVER();
    ASSERT_TRUE(device.Play());
    std::this_thread::sleep_for(20ms);

    std::vector<int16_t> samples = audible16(22050, 1, 22050 * 3 / 10);
    MemoryStream next(f, toBytes(samples));
    useOutput("next.raw");
    ASSERT_TRUE(openOn(&next));
    EXPECT_EQ(device.GetState(), WaveOutDevice::kStopped);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(commands.count(), 0);

    EXPECT_FALSE(device.Play()); // three buffers
    ASSERT_TRUE(commands.waitForPlayOvers(1));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(commands.count(), 1);
    EXPECT_EQ(withoutSilence16(heard()), samples);
    EXPECT_EQ(commands.otherCommands(), 0);
}

TEST_F(WaveOutDeviceTest, FormatChangeBetweenPlaysReopensTheDevice) {
    WaveFormat f16 = pcmFormat(1, 22050, 16);
    std::vector<int16_t> samples = audible16(22050, 1, 22050 * 3 / 10);
    MemoryStream memory(f16, toBytes(samples));
    ASSERT_TRUE(openOn(&memory));
    REQUIRE_DISK_DRIVER();
    EXPECT_FALSE(device.Play());
    ASSERT_TRUE(commands.waitForPlayOvers(1));

    WaveFormat f8 = pcmFormat(1, 8000, 8);
    std::vector<uint8_t> bytes8 = audible8(8000 * 3 / 10);
    memory.replace(f8, bytes8);
    std::string first = output;
    useOutput("second.raw"); // the reopened device writes here
    EXPECT_FALSE(device.Play());
    ASSERT_TRUE(commands.waitForPlayOvers(2));
    EXPECT_EQ(withoutSilence8(heard()), bytes8);
    EXPECT_EQ(withoutSilence16(readFileBytes(first)), samples);
}

TEST_F(WaveOutDeviceTest, ClosedOrUnopenableDeviceRefusesEverything) {
    EXPECT_FALSE(device.Open()); // no source
    EXPECT_FALSE(device.Play());
    EXPECT_EQ(device.Stop(), 0);
    EXPECT_FALSE(device.Pause());
    EXPECT_FALSE(device.Resume());
    EXPECT_FALSE(device.Close());
    EXPECT_NE(device.SetVolume(0xFFFFFFFFu), 0);
    device.Restart();
    EXPECT_EQ(device.GetState(), WaveOutDevice::kStopped);

    WaveFormat f24 = pcmFormat(1, 44100, 24); // not a format the output takes
    MemoryStream memory(f24, std::vector<uint8_t>(3000, 1));
    device.SetSource(&memory);
    EXPECT_FALSE(device.isOpen());
    EXPECT_FALSE(device.Play());
    EXPECT_EQ(commands.count(), 0);
}

TEST_F(WaveOutDeviceTest, CloseWhileTheNotifierPullsNeverHangsOrNotifies) {
    WaveFormat f = pcmFormat(1, 22050, 16);
    MemoryStream slow(f, toBytes(audible16(22050, 1, 22050 * 30)));
    slow.pullDelay = 3ms; // the notifier spends its time inside GetBuffer
    for (int round = 0; round < 8; ++round) {
        ASSERT_TRUE(openOn(&slow));
        REQUIRE_DISK_DRIVER();
        slow.Rewind();
        ASSERT_TRUE(device.Play());
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 3));
        if (round % 2) {
            device.Stop();
        }
        EXPECT_TRUE(device.Close());
        EXPECT_EQ(device.GetState(), WaveOutDevice::kClosing);
        EXPECT_FALSE(device.Play());
    }
    std::this_thread::sleep_for(50ms);
    // A stopped round may have drained before its Close; none may notify after.
    int seen = commands.count();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(commands.count(), seen);
}

} // namespace
