#include "app/QtDialogs.h"
#include "app/DialogFolders.h"
#include "app/MainWindow.h"
#include "controls/PlayListView.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <thread>

namespace {

// Polls for the modal dialog of type T and hands it to act once.
template <typename T> class ModalAnswerer {
  public:
    explicit ModalAnswerer(std::function<void(T*)> act) {
        QObject::connect(&timer, &QTimer::timeout, [this, act] {
            if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
                timer.stop();
                shownOn = dialog->thread();
                act(dialog);
            }
        });
        timer.start(10);
    }
    QThread* shownOn = nullptr;

  private:
    QTimer timer;
};

// Sets an environment variable until it goes.
class EnvScope {
  public:
    EnvScope(const char* variable, const std::string& value) : name(variable) {
        if (const char* old = std::getenv(name)) {
            saved = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~EnvScope() {
        if (saved) {
            setenv(name, saved->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

  private:
    const char* name;
    std::optional<std::string> saved;
};

// The dialogs remember their folders in a configuration folder of the test's
// own, under a home folder of its own.
class QtDialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(home);
        std::filesystem::create_directories(config);
        installQtDialogs();
    }
    void TearDown() override { removeQtDialogs(); }

    testing_support::TempDir scratch;
    const std::string home = scratch.file("home");
    const std::string config = scratch.file("config");
    EnvScope homeScope{"HOME", home};
    EnvScope configScope{"XDG_CONFIG_HOME", config};
};

std::string folderShown(QFileDialog* dialog) {
    return dialog->directory().absolutePath().toStdString();
}

TEST_F(QtDialogsTest, QuestionFromAWorkerIsAskedOnTheUserInterfaceThread) {
    QString shownText;
    ModalAnswerer<QMessageBox> answerer([&](QMessageBox* box) {
        shownText = box->text();
        box->button(QMessageBox::Yes)->click();
    });
    std::atomic<bool> done{false};
    bool answer = false;
    std::thread worker([&] {
        answer = askYesNo("the output file has existed, overwrite it?");
        done = true;
    });
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < 5000) {
        QTest::qWait(5);
    }
    worker.join();
    EXPECT_TRUE(answer);
    EXPECT_EQ(shownText, "the output file has existed, overwrite it?");
    EXPECT_EQ(answerer.shownOn, QApplication::instance()->thread());
}

TEST_F(QtDialogsTest, MessageOnTheUserInterfaceThreadWaitsForOk) {
    QString caption;
    ModalAnswerer<QMessageBox> answerer([&](QMessageBox* box) {
        caption = box->windowTitle();
        box->button(QMessageBox::Ok)->click();
    });
    showMessage("can not open source file!");
    EXPECT_EQ(caption, "Velumo");
}

TEST_F(QtDialogsTest, MessageFromAWorkerIsShownLaterWithoutHoldingTheWorker) {
    QString shownText;
    ModalAnswerer<QMessageBox> answerer([&](QMessageBox* box) {
        shownText = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    // The worker returns although the user-interface thread is not serving
    // events: it is blocked in join(), as when it waits for a recorder.
    std::thread worker([] { showMessage("the output file is too large!"); });
    worker.join();
    EXPECT_TRUE(shownText.isEmpty());
    QElapsedTimer clock;
    clock.start();
    while (shownText.isEmpty() && clock.elapsed() < 5000) {
        QTest::qWait(5);
    }
    EXPECT_EQ(shownText, "the output file is too large!");
    EXPECT_EQ(answerer.shownOn, QApplication::instance()->thread());
}

TEST_F(QtDialogsTest, SaveDialogShowsTheFiltersAndAddsTheDefaultExtension) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QStringList filters;
    QString selectedFilter;
    ModalAnswerer<QFileDialog> answerer([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        selectedFilter = dialog->selectedNameFilter();
        dialog->selectFile(dir.filePath("song"));
        static_cast<QDialog*>(dialog)->accept();
    });
    SaveFileRequest request;
    request.title = "Convert and Save as";
    request.filter = "Wave Files (*.wav)|*.wav|Mp3 Files(*.mp3)|*.mp3||";
    request.filterIndex = 2;
    request.initialDirectory = dir.path().toStdString();
    request.defaultExtension = "mp3";
    const auto path = saveFile(request);
    ASSERT_TRUE(path.has_value());
    EXPECT_EQ(*path, dir.filePath("song.mp3").toStdString());
    EXPECT_EQ(filters, QStringList({"Wave Files (*.wav) (*.wav)", "Mp3 Files(*.mp3) (*.mp3)"}));
    EXPECT_EQ(selectedFilter, "Mp3 Files(*.mp3) (*.mp3)");
}

TEST_F(QtDialogsTest, CancelledOpenDialogReturnsNoPaths) {
    ModalAnswerer<QFileDialog> answerer([](QFileDialog* dialog) { dialog->reject(); });
    OpenFilesRequest request;
    request.filter = "Audio Files (*.wav,*.mp3,*.wma)|*.wav;*.mp3;*.wma||";
    EXPECT_TRUE(openFiles(request).empty());
}

TEST_F(QtDialogsTest, FileDialogsOpenInTheMusicFolderFirstThenWhereTheirLastChoiceWas) {
    std::ofstream(config + "/user-dirs.dirs") << "# user dirs\nXDG_MUSIC_DIR=\"$HOME/My Music\"\n";
    for (const char* folder : {"/My Music", "/elsewhere", "/saved", "/list"}) {
        std::filesystem::create_directory(home + folder);
    }
    const std::string chosen = home + "/elsewhere/one.wav";
    testing_support::writeWave(chosen, 1, 8000, 0.2);

    // Add Audio Files of a window: its stored list is no place for folders.
    MainWindow window(ProgramFiles::inDirectory(home + "/list"));
    ASSERT_TRUE(window.storeList());
    const auto listBytes = testing_support::readFileBytes(window.programFiles().storedListPath());
    installQtDialogs(&window);
    std::vector<std::string> shown;
    {
        ModalAnswerer<QFileDialog> answerer([&](QFileDialog* dialog) {
            shown.push_back(folderShown(dialog));
            dialog->selectFile(QString::fromStdString(chosen));
            static_cast<QDialog*>(dialog)->accept();
        });
        window.onCommand(kIdAddFiles);
    }
    ASSERT_EQ(window.listView->GetItemCount(), 1);
    {
        ModalAnswerer<QFileDialog> answerer([&](QFileDialog* dialog) {
            shown.push_back(folderShown(dialog));
            dialog->reject();
        });
        window.onCommand(kIdAddFiles);
    }
    // The save dialog keeps a folder of its own.
    SaveFileRequest save;
    save.filter = "Mp3 Files(*.mp3)|*.mp3||";
    for (int i = 0; i < 2; ++i) {
        ModalAnswerer<QFileDialog> answerer([&](QFileDialog* dialog) {
            shown.push_back(folderShown(dialog));
            // As a user does: go to the folder, let the dialog read it (which
            // empties the name field), type the name, press Save.
            dialog->setDirectory(QString::fromStdString(home + "/saved"));
            QTest::qWait(300);
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(QStringLiteral("out.mp3"));
            static_cast<QDialog*>(dialog)->accept();
        });
        EXPECT_TRUE(saveFile(save).has_value());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{home + "/My Music", home + "/elsewhere",
                                               home + "/My Music", home + "/saved"}));
    // Remembered for the next run, in a file of their own.
    const DialogFolders nextRun(config, home);
    EXPECT_EQ(nextRun.settingsPath(), config + "/velumo/dialog-folders");
    EXPECT_EQ(nextRun.folder(DialogKind::AddFiles), home + "/elsewhere");
    EXPECT_EQ(nextRun.folder(DialogKind::SaveConverted), home + "/saved");
    EXPECT_EQ(testing_support::readFileBytes(window.programFiles().storedListPath()), listBytes);
}

// What stands where the settings files belong is read only when it is a
// small regular file: a FIFO, a device or a huge file never holds the dialog.
TEST_F(QtDialogsTest, SettingsThatAreNotSmallFilesAreReadAsNone) {
    const DialogFolders folders(config, home);
    const std::string settings = folders.settingsPath();
    std::filesystem::create_directories(config + "/velumo");
    std::filesystem::create_directory(home + "/kept");
    for (int kind = 0; kind < 3; ++kind) {
        std::filesystem::remove(settings);
        if (kind == 0) {
            ASSERT_EQ(::mkfifo(settings.c_str(), 0600), 0);
            ASSERT_EQ(::mkfifo((config + "/user-dirs.dirs").c_str(), 0600), 0);
        } else if (kind == 1) {
            std::filesystem::create_symlink("/dev/zero", settings);
        } else {
            // A 1 GB sparse file whose last line names a folder.
            const std::string line = "\nadd-files=" + home + "/kept\n";
            {
                std::ofstream out(settings, std::ios::binary);
                out.seekp((1LL << 30) - static_cast<long long>(line.size()));
                out << line;
            }
        }
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(folders.folder(DialogKind::AddFiles), home) << kind;
        EXPECT_LT(clock.elapsed(), 2000) << kind;
        // Remembering replaces whatever stood there by the settings file.
        ASSERT_TRUE(folders.remember(DialogKind::AddFiles, home + "/kept")) << kind;
        EXPECT_EQ(folders.folder(DialogKind::AddFiles), home + "/kept") << kind;
        std::filesystem::remove(config + "/user-dirs.dirs");
    }
}

TEST_F(QtDialogsTest, WithoutAMusicFolderOfItsOwnTheDialogsOpenAtHome) {
    const DialogFolders folders = DialogFolders::fromEnvironment();
    EXPECT_EQ(folders.folder(DialogKind::AddFiles), home); // no user-dirs.dirs
    // An unset music folder is home; a missing one does not count.
    for (const char* setting : {"XDG_MUSIC_DIR=\"$HOME/\"\n", "XDG_MUSIC_DIR=\"/no/such\"\n"}) {
        std::ofstream(config + "/user-dirs.dirs") << setting;
        EXPECT_EQ(folders.defaultFolder(), home) << setting;
    }
    // A remembered folder that has gone gives way to the default.
    std::filesystem::create_directory(home + "/gone");
    ASSERT_TRUE(folders.remember(DialogKind::AddFiles, home + "/gone"));
    EXPECT_EQ(folders.folder(DialogKind::AddFiles), home + "/gone");
    std::filesystem::remove(home + "/gone");
    EXPECT_EQ(folders.folder(DialogKind::AddFiles), home);
    EXPECT_FALSE(folders.remember(DialogKind::AddFiles, "relative/folder"));
    // A relative configuration folder is not one: ~/.config is used.
    EnvScope relative("XDG_CONFIG_HOME", "relative");
    EXPECT_EQ(DialogFolders::fromEnvironment().settingsPath(),
              home + "/.config/velumo/dialog-folders");
}

} // namespace
