// Compressed and unusual WAVE files, read through WaveStream and converted by
// ConversionStream, against what the ffmpeg tool decodes from the same files.

#include "FfmpegTools.h"
#include "engine/ConversionStream.h"
#include "engine/WaveStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <tuple>

using namespace testing_support;
namespace ff = ffmpeg_tools;

namespace {

struct WaveCase {
    const char* name;
    const char* args; // codec and layout options for ffmpeg
    uint16_t tag;     // the format tag the file must carry
    uint16_t channels;
    uint32_t rate;
};

const WaveCase kCases[] = {
    {"ms-adpcm", "-c:a adpcm_ms", 0x0002, 2, 44100},
    {"ima-adpcm", "-c:a adpcm_ima_wav", 0x0011, 2, 44100},
    {"alaw", "-ar 22050 -c:a pcm_alaw", 0x0006, 2, 22050},
    {"mulaw", "-ac 1 -ar 8000 -c:a pcm_mulaw", 0x0007, 1, 8000},
    {"gsm", "-ac 1 -ar 8000 -c:a gsm_ms", 0x0031, 1, 8000},
    {"float", "-c:a pcm_f32le", 0x0003, 2, 44100},
    {"u8", "-c:a pcm_u8", 0x0001, 2, 44100},
    {"mp3", "-c:a libmp3lame -b:a 128k", 0x0055, 2, 44100},
    {"s24-extensible", "-c:a pcm_s24le", 0xFFFE, 2, 44100},
    {"s64-extensible", "-c:a pcm_s64le", 0xFFFE, 2, 44100},
    {"six-channel-extensible",
     "-af \"pan=5.1|c0=c0|c1=c1|c2=0.5*c0|c3=0.2*c1|c4=0.7*c0|c5=0.3*c1\" -c:a pcm_s16le", 0xFFFE,
     6, 44100},
};

class DecodeAgreement : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!ff::available()) {
            return;
        }
        dir = std::make_unique<TempDir>();
        for (const WaveCase& c : kCases) {
            std::string path = dir->file(std::string(c.name) + ".wav");
            if (ff::make(path, ff::stereoSource(44100, 3.3), std::string(c.args) + " -f wav")) {
                // ffmpeg always writes float as WAVE_FORMAT_EXTENSIBLE; the
                // plain float tag is what other programs write.
                std::vector<uint8_t> bytes = readFileBytes(path);
                if (c.tag == 0x0003 && bytes.size() > 22 && bytes[20] == 0xFE &&
                    bytes[21] == 0xFF) {
                    bytes[20] = 0x03;
                    bytes[21] = 0x00;
                    writeFileBytes(path, bytes);
                }
                made.push_back(c.name);
            }
        }
    }
    static void TearDownTestSuite() {
        made.clear();
        references.clear();
        dir.reset();
    }
    void SetUp() override {
        if (!ff::available()) {
            GTEST_SKIP() << "the ffmpeg tool is not installed";
        }
        ASSERT_EQ(made.size(), std::size(kCases)) << "ffmpeg could not make the reference files";
    }
    static std::string path(const WaveCase& c) { return dir->file(std::string(c.name) + ".wav"); }
    // What ffmpeg decodes from the case's file, decoded once.
    static const std::vector<int16_t>& reference(const WaveCase& c) {
        std::vector<int16_t>& cached = references[c.name];
        if (cached.empty()) {
            cached = ff::decode(path(c));
        }
        return cached;
    }

    static std::unique_ptr<TempDir> dir;
    static std::vector<std::string> made;
    static std::map<std::string, std::vector<int16_t>> references;
};

std::unique_ptr<TempDir> DecodeAgreement::dir;
std::vector<std::string> DecodeAgreement::made;
std::map<std::string, std::vector<int16_t>> DecodeAgreement::references;

} // namespace

TEST_F(DecodeAgreement, CompressedWaveDecodesExactlyAsTheFfmpegTool) {
    for (const WaveCase& c : kCases) {
        SCOPED_TRACE(c.name);
        WaveStream wave;
        ASSERT_TRUE(wave.LoadWave(path(c).c_str()));
        ASSERT_EQ(+wave.GetFormat()->wFormatTag, c.tag);
        ConversionStream conversion;
        conversion.SetSource(&wave);
        ASSERT_NE(conversion.converter, nullptr);
        EXPECT_TRUE(sameFormat(*conversion.GetFormat(), pcmFormat(c.channels, c.rate, 16)));

        const std::vector<int16_t>& expected = reference(c);
        ASSERT_FALSE(expected.empty());
        size_t buffers = 0;
        std::vector<int16_t> got = ff::readSamples(conversion, &buffers);
        EXPECT_GE(buffers, 20u) << "one source buffer per request";
        ASSERT_EQ(got.size(), expected.size());
        EXPECT_TRUE(got == expected);
    }
}

