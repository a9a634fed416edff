// CD Refresh on disc images registered as the first drive: the rows it makes,
// the track it loads, and the list it leaves when there is no disc.

#include "app/WindowFixture.h"

#include "app/cd/CdRefreshCommand.h"
#include "platform/CdLibrary.h"
#include "support/DiscImage.h"

#include <algorithm>
#include <cstdlib>
#include <string>

using namespace window_test;

namespace {

constexpr uint32_t kFramesPerSecond = 75;

class CdRefreshTest : public WindowTest {
  protected:
    void SetUp() override {
        if (!std::getenv("SDL_AUDIODRIVER")) {
            setenv("SDL_AUDIODRIVER", "dummy", 1);
        }
        WindowTest::SetUp();
        clearDiscImages();
        window().setCommandHandler(kIdCdRefresh, cdRefreshCommand);
    }
    void TearDown() override {
        WindowTest::TearDown();
        clearDiscImages();
    }

    void insert(const testing_support::DiscImage& image) {
        registerDiscImage(image.write(dir.path().string(), "disc"));
    }
    void refresh() { window().onCommand(kIdCdRefresh); }

    std::vector<std::string> names() {
        std::vector<std::string> out;
        out.reserve(static_cast<size_t>(std::max(rowCount(), 0)));
        for (int i = 0; i < rowCount(); ++i) {
            out.push_back(row(i, 1));
        }
        return out;
    }
};

} // namespace

TEST_F(CdRefreshTest, AudioTracksBecomeNamedRowsWithTheirTimesAndSizes) {
    testing_support::DiscImage image;
    image.silentAudio(250 * kFramesPerSecond)
        .silentAudio(185 * kFramesPerSecond)
        .silentAudio(300 * kFramesPerSecond);
    insert(image);
    refresh();

    MainWindow& w = window();
    EXPECT_TRUE(messages->texts().empty());
    EXPECT_EQ(w.listMode, kListCdTracks);
    ASSERT_EQ(names(), (std::vector<std::string>{"Track-00", "Track-01", "Track-02"}));
    const char* times[] = {"04:10", "03:05", "05:00"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(row(i, 2), times[i]);
        EXPECT_EQ(row(i, 3), std::to_string(image.trackFrames(i) * 2352ull / 1024) + " KB");
        EXPECT_EQ(row(i, 4), "CDROM");
    }
    // The first track is loaded, current and selected, ready to play.
    EXPECT_EQ(w.currentIndex, 0);
    EXPECT_TRUE(w.listView->IsRowSelected(0));
    EXPECT_EQ(labelText(kIdTitle), "Track-00");
    EXPECT_EQ(labelText(kIdTime), "04:10");
    EXPECT_EQ(labelText(kIdStatus), "Stopped");
    EXPECT_TRUE(w.playbackMixer().IsCdTrack());
    EXPECT_FALSE(w.output().playing);
}

TEST_F(CdRefreshTest, DataTrackTakesNoIndex) {
    testing_support::DiscImage image;
    image.data(150).tone(60, 440).tone(90, 550);
    insert(image);
    refresh();
    ASSERT_EQ(names(), (std::vector<std::string>{"Track-00", "Track-01"}));
    // Track-00 is the disc's second track.
    EXPECT_EQ(row(0, 3), std::to_string(60 * 2352 / 1024) + " KB");
    EXPECT_EQ(row(1, 3), std::to_string(90 * 2352 / 1024) + " KB");
}

TEST_F(CdRefreshTest, SecondRefreshReplacesTheRows) {
    testing_support::DiscImage image;
    image.tone(60, 440).tone(60, 550);
    insert(image);
    refresh();
    refresh();
    EXPECT_EQ(names(), (std::vector<std::string>{"Track-00", "Track-01"}));
    EXPECT_EQ(window().currentIndex, 0);
}

TEST_F(CdRefreshTest, RefreshWhilePlayingStopsThePlayer) {
    testing_support::DiscImage image;
    image.tone(300, 440).tone(60, 550);
    insert(image);
    refresh();
    MainWindow& w = window();
    w.onCommand(kIdPlay);
    ASSERT_EQ(labelText(kIdStatus), "Playing");
    refresh();
    EXPECT_FALSE(w.output().playing);
    EXPECT_EQ(labelText(kIdStatus), "Stopped");
    EXPECT_EQ(rowCount(), 2);
}

TEST_F(CdRefreshTest, NoDiscLeavesAnEmptyCdListThatAddFilesLeaves) {
    MainWindow& w = window();
    ASSERT_TRUE(w.addRow("song.wav", 3, 4096, dir.file("song.wav")));
    refresh();
    EXPECT_EQ(messages->texts(), std::vector<std::string>{kNoCdMessage});
    EXPECT_EQ(w.listMode, kListCdTracks);
    EXPECT_EQ(rowCount(), 0);
    EXPECT_FALSE(w.playbackMixer().hasEntries());

    // Add Audio Files goes back to the file list, and the file row with it.
    chooseFiles({});
    w.onCommand(kIdAddFiles);
    EXPECT_EQ(w.listMode, kListFiles);
    ASSERT_EQ(rowCount(), 1);
    EXPECT_EQ(row(0, 1), "song.wav");
}
