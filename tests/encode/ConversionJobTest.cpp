#include "encode/ConversionJob.h"

#include "ExternalTools.h"
#include "base/CommandTarget.h"
#include "platform/CdLibrary.h"
#include "support/DiscImage.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <sched.h>
#include <thread>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

std::vector<int16_t> samplesOf(const std::vector<uint8_t>& file, size_t from = 44) {
    std::vector<int16_t> out((file.size() - std::min(from, file.size())) / 2);
    std::memcpy(out.data(), file.data() + from, out.size() * 2);
    return out;
}

class RecordingTarget : public CommandTarget {
  public:
    void postCommand(int id) override {
        std::lock_guard lock(mutex);
        ids.push_back(id);
    }
    std::vector<int> posted() {
        std::lock_guard lock(mutex);
        return ids;
    }

  private:
    std::mutex mutex;
    std::vector<int> ids;
};

} // namespace

TEST(ConversionJob, WavTargetHoldsTheWholeItemAsMonoAtTheJobRate) {
    TempDir dir;
    MessageRecorder messages;
    std::string source = writeWave(dir.file("in.wav"), 2, 44100, 3.0);
    ConversionJob job(22050);
    ASSERT_TRUE(job.LoadSource(source));
    ASSERT_TRUE(job.SetTarget(dir.file("out.wav")));
    EXPECT_EQ(ConversionJob::WriterKind::Wave, job.ActiveWriter());
    EXPECT_EQ(ConversionJob::Result::Completed, job.RunHere());
    auto file = readFileBytes(dir.file("out.wav"));
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(1u, u32At(file, 20) & 0xFFFF);
    EXPECT_EQ(1u, u32At(file, 22) & 0xFFFF);
    EXPECT_EQ(22050u, u32At(file, 24));
    EXPECT_EQ(16u, u32At(file, 34) & 0xFFFF);
    // The whole item, not one buffer short: 3 s at 22050 Hz within the
    // resampler's few samples.
    EXPECT_NEAR(3.0 * 22050, double(u32At(file, 40)) / 2, 32.0);
    EXPECT_EQ(100, job.Percent());
    EXPECT_TRUE(messages.texts().empty());
}

