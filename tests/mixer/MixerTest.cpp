#include "mixer/Mixer.h"

#include "engine/FfmpegTools.h"
#include "engine/WaveOutDevice.h"
#include "engine/WaveStream.h"
#include "platform/CdLibrary.h"
#include "platform/WaveOut.h"
#include "spectrum/SpectrumAnalyzer.h"
#include "support/DiscImage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
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

namespace {

int16_t sampleAt(const std::vector<uint8_t>& bytes, size_t index) {
    return int16_t(bytes[2 * index] | bytes[2 * index + 1] << 8);
}

std::vector<uint8_t> drainAll(AudioStream& stream) {
    std::vector<uint8_t> out;
    for (AudioBuffer b = stream.GetBuffer(); !b.isEmpty(); b = stream.GetBuffer()) {
        out.insert(out.end(), b.data(), b.data() + b.length());
    }
    return out;
}

} // namespace

// A player's Mixer keeps the item as it is: mono stays mono, stereo stays
// stereo with its sides apart, at the item's own rate, sample for sample;
// more channels are mixed down to stereo. A conversion's Mixer stays mono at
// its rate whatever the item. The output analyser counts the frames in the
// layout it reads.
TEST(Mixer, FollowingTheItemKeepsItsChannelsAndRate) {
    struct Case {
        uint16_t channels;
        uint32_t rate;
        bool follow;
        uint16_t outChannels;
        uint32_t outRate;
    };
    const Case cases[] = {
        {1, 44100, true, 1, 44100},  {2, 44100, true, 2, 44100},  {2, 48000, true, 2, 48000},
        {2, 96000, true, 2, 96000},  {6, 44100, true, 2, 44100},  {3, 32000, true, 2, 32000},
        {2, 48000, false, 1, 22050}, {6, 44100, false, 1, 22050},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels at " + std::to_string(c.rate) +
                     (c.follow ? ", followed" : ", fixed"));
        TempDir dir;
        MessageRecorder messages;
        const std::string path =
            c.channels == 1 ? writeWave(dir.file("i.wav"), 1, c.rate, 1.0)
                            : writeFrontPairWave(dir.file("i.wav"), c.channels, c.rate, 1.0);
        Mixer mixer;
        mixer.outputSampleRate = 22050;
        mixer.followItemChannels = c.follow;
        mixer.followItemRate = c.follow;
        SpectrumAnalyzer& analyser = mixer.outputAnalyser();
        ASSERT_NE(nullptr, mixer.LoadWave(path.c_str()));
        const WaveFormat* f = mixer.GetFormat();
        EXPECT_EQ(c.outChannels, f->nChannels);
        EXPECT_EQ(c.outRate, f->nSamplesPerSec);
        EXPECT_EQ(2u * c.outChannels * (c.outRate / 10), mixer.requestSize);

        analyser.Rewind();
        const std::vector<uint8_t> out = drainAll(analyser);
        EXPECT_EQ(out.size() / (2u * c.outChannels), analyser.FramesRead());
        if (!c.follow) {
            EXPECT_NEAR(double(out.size()), 2.0 * c.outRate, 200.0);
        } else if (c.channels <= 2) {
            EXPECT_EQ(out, toBytes(sineSamples(c.rate, c.channels, c.rate)));
        } else {
            // The front pair, each side on its own, scaled down alike to
            // leave room for the centre and surround channels.
            const std::vector<int16_t> pair = sineSamples(c.rate, 2, c.rate);
            ASSERT_EQ(out.size(), pair.size() * 2);
            const size_t peak = size_t(std::max_element(pair.begin(), pair.end()) - pair.begin());
            const double gain = double(sampleAt(out, peak)) / pair[peak];
            EXPECT_GT(gain, 0.3);
            EXPECT_LE(gain, 1.0);
            int worst = 0;
            for (size_t i = 0; i < pair.size(); ++i) {
                worst =
                    std::max(worst, int(std::lround(std::abs(sampleAt(out, i) - gain * pair[i]))));
            }
            EXPECT_LE(worst, 2);
        }
        EXPECT_TRUE(messages.texts().empty());
    }
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

