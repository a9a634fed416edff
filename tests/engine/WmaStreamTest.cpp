#include "engine/WmaStream.h"
#include "FfmpegTools.h"
#include "engine/ConversionStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>

using namespace testing_support;
namespace ff = ffmpeg_tools;

namespace {

struct Media {
    std::string name;
    std::string path;
    bool exactSeek; // timestamps good to the sample (MP3), or to the millisecond (WMA)
    mutable std::vector<int16_t> reference; // what ffmpeg decodes from it, once asked
    uint16_t channels;
    uint32_t rate;

    // Decoded when first asked: not every test needs it.
    const std::vector<int16_t>& decoded() const {
        if (reference.empty()) {
            reference = ff::decode(path);
        }
        return reference;
    }
};

// Files shared by the tests of this suite, made once: every kind the media
// reader opens, by the ffmpeg tool and by the codecs' own encoders.
class WmaStreamFiles : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!ff::available()) {
            return;
        }
        dir = std::make_unique<TempDir>();
        const std::string stereo = ff::stereoSource(44100, 6.5);
        const std::string source = dir->file("source.wav");
        if (!ff::make(source, stereo, "-c:a pcm_s16le")) {
            return;
        }
        const struct {
            const char* name;
            std::string source;
            const char* args;
            bool exactSeek;
            uint16_t channels;
            uint32_t rate;
        } recipes[] = {
            {"cbr.mp3", stereo, "-c:a libmp3lame -b:a 128k", true, 2, 44100},
            {"vbr.mp3", stereo, "-c:a libmp3lame -q:a 4", true, 2, 44100},
            {"mono22.mp3", ff::stereoSource(22050, 6.5), "-ac 1 -c:a libmp3lame -b:a 32k", true, 1,
             22050},
            {"v1.wma", stereo, "-c:a wmav1 -b:a 128k", false, 2, 44100},
            {"v2.wma", stereo, "-c:a wmav2 -b:a 128k", false, 2, 44100},
            {"tone.flac", stereo, "-c:a flac", true, 2, 44100},
            {"tone.ogg", stereo, "-c:a libvorbis -q:a 4", false, 2, 44100},
            {"mono.oga", ff::stereoSource(22050, 6.5), "-ac 1 -c:a libvorbis -f ogg", false, 1,
             22050},
            {"tone.opus", stereo, "-c:a libopus -b:a 96k", false, 2, 48000},
            {"aac.m4a", stereo, "-c:a aac -b:a 128k", false, 2, 44100},
            {"alac.m4a", stereo, "-c:a alac", true, 2, 44100},
        };
        for (const auto& recipe : recipes) {
            std::string path = dir->file(recipe.name);
            if (ff::make(path, recipe.source, recipe.args)) {
                media.push_back(
                    {recipe.name, path, recipe.exactSeek, {}, recipe.channels, recipe.rate});
            }
        }
        // The same tone through the reference encoders of FLAC, Vorbis and
        // Opus, whose files other programs meet most.
        const struct {
            const char* name;
            std::string command;
            bool exactSeek;
            uint32_t rate;
        } tools[] = {
            {"tool.flac",
             "flac --silent -f -o \"" + dir->file("tool.flac") + "\" \"" + source + "\"", true,
             44100},
            {"tool.ogg", "oggenc --quiet -o \"" + dir->file("tool.ogg") + "\" \"" + source + "\"",
             false, 44100},
            {"tool.opus", "opusenc --quiet \"" + source + "\" \"" + dir->file("tool.opus") + "\"",
             false, 48000},
        };
        for (const auto& tool : tools) {
            std::string path = dir->file(tool.name);
            if (ff::run(tool.command)) {
                media.push_back({tool.name, path, tool.exactSeek, {}, 2, tool.rate});
            }
        }
    }
    static void TearDownTestSuite() {
        media.clear();
        dir.reset();
    }
    void SetUp() override {
        if (!ff::available()) {
            GTEST_SKIP() << "the ffmpeg tool is not installed";
        }
        ASSERT_EQ(media.size(), 14u) << "ffmpeg, flac, oggenc or opusenc could not make the files";
    }

    static std::unique_ptr<TempDir> dir;
    static std::vector<Media> media;
};

