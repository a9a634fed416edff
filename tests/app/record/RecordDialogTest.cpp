#include "app/record/RecordDialog.h"

#include "app/WindowFixture.h"
#include "app/record/RecordCommand.h"
#include "controls/BitmapButton.h"
#include "encode/OutputFile.h"
#include "platform/WaveOut.h"
#include "support/SoundServer.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

using namespace window_test;

namespace {

class RecordDialogTest : public WindowTest {
  protected:
    void SetUp() override {
        // SDL's dummy driver captures silence at the real-time pace.
        if (!std::getenv("SDL_AUDIODRIVER")) {
            setenv("SDL_AUDIODRIVER", "dummy", 1);
        }
        WindowTest::SetUp();
    }

    // Runs the Record command of win, handing the open dialog to act once
    // it has run for runMs.
    void record(MainWindow& win, int runMs, std::function<void(RecordDialog&)> act) {
        installRecordCommand(win);
        bool acted = false;
        QTimer::singleShot(runMs, [&] {
            if (auto* dialog = dynamic_cast<RecordDialog*>(QApplication::activeModalWidget())) {
                seenTime =
                    qobject_cast<QLabel*>(dialog->control(kIdRecordTime))->text().toStdString();
                wasRecording = dialog->waveRecorder().isRecording();
                acted = true;
                act(*dialog);
            }
        });
        win.onCommand(kIdRecord);
        EXPECT_TRUE(acted) << "the Record dialog did not run modally";
    }

    static void clickStop(RecordDialog& dialog) {
        QTest::mouseClick(dialog.control(kIdRecordStop), Qt::LeftButton);
    }

