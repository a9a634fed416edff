// The player: loading rows, the transport buttons, the repeat modes and the
// sequencing from item to item, with real files played on SDL's dummy
// driver (real time, no sound).

#include "app/WindowFixture.h"

#include "controls/BitmapButton.h"
#include "controls/TransparentSlider.h"
#include "platform/WaveOut.h"
#include "support/SoundServer.h"

#include <QTest>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

using namespace window_test;
using testing_support::writeFileBytes;
using testing_support::writeWave;

namespace {

bool haveFfmpeg() {
    return std::system("ffmpeg -version >/dev/null 2>&1") == 0;
}

bool writeMp3(const std::string& path, double seconds) {
    const std::string command =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=660:duration=" +
        std::to_string(seconds) + " -ac 1 -ar 44100 -b:a 64k '" + path + "'";
    return std::system(command.c_str()) == 0;
}

// Items are at least 0.6 s long: the device queues five buffers of 0.1 s,
// and a shorter item never reaches the playing state.
class PlayerTest : public WindowTest {
  protected:
    void SetUp() override {
        if (!std::getenv("SDL_AUDIODRIVER")) {
            setenv("SDL_AUDIODRIVER", "dummy", 1);
        }
        WindowTest::SetUp();
    }

    // Adds n short WAVE files through Add Audio Files.
    void addWaves(int n, double seconds) {
        std::vector<std::string> paths;
        for (int i = 0; i < n; ++i) {
            paths.push_back(dir.file("item" + std::to_string(i) + ".wav"));
            writeWave(paths.back(), 1, 44100, seconds, 300.0 + 100.0 * i);
        }
        chooseFiles(paths);
        window().onCommand(kIdAddFiles);
        ASSERT_EQ(rowCount(), n);
    }

    std::string status() { return labelText(kIdStatus); }

    // Runs the loop until the condition holds, recording each row that
    // becomes the current item.
    bool runUntil(const std::function<bool()>& done, std::vector<int>& visited, int timeoutMs) {
        return waitFor(
            [&] {
                const int index = window().currentIndex;
                if (visited.empty() || visited.back() != index) {
                    visited.push_back(index);
                }
                return done();
            },
            timeoutMs);
    }
};

} // namespace

TEST_F(PlayerTest, GoStraightPlaysEveryRowOnceThenStops) {
    addWaves(3, 0.7);
    MainWindow& w = window();
    w.onCommand(kIdPlay);
    EXPECT_EQ(status(), "Playing");
    EXPECT_EQ(w.currentIndex, 0);
    EXPECT_EQ(labelText(kIdTitle), "item0.wav");
    EXPECT_EQ(w.listView->GetSelectedRow(), 0);

    std::vector<int> visited;
    ASSERT_TRUE(
        runUntil([&] { return w.currentIndex == 2 && status() == "Stopped"; }, visited, 8000));
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(labelText(kIdTitle), "item2.wav");
    EXPECT_FALSE(w.output().playing);
    // It stays stopped.
    QTest::qWait(700);
    EXPECT_EQ(status(), "Stopped");
    EXPECT_EQ(w.currentIndex, 2);
    EXPECT_TRUE(messages->texts().empty());
}

TEST_F(PlayerTest, RepeatAllContinuesWithTheFirstRowAfterTheLast) {
    addWaves(2, 0.7);
    MainWindow& w = window();
    w.onCommand(kIdRepeat);
    w.onCommand(kIdRepeat);
    ASSERT_EQ(w.repeatMode, kRepeatAll);
    EXPECT_EQ(w.repeatButton->toolTipText().toStdString(), "Repeat All");
    w.onCommand(kIdPlay);
    std::vector<int> visited;
    ASSERT_TRUE(runUntil([&] { return visited.size() >= 4; }, visited, 8000));
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 0, 1}));
    EXPECT_EQ(status(), "Playing");
}

