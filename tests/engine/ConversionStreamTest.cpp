#include "engine/ConversionStream.h"
#include "platform/AudioConverter.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <new>
#include <vector>

using namespace testing_support;

namespace {

// Serves fixed bytes in a given format, requestSize bytes (whole blocks) at a time.
class BytesStream : public AudioStream {
  public:
    BytesStream(const WaveFormat& format, std::vector<uint8_t> bytes,
                const std::vector<uint8_t>& extra = {})
        : data(std::move(bytes)) {
        std::vector<uint8_t> record = formatBytes(format, extra);
        storage.assignBytes(record.data(), record.size());
        requestSize = tenthOfSecondBytes(format);
        if (requestSize == 0) {
            requestSize = 4096;
        }
    }
    const WaveFormat* GetFormat() override { return storage.get(); }
    AudioBuffer GetBuffer() override {
        roundRequestSize(*storage);
        if (throwBadAlloc) {
            throw std::bad_alloc();
        }
        size_t n = std::min<size_t>(requestSize, data.size() - position);
        if (n == 0) {
            return {};
        }
        AudioBuffer buffer =
            AudioBuffer::fromBytes(data.data() + position, static_cast<uint32_t>(n), true);
        position += n;
        return buffer;
    }
    void Rewind() override { position = 0; }

    FormatBuffer storage;
    std::vector<uint8_t> data;
    size_t position = 0;
    bool throwBadAlloc = false;
};

std::vector<int16_t> toSamples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

std::vector<uint8_t> readAll(AudioStream& stream, size_t* buffers = nullptr) {
    std::vector<uint8_t> out;
    size_t count = 0;
    for (;;) {
        AudioBuffer buffer = stream.GetBuffer();
        if (buffer.isEmpty()) {
            break;
        }
        EXPECT_EQ(buffer.kind(), BufferKind::WaveOut);
        out.insert(out.end(), buffer.data(), buffer.data() + buffer.length());
        ++count;
    }
    if (buffers) {
        *buffers = count;
    }
    return out;
}

// Converts all of source in one call of the conversion layer.
std::vector<uint8_t> convertAtOnce(const WaveFormat& from, const std::vector<uint8_t>& bytes,
                                   const WaveFormat& to) {
    AcmStream stream = nullptr;
    EXPECT_EQ(acmStreamOpen(&stream, &from, &to, 0), kAcmOk);
    uint32_t size = 0;
    EXPECT_EQ(acmStreamSize(stream, static_cast<uint32_t>(bytes.size()), &size, kAcmSizeSource),
              kAcmOk);
    std::vector<uint8_t> out(size);
    AcmStreamHeader header;
    header.pbSrc = const_cast<uint8_t*>(bytes.data());
    header.cbSrcLength = static_cast<uint32_t>(bytes.size());
    header.pbDst = out.data();
    header.cbDstLength = size;
    EXPECT_EQ(acmStreamPrepareHeader(stream, &header, 0), kAcmOk);
    EXPECT_EQ(acmStreamConvert(stream, &header, kAcmConvertBlockAlign | kAcmConvertEnd), kAcmOk);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &header, 0), kAcmOk);
    EXPECT_EQ(acmStreamClose(stream, 0), kAcmOk);
    out.resize(header.cbDstLengthUsed);
    return out;
}

std::vector<uint8_t> repeatFrame(const std::vector<uint8_t>& frame, size_t frames) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < frames; ++i) {
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

WaveFormat floatFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
    WaveFormat f = pcmFormat(channels, rate, bits);
    f.wFormatTag = 3;
    return f;
}

// The WAVE_FORMAT_EXTENSIBLE record for a PCM (1) or float (3) sub-format.
std::vector<uint8_t> extensibleExtra(uint16_t validBits, uint16_t subFormat) {
    std::vector<uint8_t> extra;
    putU16(extra, validBits);
    putU32(extra, 0); // channel mask
    putU16(extra, subFormat);
    const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                              0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    extra.insert(extra.end(), tail, tail + 14);
    return extra;
}

} // namespace