TEST(Mixer, OutputAnalyserPassesThePlayedAudioUnchangedAndAnalysesAllOfIt) {
    TempDir dir;
    std::string path = writeWave(dir.file("t.wav"), 2, 48000, 1.0, 1000.0);
    Mixer mixer;
    ASSERT_NE(nullptr, mixer.LoadWave(path.c_str()));
    mixer.Rewind();
    std::vector<uint8_t> direct;
    for (AudioBuffer b = mixer.GetBuffer(); !b.isEmpty(); b = mixer.GetBuffer()) {
        direct.insert(direct.end(), b.data(), b.data() + b.length());
    }

    // A player's notifier reads through the analyser while a display takes
    // the latest spectrum on another thread.
    SpectrumAnalyzer& analyser = mixer.outputAnalyser();
    mixer.Rewind();
    std::vector<uint8_t> played;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        for (AudioBuffer b = analyser.GetBuffer(); !b.isEmpty(); b = analyser.GetBuffer()) {
            played.insert(played.end(), b.data(), b.data() + b.length());
        }
        done.store(true);
    });
    while (!done.load() || analyser.PendingBuffers() != 0) {
        static_cast<void>(analyser.FrontSpectrum());
        std::this_thread::yield();
    }
    reader.join();
    EXPECT_EQ(played, direct);
    const SpectrumFrame front = analyser.FrontSpectrum();
    EXPECT_EQ(front.size(), analyser.FftSize() + 1);
    EXPECT_EQ(analyser.SpectrumCount(), 51u); // more than the queue keeps
}
namespace {

// The frequency of 16-bit mono samples from their sign changes.
double toneOf(const std::vector<int16_t>& samples) {
    size_t changes = 0;
    for (size_t i = 1; i < samples.size(); ++i) {
        changes += (samples[i - 1] < 0) != (samples[i] < 0);
    }
    return double(changes) * 44100 / (2.0 * double(samples.size()));
}

struct PlayOverCount : CommandTarget {
    void postCommand(int id) override { count += id == kPlayOver; }
    bool reaches(int n) {
        for (int i = 0; i < 1000 && count.load() < n; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        std::this_thread::sleep_for(50ms); // time for one too many
        return count.load() == n;
    }
    std::atomic<int> count{0};
};

// Ten seconds of a tone at 300 + 100 x s Hz during second s, as a WAVE, MP3
// or WMA file or a CD track, played by the Mixer on the disk driver.
class MixerSeekTest : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (!diskDriverChosen || !ffmpeg_tools::available()) {
            GTEST_SKIP() << "ffmpeg is not installed";
        }
        const std::string kind = GetParam();
        const std::string file = dir.file("steps." + kind);
        ASSERT_TRUE(ffmpeg_tools::make(
            file, "-f lavfi -i \"aevalsrc=0.5*sin(2*PI*(300+100*floor(t))*t):s=44100:d=10\"",
            kind == "wma"   ? "-ac 2 -c:a wmav2 -b:a 128k"
            : kind == "mp3" ? "-ac 2 -b:a 192k"
                            : "-ac 2 -f s16le -c:a pcm_s16le"));
        if (kind == "cd") {
            registerDiscImage(DiscImage().pcm(readFileBytes(file)).write(dir.path(), "disc"));
            ASSERT_NE(nullptr, mixer.LoadCdTrack(0));
        } else if (kind == "wav") {
            writeFileBytes(file, waveFile(pcmFormat(2, 44100, 16), readFileBytes(file)));
            ASSERT_NE(nullptr, mixer.LoadWave(file.c_str()));
        } else {
            ASSERT_NE(nullptr, mixer.LoadWMA(file.c_str()));
        }
        setenv("SDL_DISKAUDIOFILE", output.c_str(), 1);
        device.SetNotifyWindow(&playOvers);
        device.SetSource(&mixer);
        ASSERT_EQ(std::string("disk"), waveOutDriverName());
    }
    void TearDown() override { clearDiscImages(); }

    TempDir dir;
    const std::string output = dir.file("heard.raw");
    PlayOverCount playOvers;
    Mixer mixer;
    WaveOutDevice device; // declared after the Mixer: closed before it goes
};

} // namespace

TEST_P(MixerSeekTest, SeekIsHeardAtOnceAndTheEndStillComesOnce) {
    ASSERT_TRUE(device.Play());
    // Five buffers of second 0 are queued: the seek drops them unheard.
    const size_t before = std::filesystem::file_size(output);
    ASSERT_TRUE(device.Seek(7));
    ASSERT_TRUE(playOvers.reaches(1));
    EXPECT_EQ(WaveOutDevice::kPlaying, device.GetState()); // ran out, not stopped
    EXPECT_FALSE(device.Seek(2));                          // ended: nothing to move
    const std::vector<uint8_t> bytes = readFileBytes(output);
    std::vector<int16_t> after((bytes.size() - before) / 2);
    std::memcpy(after.data(), bytes.data() + before, after.size() * 2);
    std::erase(after, 0); // the driver's silence
    // Within one buffer (4410 samples) second 7 sounds, then seconds 8 and 9
    // to the end, and nothing of the old position.
    ASSERT_GT(after.size(), 3 * 4410u);
    EXPECT_NEAR(1000.0, toneOf({after.begin() + 4410, after.begin() + 2 * 4410}), 30.0);
    EXPECT_NEAR(3.0 * 44100, double(after.size()), 6000.0);

    // Past the end, the item ends as at its end; while paused, at Resume.
    device.Restart();
    ASSERT_TRUE(device.Seek(60));
    ASSERT_TRUE(playOvers.reaches(2));
    device.Restart();
    ASSERT_TRUE(device.Pause());
    ASSERT_TRUE(device.Seek(60));
    ASSERT_TRUE(playOvers.reaches(2));
    ASSERT_TRUE(device.Resume());
    ASSERT_TRUE(playOvers.reaches(3));
}

// Sources that decode a frame or a packet at a time reach the reader in
// buffers of about a tenth of a second, as a WAVE file's do, so the device
// and the output's analyser wake ten times a second rather than for every
// frame; nothing is lost in the joining.
TEST_P(MixerSeekTest, EveryKindReachesTheReaderInTenthsOfASecond) {
    mixer.Rewind();
    std::vector<uint32_t> sizes;
    const size_t total = drainBytes(mixer, &sizes);
    ASSERT_GT(sizes.size(), 1u);
    for (size_t i = 0; i + 1 < sizes.size(); ++i) {
        EXPECT_GE(sizes[i], mixer.requestSize / 4 * 3) << "buffer " << i;
        EXPECT_LE(sizes[i], 2 * mixer.requestSize) << "buffer " << i;
    }
    EXPECT_NEAR(10.0 * 44100 * 2, double(total), mixer.requestSize);
}

INSTANTIATE_TEST_SUITE_P(Sources, MixerSeekTest, ::testing::Values("wav", "mp3", "wma", "cd"));