std::unique_ptr<TempDir> WmaStreamFiles::dir;
std::vector<Media> WmaStreamFiles::media;

// AAC fills some bands with noise from a generator that a seek does not
// reset: after one the noise differs, a few steps below the tone.
bool synthesisedNoise(const Media& m) {
    return m.name == "aac.m4a";
}

std::string captureOpen(WmaStream& stream, const char* path, int32_t* result) {
    testing::internal::CaptureStdout();
    *result = stream.Open(path);
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// The offset (in frames, within +-range) at which got best matches the
// reference at position, and the largest sample difference there.
std::pair<int, int> bestAlignment(const std::vector<int16_t>& reference, size_t position,
                                  const std::vector<int16_t>& got, int channels, int range) {
    int bestOffset = 0;
    int bestError = 1 << 30;
    for (int offset = -range; offset <= range; ++offset) {
        int64_t start = static_cast<int64_t>(position) + static_cast<int64_t>(offset) * channels;
        if (start < 0) {
            continue;
        }
        int worst = 0;
        for (size_t i = 0; i < got.size() &&
                           start + static_cast<int64_t>(i) < static_cast<int64_t>(reference.size());
             ++i) {
            worst = std::max(worst, std::abs(got[i] - reference[static_cast<size_t>(start) + i]));
        }
        if (worst < bestError) {
            bestError = worst;
            bestOffset = offset;
        }
    }
    return {bestOffset, bestError};
}

} // namespace

TEST_F(WmaStreamFiles, DecodedPcmMatchesTheFfmpegToolSampleForSample) {
    for (const Media& m : media) {
        SCOPED_TRACE(m.name);
        WmaStream stream;
        ASSERT_GE(stream.Open(m.path.c_str()), 0);
        const WaveFormat* format = stream.GetFormat();
        EXPECT_EQ(+format->wFormatTag, 1);
        EXPECT_EQ(+format->wBitsPerSample, 16);
        EXPECT_EQ(+format->nChannels, m.channels);
        EXPECT_EQ(uint32_t{format->nSamplesPerSec}, m.rate);
        EXPECT_EQ(stream.requestSize, tenthOfSecondBytes(*format));

        const std::vector<int16_t>& reference = m.decoded();
        ASSERT_FALSE(reference.empty());
        std::vector<int16_t> got = ff::readSamples(stream);
        ASSERT_EQ(got.size(), reference.size());
        EXPECT_TRUE(got == reference);
    }
}

TEST_F(WmaStreamFiles, DurationIsWholeSecondsWithinASecondOfFfprobe) {
    for (const Media& m : media) {
        SCOPED_TRACE(m.name);
        WmaStream stream;
        ASSERT_GE(stream.Open(m.path.c_str()), 0);
        double probed = ff::probeDuration(m.path);
        ASSERT_GT(probed, 0.0);
        EXPECT_NEAR(stream.GetDuration(), probed, 1.0);
        EXPECT_EQ(stream.GetDuration(), std::floor(stream.GetDuration()));
        EXPECT_NEAR(static_cast<double>(stream.duration) / 1e7, probed, 0.05);
    }
}

