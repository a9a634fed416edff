#include "app/QtDialogs.h"
#include "platform/FileDialog.h"
#include "platform/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
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

class QtDialogsTest : public ::testing::Test {
  protected:
    void SetUp() override { installQtDialogs(); }
    void TearDown() override { removeQtDialogs(); }
};

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

} // namespace
