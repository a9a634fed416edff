#include "encode/Mp3InfoFrame.h"

#include "InfoFrameReader.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

std::vector<uint8_t> streamOf(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> stream = frame;
    stream.resize(frame.size() + 64, 0); // room for the reader's bounds checks
    return stream;
}

} // namespace

// The frame keeps the stream's bitrate where its frames hold every field,
// and takes the smallest larger bitrate where they do not (the small frames
// of low bitrates, where LAME itself writes no Info frame).
TEST(Mp3InfoFrame, TakesTheStreamsBitrateOrTheSmallestThatHoldsTheFields) {
    const struct {
        const char* what;
        std::array<uint8_t, 4> header;
        uint32_t bytes;
        int bitrateIndex;
    } cases[] = {
        {"MPEG-1 44100 Hz mono 64 kbit/s", {0xFF, 0xFB, 0x50, 0xC0}, 208, 5},
        {"MPEG-1 32000 Hz stereo 32 kbit/s", {0xFF, 0xFB, 0x18, 0x00}, 216, 3},
        {"MPEG-2 22050 Hz mono 32 kbit/s", {0xFF, 0xF3, 0x40, 0xC4}, 182, 7},
        {"MPEG-2.5 8000 Hz mono 8 kbit/s", {0xFF, 0xE3, 0x18, 0xC4}, 216, 3},
        {"layer II", {0xFF, 0xFD, 0x50, 0xC0}, 0, 0},
        {"free format", {0xFF, 0xFB, 0x00, 0xC0}, 0, 0},
        {"no sync", {0x49, 0x44, 0x33, 0x04}, 0, 0},
    };
    Mp3StreamFigures figures;
    figures.frames = 194;
    figures.bytes = 20453;
    figures.delay = 576;
    figures.padding = 918;
    figures.encoder = "LAME3.100";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.bytes, mp3_info_frame::frameBytes(c.header.data()));
        const auto frame = mp3_info_frame::build(c.header.data(), figures);
        ASSERT_EQ(c.bytes, frame.size());
        if (frame.empty()) {
            continue;
        }
        EXPECT_EQ(c.bitrateIndex, frame[2] >> 4);
        EXPECT_EQ(c.header[1] | 1, frame[1]); // same version and layer, no checksum
        EXPECT_EQ(0, frame[2] & 0x02);        // no padding slot
        EXPECT_EQ(c.header[3], frame[3]);
        const auto info = readInfoFrame(streamOf(frame));
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(c.bytes, info->frameBytes);
        EXPECT_EQ("Info", info->tag);
        EXPECT_EQ(194U, info->frames);
        EXPECT_EQ(20453U, info->bytes);
        EXPECT_EQ(20453U, info->musicLength);
        EXPECT_EQ("LAME3.100", info->encoder);
        EXPECT_EQ(576U, info->delay);
        EXPECT_EQ(918U, info->padding);
        EXPECT_EQ(infoCrc16(frame.data(), info->tagCrcAt), info->tagCrc);
    }
}

// Delay and padding have 12 bits each: larger figures are held at the
// largest, never wrapped into a small one; short encoder names are padded.
TEST(Mp3InfoFrame, DelayAndPaddingSaturateAndTheNameIsPadded) {
    const std::array<uint8_t, 4> header = {0xFF, 0xFB, 0x50, 0xC0};
    Mp3StreamFigures figures;
    figures.delay = 5000;
    figures.padding = 4095;
    figures.encoder = "LAME";
    const auto info = readInfoFrame(streamOf(mp3_info_frame::build(header.data(), figures)));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(4095U, info->delay);
    EXPECT_EQ(4095U, info->padding);
    EXPECT_EQ("LAME     ", info->encoder);
}
