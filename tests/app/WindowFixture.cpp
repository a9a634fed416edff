#include "app/WindowFixture.h"

#include <QComboBox>

namespace window_test {

void WindowTest::SetUp() {
    application();
    messages = std::make_unique<testing_support::MessageRecorder>(MessageAnswer::Ok);
    previousHandler = setOpenFilesHandler([this](const OpenFilesRequest& request) {
        lastRequest = request;
        auto chosen = std::move(nextChoice);
        nextChoice.clear();
        return chosen;
    });
}

void WindowTest::TearDown() {
    ownedWindow.reset();
    QCoreApplication::processEvents();
    audioDriver.reset();
    setOpenFilesHandler(previousHandler);
    messages.reset();
}

MainWindow& WindowTest::window() {
    if (!ownedWindow) {
        ownedWindow = std::make_unique<MainWindow>(ProgramFiles::inDirectory(dir.path().string()));
    }
    return *ownedWindow;
}

void WindowTest::useAudioDriver(const char* driver, const char* diskFile) {
    if (audioDriver) {
        audioDriver->use(driver, diskFile);
    } else {
        audioDriver = std::make_unique<testing_support::SdlDriverScope>(driver, diskFile);
    }
    ASSERT_TRUE(audioDriver->ok()) << "an audio device was still open";
}

void WindowTest::chooseFiles(std::vector<std::string> paths) {
    nextChoice = std::move(paths);
}

std::string WindowTest::labelText(int id) {
    auto* label = qobject_cast<QLabel*>(window().control(id));
    return label ? label->text().toStdString() : std::string("<missing>");
}

std::string WindowTest::row(int index, int column) {
    return window().listView->GetItemText(index, column);
}

int WindowTest::rowCount() {
    return window().listView->GetItemCount();
}

} // namespace window_test
