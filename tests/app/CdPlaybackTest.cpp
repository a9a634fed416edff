// CD rows in the player, on a disc image registered as the first drive:
// moving from track to track, a track that cannot be opened, and a disc that
// goes away.

#include "app/WindowFixture.h"

#include "cd/CdDrive.h"
#include "platform/CdLibrary.h"
#include "support/DiscImage.h"

#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

using namespace window_test;

namespace {

class CdPlaybackTest : public WindowTest {
  protected:
    void SetUp() override {
        if (!std::getenv("SDL_AUDIODRIVER")) {
            setenv("SDL_AUDIODRIVER", "dummy", 1);
        }
        WindowTest::SetUp();
        testing_support::DiscImage image;
        // Three audio tracks of 0.8 s (60 frames) each.
        image.tone(60, 440).tone(60, 550).tone(60, 660);
        cue = image.write(dir.path().string(), "disc");
        clearDiscImages();
        registerDiscImage(cue);
    }
    void TearDown() override {
        WindowTest::TearDown();
        clearDiscImages();
    }

    // What CD Refresh leaves: the track rows, the first track loaded and
    // selected, the device open on the mixer.
    void showDisc() {
        MainWindow& w = window();
        w.setListMode(kListCdTracks);
        w.listView->DeleteAllItems();
        CdDrive drive;
        ASSERT_TRUE(drive.ReadDisc());
        for (int i = 0; i < drive.TrackCount(); ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Track-%02d", i);
            w.addRow(name, drive.TrackSeconds(i), drive.TrackBytes(i), "CDROM");
        }
        ASSERT_TRUE(w.startFirstCdTrack());
    }

    std::string cue;
};

} // namespace

TEST_F(CdPlaybackTest, TracksPlayOneAfterTheOther) {
    showDisc();
    MainWindow& w = window();
    ASSERT_EQ(rowCount(), 3);
    EXPECT_EQ(labelText(kIdTitle), "Track-00");
    EXPECT_EQ(labelText(kIdTime), "00:00");
    w.onCommand(kIdPlay);
    EXPECT_EQ(labelText(kIdStatus), "Playing");
    std::vector<int> visited;
    ASSERT_TRUE(waitFor(
        [&] {
            if (visited.empty() || visited.back() != w.currentIndex) {
                visited.push_back(w.currentIndex);
            }
            return w.currentIndex == 2 && labelText(kIdStatus) == "Stopped";
        },
        10000));
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(labelText(kIdTitle), "Track-02");
    EXPECT_TRUE(messages->texts().empty());
}

TEST_F(CdPlaybackTest, TrackThatCannotBeOpenedShowsItsFault) {
    showDisc();
    MainWindow& w = window();
    EXPECT_EQ(w.loadCdTrack("Track-09"), 1);
    EXPECT_EQ(labelText(kIdTitle), "Error in openng CD track!");
    EXPECT_EQ(labelText(kIdTime), "00:00");
    EXPECT_EQ(w.loadItem("CDROM", "Track-07"), 1);
    EXPECT_EQ(messages->texts(), (std::vector<std::string>{"Fault to play CD!"}));
    // The rows stay, and a good track still opens.
    EXPECT_EQ(rowCount(), 3);
    EXPECT_EQ(w.loadCdTrack("Track-01"), 0);
    EXPECT_EQ(labelText(kIdTitle), "Track-01");
}

TEST_F(CdPlaybackTest, DiscThatGoesAwayEmptiesTheList) {
    showDisc();
    MainWindow& w = window();
    // The disc becomes unreadable: the next read fails and the drive is no
    // longer ready.
    std::filesystem::resize_file(dir.file("disc.bin"), 0);
    clearDiscImages();
    for (int i = 0; i < 3 && !w.playbackMixer().GetBuffer().isEmpty(); ++i) {
    }
    auto* drive = dynamic_cast<CdDrive*>(w.playbackMixer().GetStream(0));
    ASSERT_NE(drive, nullptr);
    if (drive->discReady) {
        GTEST_SKIP() << "the drive still reports a disc";
    }
    EXPECT_EQ(w.loadItem("CDROM", "Track-01"), 2);
    EXPECT_EQ(labelText(kIdTitle), "No Audio");
    EXPECT_EQ(labelText(kIdTime), "00:00");
    EXPECT_EQ(rowCount(), 0);
    EXPECT_FALSE(w.playbackMixer().hasEntries());
    EXPECT_EQ(messages->texts(), (std::vector<std::string>{"Fault to play CD!"}));
}