TEST_F(WmaStreamFiles, SeekStartsAtTheRequestedSecondAndRewindAtTheFirstSample) {
    for (const Media& m : media) {
        SCOPED_TRACE(m.name);
        WmaStream stream;
        ASSERT_GE(stream.Open(m.path.c_str()), 0);
        int channels = stream.GetFormat()->nChannels;
        size_t rate = stream.GetFormat()->nSamplesPerSec;
        const std::vector<int16_t>& reference = m.decoded();

        for (uint32_t second : {3u, 1u, 5u}) {
            SCOPED_TRACE(second);
            stream.Seek(second);
            EXPECT_EQ(stream.GetPosition(), second);
            std::vector<int16_t> got;
            while (got.size() < rate * channels / 5) {
                AudioBuffer b = stream.GetBuffer();
                ASSERT_FALSE(b.isEmpty());
                const int16_t* s = reinterpret_cast<const int16_t*>(b.data());
                got.insert(got.end(), s, s + b.length() / 2);
            }
            auto [offset, error] =
                bestAlignment(reference, second * rate * channels, got, channels, 200);
            if (m.exactSeek) {
                EXPECT_EQ(offset, 0);
            } else {
                // WMA timestamps are rounded to the millisecond.
                EXPECT_LE(std::abs(offset), static_cast<int>(rate / 1000) + 1);
            }
            EXPECT_LE(error, synthesisedNoise(m) ? 16 : 0);
        }

        stream.Rewind();
        EXPECT_EQ(stream.GetPosition(), 0.0);
        std::vector<int16_t> again = ff::readSamples(stream);
        if (synthesisedNoise(m)) {
            ASSERT_EQ(again.size(), reference.size());
            EXPECT_LT(ff::rmsDifference(again, reference), 0.001);
        } else {
            EXPECT_TRUE(again == reference) << "rewinding replays the file from its first sample";
        }
    }
}

TEST_F(WmaStreamFiles, PositionCountsWholeSecondsOfSamplesHandedOut) {
    WmaStream stream;
    ASSERT_GE(stream.Open(media[0].path.c_str()), 0);
    const WaveFormat* format = stream.GetFormat();
    uint64_t bytes = 0;
    while (bytes < static_cast<uint64_t>(format->nAvgBytesPerSec) * 29 / 10) {
        AudioBuffer b = stream.GetBuffer();
        ASSERT_FALSE(b.isEmpty());
        bytes += b.length();
    }
    EXPECT_NEAR(static_cast<double>(stream.time) / 1e7,
                static_cast<double>(bytes) / format->nAvgBytesPerSec, 1e-3);
    EXPECT_EQ(stream.GetPosition(), 2.0) << "2.9 s of audio reads as 2";

    stream.SkipForward(2);
    EXPECT_EQ(stream.GetPosition(), 2.0);
    stream.SkipBack(2);
    EXPECT_EQ(stream.GetPosition(), 2.0);

    stream.Seek(300);
    EXPECT_EQ(stream.time, 3000000000ull) << "the seek position is a 64-bit product";
    EXPECT_EQ(stream.GetPosition(), 300.0);
    EXPECT_TRUE(stream.GetBuffer().isEmpty()) << "past the end there is nothing to read";
    stream.Seek(1);
    EXPECT_FALSE(stream.GetBuffer().isEmpty());
}

TEST(WmaStreamTest, UrlsWithASchemeAreRefusedAsStreams) {
    for (const char* path : {"http://example.com/a.mp3", "HTTP://example.com/a.wma",
                             "hTtPs://x/y.mp3", "rtsp://host/a.wma", "svn+ssh://h/a.mp3"}) {
        SCOPED_TRACE(path);
        WmaStream stream;
        int32_t result = 0;
        std::string out = captureOpen(stream, path, &result);
        EXPECT_EQ(result, static_cast<int32_t>(0x80070057));
        EXPECT_EQ(out, "Wrong input file - streams are not supported : (hr=0x00000000).\n");
        EXPECT_EQ(stream.reader, nullptr);
    }
    WmaStream stream;
    EXPECT_EQ(stream.Open(nullptr), static_cast<int32_t>(0x80070057));
    EXPECT_EQ(stream.Open(""), static_cast<int32_t>(0x80070057));

    // Local names that only begin like a URL are files, opened as such.
    for (const char* path : {"httpfile.mp3", "http_x.mp3", "/tmp/http://x.mp3"}) {
        SCOPED_TRACE(path);
        WmaStream file;
        int32_t result = 0;
        const std::string out = captureOpen(file, path, &result);
        EXPECT_EQ(out.find("streams are not supported"), std::string::npos);
        EXPECT_NE(out.find("Could not open file"), std::string::npos);
    }
}

