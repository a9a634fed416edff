#include "engine/WaveStream.h"

#include "engine/ConversionStream.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <tuple>
#include <unistd.h>

using namespace testing_support;

namespace {

std::vector<uint8_t> readAll(AudioStream& stream, size_t* buffers = nullptr) {
    std::vector<uint8_t> out;
    size_t count = 0;
    for (;;) {
        AudioBuffer b = stream.GetBuffer();
        if (b.isEmpty()) {
            break;
        }
        EXPECT_EQ(b.kind(), BufferKind::WaveOut);
        EXPECT_LE(b.length(), stream.requestSize);
        out.insert(out.end(), b.data(), b.data() + b.length());
        ++count;
        if (count > 100000) {
            ADD_FAILURE() << "the stream never ends";
            break;
        }
    }
    if (buffers) {
        *buffers = count;
    }
    return out;
}

// Samples that are easy to tell apart: a counter.
std::vector<uint8_t> ramp(size_t bytes) {
    std::vector<uint8_t> out(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        out[i] = uint8_t(i * 7 + 3);
    }
    return out;
}

std::vector<uint8_t> riff(const char* form, const std::vector<uint8_t>& chunks) {
    std::vector<uint8_t> file;
    putTag(file, "RIFF");
    putU32(file, uint32_t(chunks.size() + 4));
    putTag(file, form);
    file.insert(file.end(), chunks.begin(), chunks.end());
    return file;
}

class WaveStreamTest : public ::testing::Test {
  protected:
    std::string write(const std::vector<uint8_t>& bytes, const std::string& name = "x.wav") {
        std::string path = dir.file(name);
        writeFileBytes(path, bytes);
        return path;
    }
    TempDir dir;
    MessageRecorder messages;
};

TEST_F(WaveStreamTest, PlainFileReadsBackItsPcmInTenthsOfASecond) {
    WaveFormat f = pcmFormat(2, 44100, 16);
    std::vector<uint8_t> pcm = toBytes(sineSamples(44100, 2, 44100 / 4));
    WaveStream s;
    ASSERT_TRUE(s.LoadWave(write(waveFile(f, pcm)).c_str()));
    EXPECT_EQ(s.dataStart, 12 + 8 + 18 + 8);
    EXPECT_TRUE(sameFormat(*s.GetFormat(), f));
    size_t buffers = 0;
    EXPECT_EQ(readAll(s, &buffers), pcm);
    EXPECT_EQ(buffers, 3u); // 17640 + 17640 + 8820
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(WaveStreamTest, RequestSizeIsATenthOfASecondInWholeBlocks) {
    struct Case {
        WaveFormat format;
        uint32_t expected;
    } cases[] = {
        {pcmFormat(1, 22050, 16), 4410},
        {pcmFormat(2, 44100, 16), 17640},
        {pcmFormat(1, 8000, 8), 800},
        {pcmFormat(2, 11025, 16), 4408}, // 4410 rounded down to blocks of 4
    };
    for (const Case& c : cases) {
        WaveStream s;
        ASSERT_TRUE(s.LoadWave(write(waveFile(c.format, ramp(100))).c_str()));
        EXPECT_EQ(s.requestSize, c.expected) << c.format.nSamplesPerSec;
    }
}

TEST_F(WaveStreamTest, PcmSizesComeFromBlockAlignmentAndRateNotTheByteRateField) {
    // Three seconds of 22050 Hz mono whose byte-rate field is wrong: reads,
    // positions and the duration all follow the rate and the block size.
    const std::vector<uint8_t> pcm = toBytes(sineSamples(22050, 1, 3 * 22050));
    for (const uint32_t field : {0u, 1u, 2u, 10u, 44100u * 7}) {
        SCOPED_TRACE(field);
        WaveFormat f = pcmFormat(1, 22050, 16);
        f.nAvgBytesPerSec = field;
        WaveStream s;
        ASSERT_TRUE(s.LoadWave(write(waveFile(f, pcm)).c_str()));
        EXPECT_EQ(s.requestSize, 4410u);
        EXPECT_DOUBLE_EQ(s.GetDuration(), 3.0);
        s.Seek(2);
        EXPECT_DOUBLE_EQ(s.GetPosition(), 2.0);
        s.Rewind();
        EXPECT_EQ(readAll(s), pcm);
    }
    // A compressed block larger than a tenth of a second is still read a
    // block at a time.
    WaveFormat big = pcmFormat(1, 8000, 16);
    big.wFormatTag = 0x11; // IMA ADPCM
    big.nBlockAlign = 4096;
    big.nAvgBytesPerSec = 4055;
    EXPECT_EQ(tenthOfSecondBytes(big), 4096u);
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(WaveStreamTest, ChunksAroundTheAudioAreSkippedOrPlayed) {
    WaveFormat f = pcmFormat(1, 8000, 8);
    std::vector<uint8_t> pcm = ramp(1001);

    // A LIST chunk between "fmt " and "data", and an odd-sized chunk with its
    // pad byte before "data".
    std::vector<uint8_t> chunks;
    putChunk(chunks, "fmt ", formatBytes(f));
    std::vector<uint8_t> list;
    putTag(list, "INFO");
    putChunk(list, "INAM", {'a', 'b', 'c'});
    putChunk(chunks, "LIST", list);
    putChunk(chunks, "junk", {1, 2, 3, 4, 5});
    size_t dataOffset = 12 + chunks.size() + 8;
    putChunk(chunks, "data", pcm);
    WaveStream s;
    ASSERT_TRUE(s.LoadWave(write(riff("WAVE", chunks), "list.wav").c_str()));
    EXPECT_EQ(size_t(s.dataStart), dataOffset);
    std::vector<uint8_t> played = readAll(s);
    // The data's own pad byte belongs to the rest of the file and plays too.
    std::vector<uint8_t> expected = pcm;
    expected.push_back(0);
    EXPECT_EQ(played, expected);

    // Trailing chunks after "data" are played and counted in the duration.
    std::vector<uint8_t> trailing = waveFile(f, pcm);
    putChunk(trailing, "cue ", ramp(24));
    WaveStream t;
    ASSERT_TRUE(t.LoadWave(write(trailing, "trailing.wav").c_str()));
    std::vector<uint8_t> tail = readAll(t);
    EXPECT_EQ(tail.size(), trailing.size() - size_t(t.dataStart));
    EXPECT_DOUBLE_EQ(t.GetDuration(), double(trailing.size() - size_t(t.dataStart)) / 8000.0);
}

TEST_F(WaveStreamTest, DataBeforeFormatRunsToTheEndOfTheFile) {
    WaveFormat f = pcmFormat(1, 22050, 16);
    std::vector<uint8_t> pcm = ramp(400);
    std::vector<uint8_t> chunks;
    putChunk(chunks, "data", pcm);
    putChunk(chunks, "fmt ", formatBytes(f));
    std::vector<uint8_t> file = riff("WAVE", chunks);
    WaveStream s;
    ASSERT_TRUE(s.LoadWave(write(file).c_str()));
    EXPECT_EQ(s.dataStart, 20);
    EXPECT_EQ(s.requestSize, 4410u);
    std::vector<uint8_t> expected(file.begin() + 20, file.end()); // "fmt " included
    EXPECT_EQ(readAll(s), expected);
}

TEST_F(WaveStreamTest, ShortFormatChunkKeepsExtraSizeZero) {
    WaveFormat f = pcmFormat(1, 8000, 16);
    WaveStream s;
    ASSERT_TRUE(s.LoadWave(write(waveFile(f, ramp(64), true)).c_str()));
    EXPECT_EQ(s.GetFormat()->cbSize, 0);
    EXPECT_TRUE(sameFormat(*s.GetFormat(), f));
    EXPECT_EQ(readAll(s), ramp(64));

    // An empty "fmt " chunk leaves the default format in place.
    std::vector<uint8_t> chunks;
    putChunk(chunks, "fmt ", {});
    putChunk(chunks, "data", ramp(8));
    WaveStream e;
    ASSERT_TRUE(e.LoadWave(write(riff("WAVE", chunks), "emptyfmt.wav").c_str()));
    EXPECT_TRUE(sameFormat(*e.GetFormat(), defaultWaveFormat()));
    EXPECT_EQ(e.requestSize, 17640u);
}

TEST_F(WaveStreamTest, FormatChunkLargerThanTheFormatBufferIsCut) {
    WaveFormat f{};
    f.wFormatTag = 0x11; // a compressed tag: passed on unchanged
    f.nChannels = 1;
    f.nSamplesPerSec = 8000;
    f.nAvgBytesPerSec = 4055;
    f.nBlockAlign = 256;
    f.wBitsPerSample = 4;
    std::vector<uint8_t> extra(1000, 0xAB);
    std::vector<uint8_t> chunks;
    putChunk(chunks, "fmt ", formatBytes(f, extra));
    putChunk(chunks, "data", ramp(512));
    WaveStream s;
    ASSERT_TRUE(s.LoadWave(write(riff("WAVE", chunks)).c_str()));
    const WaveFormat* got = s.GetFormat();
    EXPECT_EQ(got->wFormatTag, 0x11);
    EXPECT_LE(kWaveFormatBaseSize + got->cbSize, 256u);
    EXPECT_EQ(s.requestSize, 256u); // 405 rounded down to one block
    EXPECT_EQ(readAll(s), ramp(512));
}

TEST_F(WaveStreamTest, PositioningMovesInWholeSecondsFromTheFirstAudioByte) {
    WaveFormat f = pcmFormat(1, 8000, 16); // 16000 bytes per second
    std::vector<uint8_t> pcm = ramp(16000 * 5 + 100);
    WaveStream s;
    ASSERT_TRUE(s.LoadWave(write(waveFile(f, pcm)).c_str()));
    EXPECT_DOUBLE_EQ(s.GetPosition(), 0.0);
    EXPECT_DOUBLE_EQ(s.GetDuration(), (16000.0 * 5 + 100) / 16000.0);

    s.Seek(3);
    EXPECT_DOUBLE_EQ(s.GetPosition(), 3.0);
    AudioBuffer b = s.GetBuffer();
    ASSERT_FALSE(b.isEmpty());
    EXPECT_EQ(b.data()[0], pcm[48000]);

    s.Seek(3);
    s.SkipBack(10); // would land before the audio: stops at its first byte
    EXPECT_DOUBLE_EQ(s.GetPosition(), 0.0);
    b = s.GetBuffer();
    EXPECT_EQ(b.data()[0], pcm[0]);

    s.Seek(1);
    s.SkipForward(2);
    EXPECT_DOUBLE_EQ(s.GetPosition(), 3.0);

    s.Seek(0x80000000u); // negative as a signed number: ignored
    EXPECT_DOUBLE_EQ(s.GetPosition(), 3.0);

    s.SkipForward(100); // past the end: the next buffer is the end
    EXPECT_TRUE(s.GetBuffer().isEmpty());
    s.SkipForward(0xFFFFFFFFu); // must not wrap round to the start
    EXPECT_TRUE(s.GetBuffer().isEmpty());

    s.Rewind();
    EXPECT_EQ(readAll(s), pcm);
}

TEST_F(WaveStreamTest, BrokenFilesFailWithoutMessages) {
    WaveFormat f = pcmFormat(1, 8000, 16);
    std::vector<uint8_t> good = waveFile(f, ramp(100));

    std::vector<std::pair<std::string, std::vector<uint8_t>>> cases;
    cases.push_back({"empty", {}});
    std::vector<uint8_t> notRiff = good;
    std::memcpy(notRiff.data(), "RIFZ", 4);
    cases.push_back({"not RIFF", notRiff});
    std::vector<uint8_t> littleRifx = good;
    std::memcpy(littleRifx.data(), "RIFX", 4);
    cases.push_back({"RIFX with little-endian fields", littleRifx});
    std::vector<uint8_t> notWave = good;
    std::memcpy(notWave.data() + 8, "AVI ", 4);
    cases.push_back({"not WAVE", notWave});
    {
        std::vector<uint8_t> chunks;
        putChunk(chunks, "data", ramp(100));
        cases.push_back({"no fmt", riff("WAVE", chunks)});
    }
    {
        std::vector<uint8_t> chunks;
        putChunk(chunks, "fmt ", formatBytes(f));
        putChunk(chunks, "LIST", ramp(20));
        cases.push_back({"no data", riff("WAVE", chunks)});
    }
    cases.push_back({"truncated header", std::vector<uint8_t>(good.begin(), good.begin() + 10)});
    cases.push_back({"truncated fmt", std::vector<uint8_t>(good.begin(), good.begin() + 30)});
    {
        WaveFormat zero = f;
        zero.nBlockAlign = 0;
        cases.push_back({"zero block alignment", waveFile(zero, ramp(100))});
        // A compressed format states its byte rate only there.
        WaveFormat noRate = f;
        noRate.wFormatTag = 2;
        noRate.nAvgBytesPerSec = 0;
        cases.push_back({"zero byte rate", waveFile(noRate, ramp(100))});
    }
    {
        // A chunk claiming 4 GiB before "data": the search ends at the end
        // of the file instead of running off into nothing.
        std::vector<uint8_t> chunks;
        putChunk(chunks, "fmt ", formatBytes(f));
        putTag(chunks, "junk");
        putU32(chunks, 0xFFFFFFFFu);
        putChunk(chunks, "data", ramp(100));
        cases.push_back({"huge chunk", riff("WAVE", chunks)});
    }
    {
        std::vector<uint8_t> chunks;
        putTag(chunks, "fmt ");
        putU32(chunks, 0xFFFFFFF0u);
        std::vector<uint8_t> body = formatBytes(f);
        chunks.insert(chunks.end(), body.begin(), body.end());
        cases.push_back({"huge fmt", riff("WAVE", chunks)});
    }
    {
        // A LIST whose size is too small to hold its form type.
        std::vector<uint8_t> chunks;
        putChunk(chunks, "fmt ", formatBytes(f));
        putTag(chunks, "LIST");
        putU32(chunks, 2);
        putTag(chunks, "INFO");
        cases.push_back({"tiny LIST", riff("WAVE", chunks)});
    }

    for (const auto& [name, bytes] : cases) {
        WaveStream s;
        EXPECT_FALSE(s.LoadWave(write(bytes, "broken.wav").c_str())) << name;
        EXPECT_TRUE(s.GetBuffer().isEmpty()) << name;
        EXPECT_EQ(s.dataStart, 0) << name;
        s.Seek(1);
        s.SkipForward(1);
        s.SkipBack(1);
        s.Rewind();
        EXPECT_TRUE(s.GetBuffer().isEmpty()) << name;
    }
    WaveStream missing;
    EXPECT_FALSE(missing.LoadWave(dir.file("missing.wav").c_str()));
    EXPECT_FALSE(missing.LoadWave(nullptr));
    EXPECT_TRUE(missing.GetBuffer().isEmpty());
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(WaveStreamTest, FormatsNoConversionReadsAreRefusedAtLoad) {
    auto with = [](WaveFormat f, auto change) {
        change(f);
        return f;
    };
    const WaveFormat stereo = pcmFormat(2, 44100, 16);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> refused = {
        {"no channels", formatBytes(with(stereo, [](WaveFormat& f) { f.nChannels = 0; }))},
        {"255 channels", formatBytes(pcmFormat(255, 44100, 16))},
        {"rate 0", formatBytes(with(stereo, [](WaveFormat& f) { f.nSamplesPerSec = 0; }))},
        {"rate 4e9",
         formatBytes(with(stereo, [](WaveFormat& f) { f.nSamplesPerSec = 4000000000u; }))},
        {"7 bits", formatBytes(pcmFormat(2, 8000, 7))},
        {"33 bits", formatBytes(pcmFormat(1, 8000, 33))},
        {"unknown tag", formatBytes(with(stereo, [](WaveFormat& f) { f.wFormatTag = 0x1234; }))},
        {"block too small", formatBytes(with(stereo, [](WaveFormat& f) { f.nBlockAlign = 3; }))},
    };
    // Sample sizes and blocks that do not add up: bits, then block bytes.
    const std::pair<int, int> mismatched[] = {{0, 4}, {65, 18}, {65, 16}, {12, 3}, {20, 4}};
    for (const auto& [bits, block] : mismatched) {
        WaveFormat f = stereo;
        f.wBitsPerSample = uint16_t(bits);
        f.nBlockAlign = uint16_t(block);
        refused.push_back(
            {std::to_string(bits) + " bits in " + std::to_string(block), formatBytes(f)});
    }
    // WAVE_FORMAT_EXTENSIBLE PCM with the valid bits given.
    auto extensiblePcm = [&](uint16_t validBits) {
        std::vector<uint8_t> file = pcmWaveFile({2, validBits, 2, true}, {});
        return std::vector<uint8_t>(file.begin() + 20, file.begin() + 20 + 40);
    };
    refused.push_back({"more valid bits than the container", extensiblePcm(17)});
    // WAVE_FORMAT_EXTENSIBLE: 22 extra bytes (valid bits, channel mask, the
    // sub-format GUID), of which only 10 are present here.
    WaveFormat extensible = stereo;
    extensible.wFormatTag = 0xFFFE;
    extensible.cbSize = 10;
    refused.push_back({"short extension", formatBytes(extensible, std::vector<uint8_t>(10, 0))});
    for (const auto& [name, record] : refused) {
        std::vector<uint8_t> chunks;
        putChunk(chunks, "fmt ", record);
        putChunk(chunks, "data", ramp(4000));
        WaveStream s;
        EXPECT_FALSE(s.LoadWave(write(riff("WAVE", chunks), "odd.wav").c_str())) << name;
        EXPECT_TRUE(s.GetBuffer().isEmpty()) << name;
    }

    // What the conversion reads still loads.
    WaveFormat full = stereo;
    full.wFormatTag = 0xFFFE;
    full.cbSize = 22;
    std::vector<uint8_t> extra = {16, 0,    3, 0,    0, 0, 1,    0, 0,    0,    0,
                                  0,  0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    WaveFormat floats = pcmFormat(1, 48000, 32);
    floats.wFormatTag = 3;
    for (const auto& record :
         {formatBytes(full, extra), formatBytes(floats), formatBytes(pcmFormat(6, 96000, 24)),
          extensiblePcm(0), extensiblePcm(12)}) {
        std::vector<uint8_t> chunks;
        putChunk(chunks, "fmt ", record);
        putChunk(chunks, "data", ramp(4000));
        WaveStream s;
        EXPECT_TRUE(s.LoadWave(write(riff("WAVE", chunks), "fine.wav").c_str()));
        EXPECT_FALSE(s.GetBuffer().isEmpty());
    }
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(WaveStreamTest, EveryContainerDecodesToItsTopSixteenBitsAtEveryPosition) {
    // Samples narrower than their container sit at its top; wider ones keep
    // their top 16 bits. A ramp over the whole 16-bit range, with junk below
    // those bits that must not show.
    const std::pair<const char*, PcmLayout> cases[] = {
        // channels, bits, container bytes, extensible, big-endian ("RIFX")
        {"12 in 16", {1, 12, 2}},
        {"20 in 24", {2, 20, 3}},
        {"5 in 8", {1, 5, 1}},
        {"12 in 16 ext", {2, 12, 2, true}},
        {"20 in 24 ext", {1, 20, 3, true}},
        {"64", {2, 64, 8}},
        {"48 in 64 ext", {1, 48, 8, true}},
        {"RIFX 8", {1, 8, 1, false, true}},
        {"RIFX 16", {2, 16, 2, false, true}},
        {"RIFX 20 in 24", {2, 20, 3, false, true}},
        {"RIFX 32 ext", {1, 32, 4, true, true}},
        {"RIFX 64", {2, 64, 8, false, true}},
    };
    for (const auto& [name, layout] : cases) {
        SCOPED_TRACE(name);
        std::vector<int16_t> expected;
        std::vector<int64_t> stored;
        for (uint32_t i = 0; i < 10000u * layout.channels; ++i) { // 1.25 s at 8000 Hz
            auto top = static_cast<int16_t>(static_cast<uint16_t>(i * 4099u + 11u));
            const int below = layout.bits - 16;
            if (below < 0) {
                top = static_cast<int16_t>(top & ~((1 << -below) - 1));
                stored.push_back(top >> -below);
            } else {
                const uint64_t junk = below == 0 ? 0 : (i * 0x9E3779B97F4A7C15ull) >> (64 - below);
                stored.push_back(int64_t(uint64_t(int64_t{top}) << below | junk));
            }
            expected.push_back(top);
        }
        WaveStream wave;
        ASSERT_TRUE(wave.LoadWave(write(pcmWaveFile(layout, stored)).c_str()));
        EXPECT_DOUBLE_EQ(wave.GetDuration(), 1.25);
        ConversionStream conversion;
        conversion.SetSource(&wave);
        ASSERT_NE(conversion.converter, nullptr);
        EXPECT_TRUE(sameFormat(*conversion.GetFormat(), pcmFormat(layout.channels, 8000, 16)));
        EXPECT_EQ(readAll(conversion), toBytes(expected));
        conversion.Seek(1);
        expected.erase(expected.begin(), expected.begin() + 8000 * layout.channels);
        EXPECT_EQ(readAll(conversion), toBytes(expected));
    }
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(WaveStreamTest, BigEndianFilesOnlyLoadWithWholeByteSamples) {
    const std::vector<uint8_t> good = pcmWaveFile({1, 16, 2, false, true}, {1, 2, 3});
    WaveStream s;
    EXPECT_TRUE(s.LoadWave(write(good).c_str()));
    // Big-endian fields patched in: at that offset, these bytes.
    const std::tuple<const char*, size_t, std::vector<uint8_t>> refused[] = {
        {"IMA ADPCM", 20, {0x00, 0x11}},
        {"A-law", 20, {0x00, 0x06}},
        {"12 bits packed in one byte", 32, {0x00, 0x01, 0x00, 0x0C}},
        {"huge fmt", 16, {0xFF, 0xFF, 0xFF, 0xF0}},
    };
    for (const auto& [name, at, bytes] : refused) {
        std::vector<uint8_t> file = good;
        std::copy(bytes.begin(), bytes.end(), file.begin() + std::ptrdiff_t(at));
        WaveStream r;
        EXPECT_FALSE(r.LoadWave(write(file, "refused.wav").c_str())) << name;
        EXPECT_TRUE(r.GetBuffer().isEmpty()) << name;
    }
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(WaveStreamTest, DurationStillAnswersAfterAFailedLoad) {
    WaveStream missing;
    EXPECT_FALSE(missing.LoadWave(dir.file("missing.wav").c_str()));
    EXPECT_DOUBLE_EQ(missing.GetDuration(), 0.0);

    // Not a RIFF file: the whole length over the default 176400 bytes/s.
    std::vector<uint8_t> text(352800, 'x');
    WaveStream notWave;
    EXPECT_FALSE(notWave.LoadWave(write(text, "text.wav").c_str()));
    EXPECT_DOUBLE_EQ(notWave.GetDuration(), 2.0);

    // "fmt " read, "data" missing: the byte rate of the format read so far.
    std::vector<uint8_t> chunks;
    putChunk(chunks, "fmt ", formatBytes(pcmFormat(1, 8000, 8)));
    putChunk(chunks, "LIST", std::vector<uint8_t>(7954, 0));
    std::vector<uint8_t> file = riff("WAVE", chunks);
    ASSERT_EQ(file.size(), 8000u);
    WaveStream noData;
    EXPECT_FALSE(noData.LoadWave(write(file, "nodata.wav").c_str()));
    EXPECT_DOUBLE_EQ(noData.GetDuration(), 1.0);

    // A zero byte rate never divides.
    WaveFormat zero = pcmFormat(1, 8000, 8);
    zero.wFormatTag = 2;
    zero.nAvgBytesPerSec = 0;
    WaveStream zeroRate;
    EXPECT_FALSE(zeroRate.LoadWave(write(waveFile(zero, ramp(10)), "zero.wav").c_str()));
    EXPECT_DOUBLE_EQ(zeroRate.GetDuration(), 0.0);
    EXPECT_DOUBLE_EQ(zeroRate.GetPosition(), 0.0);
}

TEST_F(WaveStreamTest, HugeByteRateDoesNotAllocateMoreThanTheFileHolds) {
    WaveFormat f = pcmFormat(1, 8000, 8);
    f.nAvgBytesPerSec = 0xFFFFFFF0u;
    WaveStream s;
    ASSERT_TRUE(s.LoadWave(write(waveFile(f, ramp(300))).c_str()));
    EXPECT_EQ(s.requestSize, 800u); // PCM sizes come from the rate, not the field
    AudioBuffer b = s.GetBuffer();
    EXPECT_EQ(b.length(), 300u);
    EXPECT_TRUE(s.GetBuffer().isEmpty());
}

TEST_F(WaveStreamTest, FilesOverTwoGibibytesKeepTheirPositions) {
    // A sparse file: the header, then holes up to 3 GiB.
    WaveFormat f = pcmFormat(2, 44100, 16);
    std::vector<uint8_t> head = waveFile(f, ramp(16));
    std::string path = write(head, "big.wav");
    const int64_t length = int64_t(3) << 30;
    if (truncate(path.c_str(), off_t(length)) != 0) {
        GTEST_SKIP() << "cannot make a sparse file here";
    }
    WaveStream s;
    ASSERT_TRUE(s.LoadWave(path.c_str()));
    EXPECT_DOUBLE_EQ(s.GetDuration(), double(length - s.dataStart) / 176400.0);
    s.Seek(15000); // 2.6 GB into the audio
    EXPECT_DOUBLE_EQ(s.GetPosition(), 15000.0);
    EXPECT_EQ(s.GetBuffer().length(), 17640u);
    s.SkipBack(14000);
    EXPECT_NEAR(s.GetPosition(), 1000.1, 1e-9);
    s.SkipForward(20000);
    EXPECT_DOUBLE_EQ(s.GetPosition(), s.GetDuration());
    EXPECT_TRUE(s.GetBuffer().isEmpty());
}

} // namespace