TEST_F(DecodeAgreement, SourceBuffersTooSmallForAFrameDoNotEndTheItem) {
    // MPEG layer 3 records written by other programs have a block alignment
    // of 1, so 64-byte source buffers are possible. Most of them complete no
    // frame and convert to nothing; that must not read as the end.
    const WaveCase& c = kCases[7];
    ASSERT_EQ(c.tag, 0x0055);
    std::vector<uint8_t> bytes = readFileBytes(path(c));
    ASSERT_EQ(bytes[20] | bytes[21] << 8, 0x0055);
    bytes[32] = 1;
    bytes[33] = 0;
    std::string byteAligned = dir->file("mp3-align1.wav");
    writeFileBytes(byteAligned, bytes);

    WaveStream wave;
    ASSERT_TRUE(wave.LoadWave(byteAligned.c_str()));
    wave.requestSize = 64;
    ConversionStream conversion;
    conversion.SetSource(&wave);
    std::vector<int16_t> got = ff::readSamples(conversion);
    EXPECT_TRUE(got == reference(c));
}

TEST_F(DecodeAgreement, CompressedWaveResampledToMonoAgreesWithinTolerance) {
    // ffmpeg's default mono down-mix of stereo is also the average of the two
    // channels, and both resample with the same filter; the remaining
    // differences are rounding, far below this bound (-60 dB of full scale).
    const double tolerance = 0.001;
    WaveFormat mono = pcmFormat(1, 22050, 16);
    for (const WaveCase& c : kCases) {
        if (c.channels > 2) {
            continue; // ffmpeg weights surround channels; Velumo averages them
        }
        SCOPED_TRACE(c.name);
        WaveStream wave;
        ASSERT_TRUE(wave.LoadWave(path(c).c_str()));
        ConversionStream conversion;
        conversion.SetSource(&wave);
        bool changed = conversion.SetOutputFormat(&mono);
        EXPECT_EQ(changed, !(c.channels == 1 && c.rate == 22050));
        ASSERT_NE(conversion.converter, nullptr);

        std::vector<int16_t> reference = ff::decode(path(c), "-ac 1 -ar 22050");
        std::vector<int16_t> got = ff::readSamples(conversion);
        EXPECT_LE(std::abs(static_cast<long>(got.size()) - static_cast<long>(reference.size())),
                  2L);
        EXPECT_LT(ff::rmsDifference(got, reference), tolerance);
    }
}

TEST_F(DecodeAgreement, SixChannelsDownMixToTheirAverage) {
    const WaveCase& c = kCases[std::size(kCases) - 1];
    WaveStream wave;
    ASSERT_TRUE(wave.LoadWave(path(c).c_str()));
    ConversionStream conversion;
    conversion.SetSource(&wave);
    WaveFormat mono = pcmFormat(1, 44100, 16);
    ASSERT_TRUE(conversion.SetOutputFormat(&mono));
    std::vector<int16_t> got = ff::readSamples(conversion);
    const std::vector<int16_t>& six = reference(c);
    ASSERT_EQ(got.size() * 6, six.size());
    int worst = 0;
    for (size_t i = 0; i < got.size(); ++i) {
        int sum = 0;
        for (int ch = 0; ch < 6; ++ch) {
            sum += six[i * 6 + ch];
        }
        worst = std::max(worst, std::abs(got[i] - sum / 6));
    }
    EXPECT_LE(worst, 2);
}

TEST_F(DecodeAgreement, TenthOfASecondOfCdAudioGivesAbout4410BytesAt22050Mono) {
    std::string cd = dir->file("cd.wav");
    ASSERT_TRUE(ff::make(cd, ff::stereoSource(44100, 1.0), "-c:a pcm_s16le -f wav"));
    WaveStream wave;
    ASSERT_TRUE(wave.LoadWave(cd.c_str()));
    ASSERT_EQ(wave.requestSize, 17640u);
    ConversionStream conversion;
    conversion.SetSource(&wave);
    WaveFormat mono = pcmFormat(1, 22050, 16);
    ASSERT_TRUE(conversion.SetOutputFormat(&mono));
    conversion.GetBuffer();
    AudioBuffer steady = conversion.GetBuffer();
    EXPECT_NEAR(static_cast<double>(steady.length()), 4410.0, 4.0);
}

