// The Convert command and its dialog: what the save dialog is asked, which
// source each list mode converts, and the dialog's Start, Stop, progress and
// closing while a worker runs.

#include "app/WindowFixture.h"

#include "app/convert/ConvertCommand.h"
#include "app/convert/ConvertDialog.h"
#include "base/WaveFormat.h"
#include "controls/TemplateBuilder.h"
#include "encode/ExternalTools.h"
#include "platform/CdLibrary.h"
#include "platform/LameEncoder.h"
#include "support/DiscImage.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <cstring>
#include <filesystem>

using namespace window_test;

namespace {

uint32_t u32At(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
}
uint16_t u16At(const std::vector<uint8_t>& bytes, size_t at) {
    return uint16_t(bytes[at] | bytes[at + 1] << 8);
}

// A WAV file the writer made: the 44-byte header agrees with the file's size.
// Returns the number of data bytes, or -1 when the header is not sound.
int64_t checkedDataBytes(const std::vector<uint8_t>& file) {
    if (file.size() < 44 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(file.data() + 36, "data", 4) != 0) {
        return -1;
    }
    const uint32_t data = u32At(file, 40);
    if (file.size() != size_t(data) + 44 || u32At(file, 4) != data + 36) {
        return -1;
    }
    return data;
}

class ConvertTest : public WindowTest {
  protected:
    void SetUp() override {
        if (!std::getenv("SDL_AUDIODRIVER")) {
            setenv("SDL_AUDIODRIVER", "dummy", 1);
        }
        WindowTest::SetUp();
        previousSave = setSaveFileHandler([this](const SaveFileRequest& request) {
            saveRequests.push_back(request);
            return saveAnswer;
        });
        window().setCommandHandler(kIdConvert, convertCommand);
    }
    void TearDown() override {
        if (starter) {
            starter->stop();
            starter.reset();
        }
        setSaveFileHandler(previousSave);
        WindowTest::TearDown();
        clearDiscImages();
    }

    // A mono sine WAV file of the given length at 22050 samples per second.
    std::string writeSine(const std::string& name, double seconds) {
        std::string path = dir.file(name);
        const auto frames = uint32_t(seconds * 22050);
        testing_support::writeFileBytes(
            path,
            testing_support::waveFile(
                pcmFormat(1, 22050, 16),
                testing_support::toBytes(testing_support::sineSamples(22050, 1, frames)), true));
        return path;
    }

    // A WAV file of three hours of silence that takes no disk space: a job
    // on it is always stopped long before its end.
    std::string writeLongSilence() {
        std::string path = dir.file("long.wav");
        testing_support::writeFileBytes(
            path, testing_support::waveFile(pcmFormat(2, 44100, 16), {}, true));
        std::filesystem::resize_file(path, 44 + uint64_t(3 * 3600) * 176400);
        return path;
    }

    // Selects a row of the list with that name and path.
    void selectRow(const std::string& name, const std::string& path) {
        MainWindow& w = window();
        ASSERT_TRUE(w.addRow(name, 1, 1024, path));
        w.listView->SelectRow(w.listView->GetItemCount() - 1);
    }

    // Presses Start in the next Convert dialog the command shows, with the
    // worker at normal priority (an idle worker may starve on a busy machine).
    void startNextDialog() {
        starter = std::make_unique<QTimer>();
        QObject::connect(starter.get(), &QTimer::timeout, [this] {
            auto* dialog = dynamic_cast<ConvertDialog*>(QApplication::activeModalWidget());
            if (dialog && dialog->isVisible() && !dialog->isRunning() && !started) {
                started = true;
                dialog->job().SetIdlePriority(false);
                dialog->onStart();
            }
        });
        starter->start(10);
    }

    // Runs the Convert command; it returns when the dialog has closed.
    void convert() { window().onCommand(kIdConvert); }

    std::vector<SaveFileRequest> saveRequests;
    std::optional<std::string> saveAnswer;
    SaveFileHandler previousSave;
    std::unique_ptr<QTimer> starter;
    bool started = false;
};

// A dialog shown without the command, as the command would set it up.
std::unique_ptr<ConvertDialog> openDialog(const std::string& source, const std::string& target,
                                          double rate = 22050) {
    auto dialog = std::make_unique<ConvertDialog>(nullptr, rate);
    dialog->sourcePath = source;
    dialog->targetPath = target;
    dialog->job().SetIdlePriority(false);
    dialog->show();
    return dialog;
}

std::string labelOf(QWidget* dialog, int id) {
    auto* label = qobject_cast<QLabel*>(TemplateBuilder::findControl(dialog, id));
    return label ? label->text().toStdString() : "<missing>";
}

bool enabled(QWidget* dialog, int id) {
    QWidget* button = TemplateBuilder::findControl(dialog, id);
    return button && button->isEnabled();
}

} // namespace