TEST(ConversionStreamTest, TenthOfASecondOfStereoBecomesAbout4410BytesOfMono22050) {
    WaveFormat cd = pcmFormat(2, 44100, 16);
    BytesStream source(cd, toBytes(sineSamples(44100, 2, 44100)));
    ConversionStream conversion;
    conversion.SetSource(&source);
    ASSERT_NE(conversion.converter, nullptr);
    EXPECT_TRUE(sameFormat(*conversion.GetFormat(), pcmFormat(2, 44100, 16)));

    WaveFormat mono = pcmFormat(1, 22050, 16);
    EXPECT_TRUE(conversion.SetOutputFormat(&mono));
    AcmStream opened = conversion.converter;
    ASSERT_NE(opened, nullptr);
    EXPECT_FALSE(conversion.SetOutputFormat(&mono)) << "the same format keeps the open converter";
    EXPECT_EQ(conversion.converter, opened);

    ASSERT_EQ(source.requestSize, 17640u);
    AudioBuffer first = conversion.GetBuffer();
    EXPECT_EQ(first.length() % 2, 0u);
    EXPECT_NEAR(static_cast<double>(first.length()), 4410.0, 40.0);
    AudioBuffer second = conversion.GetBuffer();
    EXPECT_NEAR(static_cast<double>(second.length()), 4410.0, 4.0);
}

TEST(ConversionStreamTest, PcmAlreadyInTheTargetFormatPassesThroughUnchanged) {
    WaveFormat f = pcmFormat(2, 44100, 16);
    std::vector<uint8_t> bytes = toBytes(sineSamples(44100, 2, 10000));
    BytesStream source(f, bytes);
    ConversionStream conversion;
    conversion.SetSource(&source);
    ASSERT_NE(conversion.converter, nullptr) << "PCM to the same PCM still opens a converter";
    EXPECT_EQ(readAll(conversion), bytes);
}

