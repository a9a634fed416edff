// Start-up, display texts, bitrate settings and the closing rules.

#include "app/WindowFixture.h"

#include "controls/BitmapButton.h"
#include "controls/TransparentSlider.h"

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <filesystem>

using namespace window_test;
using testing_support::readFileBytes;
using testing_support::writeFileBytes;

TEST(BitrateTable, MapsEveryListedTextAndFallsBackToTheLowestRate) {
    EXPECT_EQ(bitrateValueOf("32KB"), 22050.0);
    EXPECT_EQ(bitrateValueOf("48KB"), 33075.0);
    EXPECT_EQ(bitrateValueOf("64KB"), 44100.0);
    EXPECT_EQ(bitrateValueOf("80KB"), 55125.0);
    EXPECT_EQ(bitrateValueOf("96KB"), 66150.0);
    EXPECT_EQ(bitrateValueOf("112KB"), 77175.0);
    EXPECT_EQ(bitrateValueOf("144KB"), 99225.0);
    EXPECT_EQ(bitrateValueOf("160KB"), 110250.0);
    EXPECT_EQ(bitrateValueOf("192KB"), 132300.0);
    // Texts are compared exactly.
    EXPECT_EQ(bitrateValueOf("200KB"), 22050.0);
    EXPECT_EQ(bitrateValueOf("64kb"), 22050.0);
    EXPECT_EQ(bitrateValueOf(" 64KB"), 22050.0);
    EXPECT_EQ(bitrateValueOf(""), 22050.0);
}

TEST(TimeText, ShowsWholeMinutesBeyondTwoDigitsAndNothingNegative) {
    EXPECT_EQ(formatTime(0.0), "00:00");
    EXPECT_EQ(formatTime(59.99), "00:59");
    EXPECT_EQ(formatTime(3599.9), "59:59");
    EXPECT_EQ(formatTime(5400.0), "90:00");
    EXPECT_EQ(formatTime(6000.0), "100:00");
    EXPECT_EQ(formatTime(7200.0), "120:00");
    EXPECT_EQ(formatTime(-1.0), "00:00");
    EXPECT_EQ(formatTime(std::numeric_limits<double>::quiet_NaN()), "00:00");
    EXPECT_EQ(formatTime(1e300), formatTime(2147483647.0));
}

TEST_F(WindowTest, FirstStartShowsAnEmptyListAndTheInitialTexts) {
    MainWindow& w = window();
    EXPECT_EQ(rowCount(), 0);
    EXPECT_EQ(labelText(kIdTitle), "no audio file");
    EXPECT_EQ(labelText(kIdTime), "");
    EXPECT_EQ(labelText(kIdStatus), "Stopped");
    EXPECT_EQ(w.windowTitle().toStdString(), "Velumo");
    ASSERT_NE(w.repeatButton, nullptr);
    EXPECT_EQ(w.repeatButton->toolTipText().toStdString(), "No Repeat");
    EXPECT_EQ(w.currentIndex, -1);
    EXPECT_EQ(w.listMode, kListFiles);
    EXPECT_EQ(w.repeatMode, kGoStraight);
    EXPECT_EQ(w.volume, 32768);
    EXPECT_EQ(w.playbackMixer().outputSampleRate, 44100.0);
    EXPECT_TRUE(messages->texts().empty());
}

TEST_F(WindowTest, EveryControlIsBuiltWithItsSettings) {
    MainWindow& w = window();
    for (BitmapButton* button :
         {w.repeatButton, w.moveUpButton, w.removeButton, w.convertButton, w.cdRefreshButton,
          w.moveDownButton, w.clearAllButton, w.addFilesButton, w.recordButton, w.prevButton,
          w.nextButton, w.ejectButton, w.stopButton, w.pauseButton, w.playButton}) {
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->hasImage()) << button->toolTipText().toStdString();
        EXPECT_EQ(button->imageAlign(), 5u);
        EXPECT_TRUE(button->toolTipActive());
    }
    EXPECT_EQ(w.convertButton->toolTipText().toStdString(), "Convert Audio Format and Save");
    EXPECT_EQ(w.addFilesButton->toolTipText().toStdString(), "Add Audio Files");
    EXPECT_EQ(w.playButton->imageWidth(), 20);
    EXPECT_EQ(w.pauseButton->imageWidth(), 21);
    EXPECT_EQ(w.convertButton->imageWidth(), 31);
    EXPECT_EQ(w.recordButton->imageWidth(), 32);
    // Move Up and Move Down exist but are never shown.
    w.show();
    EXPECT_FALSE(w.moveUpButton->isVisible());
    EXPECT_FALSE(w.moveDownButton->isVisible());
    EXPECT_TRUE(w.playButton->isVisible());

    ASSERT_NE(w.positionSlider, nullptr);
    EXPECT_EQ(w.positionSlider->minimum(), 0);
    EXPECT_EQ(w.positionSlider->maximum(), 100);
    EXPECT_EQ(w.positionSlider->pageStep(), 20);
    ASSERT_NE(w.volumeSlider, nullptr);
    EXPECT_EQ(w.volumeSlider->maximum(), 65535);
    EXPECT_EQ(w.volumeSlider->value(), 32768);
    EXPECT_EQ(w.volumeSlider->pageStep(), 4096);

    ASSERT_NE(w.listView, nullptr);
    const char* headers[] = {"", "Audio Name", "Time", "Size", "Directory"};
    const int widths[] = {20, 150, 60, 80, 300};
    ASSERT_EQ(w.listView->columnCount(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(w.listView->headerItem()->text(i).toStdString(), headers[i]);
        EXPECT_EQ(w.listView->columnWidth(i), widths[i]);
    }
    w.hide();
}