TEST_F(ConvertTest, SaveDialogProposesTheOtherTypeNextToAFileSource) {
    struct Case {
        std::string file, proposed, extension, filter;
        int index;
    };
    const std::string both = "Wave Files (*.wav)|*.wav|Mp3 Files(*.mp3)|*.mp3||";
    const std::vector<Case> cases = {
        {"song.wav", "song.mp3", "mp3", "Mp3 Files(*.mp3)|*.mp3||", 1},
        {"song.mp3", "song.wav", "wav", "Wave Files (*.wav)|*.wav||", 1},
        {"song.wma", "song.mp3", "mp3", both, 2},
        // The type is told case-sensitively: capitals get both targets.
        {"Loud.WAV", "Loud.mp3", "mp3", both, 2},
        // A four-letter extension is replaced whole.
        {"song.flac", "song.mp3", "mp3", both, 2},
        {"Song.OPUS", "Song.mp3", "mp3", both, 2},
        {"song.m4a", "song.mp3", "mp3", both, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        saveRequests.clear();
        selectRow(c.file, dir.file(c.file));
        convert(); // the save dialog is cancelled
        ASSERT_EQ(saveRequests.size(), 1u);
        const SaveFileRequest& r = saveRequests[0];
        EXPECT_EQ(r.title, "Convert and Save as");
        EXPECT_EQ(r.proposedName, c.proposed);
        EXPECT_EQ(r.initialDirectory, dir.path().string());
        EXPECT_EQ(r.defaultExtension, c.extension);
        EXPECT_EQ(r.filter, c.filter);
        EXPECT_EQ(r.filterIndex, c.index);
        EXPECT_TRUE(r.overwritePrompt);
    }
    EXPECT_TRUE(messages->texts().empty());
}

TEST_F(ConvertTest, NoSelectedRowIsReportedWithoutAskingForATarget) {
    selectRow("song.wav", dir.file("song.wav"));
    window().listView->SelectRow(-1);
    convert();
    EXPECT_EQ(messages->texts(), std::vector<std::string>{"Please select an audio file firstly!"});
    EXPECT_TRUE(saveRequests.empty());
}

TEST_F(ConvertTest, RecordingModeConvertsTheTakeAtTheBitrateComboRate) {
    MainWindow& w = window();
    const std::string take = w.programFiles().recordedTakePath();
    std::filesystem::copy_file(writeSine("take.wav", 0.5), take);
    selectRow("other.wav", dir.file("other.wav")); // not what is converted
    w.setListMode(kListRecording);
    saveAnswer = dir.file("out.wav");
    startNextDialog();
    convert();

    ASSERT_EQ(saveRequests.size(), 1u);
    EXPECT_EQ(saveRequests[0].proposedName, "");
    EXPECT_EQ(saveRequests[0].initialDirectory, "");
    EXPECT_EQ(saveRequests[0].defaultExtension, "wav");
    EXPECT_EQ(saveRequests[0].filterIndex, 1);
    // With the default "32KB" the output is 16-bit mono at 22050 per second.
    const auto file = testing_support::readFileBytes(dir.file("out.wav"));
    ASSERT_GE(checkedDataBytes(file), 0);
    EXPECT_EQ(u16At(file, 20), 1); // PCM
    EXPECT_EQ(u16At(file, 22), 1); // mono
    EXPECT_EQ(u32At(file, 24), 22050u);
    EXPECT_EQ(u16At(file, 34), 16);
    EXPECT_NEAR(double(checkedDataBytes(file)), 0.5 * 22050 * 2, 2205.0);
    EXPECT_TRUE(messages->texts().empty());
}

TEST_F(ConvertTest, CdRowRipsTheTrackItsNameGives) {
    testing_support::DiscImage image;
    // Five short tracks of different lengths: the rip's length tells which
    // one was read.
    for (uint32_t frames : {20u, 30u, 40u, 55u, 70u}) {
        image.tone(frames, 440);
    }
    registerDiscImage(image.write(dir.path().string(), "disc"));
    MainWindow& w = window();
    w.setListMode(kListCdTracks);
    for (int i = 0; i < 5; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "Track-%02d", i);
        w.addRow(name, 1, 1, "CDROM");
    }
    w.listView->SelectRow(3);
    w.bitrateCombo->setEditText(QStringLiteral("64KB")); // 44100 per second
    saveAnswer = dir.file("rip.wav");
    startNextDialog();
    convert();

    ASSERT_EQ(saveRequests.size(), 1u);
    EXPECT_EQ(saveRequests[0].proposedName, "Track-03.mp3");
    EXPECT_EQ(saveRequests[0].initialDirectory, "");
    EXPECT_EQ(saveRequests[0].defaultExtension, "mp3");
    EXPECT_EQ(saveRequests[0].filterIndex, 2);
    EXPECT_DOUBLE_EQ(w.conversionRate(), 44100.0);
    const auto file = testing_support::readFileBytes(dir.file("rip.wav"));
    ASSERT_GE(checkedDataBytes(file), 0);
    EXPECT_EQ(u32At(file, 24), 44100u);
    // 588 samples a frame, mono 16-bit.
    EXPECT_NEAR(double(checkedDataBytes(file)) / 2, 55.0 * 588, 588.0);
}