TEST(ConversionJob, ConvertedAudioMatchesAnIndependentConversion) {
    if (!haveTool("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    TempDir dir;
    std::string source = writeWave(dir.file("in.wav"), 2, 44100, 2.0, 330.0);
    ConversionJob job(22050);
    ASSERT_TRUE(job.LoadSource(source));
    ASSERT_TRUE(job.SetTarget(dir.file("out.wav")));
    ASSERT_EQ(ConversionJob::Result::Completed, job.RunHere());
    auto ours = samplesOf(readFileBytes(dir.file("out.wav")));
    auto reference = decodeMono(source, 22050);
    ASSERT_FALSE(reference.empty());
    size_t lag = 0;
    EXPECT_GE(bestCorrelation(reference, ours, 64, &lag), 0.99);
    EXPECT_LE(lag, 32u);
}

TEST(ConversionJob, CompressedFilesConvertThroughTheMediaReader) {
    if (!haveTool("ffmpeg")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    TempDir dir;
    std::string wav = writeWave(dir.file("in.wav"), 2, 44100, 2.0, 500.0);
    const struct {
        const char* name;
        const char* args;
    } sources[] = {
        {"in.mp3", "-b:a 128k"},      {"in.WMA", "-b:a 128k"},      {"in.flac", ""},
        {"in.ogg", "-c:a libvorbis"}, {"in.OGA", "-c:a libvorbis"}, {"in.opus", "-b:a 96k"},
        {"aac.m4a", "-c:a aac"},      {"alac.M4A", "-c:a alac"},
    };
    for (const auto& [name, args] : sources) {
        SCOPED_TRACE(name);
        int status = 0;
        runCommand("ffmpeg -v error -i " + shellQuoted(wav) + " " + args + " " +
                       shellQuoted(dir.file(name)),
                   &status);
        ASSERT_EQ(0, status);
        ConversionJob job(22050);
        ASSERT_TRUE(job.LoadSource(dir.file(name)));
        EXPECT_DOUBLE_EQ(2.0, job.Duration());
        ASSERT_TRUE(job.SetTarget(dir.file(std::string(name) + ".wav")));
        ASSERT_EQ(ConversionJob::Result::Completed, job.RunHere());
        auto ours = samplesOf(readFileBytes(dir.file(std::string(name) + ".wav")));
        // The whole item: two seconds, give or take a codec frame.
        EXPECT_NEAR(2.0 * 22050, double(ours.size()), 2200.0);
        auto reference = decodeMono(wav, 22050);
        EXPECT_GE(bestCorrelation(reference, ours, 2000, nullptr, 8000), 0.95);
    }
}

TEST(ConversionJob, SourceAndTargetNamesAreCheckedWithTheirMessages) {
    TempDir dir;
    MessageRecorder messages;
    ConversionJob job(22050);
    EXPECT_FALSE(job.LoadSource(dir.file("song.aiff")));
    EXPECT_FALSE(job.LoadSource(dir.file("missing.wav")));
    EXPECT_FALSE(job.LoadSource(dir.file("missing.MP3")));
    std::string source = writeWave(dir.file("in.wav"), 1, 22050, 0.5);
    ASSERT_TRUE(job.LoadSource(source));
    EXPECT_FALSE(job.SetTarget(dir.file("out.ogg")));
    EXPECT_EQ(ConversionJob::WriterKind::None, job.ActiveWriter());
    EXPECT_FALSE(job.Start());
    EXPECT_FALSE(job.SetTarget(source));
    EXPECT_EQ(
        (std::vector<std::string>{"Unknow audio file!\nMixer has emptyed, there will be an error.",
                                  "can not open source file!", "can not open source file!",
                                  "format not support!\n", ConversionJob::kTargetIsSourceMessage}),
        messages.texts());
    // The source survived the refused target.
    EXPECT_GT(readFileBytes(source).size(), 44u);
}

TEST(ConversionJob, StartReportsCompletionOnceThroughCallbackAndCommand) {
    TempDir dir;
    std::string source = writeWave(dir.file("in.wav"), 1, 22050, 1.0);
    RecordingTarget target;
    std::atomic<int> calls{0};
    std::atomic<ConversionJob::Result> seen{ConversionJob::Result::NotRun};
    ConversionJob job(22050);
    ASSERT_TRUE(job.LoadSource(source));
    ASSERT_TRUE(job.SetTarget(dir.file("out.wav")));
    std::atomic<int> policy{-1};
    ASSERT_TRUE(job.Start(
        [&](ConversionJob::Result r) {
            seen = r;
            policy = sched_getscheduler(0);
            ++calls;
        },
        &target));
    EXPECT_FALSE(job.Start()); // one run at a time
    job.Wait();
    EXPECT_TRUE(job.IsFinished());
    EXPECT_EQ(1, calls.load());
    EXPECT_EQ(ConversionJob::Result::Completed, seen.load());
    EXPECT_EQ((std::vector<int>{kEncodeOver}), target.posted());
    EXPECT_EQ(SCHED_IDLE, policy.load()); // the worker yields to everything else
}

// Starts a job on a three-hour sparse (silent) file and stops it once a
// second has been read: the stop always comes long before the end.
static ConversionJob::Result convertAndStopEarly(const TempDir& dir, const std::string& target) {
    std::string source = dir.file("long.wav");
    if (!std::filesystem::exists(source)) {
        writeFileBytes(source, waveFile(pcmFormat(2, 44100, 16), {}));
        std::filesystem::resize_file(source, 44 + uint64_t(3 * 3600) * 176400);
    }
    ConversionJob job(22050);
    job.SetIdlePriority(false); // an idle worker may starve on a busy machine
    EXPECT_TRUE(job.LoadSource(source));
    EXPECT_TRUE(job.SetTarget(target));
    EXPECT_TRUE(job.Start());
    for (int i = 0; i < 20000 && job.Position() < 1.0 && !job.IsFinished(); ++i) {
        std::this_thread::sleep_for(1ms);
    }
    job.Stop();
    job.Wait();
    return job.GetResult();
}

TEST(ConversionJob, StopInTheMiddleLeavesAValidShorterWave) {
    TempDir dir;
    ASSERT_EQ(ConversionJob::Result::Stopped, convertAndStopEarly(dir, dir.file("out.wav")));
    auto file = readFileBytes(dir.file("out.wav"));
    ASSERT_GE(file.size(), 44u);
    uint32_t n = u32At(file, 40);
    EXPECT_EQ(file.size(), size_t(n) + 44);
    EXPECT_EQ(n + 36, u32At(file, 4));
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, 3u * 3600 * 44100);
}

TEST(ConversionJob, StopInTheMiddleLeavesAFlushedAndTaggedMp3) {
    if (!EncoderLibrary::load()) {
        GTEST_SKIP() << "libmp3lame is not installed";
    }
    TempDir dir;
    ASSERT_EQ(ConversionJob::Result::Stopped, convertAndStopEarly(dir, dir.file("out.mp3")));
    auto file = readFileBytes(dir.file("out.mp3"));
    ASSERT_GT(file.size(), 128u + 1000);
    EXPECT_EQ(0, std::memcmp(file.data() + file.size() - 128, "TAG", 3));
    if (haveTool("ffprobe")) {
        EXPECT_EQ("22050", probeFile(dir.file("out.mp3"))["sample_rate"]);
    }
}

TEST(ConversionJob, StopBeforeTheLoopWritesNothing) {
    TempDir dir;
    std::string source = writeWave(dir.file("in.wav"), 1, 22050, 1.0);
    ConversionJob job(22050);
    ASSERT_TRUE(job.LoadSource(source));
    ASSERT_TRUE(job.SetTarget(dir.file("out.wav")));
    job.Stop();
    EXPECT_EQ(ConversionJob::Result::Stopped, job.RunHere());
    EXPECT_FALSE(std::filesystem::exists(dir.file("out.wav")));
}

TEST(ConversionJob, EmptySourceGivesHeaderOnlyAndZeroPercent) {
    TempDir dir;
    std::string source = dir.file("empty.wav");
    writeFileBytes(source, waveFile(pcmFormat(1, 22050, 16), {}));
    ConversionJob job(22050);
    ASSERT_TRUE(job.LoadSource(source));
    EXPECT_EQ(0, job.Percent()); // a duration of 0 divides nothing
    ASSERT_TRUE(job.SetTarget(dir.file("out.wav")));
    EXPECT_EQ(ConversionJob::Result::Completed, job.RunHere());
    EXPECT_EQ(44u, readFileBytes(dir.file("out.wav")).size());
    EXPECT_EQ(0, job.Percent());
}

TEST(ConversionJob, ExistingTargetAnsweredNoFailsAndKeepsIt) {
    TempDir dir;
    MessageRecorder messages(MessageAnswer::No);
    std::string source = writeWave(dir.file("in.wav"), 1, 22050, 0.5);
    writeFileBytes(dir.file("out.wav"), {7, 7, 7});
    ConversionJob job(22050);
    ASSERT_TRUE(job.LoadSource(source));
    ASSERT_TRUE(job.SetTarget(dir.file("out.wav")));
    EXPECT_EQ(ConversionJob::Result::Failed, job.RunHere());
    EXPECT_EQ((std::vector<uint8_t>{7, 7, 7}), readFileBytes(dir.file("out.wav")));
}

TEST(ConversionJob, SeveralJobsRunAtOnceWithTheirOwnWriters) {
    TempDir dir;
    std::vector<std::unique_ptr<ConversionJob>> jobs;
    const double seconds[] = {1.0, 2.0, 1.5, 0.5};
    for (int i = 0; i < 4; ++i) {
        std::string source =
            writeWave(dir.file("in" + std::to_string(i) + ".wav"), 2, 44100, seconds[i]);
        auto job = std::make_unique<ConversionJob>(11025);
        job->SetIdlePriority(false);
        ASSERT_TRUE(job->LoadSource(source));
        ASSERT_TRUE(job->SetTarget(dir.file("out" + std::to_string(i) + ".wav")));
        jobs.push_back(std::move(job));
    }
    for (auto& job : jobs) {
        ASSERT_TRUE(job->Start());
    }
    for (auto& job : jobs) {
        job->Wait();
        EXPECT_EQ(ConversionJob::Result::Completed, job->GetResult());
    }
    for (int i = 0; i < 4; ++i) {
        auto file = readFileBytes(dir.file("out" + std::to_string(i) + ".wav"));
        ASSERT_GE(file.size(), 44u);
        EXPECT_NEAR(seconds[i] * 11025 * 2, double(u32At(file, 40)), 64.0) << i;
    }
}

class ConversionJobCd : public ::testing::Test {
  protected:
    void SetUp() override { clearDiscImages(); }
    void TearDown() override { clearDiscImages(); }
    TempDir dir;
};

TEST_F(ConversionJobCd, TrackNameRipsThatTrackAsTheDownMixOfItsBytes) {
    DiscImage image;
    image.audio(150, 1).tone(300, 500).audio(75, 3);
    registerDiscImage(image.write(dir.path().string(), "disc"));
    ConversionJob job(44100);
    ASSERT_TRUE(job.LoadSource("track-01")); // any case of the prefix
    EXPECT_TRUE(job.GetMixer().IsCdTrack());
    EXPECT_DOUBLE_EQ(4.0, job.Duration());
    ASSERT_TRUE(job.SetTarget(dir.file("rip.wav")));
    ASSERT_EQ(ConversionJob::Result::Completed, job.RunHere());

    auto stereo = image.trackBytes(1);
    auto mono = samplesOf(readFileBytes(dir.file("rip.wav")));
    ASSERT_EQ(stereo.size() / 4, mono.size());
    EXPECT_LE(worstDownmixError(stereo, mono), 1);
}

TEST_F(ConversionJobCd, OnlyTrackAndTwoDigitsNameATrack) {
    DiscImage image;
    image.tone(75, 440).audio(150, 2);
    registerDiscImage(image.write(dir.path().string(), "disc"));
    ConversionJob job(22050);
    ASSERT_TRUE(job.LoadSource("track-01"));
    EXPECT_DOUBLE_EQ(2.0, job.Duration());
    // Names that merely begin like one are files of no known kind.
    for (const char* name : {"Track", "Tracks.aiff", "Tracklist.txt", "Track--1", "Track-123"}) {
        MessageRecorder messages;
        EXPECT_FALSE(job.LoadSource(name)) << name;
        EXPECT_EQ((std::vector<std::string>{ConversionJob::kUnknownSourceMessage}),
                  messages.texts());
    }
}

TEST_F(ConversionJobCd, TrackCutShortWhileRippedFailsWithAMessage) {
    DiscImage image;
    image.tone(750, 440);
    const std::string cue = image.write(dir.path().string(), "disc");
    registerDiscImage(cue);
    ConversionJob job(22050);
    ASSERT_TRUE(job.LoadSource("Track-00"));
    ASSERT_TRUE(job.SetTarget(dir.file("rip.wav")));
    // The data file loses its second half after the track was opened.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().extension() == ".bin") {
            std::filesystem::resize_file(entry.path(), 375 * 2352);
        }
    }
    MessageRecorder messages;
    EXPECT_EQ(ConversionJob::Result::Failed, job.RunHere());
    EXPECT_EQ((std::vector<std::string>{ConversionJob::kTrackCutShortMessage}), messages.texts());
}

TEST_F(ConversionJobCd, NoDiscCannotOpenTheTrack) {
    MessageRecorder messages;
    registerDiscImage(dir.file("nothing-here.cue"));
    ConversionJob job(22050);
    EXPECT_FALSE(job.LoadSource("Track-00"));
    EXPECT_EQ((std::vector<std::string>{"can not open source file!"}), messages.texts());
}