TEST_F(PlayerTest, RepeatOnePlaysTheSameItemAgainFromZero) {
    addWaves(2, 0.7);
    MainWindow& w = window();
    w.onCommand(kIdRepeat);
    ASSERT_EQ(w.repeatMode, kRepeatOne);
    EXPECT_EQ(w.repeatButton->toolTipText().toStdString(), "Repeat One");
    w.onCommand(kIdPlay);
    std::vector<int> visited;
    // Four lengths of the item: it has ended several times by now.
    runUntil([] { return false; }, visited, 3000);
    EXPECT_EQ(visited, (std::vector<int>{0}));
    EXPECT_EQ(status(), "Playing");
    EXPECT_LE(w.elapsedSeconds, 0.8);

    // The third press goes back to "Go Straight".
    w.onCommand(kIdRepeat);
    w.onCommand(kIdRepeat);
    EXPECT_EQ(w.repeatMode, kGoStraight);
    EXPECT_EQ(w.repeatButton->toolTipText().toStdString(), "Go Straight");
}

TEST_F(PlayerTest, PauseHoldsAndPlayResumesWhileStopDuringPauseDoesNothing) {
    addWaves(1, 3.0);
    MainWindow& w = window();
    w.onCommand(kIdPlay);
    ASSERT_TRUE(waitFor([&] { return w.elapsedSeconds > 0.0; }));
    w.onCommand(kIdPause);
    EXPECT_EQ(status(), "Paused");
    EXPECT_EQ(w.output().GetState(), WaveOutDevice::kPaused);
    const double elapsed = w.elapsedSeconds;
    EXPECT_GT(elapsed, 0.0);
    QTest::qWait(500);
    EXPECT_EQ(w.elapsedSeconds, elapsed); // the clock holds while paused
    w.onCommand(kIdStop);
    EXPECT_EQ(status(), "Paused");
    w.onCommand(kIdPause); // pausing again changes nothing
    EXPECT_EQ(w.output().GetState(), WaveOutDevice::kPaused);
    w.onCommand(kIdPlay);
    EXPECT_EQ(status(), "Playing");
    EXPECT_EQ(w.output().GetState(), WaveOutDevice::kPlaying);
    ASSERT_TRUE(waitFor([&] { return w.elapsedSeconds > elapsed; }));
    EXPECT_EQ(labelText(kIdTime), formatTime(w.elapsedSeconds));
}