TEST(WmaStreamTest, UnreadableFilesFailWithANegativeResult) {
    TempDir dir;
    std::vector<uint8_t> noise(20000);
    uint32_t x = 12345;
    for (auto& b : noise) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 24);
    }
    writeFileBytes(dir.file("empty.mp3"), {});
    writeFileBytes(dir.file("noise.wma"), noise);
    writeFileBytes(dir.file("wave.mp3"),
                   waveFile(pcmFormat(1, 8000, 16), std::vector<uint8_t>(16000, 0)));
    struct Case {
        std::string path;
        const char* output;
    };
    const Case cases[] = {
        {dir.file("missing.mp3"), "Could not open file (hr=0x80070002).\n"},
        {dir.file("empty.mp3"), nullptr},
        {dir.file("noise.wma"), nullptr},
        {dir.file("wave.mp3"), nullptr}, // only MP3 and ASF are read, whatever the name
        {dir.path().string(), nullptr},  // a directory
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        WmaStream stream;
        int32_t result = 0;
        std::string out = captureOpen(stream, c.path.c_str(), &result);
        EXPECT_LT(result, 0);
        EXPECT_EQ(out.rfind("Could not open file (hr=0x", 0), 0u) << out;
        if (c.output) {
            EXPECT_EQ(out, c.output);
        }
        EXPECT_EQ(stream.reader, nullptr);
        EXPECT_TRUE(stream.GetBuffer().isEmpty());
        EXPECT_EQ(stream.GetDuration(), 0.0);
    }
}

TEST(WmaStreamTest, FilesWithoutAudioFramesFailWithinTheOpenBudget) {
    TempDir dir;
    // A gibibyte of zeros, sparse: probing used to read all of it and keep
    // it in one growing buffer.
    std::string zeros = dir.file("zeros.mp3");
    writeFileBytes(zeros, {});
    if (truncate(zeros.c_str(), off_t(1) << 30) != 0) {
        GTEST_SKIP() << "cannot make a sparse file here";
    }
    writeFileBytes(dir.file("noise.mp3"), noiseBytes(24 << 20, 7));
    writeFileBytes(dir.file("noise.wma"), noiseBytes(4 << 20, 8));
    for (const char* name : {"zeros.mp3", "noise.mp3", "noise.wma"}) {
        SCOPED_TRACE(name);
        WmaStream stream;
        int32_t result = 0;
        auto start = std::chrono::steady_clock::now();
        std::string out = captureOpen(stream, dir.file(name).c_str(), &result);
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(result, 0);
        EXPECT_TRUE(out.rfind("Could not open file (hr=0x", 0) == 0 ||
                    out.find("File has not audio (hr=0x") != std::string::npos)
            << out;
        EXPECT_LT(seconds, 2.0);
        EXPECT_EQ(stream.reader, nullptr);
    }
}

TEST(WmaStreamTest, OnlyRegularFilesAreOpenedAndNothingElseBlocks) {
    TempDir dir;
    FifoWatch fifo(dir.file("fifo.mp3"));
    ASSERT_TRUE(fifo.made());
    std::filesystem::create_symlink(dir.file("fifo.mp3"), dir.file("fifo-link.wma"));
    std::filesystem::create_symlink("/dev/null", dir.file("null.mp3"));
    std::filesystem::create_directory(dir.file("folder.mp3"));
    for (const char* name : {"fifo.mp3", "fifo-link.wma", "null.mp3", "folder.mp3"}) {
        SCOPED_TRACE(name);
        WmaStream stream;
        int32_t result = 0;
        std::string out = captureOpen(stream, dir.file(name).c_str(), &result);
        EXPECT_EQ(result, kMediaNotAFile);
        EXPECT_EQ(out, "Could not open file (hr=0x800700de).\n");
    }
    EXPECT_FALSE(fifo.released()) << "opening the FIFO blocked";
}

TEST_F(WmaStreamFiles, StopFlagEndsOpeningAndReading) {
    std::atomic<bool> stop{true};
    WmaStream stopped;
    stopped.SetStopFlag(&stop);
    int32_t result = 0;
    std::string out = captureOpen(stopped, media[0].path.c_str(), &result);
    EXPECT_EQ(result, kMediaInterrupted);
    EXPECT_EQ(out, "Could not open file (hr=0x800704c7).\n");

    stop = false;
    WmaStream stream;
    stream.SetStopFlag(&stop);
    ASSERT_GE(stream.Open(media[0].path.c_str()), 0);
    EXPECT_FALSE(stream.GetBuffer().isEmpty());
    stop = true;
    EXPECT_TRUE(stream.GetBuffer().isEmpty()) << "the audio ends at the next read";
}

