#include "record/WaveRecorder.h"

#include "encode/OutputFile.h"
#include "platform/WaveOut.h"
#include "support/TestSupport.h"
#include "support/WaitUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

using namespace testing_support;
using namespace std::chrono_literals;

namespace {

// SDL's disk driver captures from SDL_DISKAUDIOFILEIN (silence past its
// end), reading one period per SDL_DISKAUDIODELAY milliseconds, or at the
// real-time pace when that is unset. Both are read at each open.
const bool diskDriverChosen = [] {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    return true;
}();

uint32_t le32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}

uint16_t le16(const std::vector<uint8_t>& bytes, size_t at) {
    return uint16_t(bytes[at] | bytes[at + 1] << 8);
}

class WaveRecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(diskDriverChosen);
        // Three seconds of a sine, distinct from silence and from itself
        // shifted by a buffer.
        input = toBytes(
            sineSamples(WaveRecorder::kSampleRate, 1, 3 * WaveRecorder::kSampleRate, 331.0, 0.6));
        const std::string in = dir.file("in.raw");
        writeFileBytes(in, input);
        setenv("SDL_DISKAUDIOFILEIN", in.c_str(), 1);
        // Eight milliseconds a period of 256 samples: about three times
        // the real-time pace, a buffer every 64 ms.
        setenv("SDL_DISKAUDIODELAY", "8", 1);
    }
    void TearDown() override { unsetenv("SDL_DISKAUDIODELAY"); }

    bool diskDriverInUse() const { return std::string(waveOutDriverName()) == "disk"; }

    // Checks the 44-byte header against the file and returns its data.
    std::vector<uint8_t> dataOf(const std::string& path) {
        std::vector<uint8_t> bytes = readFileBytes(path);
        EXPECT_GE(bytes.size(), 44u);
        if (bytes.size() < 44) {
            return {};
        }
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
        EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
        EXPECT_EQ(le16(bytes, 20), 1); // PCM
        EXPECT_EQ(le16(bytes, 22), 1); // mono
        EXPECT_EQ(le32(bytes, 24), 11025u);
        EXPECT_EQ(le32(bytes, 28), 22050u);
        EXPECT_EQ(le16(bytes, 32), 2);
        EXPECT_EQ(le16(bytes, 34), 16);
        EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
        const uint32_t n = le32(bytes, 40);
        EXPECT_EQ(le32(bytes, 4), n + 36);
        EXPECT_EQ(bytes.size(), size_t(44) + n);
        return std::vector<uint8_t>(bytes.begin() + 44, bytes.end());
    }

    TempDir dir;
    std::vector<uint8_t> input;
};

TEST_F(WaveRecorderTest, WholeBuffersOfTheCapturedSoundReplaceAnOldFileWithoutAsking) {
    MessageRecorder messages(MessageAnswer::No);
    const std::string take = dir.file("_temp.wav");
    writeFileBytes(take, std::vector<uint8_t>(100000, 0x55)); // an older, longer take
    {
        WaveRecorder recorder;
        recorder.SetOutputFile(take);
        ASSERT_EQ(recorder.Start(), 0u);
        if (!diskDriverInUse()) {
            GTEST_SKIP() << "SDL audio was initialised with another driver";
        }
        EXPECT_TRUE(recorder.isRecording());
        ASSERT_TRUE(waitUntil([&] { return recorder.buffersWritten() >= 4; }));
        // Stopped part-way into a later buffer: that one must not appear.
        std::this_thread::sleep_for(20ms);
        recorder.Stop();
        EXPECT_FALSE(recorder.isRecording());

        const std::vector<uint8_t> data = dataOf(take);
        EXPECT_EQ(data.size(), size_t(WaveRecorder::kBufferBytes) * recorder.buffersWritten());
        EXPECT_EQ(data.size() % WaveRecorder::kBufferBytes, 0u);
        ASSERT_LE(data.size(), input.size());
        EXPECT_TRUE(std::equal(data.begin(), data.end(), input.begin()))
            << "the file does not hold the start of the captured sound";

        // A second Stop finds nothing open and leaves the file alone.
        recorder.Stop();
        EXPECT_EQ(readFileBytes(take).size(), 44 + data.size());
    }
    EXPECT_TRUE(messages.texts().empty()); // no overwrite question, no failure
}

