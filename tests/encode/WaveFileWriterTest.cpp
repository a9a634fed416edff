#include "encode/WaveFileWriter.h"

#include "ScriptedStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;

namespace {

uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
uint16_t u16At(const std::vector<uint8_t>& b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}

std::vector<uint8_t> ramp(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        v[i] = uint8_t(i * 7 + 3);
    }
    return v;
}

// Checks the fixed parts of the header and returns the data length it states.
uint32_t checkedDataLength(const std::vector<uint8_t>& file) {
    EXPECT_GE(file.size(), 44u);
    if (file.size() < 44) {
        return 0;
    }
    EXPECT_EQ(0, std::memcmp(file.data(), "RIFF", 4));
    EXPECT_EQ(0, std::memcmp(file.data() + 8, "WAVEfmt ", 8));
    EXPECT_EQ(16u, u32At(file, 16));
    EXPECT_EQ(0, std::memcmp(file.data() + 36, "data", 4));
    uint32_t n = u32At(file, 40);
    EXPECT_EQ(n + 36, u32At(file, 4));
    EXPECT_EQ(file.size(), size_t(n) + 44);
    return n;
}

class SmallLimitWriter : public WaveFileWriter {
  public:
    explicit SmallLimitWriter(uint32_t limit) { dataLimit = limit; }
};

} // namespace

TEST(WaveFileWriter, HeaderDescribesMono16BitAt22050) {
    TempDir dir;
    MessageRecorder messages;
    auto pcm = toBytes(sineSamples(22050, 1, 2205));
    ScriptedStream source(pcmFormat(1, 22050, 16), pcm, 4410);
    WaveFileWriter writer;
    writer.SetSource(&source);
    writer.SetFileName(dir.file("out.wav"));
    ASSERT_TRUE(writer.Run());

    auto file = readFileBytes(dir.file("out.wav"));
    EXPECT_EQ(pcm.size(), checkedDataLength(file));
    EXPECT_EQ(1, u16At(file, 20));
    EXPECT_EQ(1, u16At(file, 22));
    EXPECT_EQ(22050u, u32At(file, 24));
    EXPECT_EQ(44100u, u32At(file, 28));
    EXPECT_EQ(2, u16At(file, 32));
    EXPECT_EQ(16, u16At(file, 34));
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), file.begin() + 44));
    EXPECT_TRUE(messages.texts().empty());
}

TEST(WaveFileWriter, HeaderRecomputesRatesAndAlwaysSaysPcm) {
    WaveFormat odd = pcmFormat(2, 48000, 24);
    odd.wFormatTag = 3;
    odd.nAvgBytesPerSec = 1;
    odd.nBlockAlign = 1;
    auto h = WaveFileWriter::makeHeader(odd, 10);
    std::vector<uint8_t> b(h.begin(), h.end());
    EXPECT_EQ(1, u16At(b, 20));
    EXPECT_EQ(288000u, u32At(b, 28));
    EXPECT_EQ(6, u16At(b, 32));
    EXPECT_EQ(46u, u32At(b, 4));
}

TEST(WaveFileWriter, OddDataLengthHasNoPadByte) {
    TempDir dir;
    auto data = ramp(1001);
    ScriptedStream source(pcmFormat(1, 8000, 8), data, 100);
    WaveFileWriter writer;
    writer.SetSource(&source);
    writer.SetFileName(dir.file("odd.wav"));
    ASSERT_TRUE(writer.Run());
    auto file = readFileBytes(dir.file("odd.wav"));
    EXPECT_EQ(1001u, checkedDataLength(file));
    EXPECT_EQ(1001u + 36, u32At(file, 4));
    EXPECT_EQ(1045u, file.size());
}

TEST(WaveFileWriter, SourceThatEndsAtOnceGivesHeaderOnly) {
    TempDir dir;
    ScriptedStream source(pcmFormat(1, 22050, 16), {}, 4410);
    WaveFileWriter writer;
    writer.SetSource(&source);
    writer.SetFileName(dir.file("empty.wav"));
    ASSERT_TRUE(writer.Run());
    auto file = readFileBytes(dir.file("empty.wav"));
    ASSERT_EQ(44u, file.size());
    EXPECT_EQ(36u, u32At(file, 4));
    EXPECT_EQ(0u, u32At(file, 40));
}

TEST(WaveFileWriter, StopDuringRunLeavesValidShorterFile) {
    TempDir dir;
    auto data = ramp(100 * 400);
    ScriptedStream source(pcmFormat(1, 22050, 16), data, 400);
    WaveFileWriter writer;
    // Stop while the fifth buffer is being produced: the four before it are
    // in the file, and the writer no longer encodes what arrives after.
    source.beforeBuffer = [&](int call) {
        if (call == 5) {
            writer.Stop();
        }
    };
    writer.SetSource(&source);
    writer.SetFileName(dir.file("stopped.wav"));
    ASSERT_TRUE(writer.Run());
    auto file = readFileBytes(dir.file("stopped.wav"));
    EXPECT_EQ(4u * 400, checkedDataLength(file));
    EXPECT_EQ(5, source.calls);
    EXPECT_TRUE(std::equal(file.begin() + 44, file.end(), data.begin()));
    EXPECT_FALSE(writer.isRunning());
}