    std::string seenTime;
    bool wasRecording = false;
};

TEST_F(RecordDialogTest, TheTimeCountsWholeMinutesAndSecondsAndWidensPastAnHour) {
    RecordDialog dialog;
    auto* time = qobject_cast<QLabel*>(dialog.control(kIdRecordTime));
    ASSERT_NE(time, nullptr);
    EXPECT_EQ(time->text().toStdString(), "00:00");
    dialog.onTimer();
    EXPECT_EQ(time->text().toStdString(), "00:01");
    while (dialog.seconds() < 59) {
        dialog.onTimer();
    }
    EXPECT_EQ(time->text().toStdString(), "00:59");
    dialog.onTimer();
    EXPECT_EQ(time->text().toStdString(), "01:00");
    while (dialog.seconds() < 100 * 60) {
        dialog.onTimer();
    }
    EXPECT_EQ(time->text().toStdString(), "100:00");
}

TEST_F(RecordDialogTest, StopEndsTheDialogAndTheTakeIsLoadedAsRecordAudio) {
    MainWindow& win = window();
    const std::string take = win.programFiles().recordedTakePath();
    testing_support::writeFileBytes(take, std::vector<uint8_t>(5000, 0x11)); // an older take
    record(win, 700, clickStop);

    EXPECT_EQ(seenTime, "00:00"); // ended before the first tick
    EXPECT_TRUE(wasRecording);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(messages->texts().empty()); // the old take went without a question

    const std::vector<uint8_t> bytes = testing_support::readFileBytes(take);
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    const uint32_t data = uint32_t(bytes[40]) | uint32_t(bytes[41]) << 8 |
                          uint32_t(bytes[42]) << 16 | uint32_t(bytes[43]) << 24;
    EXPECT_EQ(bytes.size(), 44u + data);
    EXPECT_EQ(data % WaveRecorder::kBufferBytes, 0u);
    // At most the buffers of the time it ran, with some slack for a slow start.
    EXPECT_LE(data, 6u * WaveRecorder::kBufferBytes);
    EXPECT_GE(data, WaveRecorder::kBufferBytes);

    EXPECT_EQ(win.titleText, "Record Audio");
    EXPECT_EQ(win.listMode, kListRecording);
    EXPECT_FALSE(win.listView->isEnabled());
}

TEST_F(RecordDialogTest, EscapeEndsTheDialogAfterItHasCounted) {
    MainWindow& win = window();
    record(win, 1500, [](RecordDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
    EXPECT_EQ(seenTime, "00:01");
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(win.titleText, "Record Audio");
}

TEST_F(RecordDialogTest, EnterOnTheFocusedStopEndsTheDialog) {
    MainWindow& win = window();
    bool stillOpen = false;
    record(win, 300, [&](RecordDialog& dialog) {
        QWidget* stop = dialog.control(kIdRecordStop);
        stop->setFocus(Qt::TabFocusReason);
        QTest::keyClick(stop, Qt::Key_Return);
        stillOpen = dialog.isVisible();
        if (stillOpen) {
            dialog.reject();
        }
    });
    EXPECT_FALSE(stillOpen);
    EXPECT_EQ(win.titleText, "Record Audio");
}

TEST_F(RecordDialogTest, AnUnwritableTakeIsReportedAndTheLoadFails) {
    // The data directory cannot be made: a file stands where its parent
    // should be.
    testing_support::writeFileBytes(dir.file("blocked"), {1});
    MainWindow win(ProgramFiles::inDirectory(dir.file("blocked") + "/velumo"));
    record(win, 300, clickStop);

    EXPECT_EQ(messages->texts(), std::vector<std::string>{OutputFile::kOpenFailedMessage});
    EXPECT_TRUE(wasRecording); // the sound card still runs
    EXPECT_EQ(win.titleText, "Error in loading audio file!");
    EXPECT_EQ(win.listMode, kListRecording);
}

TEST_F(RecordDialogTest, WithoutADeviceTheEarlierTakeStaysAndNothingIsLoaded) {
    useAudioDriver("velumo-no-such-driver");
    MainWindow& win = window();
    const std::string song = testing_support::writeWave(dir.file("song.wav"), 1, 44100, 0.7);
    ASSERT_EQ(win.addFiles({song}), 1);
    ASSERT_EQ(win.loadFile(song, "song.wav"), 0);
    const std::string take = win.programFiles().recordedTakePath();
    std::vector<uint8_t> earlier(5000);
    for (size_t i = 0; i < earlier.size(); ++i) {
        earlier[i] = uint8_t(i * 7 + 3);
    }
    testing_support::writeFileBytes(take, earlier);

    std::string label;
    record(win, 1300, [&](RecordDialog& dialog) {
        label = qobject_cast<QLabel*>(dialog.control(kIdRecordLabel))->text().toStdString();
        clickStop(dialog);
    });

    // "No Sound Device", and SDL's reason on a second line.
    ASSERT_EQ(messages->texts().size(), 1u);
    EXPECT_EQ(messages->texts()[0].substr(0, messages->texts()[0].find('\n')),
              WaveRecorder::kNoDeviceMessage);
    EXPECT_NE(messages->texts()[0].find('\n'), std::string::npos);
    EXPECT_FALSE(wasRecording);
    EXPECT_EQ(label, RecordDialog::kNotRecordingText);
    EXPECT_EQ(seenTime, "00:00"); // nothing counted
    EXPECT_EQ(testing_support::readFileBytes(take), earlier);
    // Neither the earlier take nor the song is loaded.
    EXPECT_FALSE(win.playbackMixer().hasEntries());
    EXPECT_EQ(win.titleText, "");
    EXPECT_EQ(labelText(kIdStatus), "Stopped");
    // The list is back in the file mode, usable, with its row.
    EXPECT_EQ(win.listMode, kListFiles);
    EXPECT_EQ(rowCount(), 1);
    EXPECT_EQ(row(0, 4), song);
    EXPECT_TRUE(win.listView->isEnabled());
    for (BitmapButton* button : {win.repeatButton, win.removeButton, win.clearAllButton,
                                 win.moveUpButton, win.moveDownButton}) {
        EXPECT_TRUE(button->isEnabled()) << button->toolTipText().toStdString();
    }
}

TEST_F(RecordDialogTest, AFailedRecordAfterATakeReturnsToTheFileRows) {
    useAudioDriver("velumo-no-such-driver");
    MainWindow& win = window();
    const std::string song = testing_support::writeWave(dir.file("song.wav"), 1, 44100, 0.7);
    ASSERT_EQ(win.addFiles({song}), 1);
    // As an earlier take leaves the window: the recording mode, list greyed.
    win.setListMode(kListRecording);
    ASSERT_FALSE(win.listView->isEnabled());
    record(win, 300, clickStop);
    EXPECT_EQ(win.listMode, kListFiles);
    EXPECT_EQ(rowCount(), 1);
    EXPECT_TRUE(win.listView->isEnabled());
    EXPECT_TRUE(win.clearAllButton->isEnabled());
}

TEST_F(RecordDialogTest, TheDialogOpensBelowAndRightOfItsPlaceWithoutACloseBox) {
    MainWindow& win = window();
    win.show();
    QDialog plain(&win);
    RecordDialog dialog(&win);
    plain.setFixedSize(dialog.size());
    plain.show();
    dialog.show();
    EXPECT_EQ(dialog.pos() - plain.pos(),
              QPoint(RecordDialog::kOffsetRight, RecordDialog::kOffsetDown));
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowSystemMenuHint);
    dialog.reject();
}

TEST_F(RecordDialogTest, ALostInputStopsTheCountAndKeepsWhatWasCaptured) {
    testing_support::SoundServer server;
    ASSERT_TRUE(server.ok()) << server.whyNot();
    ASSERT_GE(server.loadModule("module-sine-source", {"source_name=velumo_sine"}), 0);
    ASSERT_TRUE(server.waitFor("sources", "velumo_sine"));
    ASSERT_TRUE(server.pactl({"set-default-source", "velumo_sine"}));
    waveAudioShutdown();
    server.use();

    MainWindow& win = window();
    const std::string take = win.programFiles().recordedTakePath();
    bool lost = false;
    std::string label;
    std::vector<std::string> shown;
    record(win, 2500, [&](RecordDialog& dialog) {
        server.kill();
        lost = QTest::qWaitFor([&] { return dialog.inputWasLost(); }, 20000);
        const int counted = dialog.seconds();
        QTest::qWait(1500); // the count stays where the input went
        EXPECT_EQ(dialog.seconds(), counted);
        label = qobject_cast<QLabel*>(dialog.control(kIdRecordLabel))->text().toStdString();
        shown = messages->texts();
        clickStop(dialog);
    });
    EXPECT_TRUE(wasRecording);
    ASSERT_TRUE(lost);
    EXPECT_EQ(label, RecordDialog::kInputLostText);
    EXPECT_EQ(shown, std::vector<std::string>{RecordDialog::kInputLostMessage});
    // The take is loaded, and it is all sound: nothing was made up after
    // the loss.
    EXPECT_EQ(win.titleText, "Record Audio");
    std::vector<uint8_t> bytes = testing_support::readFileBytes(take);
    ASSERT_GT(bytes.size(), 44u + WaveRecorder::kBufferBytes);
    std::vector<int16_t> samples((bytes.size() - 44) / 2);
    std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
    const double taken = double(samples.size()) / WaveRecorder::kSampleRate;
    const testing_support::HeardSound heard =
        testing_support::listen(samples, 1, WaveRecorder::kSampleRate);
    EXPECT_NEAR(heard.soundSeconds, taken, 0.05);
    EXPECT_EQ(heard.gaps, 0);
}

} // namespace