// A CD row of the file list played, then the disc goes away: the file rows
// are the user's and stay, and the close box stores them.
TEST_F(CdPlaybackTest, DiscThatGoesAwayKeepsTheRowsOfTheFileList) {
    MainWindow& w = window();
    ASSERT_EQ(w.listMode, kListFiles);
    const std::string wave = testing_support::writeWave(dir.file("a.wav"), 1, 44100, 0.7);
    ASSERT_EQ(w.addFiles({wave}), 1);
    w.addRow("Track-00", 0, 0, "CDROM");
    w.addRow("Track-01", 0, 0, "CDROM");
    ASSERT_EQ(w.loadItem("CDROM", "Track-00"), 0);
    ASSERT_TRUE(w.playbackMixer().IsCdTrack());

    std::filesystem::resize_file(dir.file("disc.bin"), 0);
    clearDiscImages();
    for (int i = 0; i < 3 && !w.playbackMixer().GetBuffer().isEmpty(); ++i) {
    }
    auto* drive = dynamic_cast<CdDrive*>(w.playbackMixer().GetStream(0));
    ASSERT_NE(drive, nullptr);
    if (drive->discReady) {
        GTEST_SKIP() << "the drive still reports a disc";
    }
    EXPECT_EQ(w.loadItem("CDROM", "Track-01"), 2);
    EXPECT_EQ(labelText(kIdTitle), "No Audio");
    EXPECT_EQ(rowCount(), 3);
    EXPECT_EQ(row(0, 4), wave);
    w.show();
    w.close();
    resetWindow();
    EXPECT_EQ(rowCount(), 3);
}

// CD rows kept in the file list (from a list stored in the CD mode) while
// the Mixer holds no CD: the row's track of the first drive is loaded.
TEST_F(CdPlaybackTest, StoredCdRowLoadsItsTrackFromTheFirstDrive) {
    MainWindow& w = window();
    ASSERT_EQ(w.listMode, kListFiles);
    w.addRow("Track-00", 0, 0, "CDROM");
    w.addRow("Track-01", 0, 0, "CDROM");
    w.addRow("Track-05", 0, 0, "CDROM");
    w.listView->clickedRow = 1;
    w.onCommand(kNewItem);
    EXPECT_TRUE(messages->texts().empty());
    EXPECT_EQ(labelText(kIdStatus), "Playing");
    EXPECT_EQ(labelText(kIdTitle), "Track-01");
    EXPECT_TRUE(w.output().playing);
    ASSERT_TRUE(w.playbackMixer().IsCdTrack());
    auto* drive = dynamic_cast<CdDrive*>(w.playbackMixer().GetStream(0));
    ASSERT_NE(drive, nullptr);
    EXPECT_GE(drive->NextFrame(), drive->Tracks().at(1).startFrame);
    // It plays to its end and the next row follows.
    ASSERT_TRUE(waitFor([&] { return w.currentIndex == 2; }, 5000));

    // A track the disc does not have: its fault, and the player stops.
    EXPECT_EQ(messages->texts(), (std::vector<std::string>{"Fault to play CD!"}));
    EXPECT_EQ(labelText(kIdTitle), "Error in openng CD track!");
    ASSERT_TRUE(waitFor([&] { return labelText(kIdStatus) == "Stopped"; }, 2000));
    EXPECT_EQ(rowCount(), 3);

    // After a file, the Mixer is off the CD again: a CD row still loads.
    const std::string wave = testing_support::writeWave(dir.file("a.wav"), 1, 44100, 0.7);
    ASSERT_EQ(w.loadFile(wave, "a.wav"), 0);
    EXPECT_EQ(w.loadItem("CDROM", "Track-02"), 0);
    EXPECT_EQ(labelText(kIdTitle), "Track-02");
    EXPECT_TRUE(w.playbackMixer().IsCdTrack());
}
