// Start-up, display texts, bitrate settings and the closing rules.

#include "app/WindowFixture.h"

#include "app/convert/ConvertDialog.h"
#include "controls/BitmapButton.h"
#include "controls/TransparentSlider.h"
#include "resources/Images.h"
#include "support/qt/Pixels.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <filesystem>

using namespace window_test;
using testing_support::contrast;
using testing_support::darkestPixel;
using testing_support::darkRows;
using testing_support::grabUnits;
using testing_support::luminance;
using testing_support::readFileBytes;
using testing_support::tileAt;
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

namespace {
std::vector<uint8_t> twoRowList() {
    std::vector<uint8_t> bytes = oneRowList();
    bytes[0] = 2;
    bytes.push_back(0);
    for (const std::string text : {"b.wav", "00:02", "0 KB", "/x/b.wav"}) {
        bytes.push_back(static_cast<uint8_t>(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
    }
    return bytes;
}
} // namespace

TEST_F(WindowTest, CloseBoxAndEscapeStoreTheListAndReturnNeverClosesTheWindow) {
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
    // The keys reach the window from the window itself, from the list (a
    // row selected or none) and from the bitrate combo's edit field.
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        for (int target = 0; target < 4; ++target) {
            writeFileBytes(listPath, oneRowList());
            MainWindow& w = window();
            ASSERT_EQ(rowCount(), 1);
            w.show();
            w.addRow("b.wav", 2, 200, "/x/b.wav");
            QWidget* receiver = target == 0   ? static_cast<QWidget*>(&w)
                                : target <= 2 ? static_cast<QWidget*>(w.listView)
                                              : static_cast<QWidget*>(w.bitrateCombo->lineEdit());
            ASSERT_NE(receiver, nullptr);
            receiver->setFocus();
            w.listView->SelectRow(target == 2 ? 1 : -1);
            const auto modifiers = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
            QTest::keyClick(receiver, key, modifiers);
            QCoreApplication::processEvents();
            if (key == Qt::Key_Escape) {
                EXPECT_FALSE(w.isVisible()) << key << " " << target;
                EXPECT_EQ(readFileBytes(listPath), twoRowList()) << target;
            } else {
                EXPECT_TRUE(w.isVisible()) << key << " " << target;
                EXPECT_EQ(rowCount(), 2);
                EXPECT_EQ(readFileBytes(listPath), oneRowList()) << key << " " << target;
            }
            EXPECT_EQ(w.bitrateCombo->count(), 8);
            resetWindow();
        }
    }
}

TEST_F(WindowTest, ReturnOnAListRowPlaysItAsADoubleClickDoes) {
    useAudioDriver("dummy");
    const std::string first = testing_support::writeWave(dir.file("one.wav"), 1, 44100, 3.0);
    const std::string second = testing_support::writeWave(dir.file("two.wav"), 1, 44100, 3.0);
    MainWindow& w = window();
    w.show();
    ASSERT_EQ(w.addFiles({first, second}), 2);
    w.listView->setFocus();
    w.listView->SelectRow(1);
    QTest::keyClick(w.listView, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return w.loadedFile() == second; }));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.currentIndex, 1);
    EXPECT_EQ(w.titleText, "two.wav");
    EXPECT_TRUE(waitFor([&] { return labelText(kIdStatus) == "Playing"; }));
    w.listView->SelectRow(0);
    QTest::keyClick(w.listView, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(waitFor([&] { return w.loadedFile() == first; }));
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(rowCount(), 2);
    w.onCommand(kIdStop);
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

TEST_F(WindowTest, EnterPressesTheFocusedImageButtonAndTheWindowStays) {
    const std::string listPath = dir.file("velumo.ini");
    MainWindow& w = window();
    w.show();
    w.repeatButton->setFocus(Qt::TabFocusReason);
    QTest::keyClick(w.repeatButton, Qt::Key_Return);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.repeatMode, kRepeatOne);
    QTest::keyClick(w.repeatButton, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.repeatMode, kRepeatAll);
    EXPECT_FALSE(std::filesystem::exists(listPath));
    // Escape on the button ends the window as its close box does.
    QTest::keyClick(w.repeatButton, Qt::Key_Escape);
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(std::filesystem::exists(listPath));
}