TEST_F(ConvertTest, SourceFailuresKeepOrEndTheDialogAsTheirKindDemands) {
    const std::string target = dir.file("out.wav");
    {
        // A name that is no known type: the Mixer is not touched, the
        // dialog stays for another try.
        auto dialog = openDialog(dir.file("notes.txt"), target);
        dialog->onStart();
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(enabled(dialog.get(), kIdConvertStart));
        EXPECT_EQ(messages->texts().back(),
                  "Unknow audio file!\nMixer has emptyed, there will be an error.");
    }
    {
        // A WAV name that does not open ends the dialog as cancelled.
        auto dialog = openDialog(dir.file("missing.wav"), target);
        dialog->onStart();
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
        EXPECT_EQ(messages->texts().back(), "can not open source file!");
    }
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(ConvertTest, TargetThatIsPartOfTheCdImageLeavesStartForAnotherTry) {
    testing_support::DiscImage image;
    image.tone(30, 440);
    registerDiscImage(image.write(dir.path().string(), "disc"));
    std::filesystem::create_symlink(dir.file("disc.bin"), dir.file("link.wav"));
    std::filesystem::create_hard_link(dir.file("disc.cue"), dir.file("sheet.mp3"));
    const auto bin = testing_support::readFileBytes(dir.file("disc.bin"));
    auto dialog = openDialog("Track-00", dir.file("link.wav"));
    dialog->onStart();
    dialog->targetPath = dir.file("sheet.mp3");
    dialog->onStart();
    EXPECT_EQ(messages->texts(),
              std::vector<std::string>(2, ConversionJob::kTargetIsSourceMessage));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isRunning());
    EXPECT_TRUE(enabled(dialog.get(), kIdConvertStart));
    EXPECT_EQ(testing_support::readFileBytes(dir.file("disc.bin")), bin);
    EXPECT_GT(testing_support::readFileBytes(dir.file("disc.cue")).size(), 0u);
}

TEST_F(ConvertTest, UnsupportedTargetLeavesStartForAnotherTry) {
    const std::string source = writeSine("song.wav", 0.3);
    auto dialog = openDialog(source, dir.file("out.ogg"));
    EXPECT_EQ(labelOf(dialog.get(), kIdConvertSourceName), "song.wav");
    EXPECT_EQ(labelOf(dialog.get(), kIdConvertTargetName), "out.ogg");
    dialog->onStart();
    EXPECT_EQ(messages->texts(), std::vector<std::string>{"format not support!\n"});
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isRunning());
    EXPECT_TRUE(enabled(dialog.get(), kIdConvertStart));

    dialog->targetPath = dir.file("out.wav");
    dialog->onStart();
    EXPECT_FALSE(enabled(dialog.get(), kIdConvertStart));
    EXPECT_TRUE(enabled(dialog.get(), kIdConvertStop));
    ASSERT_TRUE(waitFor([&] { return !dialog->isVisible(); }, 20000));
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_GT(checkedDataBytes(testing_support::readFileBytes(dir.file("out.wav"))), 0);
}

