#include "mixer/Mixer.h"

#include "engine/WaveOutDevice.h"
#include "engine/WaveStream.h"
#include "platform/CdLibrary.h"
#include "platform/WaveOut.h"
#include "support/DiscImage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// Seeking is heard through SDL's disk driver, chosen before any device opens.
const bool diskDriverChosen = chooseSdlDiskDriver();

size_t drainBytes(AudioStream& stream, std::vector<uint32_t>* sizes = nullptr) {
    size_t total = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        AudioBuffer b = stream.GetBuffer();
        if (b.isEmpty()) {
            break;
        }
        if (sizes) {
            sizes->push_back(b.length());
        }
        total += b.length();
    }
    return total;
}

// A source that knows when it is deleted, to check ownership.
class TrackedStream : public AudioStream {
  public:
    explicit TrackedStream(std::atomic<int>* counter) : deletions(counter) {}
    ~TrackedStream() override { ++*deletions; }
    const WaveFormat* GetFormat() override { return &format; }
    AudioBuffer GetBuffer() override { return {}; }
    double GetPosition() override { return position; }
    double GetDuration() override { return duration; }
    WaveFormat format = pcmFormat(1, 22050, 16);
    double position = -1.0;
    double duration = -1.0;

  private:
    std::atomic<int>* deletions;
};

// A source whose format cannot even be read.
class BrokenFormatStream : public AudioStream {
  public:
    const WaveFormat* GetFormat() override { throw std::bad_alloc(); }
    AudioBuffer GetBuffer() override { return {}; }
};

} // namespace

TEST(Mixer, OutputIsMono16BitAtItsRateInTenthsOfASecond) {
    Mixer mixer;
    mixer.outputSampleRate = 22050;
    mixer.calcoutputformat();
    const WaveFormat* f = mixer.GetFormat();
    EXPECT_EQ(1, f->wFormatTag);
    EXPECT_EQ(1, f->nChannels);
    EXPECT_EQ(22050u, f->nSamplesPerSec);
    EXPECT_EQ(44100u, f->nAvgBytesPerSec);
    EXPECT_EQ(2, f->nBlockAlign);
    EXPECT_EQ(16, f->wBitsPerSample);
    EXPECT_EQ(4410u, mixer.requestSize);

    Mixer playback; // the playback Mixer runs at 44100 unless told otherwise
    EXPECT_EQ(44100u, playback.GetFormat()->nSamplesPerSec);
}

TEST(Mixer, EmptyMixerEndsAtOnceAndKnowsNoPosition) {
    Mixer mixer;
    EXPECT_TRUE(mixer.GetBuffer().isEmpty());
    EXPECT_EQ(-1.0, mixer.GetPosition());
    EXPECT_EQ(-1.0, mixer.GetDuration());
    EXPECT_EQ(nullptr, mixer.GetStream(0));
    EXPECT_FALSE(mixer.hasEntries());
}

TEST(Mixer, StereoWaveAt44100BecomesMonoBuffersOfATenthAt22050) {
    TempDir dir;
    MessageRecorder messages;
    std::string path = writeWave(dir.file("s.wav"), 2, 44100, 2.0);
    Mixer mixer;
    mixer.outputSampleRate = 22050;
    WaveStream* stream = mixer.LoadWave(path.c_str());
    ASSERT_NE(nullptr, stream);
    EXPECT_EQ(stream, mixer.GetStream(0));
    EXPECT_FALSE(mixer.IsCdTrack());
    mixer.Rewind();
    std::vector<uint32_t> sizes;
    size_t total = drainBytes(mixer, &sizes);
    ASSERT_GE(sizes.size(), 19u);
    for (size_t i = 1; i + 1 < sizes.size(); ++i) {
        EXPECT_NEAR(4410.0, double(sizes[i]), 64.0) << "buffer " << i;
        EXPECT_EQ(0u, sizes[i] % 2);
    }
    // Two seconds at 22050 Hz, give or take the resampler's edges.
    EXPECT_NEAR(2.0 * 44100, double(total), 200.0);
    EXPECT_TRUE(messages.texts().empty());
}