namespace {

// Where a label draws text, by its alignment: does the ink fit inside?
bool inkFits(const QLabel* label, const QString& text) {
    const QFontMetrics metrics(label->font());
    const QRect room = label->contentsRect();
    const int advance = metrics.horizontalAdvance(text);
    int x = room.left();
    if (label->alignment() & Qt::AlignRight) {
        x = room.right() + 1 - advance;
    } else if (label->alignment() & Qt::AlignHCenter) {
        x = room.left() + (room.width() - advance) / 2;
    }
    const QRect ink = metrics.boundingRect(text);
    return advance <= room.width() && x + ink.left() >= 0 && x + ink.right() < label->width();
}

} // namespace

// A dark desktop palette must not reach the window, whether it is there at
// start or comes while the window is open (a desktop theme change, or a new
// style): its texts are drawn over the light tile and would turn white on
// light grey, and the list and the image buttons would turn dark.
TEST_F(WindowTest, DisplayTextsStayReadableOnADarkDesktopPalette) {
    // A desktop theme gives the controls' classes palettes of their own, as
    // Qt's platform themes do.
    enum class When { AtStart, WhileOpen, WithNewStyle, ForEachClass };
    for (const When when :
         {When::AtStart, When::WhileOpen, When::WithNewStyle, When::ForEachClass}) {
        SCOPED_TRACE(static_cast<int>(when));
        struct RestoreLook {
            QPalette saved = QApplication::palette();
            QString style = QApplication::style()->name();
            ~RestoreLook() {
                QApplication::setStyle(style);
                QApplication::setPalette(saved);
            }
        } restore;
        QPalette dark(QColor(230, 230, 230), QColor(45, 45, 45));
        dark.setColor(QPalette::Base, QColor(30, 30, 30));
        dark.setColor(QPalette::Text, QColor(230, 230, 230));
        dark.setColor(QPalette::Button, QColor(50, 50, 50));
        dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));

        resetWindow();
        if (when == When::AtStart) {
            QApplication::setPalette(dark);
        }
        MainWindow& w = window();
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        if (when == When::WhileOpen) {
            QApplication::setPalette(dark);
        } else if (when == When::WithNewStyle) {
            QApplication::setStyle(QStringLiteral("Windows"));
            QApplication::setPalette(dark);
        } else if (when == When::ForEachClass) {
            QApplication::setPalette(dark);
            for (const char* name : {"QAbstractButton", "QAbstractItemView", "QHeaderView",
                                     "QLabel", "QGroupBox", "QComboBox", "QLineEdit"}) {
                QApplication::setPalette(dark, name);
            }
        }
        ASSERT_TRUE(waitFor([&] { return labelText(kIdTime) == "00:00"; }));
        const QImage shot = grabUnits(w);
        const QImage tile =
            loadBitmapImage(kBitmapBackground).convertToFormat(QImage::Format_RGB32);

        // Every text over the tile: the darkest pixel of its area is text.
        std::vector<std::pair<QString, QRect>> texts;
        for (const int id : {kIdStatus, kIdTime, kIdTitle}) {
            texts.emplace_back(QString::number(id), w.control(id)->geometry());
        }
        for (QLabel* label : w.findChildren<QLabel*>()) {
            if (label->text() == "Bitrate" || label->text() == "Channel") {
                texts.emplace_back(label->text(), label->geometry());
            }
        }
        for (QGroupBox* box : w.findChildren<QGroupBox*>()) {
            if (!box->title().isEmpty()) {
                const QFontMetrics metrics(box->font());
                texts.emplace_back(box->title(), QRect(box->geometry().topLeft(),
                                                       QSize(box->width(), metrics.height())));
            }
        }
        ASSERT_EQ(texts.size(), 6u);
        for (const auto& [name, area] : texts) {
            const QRgb behind = tileAt(tile, area.center().x(), area.center().y());
            EXPECT_GE(contrast(darkestPixel(shot, area), behind), 4.5) << name.toStdString();
        }
        // The list's field and the image buttons' faces stay light.
        const QPoint field = w.listView->viewport()->mapTo(&w, QPoint(40, 60));
        EXPECT_GT(luminance(shot.pixel(field)), 0.6);
        for (BitmapButton* button : w.findChildren<BitmapButton*>()) {
            if (button->isVisible()) {
                const QPoint corner = button->geometry().topLeft() + QPoint(1, 1);
                EXPECT_GT(luminance(shot.pixel(corner)), 0.6) << button->controlId();
            }
        }
        ConvertDialog convert(&w, 22050);
        EXPECT_LT(convert.palette().color(QPalette::WindowText).lightness(), 64);
    }
}