TEST(WaveFileWriter, OverwriteQuestionAnsweredNoKeepsOldFile) {
    TempDir dir;
    std::string path = dir.file("exists.wav");
    writeFileBytes(path, {1, 2, 3});
    MessageRecorder messages(MessageAnswer::No);
    ScriptedStream source(pcmFormat(1, 22050, 16), ramp(800), 400);
    WaveFileWriter writer;
    writer.SetSource(&source);
    writer.SetFileName(path);
    EXPECT_FALSE(writer.Run());
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), readFileBytes(path));
    auto seen = messages.messages();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("the output file has existed, overwrite it?", seen[0].text);
    EXPECT_EQ("Attention", seen[0].caption);
    EXPECT_EQ(MessageButtons::YesNo, seen[0].buttons);
    EXPECT_EQ(0, source.calls);
}

TEST(WaveFileWriter, OverwriteQuestionAnsweredYesTruncates) {
    TempDir dir;
    std::string path = dir.file("exists.wav");
    writeFileBytes(path, std::vector<uint8_t>(100000, 0xAB));
    MessageRecorder messages(MessageAnswer::Yes);
    ScriptedStream source(pcmFormat(1, 22050, 16), ramp(800), 400);
    WaveFileWriter writer;
    writer.SetSource(&source);
    writer.SetFileName(path);
    EXPECT_TRUE(writer.Run());
    EXPECT_EQ(800u, checkedDataLength(readFileBytes(path)));
    EXPECT_EQ(1u, messages.texts().size());
}

TEST(WaveFileWriter, NoPromptOpenDoesNotAsk) {
    TempDir dir;
    std::string path = dir.file("exists.wav");
    writeFileBytes(path, {9});
    MessageRecorder messages(MessageAnswer::No);
    WaveFileWriter writer;
    writer.SetFileName(path);
    EXPECT_TRUE(writer.Open(true));
    EXPECT_TRUE(writer.Close());
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_TRUE(readFileBytes(path).empty());
}

TEST(WaveFileWriter, MissingDirectoryShowsOpenFailure) {
    TempDir dir;
    MessageRecorder messages;
    ScriptedStream source(pcmFormat(1, 22050, 16), ramp(800), 400);
    WaveFileWriter writer;
    writer.SetSource(&source);
    writer.SetFileName(dir.file("no/such/dir/out.wav"));
    EXPECT_FALSE(writer.Run());
    EXPECT_EQ((std::vector<std::string>{"open out file failed,\nplease check directory exists!"}),
              messages.texts());
}

TEST(WaveFileWriter, UnwritableTargetShowsOpenFailure) {
    TempDir dir;
    // A directory that is a plain file cannot hold the target, whoever runs
    // the test; a read-only directory only stops ordinary users.
    writeFileBytes(dir.file("plain"), {1});
    std::string target = dir.file("plain/out.wav");
    if (geteuid() != 0) {
        std::filesystem::create_directory(dir.path() / "ro");
        chmod((dir.path() / "ro").c_str(), 0500);
        target = dir.file("ro/out.wav");
    }
    MessageRecorder messages;
    WaveFileWriter writer;
    writer.SetFileName(target);
    EXPECT_FALSE(writer.Open(false));
    EXPECT_EQ((std::vector<std::string>{"open out file failed,\nplease check directory exists!"}),
              messages.texts());
}

TEST(WaveFileWriter, EmptyFileNameFailsSilently) {
    MessageRecorder messages;
    WaveFileWriter writer;
    EXPECT_FALSE(writer.Open(false));
    EXPECT_TRUE(messages.texts().empty());
}

TEST(WaveFileWriter, PushedUseWritesEachBufferAndCountsBytes) {
    TempDir dir;
    WaveFileWriter writer;
    writer.SetFormat(pcmFormat(1, 11025, 16));
    writer.SetFileName(dir.file("pushed.wav"));
    ASSERT_TRUE(writer.Open(true));
    ASSERT_TRUE(writer.Begin());
    auto a = ramp(300);
    auto b = ramp(77);
    EXPECT_TRUE(writer.Write(AudioBuffer::fromBytes(a.data(), uint32_t(a.size()), true)));
    EXPECT_TRUE(writer.Write(AudioBuffer()));
    EXPECT_TRUE(writer.Write(AudioBuffer::fromBytes(b.data(), uint32_t(b.size()), false)));
    EXPECT_EQ(377u, writer.DataBytes());
    EXPECT_TRUE(writer.Finish());
    EXPECT_TRUE(writer.Close());
    auto file = readFileBytes(dir.file("pushed.wav"));
    EXPECT_EQ(377u, checkedDataLength(file));
    EXPECT_TRUE(std::equal(a.begin(), a.end(), file.begin() + 44));
    EXPECT_TRUE(std::equal(b.begin(), b.end(), file.begin() + 344));
}