TEST(ConversionStreamTest, BufferByBufferMatchesOneShotConversion) {
    struct Case {
        WaveFormat from;
        WaveFormat to;
    };
    const Case cases[] = {
        {pcmFormat(2, 44100, 16), pcmFormat(1, 22050, 16)},
        {pcmFormat(1, 8000, 16), pcmFormat(1, 44100, 16)},
        {pcmFormat(2, 48000, 16), pcmFormat(1, 11025, 16)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(uint32_t{c.from.nSamplesPerSec});
        std::vector<uint8_t> bytes = toBytes(sineSamples(c.from.nSamplesPerSec, c.from.nChannels,
                                                         c.from.nSamplesPerSec * 2 + 123, 997.0));
        std::vector<uint8_t> once = convertAtOnce(c.from, bytes, c.to);

        BytesStream source(c.from, bytes);
        ConversionStream conversion;
        conversion.SetSource(&source);
        ASSERT_TRUE(conversion.SetOutputFormat(&c.to));
        size_t buffers = 0;
        std::vector<uint8_t> pieces = readAll(conversion, &buffers);
        EXPECT_GE(buffers, 20u);

        // The resampler's state carries over, so the pieces join without a seam.
        ASSERT_EQ(pieces.size(), once.size());
        std::vector<int16_t> a = toSamples(pieces);
        std::vector<int16_t> b = toSamples(once);
        int worst = 0;
        for (size_t i = 0; i < a.size(); ++i) {
            worst = std::max(worst, std::abs(a[i] - b[i]));
        }
        EXPECT_LE(worst, 1);
    }
}

TEST(ConversionStreamTest, DownMixAveragesChannelsWithoutClipping) {
    WaveFormat stereo = pcmFormat(2, 22050, 16);
    WaveFormat mono = pcmFormat(1, 22050, 16);
    std::vector<uint8_t> loud =
        toBytes(std::vector<int16_t>{32767, 32767, 32767, -32768, -32768, -32768, 1000, 3000});
    std::vector<int16_t> out = toSamples(convertAtOnce(stereo, repeatFrame(loud, 50), mono));
    ASSERT_EQ(out.size(), 200u);
    for (size_t i = 0; i < out.size(); i += 4) {
        EXPECT_EQ(out[i], 32767);
        EXPECT_LE(std::abs(out[i + 1]), 1);
        EXPECT_EQ(out[i + 2], -32768);
        EXPECT_EQ(out[i + 3], 2000);
    }

    // Six channels of full scale average to full scale, not to six times it.
    WaveFormat six = pcmFormat(6, 22050, 16);
    std::vector<uint8_t> sixFrame =
        toBytes(std::vector<int16_t>{30000, 30000, 30000, 30000, 30000, 30000});
    std::vector<int16_t> sixOut = toSamples(convertAtOnce(six, repeatFrame(sixFrame, 100), mono));
    ASSERT_EQ(sixOut.size(), 100u);
    EXPECT_NEAR(sixOut[50], 30000, 4);
}

TEST(ConversionStreamTest, EveryUncompressedLayoutConvertsToSixteenBits) {
    WaveFormat mono16 = pcmFormat(1, 16000, 16);
    struct Case {
        const char* name;
        WaveFormat from;
        std::vector<uint8_t> extra;
        std::vector<uint8_t> frame; // one frame holding a quarter of full scale, then its negative
        int16_t expected;
    };
    auto le32 = [](int32_t v) {
        std::vector<uint8_t> b;
        putU32(b, static_cast<uint32_t>(v));
        return b;
    };
    auto f32 = [](float v) {
        std::vector<uint8_t> b(4);
        std::memcpy(b.data(), &v, 4);
        return b;
    };
    auto f64 = [](double v) {
        std::vector<uint8_t> b(8);
        std::memcpy(b.data(), &v, 8);
        return b;
    };
    WaveFormat ext24 = pcmFormat(1, 16000, 24);
    ext24.wFormatTag = 0xFFFE;
    ext24.cbSize = 22;
    WaveFormat extFloat = floatFormat(1, 16000, 32);
    extFloat.wFormatTag = 0xFFFE;
    extFloat.cbSize = 22;
    const Case cases[] = {
        {"u8", pcmFormat(1, 16000, 8), {}, {0x80 + 0x20}, 0x2000},
        {"s24", pcmFormat(1, 16000, 24), {}, {0x00, 0x00, 0x20}, 0x2000},
        {"s32", pcmFormat(1, 16000, 32), {}, le32(0x20000000), 0x2000},
        {"f32", floatFormat(1, 16000, 32), {}, f32(0.25f), 0x2000},
        {"f64", floatFormat(1, 16000, 64), {}, f64(0.25), 0x2000},
        {"extensible s24", ext24, extensibleExtra(24, 1), {0x00, 0x00, 0x20}, 0x2000},
        {"extensible f32", extFloat, extensibleExtra(32, 3), f32(0.25f), 0x2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BytesStream source(c.from, repeatFrame(c.frame, 1600), c.extra);
        ConversionStream conversion;
        conversion.SetSource(&source);
        ASSERT_NE(conversion.converter, nullptr);
        EXPECT_FALSE(conversion.SetOutputFormat(&mono16))
            << "SetSource already chose 16-bit at the source rate";
        std::vector<int16_t> out = toSamples(readAll(conversion));
        ASSERT_EQ(out.size(), 1600u);
        EXPECT_EQ(out[0], c.expected);
        EXPECT_EQ(out[1599], c.expected);
    }
}

TEST(ConversionStreamTest, TwentyFourBitTargetKeepsTheTopBytes) {
    WaveFormat from = pcmFormat(2, 8000, 16);
    WaveFormat to = pcmFormat(2, 8000, 24);
    std::vector<uint8_t> out = convertAtOnce(from, toBytes({0x1234, -2, 0x1234, -2}), to);
    EXPECT_EQ(out, (std::vector<uint8_t>{0x00, 0x34, 0x12, 0x00, 0xFE, 0xFF, 0x00, 0x34, 0x12, 0x00,
                                         0xFE, 0xFF}));
}

TEST(ConversionStreamTest, UnconvertibleFormatsEndTheItemAtOnce) {
    auto with = [](auto change) {
        WaveFormat f = pcmFormat(2, 44100, 16);
        change(f);
        return f;
    };
    struct Case {
        const char* name;
        WaveFormat format;
        std::vector<uint8_t> extra;
    };
    WaveFormat lyingExtensible = pcmFormat(2, 44100, 16);
    lyingExtensible.wFormatTag = 0xFFFE;
    lyingExtensible.cbSize = 22; // but no sub-format GUID follows
    WaveFormat shortExtensible = lyingExtensible;
    shortExtensible.cbSize = 4;
    WaveFormat adpcmNoRoom = with([](WaveFormat& f) {
        f.wFormatTag = 2;
        f.wBitsPerSample = 4;
        f.nBlockAlign = 10;
    });
    const Case cases[] = {
        {"no channels", with([](WaveFormat& f) { f.nChannels = 0; }), {}},
        {"no block alignment", with([](WaveFormat& f) { f.nBlockAlign = 0; }), {}},
        {"wrong block alignment", with([](WaveFormat& f) { f.nBlockAlign = 3; }), {}},
        {"rate 0", with([](WaveFormat& f) { f.nSamplesPerSec = 0; }), {}},
        {"absurd rate", with([](WaveFormat& f) { f.nSamplesPerSec = 1000000000; }), {}},
        {"12 bits",
         with([](WaveFormat& f) {
             f.wBitsPerSample = 12;
             f.nBlockAlign = 3;
         }),
         {}},
        {"nine channels", pcmFormat(9, 44100, 16), {}},
        {"unknown tag", with([](WaveFormat& f) { f.wFormatTag = 0x1234; }), {}},
        {"extensible without GUID", lyingExtensible, std::vector<uint8_t>(22, 0)},
        {"extensible too short", shortExtensible, std::vector<uint8_t>(4, 0)},
        {"adpcm block smaller than its header", adpcmNoRoom, {}},
        {"gsm with odd blocks",
         with([](WaveFormat& f) {
             f.wFormatTag = 0x31;
             f.nChannels = 1;
             f.nBlockAlign = 64;
         }),
         {}},
    };
    MessageRecorder messages;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BytesStream source(c.format, std::vector<uint8_t>(8192, 0x55), c.extra);
        source.requestSize = 4096;
        ConversionStream conversion;
        conversion.SetSource(&source);
        EXPECT_EQ(conversion.converter, nullptr);
        EXPECT_TRUE(conversion.GetBuffer().isEmpty());
        AcmStream probe = nullptr;
        WaveFormat target = pcmFormat(1, 22050, 16);
        EXPECT_EQ(acmStreamOpen(&probe, conversion.sourceFormat.get(), &target, 0),
                  kAcmNotPossible);
    }
    EXPECT_TRUE(messages.texts().empty());
}

TEST(ConversionStreamTest, InternalFailureShowsTheConversionMessage) {
    MessageRecorder messages;
    BytesStream source(pcmFormat(1, 8000, 16), std::vector<uint8_t>(1600, 0));
    ConversionStream conversion;
    conversion.SetSource(&source);
    source.throwBadAlloc = true;
    EXPECT_TRUE(conversion.GetBuffer().isEmpty());
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0], "Exception converting stream in ConversionStream::GetBuffer()");
}