// Nothing the window shows is cut off: the display labels hold every text
// they show with the italic overhang, and the group title sits on its frame
// with its descenders. ctest runs this under each font set at scale 1 and 2
// (tests/CMakeLists.txt).
TEST_F(WindowTest, NoDisplayTextIsCutOff) {
    MainWindow& w = window();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const auto* status = qobject_cast<QLabel*>(w.control(kIdStatus));
    const auto* time = qobject_cast<QLabel*>(w.control(kIdTime));
    const auto* title = qobject_cast<QLabel*>(w.control(kIdTitle));
    ASSERT_TRUE(status && time && title);
    for (const char* text : {"Stopped", "Playing", "Paused"}) {
        EXPECT_TRUE(inkFits(status, text)) << text;
    }
    for (const char* text : {"00:00", "59:59", "100:00", "12:34", "08:47"}) {
        EXPECT_TRUE(inkFits(time, text)) << text;
    }
    EXPECT_TRUE(inkFits(title, "no audio file"));
    int labels = 0;
    for (QLabel* label : w.findChildren<QLabel*>()) {
        if (label->text() == "Bitrate" || label->text() == "Channel") {
            EXPECT_TRUE(inkFits(label, label->text())) << label->text().toStdString();
            ++labels;
        }
    }
    EXPECT_EQ(labels, 2);

    QGroupBox* quality = nullptr;
    for (QGroupBox* box : w.findChildren<QGroupBox*>()) {
        quality = box->title() == "Conversion Quality" ? box : quality;
    }
    ASSERT_NE(quality, nullptr);
    EXPECT_LE(quality->minimumSizeHint().width(), quality->width()) << "the title fits its frame";
    // In the grab's own pixels: at scale 2 there are two per unit.
    const QImage shot = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const qreal dpr = shot.devicePixelRatio();
    const auto px = [dpr](int units) { return static_cast<int>(std::lround(units * dpr)); };
    const QImage tile = loadBitmapImage(kBitmapBackground).convertToFormat(QImage::Format_RGB32);
    const QRect box = quality->geometry();
    // The frame's top line: the first pixel clearly off the tile down a
    // column just inside the frame's left edge, before the title.
    const int column = px(box.left() + 3);
    int frameTop = -1;
    for (int y = px(box.top()); y <= px(box.bottom()) && frameTop < 0; ++y) {
        const QRgb behind = tileAt(tile, static_cast<int>(column / dpr), static_cast<int>(y / dpr));
        frameTop = std::abs(luminance(shot.pixel(column, y)) - luminance(behind)) > 0.05 ? y : -1;
    }
    ASSERT_GE(frameTop, 0);
    const int lineHeight = QFontMetrics(quality->font()).height();
    const auto [titleTop, titleBottom] =
        darkRows(shot, QRect(px(box.left()), px(box.top()), px(box.width()), px(lineHeight + 2)));
    EXPECT_LE(titleTop, frameTop) << "the title stands above its frame";
    EXPECT_GE(titleBottom, frameTop) << "the title stands above its frame";
    // The title's ink is as tall as the text drawn without a clip.
    QImage reference(px(box.width() * 2), px(80), QImage::Format_RGB32);
    reference.setDevicePixelRatio(dpr);
    reference.fill(Qt::white);
    {
        QPainter painter(&reference);
        painter.setFont(quality->font());
        painter.setPen(Qt::black);
        painter.drawText(QPoint(20, 50), quality->title());
    }
    const auto [referenceTop, referenceBottom] = darkRows(reference, reference.rect());
    EXPECT_EQ(titleBottom - titleTop, referenceBottom - referenceTop);
}