TEST(WaveFileWriter, FinishAndCloseWithoutOpenDoNothing) {
    WaveFileWriter writer;
    EXPECT_TRUE(writer.Finish());
    EXPECT_TRUE(writer.Close());
}

TEST(WaveFileWriter, WriteAfterStopKeepsDataOutOfTheFile) {
    TempDir dir;
    WaveFileWriter writer;
    writer.SetFormat(pcmFormat(1, 11025, 16));
    writer.SetFileName(dir.file("s.wav"));
    ASSERT_TRUE(writer.Open(true));
    ASSERT_TRUE(writer.Begin());
    auto a = ramp(100);
    writer.Write(AudioBuffer::fromBytes(a.data(), 100, true));
    writer.Stop();
    writer.Write(AudioBuffer::fromBytes(a.data(), 100, true));
    writer.Finish();
    writer.Close();
    EXPECT_EQ(100u, checkedDataLength(readFileBytes(dir.file("s.wav"))));
}

TEST(WaveFileWriter, SizeLimitStopsWithValidHeaderAndMessage) {
    TempDir dir;
    MessageRecorder messages;
    ScriptedStream source(pcmFormat(1, 22050, 16), ramp(4000), 400);
    SmallLimitWriter writer(1000);
    writer.SetSource(&source);
    writer.SetFileName(dir.file("big.wav"));
    EXPECT_FALSE(writer.Run());
    auto file = readFileBytes(dir.file("big.wav"));
    EXPECT_EQ(800u, checkedDataLength(file));
    EXPECT_EQ((std::vector<std::string>{WaveFileWriter::kTooLargeMessage}), messages.texts());
    EXPECT_LE(source.calls, 4);
}

TEST(WaveFileWriter, RunTwiceStartsAFreshFileEachTime) {
    TempDir dir;
    ScriptedStream source(pcmFormat(1, 22050, 16), ramp(1200), 400);
    WaveFileWriter writer;
    writer.SetSource(&source);
    writer.SetFileName(dir.file("a.wav"));
    ASSERT_TRUE(writer.Run());
    source.Rewind();
    source.bytes.resize(400);
    writer.SetFileName(dir.file("b.wav"));
    ASSERT_TRUE(writer.Run());
    EXPECT_EQ(1200u, checkedDataLength(readFileBytes(dir.file("a.wav"))));
    EXPECT_EQ(400u, checkedDataLength(readFileBytes(dir.file("b.wav"))));
}

TEST(WaveFileWriter, LinkedTargetIsReplacedAtTheFileItNamesAndADeviceIsRefused) {
    TempDir dir;
    MessageRecorder messages(MessageAnswer::Yes);
    std::filesystem::create_directory(dir.file("music"));
    writeFileBytes(dir.file("music/take.wav"), {'o', 'l', 'd'});
    ::chmod(dir.file("music/take.wav").c_str(), 0640);
    std::filesystem::create_symlink("music/take.wav", dir.file("take.wav"));
    // What a killed conversion left beside its target goes with the next.
    writeFileBytes(dir.file("music/.take.wav.velumo-Q7tZ0a"), {1});
    writeFileBytes(dir.file("music/take.wav.backup"), {2});
    {
        ScriptedStream source(pcmFormat(1, 22050, 16), ramp(800), 400);
        WaveFileWriter writer;
        writer.SetSource(&source);
        writer.SetFileName(dir.file("take.wav"));
        ASSERT_TRUE(writer.Run());
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("take.wav")));
    EXPECT_EQ(checkedDataLength(readFileBytes(dir.file("music/take.wav"))), 800u);
    struct stat info {};
    ASSERT_EQ(::stat(dir.file("music/take.wav").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("music/.take.wav.velumo-Q7tZ0a")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("music/take.wav.backup")));
    EXPECT_EQ((std::vector<std::string>{"the output file has existed, overwrite it?"}),
              messages.texts());

    // A link to a device that refuses every byte fails, and is not replaced
    // by a file.
    std::filesystem::create_symlink("/dev/full", dir.file("full.wav"));
    ScriptedStream source(pcmFormat(1, 22050, 16), ramp(800), 400);
    WaveFileWriter writer;
    writer.SetSource(&source);
    writer.SetFileName(dir.file("full.wav"));
    EXPECT_FALSE(writer.Run());
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("full.wav")));
    ASSERT_EQ(messages.texts().size(), 2u);
    EXPECT_EQ(messages.texts()[1],
              dir.file("full.wav") + ": a character device, not a regular file");
}