// Before an MP3 is written at a rate other than the one chosen, the window
// says which rate the file will have; the conversion goes on after it.
TEST_F(ConvertTest, Mp3AtARateItCannotHoldSaysItsRateAndConverts) {
    if (!EncoderLibrary::load()) {
        GTEST_SKIP() << "libmp3lame is not installed";
    }
    const std::string rates = "8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100 or 48000 Hz.";
    const struct {
        double rate;
        const char* target;
        const char* writtenRate;
        std::string notice;
    } cases[] = {
        {110250, "a.mp3", "48000",
         "The MP3 file will have a sample rate of 48000 Hz, not 110250 Hz: an MP3 file holds "
         "only " +
             rates},
        {33075, "b.mp3", "32000",
         "The MP3 file will have a sample rate of 32000 Hz, not 33075 Hz: an MP3 file holds "
         "only " +
             rates},
        {22050, "c.mp3", "22050", ""},
        {110250, "d.wav", "110250", ""},
    };
    const std::string source = writeSine("song.wav", 0.3);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        const size_t before = messages->texts().size();
        auto dialog = openDialog(source, dir.file(c.target), c.rate);
        dialog->onStart();
        const auto texts = messages->texts();
        EXPECT_EQ(std::vector<std::string>(texts.begin() + long(before), texts.end()),
                  c.notice.empty() ? std::vector<std::string>{} : std::vector{c.notice});
        ASSERT_TRUE(waitFor([&] { return !dialog->isVisible(); }, 20000));
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        if (testing_support::haveTool("ffprobe")) {
            EXPECT_EQ(c.writtenRate, testing_support::probeFile(dir.file(c.target))["sample_rate"]);
        }
    }
}

TEST_F(ConvertTest, ProgressStartsAtZeroAndEndsAtOneHundred) {
    const std::string source = writeSine("song.wav", 4.0);
    auto dialog = openDialog(source, dir.file("out.wav"));
    auto* bar =
        qobject_cast<QProgressBar*>(TemplateBuilder::findControl(dialog.get(), kIdConvertProgress));
    ASSERT_NE(bar, nullptr);
    dialog->onStart();
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 4);
    std::vector<std::string> shown{labelOf(dialog.get(), kIdConvertPercent)};
    ASSERT_TRUE(waitFor(
        [&] {
            const std::string text = labelOf(dialog.get(), kIdConvertPercent);
            if (text != shown.back()) {
                shown.push_back(text);
            }
            return !dialog->isVisible();
        },
        20000));
    EXPECT_EQ(shown.front(), "0%");
    EXPECT_EQ(shown.back(), "100%");
    EXPECT_EQ(bar->value(), 4);
    for (size_t i = 1; i < shown.size(); ++i) {
        EXPECT_LE(std::atoi(shown[i - 1].c_str()), std::atoi(shown[i].c_str()));
    }
}

TEST_F(ConvertTest, SourceWithoutLengthShowsASaneProgress) {
    const std::string source = dir.file("empty.wav");
    testing_support::writeFileBytes(source,
                                    testing_support::waveFile(pcmFormat(1, 22050, 16), {}, true));
    auto dialog = openDialog(source, dir.file("out.wav"));
    auto* bar =
        qobject_cast<QProgressBar*>(TemplateBuilder::findControl(dialog.get(), kIdConvertProgress));
    ASSERT_NE(bar, nullptr);
    dialog->onStart();
    ASSERT_TRUE(dialog->isRunning());
    // A range, not the busy indicator of an empty one; no division by zero.
    EXPECT_GT(bar->maximum(), bar->minimum());
    EXPECT_EQ(labelOf(dialog.get(), kIdConvertPercent), "0%");
    ASSERT_TRUE(waitFor([&] { return !dialog->isVisible(); }, 20000));
    EXPECT_EQ(labelOf(dialog.get(), kIdConvertPercent), "100%");
    EXPECT_EQ(checkedDataBytes(testing_support::readFileBytes(dir.file("out.wav"))), 0);
}

TEST_F(ConvertTest, StopMidwayCompletesAShorterFile) {
    const std::string source = writeLongSilence();
    const bool haveLame = EncoderLibrary::load() != nullptr;
    for (const std::string name : {"out.wav", "out.mp3"}) {
        if (name == "out.mp3" && !haveLame) {
            continue;
        }
        SCOPED_TRACE(name);
        auto dialog = openDialog(source, dir.file(name));
        dialog->onStart();
        ASSERT_TRUE(dialog->isRunning());
        ASSERT_TRUE(waitFor([&] { return dialog->job().Position() >= 1.0; }, 20000));
        dialog->onStop();
        ASSERT_TRUE(waitFor([&] { return !dialog->isVisible(); }, 20000));
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        EXPECT_EQ(dialog->job().GetResult(), ConversionJob::Result::Stopped);
        const auto file = testing_support::readFileBytes(dir.file(name));
        if (name == "out.wav") {
            EXPECT_GT(checkedDataBytes(file), 0);
            EXPECT_LT(checkedDataBytes(file), int64_t(3600) * 22050 * 2);
        } else {
            ASSERT_GT(file.size(), 128u + 1000);
            EXPECT_EQ(std::memcmp(file.data() + file.size() - 128, "TAG", 3), 0);
        }
    }
}

