#pragma once
// Shared set-up of the window tests: one QApplication for the program, a
// window whose stored list lives in a temporary directory, recorded messages
// and a scripted file dialog.

#include "app/MainWindow.h"
#include "controls/PlayListView.h"
#include "platform/FileDialog.h"
#include "support/TestSupport.h"
#include "support/qt/QtApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>

#include <memory>
#include <string>
#include <vector>

namespace window_test {

using testing_support::application;

// Runs the event loop until pred holds or timeoutMs has passed.
template <typename Pred> bool waitFor(Pred pred, int timeoutMs = 5000);

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A window on the stored list in dir (created on first use).
    MainWindow& window();
    void resetWindow() { ownedWindow.reset(); }
    // Answers the next open-file dialogs with paths.
    void chooseFiles(std::vector<std::string> paths);
    // The last open-file request seen.
    const OpenFilesRequest& lastOpenRequest() const { return lastRequest; }

    // SDL's audio runs on driver (and disk file) from now until the test
    // ends, after the window has gone; see SdlDriverScope.
    void useAudioDriver(const char* driver, const char* diskFile = nullptr);

    std::string labelText(int id);
    std::string row(int index, int column);
    int rowCount();

    testing_support::TempDir dir;
    std::unique_ptr<testing_support::MessageRecorder> messages;

  private:
    std::unique_ptr<testing_support::SdlDriverScope> audioDriver;
    std::unique_ptr<MainWindow> ownedWindow;
    std::vector<std::string> nextChoice;
    OpenFilesRequest lastRequest;
    OpenFilesHandler previousHandler;
};

} // namespace window_test

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

template <typename Pred> bool window_test::waitFor(Pred pred, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}