TEST_F(PlayerTest, StopLetsTheQueueDrainAndStaysOnTheItem) {
    addWaves(2, 3.0);
    MainWindow& w = window();
    w.onCommand(kIdPlay);
    ASSERT_TRUE(waitFor([&] { return w.positionSlider->value() > 0; }));
    w.onCommand(kIdStop);
    EXPECT_EQ(status(), "Stopped");
    // PlayOver arrives once the queued buffers have played: the time and
    // the thumb go back to zero, and no next item is loaded.
    ASSERT_TRUE(
        waitFor([&] { return w.positionSlider->value() == 0 && w.elapsedSeconds == 0.0; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(w.currentIndex, 0);
    EXPECT_EQ(status(), "Stopped");
    EXPECT_EQ(labelText(kIdTime), "00:00");

    // Play again starts the loaded item from its beginning.
    w.onCommand(kIdPlay);
    EXPECT_EQ(status(), "Playing");
    EXPECT_EQ(w.currentIndex, 0);
}

TEST_F(PlayerTest, PrevAndNextFollowTheRepeatMode) {
    addWaves(3, 3.0);
    MainWindow& w = window();
    w.onCommand(kIdPlay);
    ASSERT_EQ(w.currentIndex, 0);
    // At row 0 without wrap Prev leaves the item playing.
    w.onCommand(kIdPrev);
    EXPECT_EQ(w.currentIndex, 0);
    EXPECT_EQ(status(), "Playing");
    w.onCommand(kIdNext);
    EXPECT_EQ(w.currentIndex, 1);
    EXPECT_EQ(labelText(kIdTitle), "item1.wav");
    EXPECT_EQ(status(), "Playing");
    EXPECT_TRUE(w.output().playing);

    w.repeatMode = kRepeatAll;
    w.onCommand(kIdPrev);
    w.onCommand(kIdPrev);
    EXPECT_EQ(w.currentIndex, 2); // wrapped to the last row
    EXPECT_EQ(w.listView->GetSelectedRow(), 2);
    w.onCommand(kIdNext);
    EXPECT_EQ(w.currentIndex, 0);

    // Next at the last row without wrap stops.
    w.onCommand(kIdPrev);
    ASSERT_EQ(w.currentIndex, 2);
    w.repeatMode = kGoStraight;
    w.onCommand(kIdNext);
    EXPECT_EQ(w.currentIndex, 2);
    EXPECT_FALSE(w.output().playing);
}

TEST_F(PlayerTest, DoubleClickPlaysTheRowAndRestartsThePlayingOne) {
    addWaves(2, 3.0);
    MainWindow& w = window();
    w.listView->clickedRow = 1;
    w.postCommand(kNewItem);
    ASSERT_TRUE(waitFor([&] { return status() == "Playing"; }, 2000));
    EXPECT_EQ(w.currentIndex, 1);
    EXPECT_EQ(labelText(kIdTitle), "item1.wav");
    EXPECT_TRUE(waitFor([&] { return w.elapsedSeconds > 0.3; }));

    w.listView->clickedRow = 1;
    w.onCommand(kNewItem);
    EXPECT_EQ(status(), "Playing");
    EXPECT_EQ(w.currentIndex, 1);
    EXPECT_TRUE(w.output().playing);

    // A row outside the list only stops.
    w.listView->clickedRow = 7;
    w.onCommand(kNewItem);
    EXPECT_FALSE(w.output().playing);
}

TEST_F(PlayerTest, SelectedRowIsLoadedOnlyWhileNothingIsLoaded) {
    addWaves(3, 3.0);
    MainWindow& w = window();
    w.listView->SelectRow(2);
    w.onCommand(kIdPlay);
    EXPECT_EQ(w.currentIndex, 2);
    EXPECT_EQ(labelText(kIdTitle), "item2.wav");
    EXPECT_EQ(labelText(kIdTime), "00:03");
    w.listView->SelectRow(0);
    w.onCommand(kIdPause);
    w.onCommand(kIdPlay);
    EXPECT_EQ(w.currentIndex, 2); // the loaded item resumes
    // Clear All while playing leaves the item playing.
    w.onCommand(kIdClearAll);
    EXPECT_EQ(rowCount(), 0);
    EXPECT_TRUE(w.output().playing);
    w.onCommand(kIdPlay);
    EXPECT_EQ(status(), "Playing");
    EXPECT_TRUE(messages->texts().empty());
}

TEST_F(PlayerTest, EmptiedPlayerStopsAndForgetsTheItemUntilPlayLoadsItAgain) {
    addWaves(1, 0.8);
    MainWindow& w = window();
    w.listView->SelectRow(0);
    w.onCommand(kIdPlay);
    ASSERT_TRUE(w.output().playing);
    w.emptyPlayer();
    EXPECT_FALSE(w.output().playing);
    EXPECT_FALSE(w.playbackMixer().hasEntries());
    w.onCommand(kIdPlay);
    EXPECT_TRUE(w.output().playing);
    EXPECT_TRUE(w.playbackMixer().hasEntries());
}

TEST_F(PlayerTest, FailedLoadsShowTheirTitleAndMessage) {
    MainWindow& w = window();
    w.onCommand(kIdPlay);
    EXPECT_EQ(messages->texts(), (std::vector<std::string>{"There is no audio file to play!"}));

    w.listView->clickedRow = 0;
    w.onCommand(kNewItem);
    EXPECT_EQ(messages->texts().back(),
              "no audio file in audio file list,\nPlease add audio files firstly!");

    w.addRow("song.aiff", 1, 1, "/music/song.aiff");
    w.addRow("gone.wav", 1, 1, dir.file("gone.wav"));
    w.addRow("x", 1, 1, "ab"); // shorter than a type
    w.listView->SelectRow(0);
    w.onCommand(kIdPlay);
    EXPECT_EQ(messages->texts().back(), "Fault to open audio file!");
    EXPECT_EQ(labelText(kIdTitle), "Unsupport audio type!");
    EXPECT_EQ(labelText(kIdTime), "00:00");
    // Nothing loaded, nothing to play: never "Playing" in silence.
    EXPECT_EQ(status(), "Stopped");
    EXPECT_FALSE(w.output().playing);

    const size_t before = messages->texts().size();
    w.listView->clickedRow = 1;
    w.onCommand(kNewItem);
    ASSERT_GT(messages->texts().size(), before);
    EXPECT_EQ(messages->texts().back(), "Fault to open audio file!");
    EXPECT_EQ(labelText(kIdTitle), "Error in loading audio file!");

    w.listView->clickedRow = 2;
    w.onCommand(kNewItem);
    EXPECT_EQ(labelText(kIdTitle), "Unsupport audio type!");
}

TEST_F(PlayerTest, CdRowWithoutADiscShowsNoAudioAndStaysStopped) {
    // A CD row of a stored list, and no drive at all.
    MainWindow& w = window();
    w.addRow("Track-00", 250, 1000, "CDROM");
    w.addRow("song.wav", 1, 1, "/music/song.wav");
    w.listView->SelectRow(0);
    w.onCommand(kIdPlay);
    EXPECT_EQ(status(), "Stopped");
    EXPECT_FALSE(w.output().playing);
    EXPECT_FALSE(w.playbackMixer().hasEntries());
    EXPECT_EQ(labelText(kIdTitle), "No Audio");
    EXPECT_EQ(labelText(kIdTime), "00:00");
    EXPECT_EQ(messages->texts(), (std::vector<std::string>{"Fault to play CD!"}));
    // The rows of the file list are the user's: they stay.
    EXPECT_EQ(rowCount(), 2);

    w.listView->clickedRow = 0;
    w.currentIndex = -1;
    w.onCommand(kNewItem);
    EXPECT_EQ(status(), "Stopped");
    EXPECT_EQ(messages->texts().size(), 2u);
    EXPECT_EQ(w.loadCdTrack("Track-07"), 2);
}

// No driver can start: Play says why once and stays stopped; once a driver
// is back, the next Play opens it.
TEST_F(PlayerTest, NoSoundOutputIsReportedOnceAndPlayWorksWhenOneIsBack) {
    useAudioDriver("velumo-no-such-driver");
    addWaves(1, 0.8);
    MainWindow& w = window();
    w.onCommand(kIdPlay);
    EXPECT_EQ(status(), "Stopped");
    EXPECT_FALSE(w.output().playing);
    ASSERT_EQ(messages->texts().size(), 1u);
    const std::string text = messages->texts()[0];
    const std::string prefix = MainWindow::kNoOutputMessage;
    EXPECT_EQ(text.substr(0, prefix.size()), prefix);
    EXPECT_GT(text.size(), prefix.size() + 3) << text; // with the system's reason
    // The time does not run and no second message follows.
    QTest::qWait(600);
    EXPECT_EQ(w.elapsedSeconds, 0.0);
    EXPECT_EQ(labelText(kIdTime), "00:00");
    EXPECT_EQ(messages->texts().size(), 1u);

    useAudioDriver("dummy");
    w.onCommand(kIdPlay);
    EXPECT_EQ(status(), "Playing");
    EXPECT_TRUE(w.output().playing);
    EXPECT_EQ(messages->texts().size(), 1u);
}

// SDL's disk driver gives up the device when a write fails, as when a
// headset is unplugged: the player stops with one message and the time
// stands still.
TEST_F(PlayerTest, LostSoundOutputStopsThePlayerWithOneMessage) {
    useAudioDriver("disk", "/dev/full");
    addWaves(1, 10.0);
    MainWindow& w = window();
    w.onCommand(kIdPlay);
    ASSERT_TRUE(waitFor([&] { return !messages->texts().empty(); }, 3000));
    EXPECT_EQ(messages->texts(),
              (std::vector<std::string>{std::string(MainWindow::kNoOutputMessage) +
                                        "the sound device was disconnected"}));
    EXPECT_EQ(status(), "Stopped");
    EXPECT_FALSE(w.output().playing);
    const std::string time = labelText(kIdTime);
    QTest::qWait(600);
    EXPECT_EQ(labelText(kIdTime), time);
    EXPECT_EQ(status(), "Stopped");
    EXPECT_EQ(messages->texts().size(), 1u);
}

// A sound server that goes away mid-item stops the player; Play, once a
// server is back, starts the item from 0:00 and the time with it.
TEST_F(PlayerTest, PlayAfterALostServerStartsTheItemAndItsTimeFromZero) {
    auto server = std::make_unique<testing_support::SoundServer>();
    ASSERT_TRUE(server->ok()) << server->whyNot();
    waveAudioShutdown();
    server->use();
    addWaves(1, 30.0);
    MainWindow& w = window();
    w.onCommand(kIdPlay);
    ASSERT_EQ(status(), "Playing");
    ASSERT_TRUE(waitFor([&] { return w.elapsedSeconds >= 1.0; }, 10000));
    server->kill();
    ASSERT_TRUE(waitFor([&] { return !messages->texts().empty(); }, 10000));
    EXPECT_EQ(status(), "Stopped");

    server = std::make_unique<testing_support::SoundServer>();
    ASSERT_TRUE(server->ok()) << server->whyNot();
    server->use();
    w.onCommand(kIdPlay);
    EXPECT_EQ(status(), "Playing");
    EXPECT_EQ(messages->texts().size(), 1u); // the new server opened at once
    EXPECT_LT(w.elapsedSeconds, 0.5);
    EXPECT_EQ(labelText(kIdTime), "00:00");
    QTest::qWait(1000);
    // The time shown follows what is heard: the mixer is ahead of it by the
    // queued buffers only.
    EXPECT_LT(w.elapsedSeconds, 2.0);
    EXPECT_LT(std::abs(w.playbackMixer().GetPosition() - w.elapsedSeconds), 1.0);
}

TEST_F(PlayerTest, VolumeSliderSetsBothChannels) {
    MainWindow& w = window();
    w.volumeSlider->setValue(0);
    EXPECT_EQ(w.volume, 0);
    w.volumeSlider->setValue(65535);
    EXPECT_EQ(w.volume, 65535);
    // Setting the position slider from code is no seek: the timer puts it
    // back to the playing position; a long item leaves room for a slow
    // machine's late timer.
    addWaves(1, 30.0);
    w.onCommand(kIdPlay);
    w.positionSlider->setValue(90);
    ASSERT_TRUE(waitFor([&] { return w.positionSlider->value() != 90; }, 5000));
    EXPECT_LT(w.positionSlider->value(), 20);
}

// The level heard from the first item on is the one the slider shows, not
// full scale until the slider is first touched.
TEST_F(PlayerTest, TheFirstItemPlaysAtTheVolumeTheSliderShows) {
    const std::string heard = dir.file("heard.raw");
    useAudioDriver("disk", heard.c_str());
    addWaves(1, 2.0); // a sine at half of full scale
    MainWindow& w = window();
    ASSERT_EQ(w.volumeSlider->value(), 0x8000);
    w.onCommand(kIdPlay);
    ASSERT_TRUE(waitFor(
        [&] {
            std::error_code error;
            return std::filesystem::file_size(heard, error) > 44100 && !error;
        },
        5000));
    w.onCommand(kIdStop);
    const std::vector<uint8_t> bytes = testing_support::readFileBytes(heard);
    int peak = 0;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        peak = std::max(peak, std::abs(int(int16_t(bytes[i] | bytes[i + 1] << 8))));
    }
    EXPECT_NEAR(peak / 32767.0, 0.5 * 0x8000 / 0xFFFF, 0.02);
}

TEST_F(PlayerTest, Mp3AndWaveRowsPlayInSequence) {
    if (!haveFfmpeg()) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    const std::string mp3 = dir.file("tone.mp3");
    ASSERT_TRUE(writeMp3(mp3, 0.5));
    const std::string upper = dir.file("TONE2.MP3");
    ASSERT_TRUE(writeMp3(upper, 2.2));
    const std::string wave = dir.file("last.wav");
    writeWave(wave, 1, 44100, 0.7);
    chooseFiles({mp3, upper, wave});
    MainWindow& w = window();
    w.onCommand(kIdAddFiles);
    ASSERT_EQ(rowCount(), 3);
    EXPECT_EQ(row(0, 2), "00:00");
    EXPECT_EQ(row(1, 1), "TONE2.MP3");
    EXPECT_EQ(row(1, 2), "00:02");

    w.listView->clickedRow = 1;
    w.onCommand(kNewItem);
    EXPECT_EQ(labelText(kIdTitle), "TONE2.MP3");
    EXPECT_EQ(labelText(kIdTime), "00:02");
    std::vector<int> visited;
    ASSERT_TRUE(
        runUntil([&] { return w.currentIndex == 2 && status() == "Stopped"; }, visited, 8000));
    EXPECT_EQ(visited, (std::vector<int>{1, 2}));
    EXPECT_TRUE(messages->texts().empty());
}

// Seeking with the position slider: a press on the channel jumps the thumb,
// the time follows the drag, the audio moves on release only.
TEST_F(PlayerTest, SliderSeeksOnReleaseAndTheTimeFollowsTheThumb) {
    addWaves(1, 20.0);
    MainWindow& w = window();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.onCommand(kIdPlay);
    TransparentSlider* slider = w.positionSlider;
    const QPoint middle(slider->width() / 2, slider->height() / 2);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(slider->width() / 4, middle.y()));
    QTest::mouseMove(slider, middle);
    QTest::qWait(450); // the timer leaves the thumb and the time alone
    const int percent = slider->sliderPosition();
    EXPECT_NEAR(percent, 50, 5);
    const double target = std::round(percent * 20.0 / 100.0);
    EXPECT_EQ(labelText(kIdTime), formatTime(target));
    EXPECT_LT(w.playbackMixer().GetPosition(), 2.0); // not heard before the release
    QTest::mouseRelease(slider, Qt::LeftButton, {}, middle);
    EXPECT_EQ(labelText(kIdTime), formatTime(target));
    EXPECT_NEAR(w.playbackMixer().GetPosition(), target + 0.25, 0.26); // and what is queued

    w.onCommand(kIdPause);
    EXPECT_TRUE(w.seekTo(6.6)); // to the nearest second
    EXPECT_EQ(labelText(kIdTime), "00:07");
    EXPECT_EQ(status(), "Paused");
    // Stopped, Play starts the item from its beginning: no seek.
    w.onCommand(kIdPlay);
    w.onCommand(kIdStop);
    ASSERT_TRUE(waitFor([&] { return w.elapsedSeconds == 0.0; }));
    EXPECT_FALSE(w.seekTo(5.0));
    EXPECT_EQ(labelText(kIdTime), "00:00");
}

TEST_F(PlayerTest, ItemEndsOnceAfterASeekInEveryRepeatMode) {
    addWaves(2, 3.0);
    MainWindow& w = window();
    w.repeatMode = kRepeatOne;
    w.onCommand(kIdPlay);
    ASSERT_TRUE(w.seekTo(2.0));
    // One restart from 0 (a second end would restart it again).
    ASSERT_TRUE(waitFor([&] { return w.elapsedSeconds < 1.0; }, 3000));
    double last = 0.0;
    bool again = false;
    ASSERT_TRUE(waitFor([&] {
        again = again || w.elapsedSeconds < last;
        last = w.elapsedSeconds;
        return last >= 1.6;
    }));
    EXPECT_FALSE(again);
    EXPECT_EQ(w.currentIndex, 0);

    // Go Straight: the next row, once (a second end would stop at the last).
    w.repeatMode = kGoStraight;
    std::vector<int> visited;
    ASSERT_TRUE(w.seekTo(2.0));
    runUntil([] { return false; }, visited, 1800);
    EXPECT_EQ(visited, (std::vector<int>{0, 1}));
    EXPECT_EQ(status(), "Playing");

    // Past the end of the last row: it ends there.
    ASSERT_TRUE(w.seekTo(1e12));
    ASSERT_TRUE(waitFor([&] { return status() == "Stopped"; }, 2000));
    EXPECT_EQ(w.currentIndex, 1);
}