TEST_F(ConvertTest, EscapeWhileRunningStopsTheJobBeforeTheDialogCloses) {
    auto dialog = openDialog(writeLongSilence(), dir.file("out.wav"));
    dialog->onStart();
    ASSERT_TRUE(dialog->isRunning());
    ASSERT_TRUE(waitFor([&] { return dialog->job().Position() >= 1.0; }, 20000));
    dialog->reject();
    // The worker still reads the dialog's Mixer: the dialog waits for it.
    EXPECT_TRUE(dialog->isVisible());
    ASSERT_TRUE(waitFor([&] { return !dialog->isVisible(); }, 20000));
    EXPECT_FALSE(dialog->isRunning());
    EXPECT_TRUE(dialog->job().IsFinished());
    EXPECT_GT(checkedDataBytes(testing_support::readFileBytes(dir.file("out.wav"))), 0);
}

TEST_F(ConvertTest, StopBeforeStartClosesTheDialogEvenAfterAnEarlierConversion) {
    const std::string source = writeSine("song.wav", 0.2);
    {
        auto first = openDialog(source, dir.file("first.mp3"));
        first->onStart();
        ASSERT_TRUE(waitFor([&] { return !first->isVisible(); }, 20000));
    }
    auto second = openDialog(source, dir.file("second.wav"));
    second->onStop();
    EXPECT_FALSE(second->isVisible());
    EXPECT_EQ(second->result(), QDialog::Rejected);
    EXPECT_FALSE(std::filesystem::exists(dir.file("second.wav")));
}

TEST_F(ConvertTest, DialogOpensBelowAndRightOfWhereItWouldBePlaced) {
    MainWindow& w = window();
    w.show();
    ConvertDialog dialog(&w, 22050);
    QDialog plain(&w);
    plain.setFixedSize(dialog.size());
    plain.show();
    dialog.show();
    EXPECT_EQ(dialog.pos() - plain.pos(),
              QPoint(ConvertDialog::kMoveRight, ConvertDialog::kMoveDown));
}

// Enter presses the push button that has the focus; with the focus
// elsewhere it presses Start, the dialog's default.
TEST_F(ConvertTest, EnterPressesTheFocusedButton) {
    auto dialog = openDialog(dir.file("song.xyz"), dir.file("out.wav"));
    auto* stop = TemplateBuilder::findControl(dialog.get(), kIdConvertStop);
    ASSERT_NE(stop, nullptr);
    stop->setFocus(Qt::TabFocusReason);
    QTest::keyClick(stop, Qt::Key_Return);
    EXPECT_TRUE(messages->texts().empty()) << "Start ran";
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);

    dialog = openDialog(dir.file("song.xyz"), dir.file("out.wav"));
    QTest::keyClick(dialog.get(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(messages->texts(), std::vector<std::string>{ConversionJob::kUnknownSourceMessage});
    EXPECT_TRUE(dialog->isVisible());
}

// A name too long for its label ends in an ellipsis instead of being cut
// through a letter; the whole name is the tooltip.
TEST_F(ConvertTest, LongNamesAreElidedWithTheWholeNameAsTooltip) {
    const std::string name = "a song whose name is far too long for the dialog.wav";
    auto dialog = openDialog(dir.file(name), dir.file("out.mp3"));
    auto* source =
        qobject_cast<QLabel*>(TemplateBuilder::findControl(dialog.get(), kIdConvertSourceName));
    ASSERT_NE(source, nullptr);
    EXPECT_TRUE(source->text().endsWith(QChar(0x2026))) << source->text().toStdString();
    EXPECT_LE(QFontMetrics(source->font()).horizontalAdvance(source->text()),
              source->contentsRect().width());
    EXPECT_EQ(source->toolTip().toStdString(), name);
    EXPECT_EQ(labelOf(dialog.get(), kIdConvertTargetName), "out.mp3");
}