TEST(ConversionStreamTest, RewindAndSeekStartTheConversionAfresh) {
    WaveFormat from = pcmFormat(2, 44100, 16);
    WaveFormat to = pcmFormat(1, 22050, 16);
    BytesStream source(from, toBytes(sineSamples(44100, 2, 22050, 440.0)));
    ConversionStream conversion;
    conversion.SetSource(&source);
    ASSERT_TRUE(conversion.SetOutputFormat(&to));
    std::vector<uint8_t> first;
    AudioBuffer b = conversion.GetBuffer();
    first.assign(b.data(), b.data() + b.length());
    conversion.GetBuffer();
    conversion.GetBuffer();
    conversion.Rewind();
    AudioBuffer again = conversion.GetBuffer();
    EXPECT_EQ(std::vector<uint8_t>(again.data(), again.data() + again.length()), first);
    // A seek (here to the start) drops what the resampler held as well.
    conversion.GetBuffer();
    conversion.Seek(0);
    AudioBuffer sought = conversion.GetBuffer();
    EXPECT_EQ(std::vector<uint8_t>(sought.data(), sought.data() + sought.length()), first);
}

TEST(ConversionStreamTest, ChangingTheTargetReopensTheConverter) {
    BytesStream source(pcmFormat(1, 8000, 8), std::vector<uint8_t>(8000, 0x80));
    ConversionStream conversion;
    conversion.SetSource(&source);
    WaveFormat broken = pcmFormat(1, 8000, 16);
    broken.nBlockAlign = 0;
    EXPECT_FALSE(conversion.SetOutputFormat(&broken));
    EXPECT_EQ(conversion.converter, nullptr);
    EXPECT_TRUE(conversion.GetBuffer().isEmpty());
    WaveFormat good = pcmFormat(1, 16000, 16);
    EXPECT_TRUE(conversion.SetOutputFormat(&good));
    AudioBuffer b = conversion.GetBuffer();
    EXPECT_NEAR(static_cast<double>(b.length()), 3200.0, 64.0);
}