TEST_F(WaveRecorderTest, EndingWithinTheFirstBufferLeavesAnEmptyDataChunk) {
    unsetenv("SDL_DISKAUDIODELAY"); // real time: the first buffer takes 186 ms
    MessageRecorder messages;
    const std::string take = dir.file("short.wav");
    {
        WaveRecorder recorder;
        recorder.SetOutputFile(take);
        ASSERT_EQ(recorder.Start(), 0u);
        if (!diskDriverInUse()) {
            GTEST_SKIP() << "SDL audio was initialised with another driver";
        }
        std::this_thread::sleep_for(60ms);
        // Destroying the recorder stops it and completes the file.
    }
    EXPECT_TRUE(dataOf(take).empty());
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(WaveRecorderTest, AFileThatCannotBeCreatedIsReportedAndCaptureGoesOn) {
    MessageRecorder messages;
    const std::string take = dir.file("missing/folder/_temp.wav");
    WaveRecorder recorder;
    recorder.SetOutputFile(take);
    EXPECT_EQ(recorder.Start(), 0u);
    if (!diskDriverInUse()) {
        GTEST_SKIP() << "SDL audio was initialised with another driver";
    }
    EXPECT_EQ(messages.texts(), std::vector<std::string>{OutputFile::kOpenFailedMessage});
    // Several buffers complete and are replaced; none is written anywhere.
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(recorder.isRecording());
    EXPECT_EQ(recorder.buffersWritten(), 0u);
    recorder.Stop();
    EXPECT_FALSE(std::filesystem::exists(take));
    EXPECT_EQ(messages.texts().size(), 1u);
}

TEST_F(WaveRecorderTest, StoppingWhileBuffersCompleteKeepsTheFileWhole) {
    // One period a millisecond: buffers complete every 8 ms, so Stop meets
    // completions in every phase of their handling.
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    MessageRecorder messages;
    const std::string take = dir.file("race.wav");
    for (int round = 0; round < 6; ++round) {
        WaveRecorder recorder;
        recorder.SetOutputFile(take);
        ASSERT_EQ(recorder.Start(), 0u);
        if (!diskDriverInUse()) {
            GTEST_SKIP() << "SDL audio was initialised with another driver";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
        recorder.Stop();
        EXPECT_EQ(dataOf(take).size(),
                  size_t(WaveRecorder::kBufferBytes) * recorder.buffersWritten())
            << "round " << round;
    }
    EXPECT_TRUE(messages.texts().empty());
}

// Without any usable sound driver there is no input device. SDL keeps its
// driver for the life of the process, so this runs in a fresh process.
TEST(WaveRecorderWithoutDevice, NoInputDeviceIsReportedAndNoFileIsWritten) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    const std::string take = dir.file("_temp.wav");
    EXPECT_EXIT(
        {
            setenv("SDL_AUDIODRIVER", "velumo-no-such-driver", 1);
            MessageRecorder messages;
            int failures = 0;
            {
                WaveRecorder recorder;
                recorder.SetOutputFile(take);
                failures += recorder.Start() != 0;
                failures += recorder.isRecording();
                recorder.Stop();
            }
            // "No Sound Device", and SDL's reason on a second line.
            const std::vector<std::string> texts = messages.texts();
            const std::string first = std::string(WaveRecorder::kNoDeviceMessage) + "\n";
            failures += texts.size() != 1 || texts[0].rfind(first, 0) != 0 ||
                        texts[0].size() == first.size();
            failures += std::filesystem::exists(take);
            std::exit(failures);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
