#include "encode/Mp3FileWriter.h"

#include "ExternalTools.h"
#include "InfoFrameReader.h"
#include "ScriptedStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using namespace testing_support;

namespace {

uint32_t u32At(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Exposes the chunking counters of the writer.
class CountingMp3Writer : public Mp3FileWriter {
  public:
    uint32_t calls() const { return chunkCalls; }
    int32_t leftover() const { return leftoverBytes; }
};

// Points the encoder library name elsewhere for one test.
class LibraryNameOverride {
  public:
    explicit LibraryNameOverride(const std::string& name) : saved(encoderLibraryName()) {
        setEncoderLibraryName(name);
    }
    ~LibraryNameOverride() { setEncoderLibraryName(saved); }

  private:
    std::string saved;
};

bool encoderAvailable() {
    return EncoderLibrary::load() != nullptr;
}

#define REQUIRE_ENCODER()                                                                          \
    if (!encoderAvailable()) {                                                                     \
        GTEST_SKIP() << "libmp3lame is not installed";                                             \
    }

#define REQUIRE_TOOL(name)                                                                         \
    if (!haveTool(name)) {                                                                         \
        GTEST_SKIP() << name " is not installed";                                                  \
    }

std::string writeMp3(const TempDir& dir, const std::string& name, const WaveFormat& format,
                     const std::vector<int16_t>& samples) {
    ScriptedStream source(format, toBytes(samples), format.nAvgBytesPerSec / 10);
    Mp3FileWriter writer;
    writer.SetSource(&source);
    writer.SetFileName(dir.file(name));
    EXPECT_TRUE(writer.Run());
    return dir.file(name);
}

} // namespace

struct BitrateCase {
    uint16_t channels;
    uint32_t rate;
    uint16_t bitrate;
    uint32_t kind;
    int mode;
};

class Mp3BitrateChoice : public ::testing::TestWithParam<BitrateCase> {};

TEST_P(Mp3BitrateChoice, PicksNearestListedBitrateAndVariant) {
    const BitrateCase& c = GetParam();
    WaveFormat f = pcmFormat(c.channels, c.rate, 16);
    EXPECT_EQ(c.bitrate, Mp3FileWriter::chooseBitrate(f));
    BeConfig config = Mp3FileWriter::makeConfig(f);
    ASSERT_EQ(c.kind, unsigned(config.configKind));
    if (c.kind == kBeConfigMp3) {
        EXPECT_EQ(c.rate, unsigned(config.format.mp3.sampleRate));
        EXPECT_EQ(unsigned(c.mode), unsigned(config.format.mp3.mode));
        EXPECT_EQ(c.bitrate, unsigned(config.format.mp3.bitrate));
    } else {
        EXPECT_EQ(c.rate, unsigned(config.format.lhv1.sampleRate));
        EXPECT_EQ(unsigned(c.mode), unsigned(config.format.lhv1.mode));
        EXPECT_EQ(c.bitrate, unsigned(config.format.lhv1.bitrate));
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, Mp3BitrateChoice,
                         ::testing::Values(BitrateCase{1, 44100, 64, kBeConfigMp3, 3},
                                           BitrateCase{1, 22050, 32, kBeConfigLhv1, 3},
                                           BitrateCase{1, 33075, 48, kBeConfigLhv1, 3},
                                           BitrateCase{1, 132300, 160, kBeConfigLhv1, 3},
                                           BitrateCase{2, 48000, 144, kBeConfigMp3, 0},
                                           BitrateCase{2, 22050, 64, kBeConfigLhv1, 0},
                                           BitrateCase{1, 32000, 48, kBeConfigMp3, 3}));

TEST(Mp3FileWriter, TieBetweenBitratesKeepsTheSmaller) {
    // 8-bit mono at 16537 Hz aims at exactly 12 kbit/s, halfway from 8 to 16.
    WaveFormat f = pcmFormat(1, 16537, 8);
    EXPECT_EQ(8, Mp3FileWriter::chooseBitrate(f));
    // Targets near zero still get the smallest bitrate, never 0.
    EXPECT_EQ(8, Mp3FileWriter::chooseBitrate(pcmFormat(1, 100, 16)));
    EXPECT_EQ(8, Mp3FileWriter::chooseBitrate(pcmFormat(1, 2756, 16)));
}

TEST(Mp3FileWriter, ConfigRecordsHaveTheirByteLayout) {
    BeConfig plain = Mp3FileWriter::makeConfig(pcmFormat(1, 44100, 16));
    const auto* p = reinterpret_cast<const uint8_t*>(&plain);
    EXPECT_EQ(0u, u32At(p));
    EXPECT_EQ(44100u, u32At(p + 4));
    EXPECT_EQ(3, p[8]);
    EXPECT_EQ(64, p[9] | p[10] << 8);
    for (size_t i = 11; i < sizeof plain; ++i) {
        ASSERT_EQ(0, p[i]) << "byte " << i;
    }

    BeConfig ext = Mp3FileWriter::makeConfig(pcmFormat(1, 22050, 16));
    const auto* x = reinterpret_cast<const uint8_t*>(&ext);
    const uint32_t expected[] = {256, 1, 331, 22050, 0, 3, 32, 192, 5, 1, 0, 0,
                                 0,   0, 0,   1,     0, 0, 2,  0,   0, 1, 0};
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(expected[i], u32At(x + 4 * i)) << "word " << i;
    }
    EXPECT_EQ(0, x[92] | x[93] << 8); // quality
    for (size_t i = 94; i < sizeof ext; ++i) {
        ASSERT_EQ(0, x[i]) << "byte " << i;
    }
}

TEST(Mp3FileWriter, TagHasFixedTextsAndTheStartOfThePathAsTitle) {
    auto tag = Mp3FileWriter::makeTag("/tmp/a.mp3");
    EXPECT_EQ(0, std::memcmp(tag.data(), "TAG/tmp/a.mp3", 13));
    for (size_t i = 13; i < 33; ++i) {
        EXPECT_EQ(0, tag[i]);
    }
    EXPECT_EQ(0, std::memcmp(tag.data() + 33, "Unknown artist\0", 15));
    EXPECT_EQ(0, std::memcmp(tag.data() + 63, "Unknown album\0", 14));
    EXPECT_EQ(0, std::memcmp(tag.data() + 93, "2003", 4));
    for (size_t i = 97; i < 126; ++i) {
        EXPECT_EQ(0, tag[i]) << i;
    }
    EXPECT_EQ(1, tag[126]);
    EXPECT_EQ(1, tag[127]);

    // A longer path keeps its first 30 bytes, with no terminator.
    std::string path = "/home/someone/music/converted/track-with-a-long-name.mp3";
    tag = Mp3FileWriter::makeTag(path);
    EXPECT_EQ(0, std::memcmp(tag.data() + 3, path.data(), 30));
    EXPECT_EQ('U', tag[33]); // the artist follows at once
}

TEST(Mp3FileWriter, LibraryWithoutTheEntryPointsNamesTheFirstMissing) {
    TempDir dir;
    MessageRecorder messages;
    LibraryNameOverride broken(VELUMO_BROKEN_LAME);
    ScriptedStream source(pcmFormat(1, 22050, 16), toBytes(sineSamples(22050, 1, 2205)), 2205);
    Mp3FileWriter writer;
    writer.SetSource(&source);
    writer.SetFileName(dir.file("x.mp3"));
    EXPECT_FALSE(writer.Run());
    EXPECT_EQ((std::vector<std::string>{"Error loading LAME encoder dll!\nmissing entry point "
                                        "lame_close in " VELUMO_BROKEN_LAME}),
              messages.texts());
}

TEST(Mp3FileWriter, MissingLibraryShowsMessageAndNeverEncodes) {
    TempDir dir;
    MessageRecorder messages(MessageAnswer::Yes);
    LibraryNameOverride missing("libvelumo-no-such-encoder.so.0");
    ScriptedStream source(pcmFormat(1, 22050, 16), toBytes(sineSamples(22050, 1, 22050)), 4410);
    Mp3FileWriter writer;
    writer.SetSource(&source);
    writer.SetFileName(dir.file("x.mp3"));
    // A good file of an earlier run stays as it was, and nothing new is left.
    writeFileBytes(dir.file("x.mp3"), {'I', 'D', '3'});
    EXPECT_FALSE(writer.Run());
    EXPECT_EQ(readFileBytes(dir.file("x.mp3")), (std::vector<uint8_t>{'I', 'D', '3'}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
    // The overwrite question, the text, then the loader's reason.
    ASSERT_EQ(messages.texts().size(), 2U);
    EXPECT_EQ(messages.texts()[1].rfind("Error loading LAME encoder dll!\n", 0), 0U);
    EXPECT_NE(messages.texts()[1].find("libvelumo-no-such-encoder.so.0: cannot open shared object"),
              std::string::npos)
        << messages.texts()[1];

    // The pushed calls after the failed Begin fail cleanly as well.
    ASSERT_TRUE(writer.Open(true));
    EXPECT_FALSE(writer.Begin());
    auto pcm = toBytes(sineSamples(22050, 1, 5000));
    EXPECT_FALSE(writer.Write(AudioBuffer::fromBytes(pcm.data(), uint32_t(pcm.size()), true)));
    EXPECT_FALSE(writer.Write(AudioBuffer()));
    EXPECT_FALSE(writer.Finish());
    writer.Close();
}

TEST(Mp3FileWriter, SourceShorterThanOneChunkIsEncodedInOneCallAtTheEnd) {
    REQUIRE_ENCODER();
    TempDir dir;
    CountingMp3Writer writer;
    writer.SetFormat(pcmFormat(1, 22050, 16));
    writer.SetFileName(dir.file("short.mp3"));
    ASSERT_TRUE(writer.Open(true));
    ASSERT_TRUE(writer.Begin());
    ASSERT_EQ(576u, writer.SamplesPerChunk());
    auto pcm = toBytes(sineSamples(22050, 1, 300));
    EXPECT_TRUE(writer.Write(AudioBuffer::fromBytes(pcm.data(), uint32_t(pcm.size()), true)));
    EXPECT_EQ(0u, writer.calls());
    EXPECT_EQ(600, writer.leftover());
    EXPECT_TRUE(writer.Write(AudioBuffer()));
    EXPECT_EQ(1u, writer.calls());
    EXPECT_EQ(0, writer.leftover());
    EXPECT_TRUE(writer.Finish());
    writer.Close();
}

TEST(Mp3FileWriter, ExactlyTwoChunksEncodeOneAndKeepOne) {
    REQUIRE_ENCODER();
    TempDir dir;
    CountingMp3Writer writer;
    writer.SetFormat(pcmFormat(1, 44100, 16));
    writer.SetFileName(dir.file("two.mp3"));
    ASSERT_TRUE(writer.Open(true));
    ASSERT_TRUE(writer.Begin());
    ASSERT_EQ(1152u, writer.SamplesPerChunk());
    auto pcm = toBytes(sineSamples(44100, 1, 2 * 1152));
    EXPECT_TRUE(writer.Write(AudioBuffer::fromBytes(pcm.data(), uint32_t(pcm.size()), true)));
    EXPECT_EQ(1u, writer.calls());
    EXPECT_EQ(2 * 1152, writer.leftover());
    // One more sample makes two whole chunks pass the keep-back limit.
    auto one = toBytes(sineSamples(44100, 1, 1153));
    EXPECT_TRUE(writer.Write(AudioBuffer::fromBytes(one.data(), uint32_t(one.size()), true)));
    EXPECT_EQ(3u, writer.calls());
    EXPECT_EQ(2, writer.leftover()); // one sample stays behind
    EXPECT_TRUE(writer.Write(AudioBuffer()));
    EXPECT_EQ(4u, writer.calls());
    EXPECT_TRUE(writer.Finish());
    writer.Close();
}

TEST(Mp3FileWriter, StereoChunksCountSamplesOfBothChannels) {
    REQUIRE_ENCODER();
    TempDir dir;
    Mp3FileWriter writer;
    writer.SetFormat(pcmFormat(2, 48000, 16));
    writer.SetFileName(dir.file("stereo.mp3"));
    ASSERT_TRUE(writer.Open(true));
    ASSERT_TRUE(writer.Begin());
    EXPECT_EQ(2304u, writer.SamplesPerChunk());
    EXPECT_TRUE(writer.Finish());
    writer.Close();
}

TEST(Mp3FileWriter, StopDuringRunLeavesFlushedAndTaggedFile) {
    REQUIRE_ENCODER();
    TempDir dir;
    auto samples = sineSamples(22050, 1, 22050 * 4);
    ScriptedStream source(pcmFormat(1, 22050, 16), toBytes(samples), 4410);
    Mp3FileWriter writer;
    source.beforeBuffer = [&](int call) {
        if (call == 11) {
            writer.Stop();
        }
    };
    writer.SetSource(&source);
    writer.SetFileName(dir.file("stopped.mp3"));
    EXPECT_TRUE(writer.Run());
    EXPECT_EQ(11, source.calls);
    auto file = readFileBytes(dir.file("stopped.mp3"));
    ASSERT_GT(file.size(), 128u);
    EXPECT_EQ(0, std::memcmp(file.data() + file.size() - 128, "TAG", 3));
    // 32 kbit/s for one second of audio, give or take a frame of flushing.
    EXPECT_NEAR(4000.0 + 128, double(file.size()), 700.0);
    if (haveTool("ffmpeg")) {
        auto decoded = decodeMono(dir.file("stopped.mp3"), 22050);
        EXPECT_NEAR(22050.0, double(decoded.size()), 2000.0);
    }
}

TEST(Mp3FileWriter, OutputDecodesWithExpectedRateModeBitrateAndTag) {
    REQUIRE_ENCODER();
    REQUIRE_TOOL("ffprobe");
    TempDir dir;
    struct Case {
        uint16_t channels;
        uint32_t rate;
        const char* bitRate;
        const char* layout;
    } cases[] = {
        {1, 22050, "32000", "mono"}, {1, 44100, "64000", "mono"}, {2, 32000, "96000", "stereo"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        std::string path =
            writeMp3(dir, "c" + std::to_string(c.rate) + ".mp3", pcmFormat(c.channels, c.rate, 16),
                     sineSamples(c.rate, c.channels, c.rate));
        auto info = probeFile(path);
        EXPECT_EQ("mp3", info["codec_name"]);
        EXPECT_EQ(std::to_string(c.rate), info["sample_rate"]);
        EXPECT_EQ(c.layout, info["channel_layout"]);
        EXPECT_EQ(c.bitRate, info["bit_rate"]);
        EXPECT_EQ("Unknown artist", info["TAG:artist"]);
        EXPECT_EQ("Unknown album", info["TAG:album"]);
        EXPECT_EQ(path.substr(0, 30), info["TAG:title"]);
        EXPECT_EQ("1", info["TAG:track"]);
    }
}

TEST(Mp3FileWriter, ResampledRatesStillDecode) {
    REQUIRE_ENCODER();
    REQUIRE_TOOL("ffprobe");
    TempDir dir;
    for (uint32_t rate : {33075u, 132300u}) {
        SCOPED_TRACE(rate);
        std::string path = writeMp3(dir, "r" + std::to_string(rate) + ".mp3",
                                    pcmFormat(1, rate, 16), sineSamples(rate, 1, rate / 2));
        std::string decodedRate = probeFile(path)["sample_rate"];
        ASSERT_FALSE(decodedRate.empty());
        EXPECT_LE(std::stoul(decodedRate), rate);
        auto decoded = decodeMono(path, rate);
        EXPECT_NEAR(rate / 2.0, double(decoded.size()), rate * 0.1);
    }
}

TEST(Mp3FileWriter, DecodedAudioMatchesTheInput) {
    REQUIRE_ENCODER();
    REQUIRE_TOOL("ffmpeg");
    TempDir dir;
    auto samples = sineSamples(22050, 1, 22050 * 2, 300.0, 0.4);
    std::string path = writeMp3(dir, "sine.mp3", pcmFormat(1, 22050, 16), samples);
    auto decoded = decodeMono(path, 22050);
    ASSERT_GT(decoded.size(), samples.size() / 2);
    // The decoder keeps the encoder's delay (about 1100 samples): search for
    // it over a window of a few thousand samples.
    EXPECT_GT(bestCorrelation(samples, decoded, 2500, nullptr, 6000), 0.98);
}

// The same PCM through the lame tool at the same settings (at rates and
// bitrates where its frames are large enough for it to write one): the Info
// frames must agree on everything that tells a player the length and the
// trimming.
TEST(Mp3FileWriter, InfoFrameAgreesWithTheLameToolAndTheTagStaysLast) {
    REQUIRE_ENCODER();
    REQUIRE_TOOL("lame");
    const struct {
        uint16_t channels;
        uint32_t rate;
        uint32_t frames;
        const char* lameOptions; // the writer's settings for that format
    } cases[] = {
        {1, 44100, 44100 * 3 + 17, "-b 64 -m m --resample 44.1"},
        {2, 32000, 9999, "-b 96 -m s --resample 32"},
        {1, 48000, 48000 / 2, "-b 64 -m m --resample 48"},
        {2, 44100, 1000, "-b 128 -m s --resample 44.1"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const std::string name = std::to_string(c.channels) + "x" + std::to_string(c.rate);
        SCOPED_TRACE(name);
        const WaveFormat format = pcmFormat(c.channels, c.rate, 16);
        const auto samples = sineSamples(c.rate, c.channels, c.frames);
        const std::string ours = writeMp3(dir, "ours" + name + ".mp3", format, samples);
        const std::string wav = dir.file("in" + name + ".wav");
        const std::string theirs = dir.file("lame" + name + ".mp3");
        writeFileBytes(wav, waveFile(format, toBytes(samples)));
        int status = -1;
        runCommand("lame --silent " + std::string(c.lameOptions) + " " + shellQuoted(wav) + " " +
                       shellQuoted(theirs) + " 2>&1",
                   &status);
        ASSERT_EQ(0, status);

        const auto file = readFileBytes(ours);
        const auto info = readInfoFrame(file);
        const auto reference = readInfoFrame(readFileBytes(theirs));
        ASSERT_TRUE(info.has_value());
        ASSERT_TRUE(reference.has_value());
        EXPECT_EQ("Info", info->tag);
        EXPECT_EQ(reference->encoder, info->encoder);
        EXPECT_EQ(reference->frames, info->frames);
        EXPECT_EQ(reference->bytes, info->bytes);
        EXPECT_EQ(reference->delay, info->delay);
        EXPECT_EQ(reference->padding, info->padding);
        EXPECT_EQ(reference->musicLength, info->musicLength);
        // What the frame counts is every sample of the input, nothing else.
        const uint32_t samplesPerFrame = c.rate >= 32000 ? 1152 : 576;
        EXPECT_EQ(uint64_t(info->frames) * samplesPerFrame,
                  uint64_t(c.frames) + info->delay + info->padding);
        // Both checksums hold: over the audio frames and over the Info frame.
        EXPECT_EQ(infoCrc16(file.data() + info->frameBytes, info->bytes - info->frameBytes),
                  info->musicCrc);
        EXPECT_EQ(infoCrc16(file.data(), info->tagCrcAt), info->tagCrc);
        // The stream is everything before the ID3v1 tag, which is unchanged.
        ASSERT_EQ(file.size(), size_t(info->bytes) + Mp3FileWriter::kTagBytes);
        const auto tag = Mp3FileWriter::makeTag(ours);
        EXPECT_TRUE(std::equal(tag.begin(), tag.end(), file.end() - Mp3FileWriter::kTagBytes));
    }
}

// Decoders that honour the Info frame give back exactly the input: as many
// samples, starting where the input did (without the frame the decoded
// audio lagged by the encoder's delay, some 1,100 samples, and ran a frame
// or two long). ffprobe reads the length from the frame's count of frames
// (FFmpeg 5.1 leaves the delay and padding in the reported duration, for
// the lame tool's files too), no longer estimating it from the file size.
TEST(Mp3FileWriter, DecodedAudioHasTheInputsLengthAndStart) {
    REQUIRE_ENCODER();
    REQUIRE_TOOL("ffmpeg");
    REQUIRE_TOOL("ffprobe");
    const struct {
        uint16_t channels;
        uint32_t rate;
        uint32_t frames;
    } cases[] = {
        {1, 22050, 22050 * 5}, {1, 44100, 44100 * 3 / 2 + 3}, {1, 8000, 8000 * 2},
        {1, 16000, 16000 + 7}, {1, 11025, 11025 * 3},         {2, 48000, 48000},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " x " + std::to_string(c.rate));
        const auto samples = sineSamples(c.rate, c.channels, c.frames, 300.0, 0.4);
        const std::string path = writeMp3(
            dir, "len" + std::to_string(c.channels) + "x" + std::to_string(c.rate) + ".mp3",
            pcmFormat(c.channels, c.rate, 16), samples);
        const auto info = readInfoFrame(readFileBytes(path));
        ASSERT_TRUE(info.has_value());
        const uint32_t samplesPerFrame = c.rate >= 32000 ? 1152 : 576;
        EXPECT_EQ(uint64_t(info->frames) * samplesPerFrame,
                  uint64_t(c.frames) + info->delay + info->padding);
        const std::string duration =
            runCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                       shellQuoted(path) + " 2>/dev/null");
        ASSERT_FALSE(duration.empty());
        EXPECT_NEAR(double(info->frames) * samplesPerFrame / c.rate, std::stod(duration), 1e-6);

        const auto decoded = decodeMono(path, c.rate);
        EXPECT_EQ(size_t(c.frames), decoded.size());
        if (c.channels == 1) {
            size_t lag = SIZE_MAX;
            EXPECT_GT(bestCorrelation(samples, decoded, 64, &lag, 4000), 0.98);
            EXPECT_EQ(0U, lag);
        }
    }
}

TEST(Mp3FileWriter, LibraryWithoutTheInfoFrameCallStillWritesTheFile) {
    // The stand-in library has every call but lame_get_lametag_frame, as an
    // older library would; it encodes to nothing.
    LibraryNameOverride failing(VELUMO_FAILING_LAME);
    TempDir dir;
    ScriptedStream source(pcmFormat(1, 22050, 16), toBytes(sineSamples(22050, 1, 22050)), 4410);
    Mp3FileWriter writer;
    writer.SetSource(&source);
    writer.SetFileName(dir.file("plain.mp3"));
    ASSERT_TRUE(writer.Run());
    const auto tag = Mp3FileWriter::makeTag(dir.file("plain.mp3"));
    EXPECT_EQ(readFileBytes(dir.file("plain.mp3")), std::vector<uint8_t>(tag.begin(), tag.end()));
}

TEST(Mp3FileWriter, LibraryThatLoadsButFailsNamesTheFailingCallAndKeepsTheTarget) {
    const struct {
        const char* call;
        const char* named; // in the line on standard error
    } cases[] = {
        {"lame_init", "lame_init returned no encoder in " VELUMO_FAILING_LAME},
        {"lame_init_params", "lame_init_params failed with -1 in " VELUMO_FAILING_LAME},
        {"lame_encode_buffer", "lame_encode_buffer failed with -3 in " VELUMO_FAILING_LAME},
        {"lame_encode_flush", "lame_encode_flush failed with -1 in " VELUMO_FAILING_LAME},
    };
    LibraryNameOverride failing(VELUMO_FAILING_LAME);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        TempDir dir;
        MessageRecorder messages(MessageAnswer::Yes);
        ::setenv("VELUMO_FAILING_LAME_CALL", c.call, 1);
        writeFileBytes(dir.file("x.mp3"), {'I', 'D', '3'});
        ScriptedStream source(pcmFormat(1, 22050, 16), toBytes(sineSamples(22050, 1, 22050)), 4410);
        Mp3FileWriter writer;
        writer.SetSource(&source);
        writer.SetFileName(dir.file("x.mp3"));
        testing::internal::CaptureStderr();
        EXPECT_FALSE(writer.Run());
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(dir.file("x.mp3") + ": the MP3 encoder failed: " + c.named),
                  std::string::npos)
            << err;
        EXPECT_EQ(readFileBytes(dir.file("x.mp3")), (std::vector<uint8_t>{'I', 'D', '3'}));
    }
    ::unsetenv("VELUMO_FAILING_LAME_CALL");
}