// The conversion layer's own contract, which the stream relies on.
TEST(AudioConverterTest, SizeQueryBoundsEveryConvertCall) {
    struct Case {
        WaveFormat from;
        WaveFormat to;
    };
    const Case cases[] = {
        {pcmFormat(2, 44100, 16), pcmFormat(1, 22050, 16)},
        {pcmFormat(1, 8000, 8), pcmFormat(1, 48000, 16)},
        {pcmFormat(1, 11025, 16), pcmFormat(2, 96000, 24)},
        {pcmFormat(6, 48000, 32), pcmFormat(1, 44100, 16)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(uint32_t{c.to.nSamplesPerSec});
        AcmStream stream = nullptr;
        ASSERT_EQ(acmStreamOpen(&stream, &c.from, &c.to, 0), kAcmOk);
        std::vector<uint8_t> src(40000, 0x11);
        uint32_t lengths[] = {0,   c.from.nBlockAlign, 7u * c.from.nBlockAlign, 4096, 40000, 17,
                              1000};
        for (uint32_t length : lengths) {
            uint32_t size = 0;
            ASSERT_EQ(acmStreamSize(stream, length, &size, kAcmSizeSource), kAcmOk);
            std::vector<uint8_t> dst(size + 1, 0xEE);
            AcmStreamHeader h;
            h.pbSrc = src.data();
            h.cbSrcLength = length;
            h.pbDst = dst.data();
            h.cbDstLength = size;
            ASSERT_EQ(acmStreamPrepareHeader(stream, &h, 0), kAcmOk);
            ASSERT_EQ(acmStreamConvert(stream, &h, kAcmConvertBlockAlign), kAcmOk);
            EXPECT_EQ(h.cbSrcLengthUsed, length / c.from.nBlockAlign * c.from.nBlockAlign);
            EXPECT_LE(h.cbDstLengthUsed, size);
            EXPECT_EQ(h.cbDstLengthUsed % c.to.nBlockAlign, 0u);
            EXPECT_EQ(dst[size], 0xEE);
            ASSERT_EQ(acmStreamUnprepareHeader(stream, &h, 0), kAcmOk);
            // Nothing was held back for lack of room: a call with no input
            // delivers nothing.
            uint8_t probe[64];
            AcmStreamHeader empty;
            empty.pbDst = probe;
            empty.cbDstLength = sizeof probe;
            ASSERT_EQ(acmStreamPrepareHeader(stream, &empty, 0), kAcmOk);
            ASSERT_EQ(acmStreamConvert(stream, &empty, kAcmConvertBlockAlign), kAcmOk);
            EXPECT_EQ(empty.cbDstLengthUsed, 0u);
            acmStreamUnprepareHeader(stream, &empty, 0);
        }
        EXPECT_EQ(acmStreamClose(stream, 0), kAcmOk);
    }
}

TEST(AudioConverterTest, OutputThatDoesNotFitIsDeliveredByTheNextCall) {
    WaveFormat f = pcmFormat(1, 8000, 16);
    AcmStream stream = nullptr;
    ASSERT_EQ(acmStreamOpen(&stream, &f, &f, 0), kAcmOk);
    std::vector<uint8_t> src = toBytes({1, 2, 3, 4, 5, 6});
    std::vector<uint8_t> got;
    uint8_t dst[4];
    for (int call = 0; call < 3; ++call) {
        AcmStreamHeader h;
        h.pbSrc = call == 0 ? src.data() : nullptr;
        h.cbSrcLength = call == 0 ? static_cast<uint32_t>(src.size()) : 0;
        h.pbDst = dst;
        h.cbDstLength = sizeof dst;
        ASSERT_EQ(acmStreamPrepareHeader(stream, &h, 0), kAcmOk);
        ASSERT_EQ(acmStreamConvert(stream, &h, 0), kAcmOk);
        got.insert(got.end(), dst, dst + h.cbDstLengthUsed);
        acmStreamUnprepareHeader(stream, &h, 0);
    }
    EXPECT_EQ(got, src);
    acmStreamClose(stream, 0);
}

TEST(AudioConverterTest, MisuseGetsResultCodesNotCrashes) {
    WaveFormat f = pcmFormat(1, 8000, 16);
    EXPECT_EQ(acmStreamOpen(nullptr, &f, &f, kAcmOpenQuery), kAcmOk);
    EXPECT_EQ(acmStreamOpen(nullptr, &f, &f, 0), kAcmInvalidParam);
    AcmStream stream = nullptr;
    EXPECT_EQ(acmStreamOpen(&stream, &f, &f, kAcmOpenAsync), kAcmInvalidFlag);
    EXPECT_EQ(stream, nullptr);
    WaveFormat huge = f;
    huge.cbSize = 0xFFFF;
    EXPECT_EQ(acmStreamOpen(&stream, &huge, &f, 0), kAcmInvalidParam);

    ASSERT_EQ(acmStreamOpen(&stream, &f, &f, 0), kAcmOk);
    AcmStreamHeader h;
    uint8_t byte = 0;
    h.pbDst = &byte;
    h.cbDstLength = 1;
    EXPECT_EQ(acmStreamConvert(stream, &h, 0), kAcmUnprepared);
    EXPECT_EQ(acmStreamUnprepareHeader(stream, &h, 0), kAcmUnprepared);
    AcmStreamHeader wrongSize;
    wrongSize.cbStruct = 84;
    EXPECT_EQ(acmStreamPrepareHeader(stream, &wrongSize, 0), kAcmInvalidParam);
    uint32_t size = 0;
    EXPECT_EQ(acmStreamSize(stream, 100, nullptr, kAcmSizeSource), kAcmInvalidParam);
    EXPECT_EQ(acmStreamSize(stream, 100, &size, 0x80), kAcmInvalidFlag);
    EXPECT_EQ(acmStreamSize(stream, 4000, &size, kAcmSizeDestination), kAcmOk);
    EXPECT_LE(size, 4000u);
    EXPECT_GE(size, 3800u);
    EXPECT_EQ(size % 2, 0u);
    EXPECT_EQ(acmStreamClose(stream, 0), kAcmOk);
    EXPECT_EQ(acmStreamClose(stream, 0), kAcmInvalidHandle) << "a closed handle is refused";
    EXPECT_EQ(acmStreamSize(stream, 100, &size, kAcmSizeSource), kAcmInvalidHandle);
    EXPECT_EQ(acmStreamSize(nullptr, 100, &size, kAcmSizeSource), kAcmInvalidHandle);
}