TEST_F(WmaStreamFiles, DamagedFilesDecodeWhatTheyCanWithoutCrashing) {
    for (const Media& m : media) {
        SCOPED_TRACE(m.name);
        std::vector<uint8_t> bytes = readFileBytes(m.path);
        const std::vector<int16_t>& whole = m.decoded();

        std::vector<uint8_t> truncated(
            bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2));
        std::string cut = dir->file("cut-" + m.name);
        writeFileBytes(cut, truncated);
        WmaStream a;
        if (a.Open(cut.c_str()) >= 0) {
            std::vector<int16_t> got = ff::readSamples(a);
            EXPECT_LT(got.size(), whole.size());
            a.Seek(5);
            ff::readSamples(a);
        }

        std::vector<uint8_t> corrupt = bytes;
        uint32_t x = 99;
        for (size_t i = corrupt.size() / 3; i < corrupt.size() / 3 + 3000 && i < corrupt.size();
             ++i) {
            x = x * 1103515245u + 12345u;
            corrupt[i] = static_cast<uint8_t>(x >> 24);
        }
        std::string bad = dir->file("bad-" + m.name);
        writeFileBytes(bad, corrupt);
        WmaStream b;
        if (b.Open(bad.c_str()) >= 0) {
            std::vector<int16_t> got = ff::readSamples(b);
            std::vector<int16_t> expected = ff::decode(bad);
            EXPECT_GT(got.size(), whole.size() / 4);
            if (m.name == "tool.flac") {
                // After damage in a file of the flac tool the reader and the
                // ffmpeg tool take up the stream at different frames; from
                // there on the intact frames come out whole.
                const size_t tail = std::min(got.size(), whole.size()) / 4;
                EXPECT_TRUE(std::equal(got.end() - static_cast<std::ptrdiff_t>(tail), got.end(),
                                       whole.end() - static_cast<std::ptrdiff_t>(tail)));
            } else {
                EXPECT_TRUE(got == expected) << "damaged frames are skipped as ffmpeg skips them";
            }
        }
    }
}

TEST_F(WmaStreamFiles, FileWithoutAudioReportsItAndFails) {
    std::string path = dir->file("video.wma");
    ASSERT_TRUE(
        ff::make(path, "-f lavfi -i testsrc=size=64x48:rate=5:duration=1", "-c:v wmv1 -f asf"));
    WmaStream stream;
    int32_t result = 0;
    std::string out = captureOpen(stream, path.c_str(), &result);
    EXPECT_EQ(result, static_cast<int32_t>(0x8000FFFF));
    EXPECT_EQ(out, "Could not find an audio stream in the specified file (hr=0X8000FFFF)"
                   "File has not audio (hr=0x8000ffff).\n");
    EXPECT_EQ(stream.reader, nullptr);
}

TEST_F(WmaStreamFiles, ConvertedToTheMixerFormatAgreesWithFfmpegResampling) {
    // Same down-mix (the channel average) and the same resampler defaults as
    // the tool; what remains is rounding, far below -60 dB.
    WaveFormat mono = pcmFormat(1, 22050, 16);
    for (const Media& m : media) {
        SCOPED_TRACE(m.name);
        WmaStream stream;
        ASSERT_GE(stream.Open(m.path.c_str()), 0);
        ConversionStream conversion;
        conversion.SetSource(&stream);
        conversion.SetOutputFormat(&mono);
        std::vector<int16_t> got = ff::readSamples(conversion);
        std::vector<int16_t> expected = ff::decode(m.path, "-ac 1 -ar 22050");
        EXPECT_LE(std::abs(static_cast<long>(got.size()) - static_cast<long>(expected.size())), 2L);
        EXPECT_LT(ff::rmsDifference(got, expected), 0.001);
    }
}