TEST(Mixer, ReaderThatDoesNotRewindStartsOneBufferIn) {
    TempDir dir;
    std::string path = writeWave(dir.file("m.wav"), 1, 22050, 1.0);
    Mixer mixer;
    mixer.outputSampleRate = 22050;
    ASSERT_NE(nullptr, mixer.LoadWave(path.c_str()));
    size_t withoutRewind = drainBytes(mixer);
    mixer.Rewind();
    size_t withRewind = drainBytes(mixer);
    EXPECT_NEAR(44100.0, double(withRewind), 100.0);
    EXPECT_NEAR(double(withRewind - 4410), double(withoutRewind), 100.0);
}

TEST(Mixer, FailedLoadsLeaveNoEntryAndNoMessage) {
    TempDir dir;
    MessageRecorder messages;
    Mixer mixer;
    EXPECT_EQ(nullptr, mixer.LoadWave(nullptr));
    EXPECT_EQ(nullptr, mixer.LoadWave(dir.file("missing.wav").c_str()));
    writeFileBytes(dir.file("junk.wav"), {'R', 'I', 'F', 'F', 1, 2, 3});
    EXPECT_EQ(nullptr, mixer.LoadWave(dir.file("junk.wav").c_str()));
    EXPECT_FALSE(mixer.hasEntries());
    EXPECT_TRUE(mixer.GetBuffer().isEmpty());
    EXPECT_TRUE(messages.texts().empty());
}

TEST(Mixer, OwnedSourcesGoWithRemoveAllOthersStay) {
    std::atomic<int> deletions{0};
    auto* owned = new TrackedStream(&deletions);
    TrackedStream kept(&deletions);
    {
        Mixer mixer;
        ASSERT_TRUE(mixer.AddStream(owned, true));
        ASSERT_TRUE(mixer.AddStream(&kept, false));
        mixer.RemoveAll();
        EXPECT_EQ(1, deletions.load());
        EXPECT_FALSE(mixer.hasEntries());
        ASSERT_TRUE(mixer.AddStream(&kept, false));
    }
    EXPECT_EQ(1, deletions.load());
}

TEST(Mixer, TwoEntriesPlayTheFirstSeekBothAndReportTheSmaller) {
    TempDir dir;
    std::string longer = writeWave(dir.file("long.wav"), 1, 22050, 5.0, 440);
    std::string shorter = writeWave(dir.file("short.wav"), 1, 22050, 3.0, 880);
    Mixer mixer;
    mixer.outputSampleRate = 22050;
    ASSERT_NE(nullptr, mixer.LoadWave(longer.c_str()));
    ASSERT_NE(nullptr, mixer.LoadWave(shorter.c_str()));
    EXPECT_DOUBLE_EQ(3.0, mixer.GetDuration());
    mixer.Seek(2);
    EXPECT_DOUBLE_EQ(2.0, mixer.GetStream(0)->GetPosition());
    EXPECT_DOUBLE_EQ(2.0, mixer.GetStream(1)->GetPosition());
    // Only the first (5-second) entry is heard: three seconds are left.
    EXPECT_NEAR(3.0 * 44100, double(drainBytes(mixer)), 200.0);
    EXPECT_DOUBLE_EQ(2.0, mixer.GetPosition()); // the second source did not move
}

TEST(Mixer, UnknownPositionsGiveWayToKnownOnes) {
    std::atomic<int> deletions{0};
    TrackedStream unknown(&deletions);
    TrackedStream known(&deletions);
    known.position = 4.0;
    known.duration = 9.0;
    Mixer mixer;
    ASSERT_TRUE(mixer.AddStream(&unknown, false));
    ASSERT_TRUE(mixer.AddStream(&known, false));
    EXPECT_DOUBLE_EQ(4.0, mixer.GetPosition());
    EXPECT_DOUBLE_EQ(9.0, mixer.GetDuration());
}

