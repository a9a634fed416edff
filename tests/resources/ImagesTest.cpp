#include "resources/Images.h"
#include "resources/StringTable.h"

#include <gtest/gtest.h>

#include <map>

namespace {

const std::map<int, QSize>& expectedSizes() {
    static const std::map<int, QSize> sizes = {
        {kBitmapBackground, {56, 15}}, {kBitmapDisplay, {68, 15}},
        {kBitmapPlay, {20, 20}},       {kBitmapPause, {21, 20}},
        {kBitmapStop, {20, 20}},       {kBitmapEject, {20, 20}},
        {kBitmapPrev, {20, 20}},       {kBitmapNext, {20, 20}},
        {kBitmapRecord, {32, 32}},     {kBitmapCdRefresh, {32, 32}},
        {kBitmapMoveUp, {32, 32}},     {kBitmapMoveDown, {32, 32}},
        {kBitmapClearAll, {32, 32}},   {kBitmapRemove, {32, 32}},
        {kBitmapGoStraight, {32, 32}}, {kBitmapRepeatOne, {32, 32}},
        {kBitmapRepeatAll, {32, 32}},  {kBitmapAddFiles, {31, 31}},
        {kBitmapConvert, {31, 31}},    {kBitmapConvertArrow, {30, 13}},
        {kIconProgram, {32, 32}},      {kIconRecord, {32, 32}},
    };
    return sizes;
}

bool isButtonImage(int id) {
    return id != kBitmapBackground && id != kBitmapDisplay && id != kBitmapConvertArrow;
}

TEST(Images, EveryImageExistsWithItsSize) {
    for (const auto& [id, size] : expectedSizes()) {
        EXPECT_TRUE(hasBitmap(id)) << id;
        const QImage image = loadBitmapImage(id);
        ASSERT_FALSE(image.isNull()) << id;
        EXPECT_EQ(image.size(), size) << id;
    }
}

TEST(Images, BackgroundTileHas256ColoursAtMost) {
    const QImage tile = loadBitmapImage(kBitmapBackground);
    EXPECT_EQ(tile.format(), QImage::Format_Indexed8);
    EXPECT_LE(tile.colorCount(), 256);
}

TEST(Images, MagentaBecomesTransparentAndNothingElseDoes) {
    for (const auto& [id, size] : expectedSizes()) {
        if (!isButtonImage(id)) {
            continue;
        }
        const QImage raw = loadBitmapImage(id).convertToFormat(QImage::Format_RGB32);
        const QImage keyed = loadBitmapImage(id, kTransparentColour);
        int transparent = 0;
        int opaque = 0;
        for (int y = 0; y < raw.height(); ++y) {
            for (int x = 0; x < raw.width(); ++x) {
                const bool magenta = (raw.pixel(x, y) & 0xFFFFFF) == kTransparentColour;
                const QRgb pixel = keyed.pixel(x, y);
                EXPECT_EQ(qAlpha(pixel) == 0, magenta) << id << " at " << x << "," << y;
                transparent += magenta;
                opaque += !magenta;
            }
        }
        // Every button image has a transparent surround and a visible symbol.
        EXPECT_GT(transparent, raw.width() * 2) << id;
        EXPECT_GT(opaque, 20) << id;
        EXPECT_EQ(qAlpha(keyed.pixel(0, 0)), 0) << id;
    }
}

TEST(Images, PicturesShownAsTheyAreHaveNoMagenta) {
    for (int id : {kBitmapBackground, kBitmapDisplay, kBitmapConvertArrow}) {
        const QImage image = loadBitmapImage(id).convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                ASSERT_NE(image.pixel(x, y) & 0xFFFFFF, kTransparentColour) << id;
            }
        }
    }
}

TEST(Images, MissingNumbersGiveNullImages) {
    EXPECT_FALSE(hasBitmap(130));
    EXPECT_TRUE(loadBitmapImage(130).isNull());
    EXPECT_TRUE(loadBitmap(9999, kTransparentColour).isNull());
    EXPECT_TRUE(loadIcon(9999).isNull());
    EXPECT_FALSE(loadIcon(kIconProgram).isNull());
    EXPECT_FALSE(loadIcon(kIconRecord).isNull());
}

TEST(StringTable, EntriesAreTheProgramsTexts) {
    EXPECT_EQ(loadString(kStringAbout), "&About...");
    const char* const bitrates[] = {"32KB",  "48KB",  "64KB",  "80KB", "96KB",
                                    "112KB", "144KB", "160KB", "192KB"};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(loadString(kStringFirstBitrate + i), bitrates[i]);
    }
    EXPECT_EQ(kStringLastListedBitrate, 110);
    EXPECT_EQ(loadString(kStringBitrate192), "192KB");
    EXPECT_EQ(loadString(kStringMono), "mono");
    EXPECT_EQ(loadString(kStringStereo), "stereo");
    EXPECT_EQ(loadString(102), "");
    EXPECT_FALSE(hasString(112));
    EXPECT_TRUE(hasString(119));
}

} // namespace