TEST_F(WindowTest, CombosOfferTheirEntriesWithTheGlobalDefaults) {
    MainWindow& w = window();
    ASSERT_NE(w.bitrateCombo, nullptr);
    ASSERT_NE(w.channelCombo, nullptr);
    ASSERT_EQ(w.bitrateCombo->count(), 8);
    EXPECT_EQ(w.bitrateCombo->itemText(0).toStdString(), "32KB");
    EXPECT_EQ(w.bitrateCombo->itemText(7).toStdString(), "160KB");
    EXPECT_EQ(w.bitrateCombo->findText("192KB"), -1);
    EXPECT_EQ(w.bitrateCombo->currentText().toStdString(), "32KB");
    ASSERT_EQ(w.channelCombo->count(), 2);
    EXPECT_EQ(w.channelCombo->currentText().toStdString(), "stereo");
    EXPECT_EQ(w.bitrateText, "32KB");
    EXPECT_EQ(w.channelText, "stereo");
    EXPECT_EQ(w.conversionRate(), 22050.0);
}

TEST_F(WindowTest, TypedBitrateIsReadBackAndSurvivesTheDisplayTimer) {
    MainWindow& w = window();
    w.bitrateCombo->setEditText("192KB");
    // Several timer ticks: the periodic display update must not put the
    // old text back.
    QTest::qWait(450);
    w.readControls();
    EXPECT_EQ(w.bitrateText, "192KB");
    EXPECT_EQ(bitrateValueOf(w.bitrateText), 132300.0);
    EXPECT_EQ(w.conversionRate(), 132300.0);

    w.bitrateCombo->setEditText("200KB");
    w.readControls();
    EXPECT_EQ(bitrateValueOf(w.bitrateText), 22050.0);

    w.bitrateCombo->setCurrentIndex(2);
    QTest::qWait(250);
    w.readControls();
    EXPECT_EQ(w.bitrateText, "64KB");
    w.channelCombo->setCurrentIndex(0);
    QTest::qWait(250);
    w.readControls();
    EXPECT_EQ(w.channelText, "mono");
}

TEST_F(WindowTest, DisplaySelectsTheFirstEntryBeginningWithTheText) {
    MainWindow& w = window();
    w.bitrateText = "16";
    w.updateDisplay();
    EXPECT_EQ(w.bitrateCombo->currentText().toStdString(), "160KB");
    w.channelText = "MO";
    w.updateDisplay();
    EXPECT_EQ(w.channelCombo->currentText().toStdString(), "mono");
    w.bitrateText = "192KB";
    w.updateDisplay();
    EXPECT_EQ(w.bitrateCombo->currentText().toStdString(), "192KB");
}

TEST_F(WindowTest, IdleTimerShowsZeroElapsedTime) {
    MainWindow& w = window();
    EXPECT_EQ(labelText(kIdTime), "");
    // Nothing is playing: the display shows the (zero) elapsed time.
    ASSERT_TRUE(waitFor([&] { return labelText(kIdTime) == "00:00"; }));
    EXPECT_EQ(w.elapsedSeconds, 0.0);
    EXPECT_EQ(w.positionSlider->value(), 0);
}

namespace {
std::vector<uint8_t> oneRowList() {
    // One row: "", "a.wav", "00:01", "0 KB", "/x/a.wav".
    std::vector<uint8_t> bytes = {1, 0, 0, 0, 0};
    for (const std::string text : {"a.wav", "00:01", "0 KB", "/x/a.wav"}) {
        bytes.push_back(static_cast<uint8_t>(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
    return bytes;
}
} // namespace

TEST_F(WindowTest, CloseBoxStoresTheListButEscapeAndEnterDoNot) {
    const std::string listPath = dir.file("velumo.ini");
    {
        MainWindow& w = window();
        w.show();
        w.addRow("a.wav", 1, 100, "/x/a.wav");
        w.close();
        EXPECT_FALSE(w.isVisible());
        EXPECT_EQ(readFileBytes(listPath), oneRowList());
        resetWindow();
    }
    // The keys reach the window from the window itself, from the list and
    // from the bitrate combo's edit field.
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        for (int target = 0; target < 3; ++target) {
            MainWindow& w = window();
            ASSERT_EQ(rowCount(), 1);
            w.show();
            w.addRow("b.wav", 2, 200, "/x/b.wav");
            QWidget* receiver = target == 0   ? static_cast<QWidget*>(&w)
                                : target == 1 ? static_cast<QWidget*>(w.listView)
                                              : static_cast<QWidget*>(w.bitrateCombo->lineEdit());
            ASSERT_NE(receiver, nullptr);
            QTest::keyClick(receiver, key);
            EXPECT_FALSE(w.isVisible()) << key << " " << target;
            EXPECT_EQ(readFileBytes(listPath), oneRowList()) << key << " " << target;
            EXPECT_EQ(w.bitrateCombo->count(), 8);
            resetWindow();
        }
    }
}

TEST_F(WindowTest, AboutBoxOpensFromTheWindowAndClosesWithOk) {
    MainWindow& w = window();
    w.show();
    bool seen = false;
    QTimer::singleShot(50, [&] {
        QWidget* about = QApplication::activeModalWidget();
        if (about && about != &w) {
            seen = about->windowTitle() == "About Velumo";
            auto buttons = about->findChildren<QPushButton*>();
            if (!buttons.isEmpty()) {
                buttons.front()->click();
            } else {
                about->close();
            }
        }
    });
    w.showAbout();
    EXPECT_TRUE(seen);
    w.hide();
}