TEST(Mixer, ChangedRateReachesLoadedConversion) {
    TempDir dir;
    std::string path = writeWave(dir.file("r.wav"), 2, 44100, 1.0);
    Mixer mixer;
    mixer.outputSampleRate = 44100;
    ASSERT_NE(nullptr, mixer.LoadWave(path.c_str()));
    mixer.outputSampleRate = 11025;
    mixer.calcoutputformat();
    EXPECT_EQ(11025u, mixer.GetFormat()->nSamplesPerSec);
    EXPECT_EQ(2204u, mixer.requestSize);
    mixer.Rewind();
    EXPECT_NEAR(22050.0, double(drainBytes(mixer)), 100.0);
}

TEST(Mixer, FailureWhileAttachingShowsItsTextAndAddsNothing) {
    MessageRecorder messages;
    BrokenFormatStream broken;
    Mixer mixer;
    EXPECT_FALSE(mixer.AddStream(&broken, false));
    EXPECT_EQ(
        (std::vector<std::string>{"Exception attaching a conversion stream in Mixer::AddStream!"}),
        messages.texts());
    EXPECT_FALSE(mixer.hasEntries());
    EXPECT_TRUE(mixer.GetBuffer().isEmpty());
}

TEST(Mixer, RemoveAllWaitsForAReaderInsideGetBuffer) {
    TempDir dir;
    std::string path = writeWave(dir.file("t.wav"), 2, 44100, 1.0);
    Mixer mixer;
    mixer.outputSampleRate = 22050;
    std::atomic<bool> done{false};
    std::atomic<size_t> buffers{0};
    std::thread reader([&] {
        while (!done.load()) {
            if (!mixer.GetBuffer().isEmpty()) {
                ++buffers;
            }
        }
    });
    // Each round deletes the chain the reader may be inside; without the
    // lock this is a use after free (caught by the sanitizer builds).
    for (int round = 0; round < 30; ++round) {
        mixer.RemoveAll();
        ASSERT_NE(nullptr, mixer.LoadWave(path.c_str()));
        mixer.Seek(0);
        std::this_thread::yield();
    }
    done.store(true);
    reader.join();
    mixer.RemoveAll();
    EXPECT_GT(buffers.load(), 0u);
}

namespace {

// Ten seconds of a tone whose frequency tells the second it is in:
// 300 + 100 x s Hz during second s.
constexpr const char* kSteppedTone =
    "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*(300+100*floor(t))*t):s=44100:d=10\" -ac 2";

double secondsTone(int second) {
    return 300.0 + 100.0 * second;
}

// The frequency of 16-bit mono samples from their sign changes.
double toneOf(const std::vector<int16_t>& samples, uint32_t rate) {
    size_t changes = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        changes += (samples[i - 1] < 0) != (samples[i] < 0);
    }
    return samples.empty() ? 0.0 : changes * rate / (2.0 * double(samples.size()));
}