TEST_F(DecodeAgreement, DamagedCompressedWaveEndsCleanly) {
    for (const WaveCase& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = readFileBytes(path(c));
        const std::vector<int16_t>& whole = reference(c);

        // Cut in the middle of a block.
        std::string cut = dir->file(std::string("cut-") + c.name + ".wav");
        writeFileBytes(cut, std::vector<uint8_t>(
                                bytes.begin(),
                                bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2 + 7)));
        WaveStream a;
        ASSERT_TRUE(a.LoadWave(cut.c_str()));
        ConversionStream ca;
        ca.SetSource(&a);
        std::vector<int16_t> got = ff::readSamples(ca);
        EXPECT_GT(got.size(), whole.size() / 3);
        EXPECT_LT(got.size(), whole.size() * 2 / 3);

        // The same header over noise: no crash, no runaway output.
        std::vector<uint8_t> noisy = bytes;
        uint32_t x = 7;
        for (size_t i = 200; i < noisy.size(); ++i) {
            x = x * 1103515245u + 12345u;
            noisy[i] = static_cast<uint8_t>(x >> 24);
        }
        std::string bad = dir->file(std::string("noise-") + c.name + ".wav");
        writeFileBytes(bad, noisy);
        WaveStream b;
        if (b.LoadWave(bad.c_str())) {
            ConversionStream cb;
            cb.SetSource(&b);
            WaveFormat mono = pcmFormat(1, 11025, 16);
            cb.SetOutputFormat(&mono);
            std::vector<int16_t> noise = ff::readSamples(cb);
            EXPECT_LE(noise.size(), whole.size() / c.channels * 11025 / c.rate + 11025);
        }
    }
}

TEST_F(DecodeAgreement, HandBuiltLayoutsDecodeExactlyAsAnotherReader) {
    // Layouts ffmpeg reads but does not write: samples narrower than their
    // container, and the big-endian form. ffmpeg reads the samples of that
    // form in little-endian order, so sox is the reference there: it decodes
    // to 32 bits, of which the top 16 are what Velumo keeps.
    ASSERT_TRUE(ff::run("sox --version")) << "sox is one of the test packages";
    const std::tuple<const char*, PcmLayout, bool> cases[] = {
        {"12 in 16", {2, 12, 2}, false},
        {"20 in 24", {2, 20, 3}, false},
        {"RIFX 16", {2, 16, 2, false, true}, true},
        {"RIFX 24", {1, 24, 3, false, true}, true},
    };
    const std::string file = dir->file("built.wav");
    const std::string raw = dir->file("built.raw");
    for (const auto& [name, layout, bySox] : cases) {
        SCOPED_TRACE(name);
        std::vector<int64_t> samples;
        for (uint32_t i = 0; i < 8000u * layout.channels; ++i) {
            const double tone = 0.6 * std::sin(i * 0.07 + (i % layout.channels));
            samples.push_back(static_cast<int64_t>(std::ldexp(tone, layout.bits - 1)) + i % 7);
        }
        writeFileBytes(file, pcmWaveFile(layout, samples));
        std::vector<int16_t> expected;
        if (!bySox) {
            expected = ff::decode(file);
        } else {
            std::string sox = "sox -D \"" + file + "\" -t raw -e signed -b 32 -L \"";
            ASSERT_TRUE(ff::run(sox += raw + "\""));
            const std::vector<uint8_t> wide = readFileBytes(raw);
            for (size_t at = 0; at + 4 <= wide.size(); at += 4) {
                expected.push_back(static_cast<int16_t>(wide[at + 2] | wide[at + 3] << 8));
            }
        }
        ASSERT_EQ(expected.size(), samples.size());
        WaveStream wave;
        ASSERT_TRUE(wave.LoadWave(file.c_str()));
        ConversionStream conversion;
        conversion.SetSource(&wave);
        EXPECT_TRUE(ff::readSamples(conversion) == expected);
    }
}

TEST(DecodeAgreementTest, FormatsWithoutChannelsOrBlocksYieldNoAudio) {
    TempDir dir;
    MessageRecorder messages;
    WaveFormat noChannels = pcmFormat(2, 44100, 16);
    noChannels.nChannels = 0;
    WaveFormat noBlocks = pcmFormat(2, 44100, 16);
    noBlocks.nBlockAlign = 0;
    WaveFormat adpcmNoBlocks = pcmFormat(1, 8000, 4);
    adpcmNoBlocks.wFormatTag = 2;
    adpcmNoBlocks.nBlockAlign = 0;
    adpcmNoBlocks.nAvgBytesPerSec = 4000;
    for (const WaveFormat& format : {noChannels, noBlocks, adpcmNoBlocks}) {
        std::string file = dir.file("bad.wav");
        writeFileBytes(file, waveFile(format, std::vector<uint8_t>(8000, 0x33)));
        WaveStream wave;
        bool loaded = wave.LoadWave(file.c_str());
        ConversionStream conversion;
        conversion.SetSource(&wave);
        if (loaded) {
            EXPECT_EQ(conversion.converter, nullptr);
        }
        EXPECT_TRUE(conversion.GetBuffer().isEmpty());
    }
    EXPECT_TRUE(messages.texts().empty());
}
