// The remembered settings: where they live, what a damaged file gives, and
// that a store survives as a whole.

#include "playlist/Settings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

std::vector<uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

} // namespace

TEST(Settings, LiveInTheConfigFolderOfTheEnvironment) {
    EXPECT_EQ(settingsPath("/cfg", "/home/u"), "/cfg/velumo/settings");
    EXPECT_EQ(settingsPath("", "/home/u"), "/home/u/.config/velumo/settings");
    // A relative XDG_CONFIG_HOME is ignored, as the base directory rules say.
    EXPECT_EQ(settingsPath("cfg", "/home/u"), "/home/u/.config/velumo/settings");
    EXPECT_EQ(settingsPath("", ""), "");
    EXPECT_EQ(settingsPath("cfg", "home"), "");
}

TEST(Settings, EachDamagedValueFallsBackToItsDefaultAlone) {
    const Settings defaults;
    struct Case {
        const char* text;
        int32_t volume;
        int32_t repeat;
        std::string bitrate;
    };
    const Case cases[] = {
        {"volume=1000\nrepeat=2\nbitrate=96KB\n", 1000, 2, "96KB"},
        {"bitrate=96KB\r\nrepeat=1\r\nvolume=0\r\n", 0, 1, "96KB"},
        {"volume=65535\nrepeat=0", 65535, 0, "32KB"},
        {"", defaults.volume, defaults.repeatMode, defaults.bitrate},
        {"volume=65536\nrepeat=3\n", defaults.volume, defaults.repeatMode, defaults.bitrate},
        {"volume=-1\nrepeat=-0\nbitrate=\n", defaults.volume, 0, defaults.bitrate},
        {"volume=12x\nrepeat= 1\nbitrate=9 6KB\n", defaults.volume, defaults.repeatMode,
         defaults.bitrate},
        {"volume=99999999999999999999\nrepeat=1\n", defaults.volume, 1, defaults.bitrate},
        {"bitrate=0123456789012345678901234567890123\n", defaults.volume, defaults.repeatMode,
         defaults.bitrate},
        {"garbage\n\n=\nvolume\ncolour=red\nvolume=7\n", 7, defaults.repeatMode, defaults.bitrate},
        {"\xff\xfe\x01volume=5", defaults.volume, defaults.repeatMode, defaults.bitrate},
    };
    for (const Case& c : cases) {
        const Settings settings = decodeSettings(c.text);
        EXPECT_EQ(settings.volume, c.volume) << c.text;
        EXPECT_EQ(settings.repeatMode, c.repeat) << c.text;
        EXPECT_EQ(settings.bitrate, c.bitrate) << c.text;
    }
}

TEST(Settings, StoreCreatesTheFolderAndReadsBackWhatWasStored) {
    TempDir dir;
    const std::string path = dir.file("config/velumo/settings");
    const Settings settings{1234, 2, "144KB"};
    ASSERT_TRUE(writeSettings(path, settings));
    EXPECT_EQ(readSettings(path), settings);
    // A second store replaces the file whole.
    ASSERT_TRUE(writeSettings(path, Settings{}));
    EXPECT_EQ(readSettings(path), Settings{});
    EXPECT_EQ(readFileBytes(path), bytesOf(encodeSettings(Settings{})));

    std::string problem;
    EXPECT_FALSE(writeSettings("", settings, &problem));
    EXPECT_FALSE(problem.empty());
    // A file where the folder should be: refused with the reason, nothing
    // claimed.
    writeFileBytes(dir.file("blocked"), bytesOf("x"));
    problem.clear();
    EXPECT_FALSE(writeSettings(dir.file("blocked/velumo/settings"), settings, &problem));
    EXPECT_FALSE(problem.empty());
}

TEST(Settings, UnreadableOrOddFilesGiveTheDefaults) {
    TempDir dir;
    EXPECT_EQ(readSettings(dir.file("missing")), Settings{});
    EXPECT_EQ(readSettings(""), Settings{});
    EXPECT_EQ(readSettings(dir.path().string()), Settings{});
    // A file larger than any the program writes is not read at all.
    std::string big(kMaxSettingsBytes, '\n');
    big = "volume=5\n" + big;
    writeFileBytes(dir.file("big"), bytesOf(big));
    EXPECT_EQ(readSettings(dir.file("big")), Settings{});
    // A FIFO in the file's place must not hold up the start.
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(readSettings(fifo), Settings{});
}