struct PlayOverCount : CommandTarget {
    void postCommand(int id) override { count += id == kPlayOver; }
    bool reaches(int n) {
        for (int i = 0; i < 1000 && count.load() < n; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        return count.load() == n;
    }
    std::atomic<int> count{0};
};

// The stepped tone as a WAVE, MP3 or WMA file or a CD track, played by the
// Mixer on the disk driver.
class MixerSeekTest : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(diskDriverChosen);
        if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "ffmpeg is not installed";
        }
        const std::string kind = GetParam();
        const std::string file = dir.file("steps." + (kind == "cd" ? std::string("raw") : kind));
        const std::string codec = kind == "wma"   ? "-c:a wmav2 -b:a 128k"
                                  : kind == "mp3" ? "-b:a 192k"
                                  : kind == "cd"  ? "-f s16le -c:a pcm_s16le"
                                                  : "-c:a pcm_s16le";
        ASSERT_EQ(0, std::system(("ffmpeg -nostdin -v error -y " + std::string(kSteppedTone) + " " +
                                  codec + " '" + file + "'")
                                     .c_str()));
        if (kind == "cd") {
            clearDiscImages();
            registerDiscImage(DiscImage().pcm(readFileBytes(file)).write(dir.path(), "disc"));
            ASSERT_NE(nullptr, mixer.LoadCdTrack(0));
        } else if (kind == "wav") {
            ASSERT_NE(nullptr, mixer.LoadWave(file.c_str()));
        } else {
            ASSERT_NE(nullptr, mixer.LoadWMA(file.c_str()));
        }
        output = dir.file("heard.raw");
        setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
        device.SetNotifyWindow(&playOvers);
        device.SetSource(&mixer);
        ASSERT_TRUE(device.isOpen());
        if (std::string(waveOutDriverName()) != "disk") {
            GTEST_SKIP() << "SDL audio was initialised with another driver";
        }
    }
    void TearDown() override {
        device.Detach();
        clearDiscImages();
    }
    // The mono samples written to the driver's file from byte offset on,
    // without its silence.
    std::vector<int16_t> heardFrom(uintmax_t offset) {
        std::vector<uint8_t> bytes = readFileBytes(output);
        std::vector<int16_t> samples;
        for (size_t i = offset; i + 1 < bytes.size(); i += 2) {
            if (int16_t s = int16_t(bytes[i] | bytes[i + 1] << 8); s != 0) {
                samples.push_back(s);
            }
        }
        return samples;
    }
    uintmax_t heardBytes() { return std::filesystem::file_size(output); }

    TempDir dir;
    std::string output;
    PlayOverCount playOvers;
    Mixer mixer;
    WaveOutDevice device; // declared after the Mixer: closed before it goes
};

std::string sourceName(const ::testing::TestParamInfo<const char*>& source) {
    return source.param;
}

} // namespace

TEST_P(MixerSeekTest, SeekIsHeardAtOnceAndTheEndStillComesOnce) {
    constexpr size_t kBuffer = 4410; // samples of one Mixer buffer
    ASSERT_TRUE(device.Play());
    // Five buffers of second 0 are queued: the seek drops them unheard.
    const uintmax_t before = heardBytes();
    ASSERT_TRUE(device.Seek(7));
    ASSERT_TRUE(playOvers.reaches(1));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(1, playOvers.count.load());
    EXPECT_EQ(WaveOutDevice::kPlaying, device.GetState()); // ran out, not stopped
    EXPECT_FALSE(device.Seek(2));                          // ended: nothing to move
    std::vector<int16_t> after = heardFrom(before);
    ASSERT_GT(after.size(), 3 * kBuffer);
    // Within one buffer of the seek, second 7 sounds.
    const std::vector<int16_t> next(after.begin() + kBuffer, after.begin() + 2 * kBuffer);
    EXPECT_NEAR(secondsTone(7), toneOf(next, 44100), 30.0);
    // Seconds 7 to 10 follow, and nothing of the old position.
    EXPECT_NEAR(3.0 * 44100, double(after.size()), 1.5 * kBuffer);

    // Past the end, the item ends as at its end: one PlayOver more.
    device.Restart();
    ASSERT_TRUE(device.Seek(60));
    ASSERT_TRUE(playOvers.reaches(2));
    // While paused, the end waits for Resume.
    device.Restart();
    ASSERT_TRUE(device.Pause());
    ASSERT_TRUE(device.Seek(60));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(2, playOvers.count.load());
    ASSERT_TRUE(device.Resume());
    ASSERT_TRUE(playOvers.reaches(3));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(3, playOvers.count.load());
}

INSTANTIATE_TEST_SUITE_P(Sources, MixerSeekTest, ::testing::Values("wav", "mp3", "wma", "cd"),
                         sourceName);
