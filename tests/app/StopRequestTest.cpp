// The running program asked to stop: SIGTERM, SIGINT and SIGHUP close the
// window as its close box does, so the stored list survives a logout, `kill`
// and Ctrl+C. Each case runs a copy of the velumo executable in a temporary
// directory, where it keeps its stored list; the changes are made on a
// private X server with xdotool, as a user's clicks.

#include "app/WindowFixture.h"

#include "controls/BitmapButton.h"
#include "encode/ExternalTools.h"
#include "playlist/StoredList.h"
#include "support/DiscImage.h"
#include "support/SoundServer.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>
#include <unistd.h>

using namespace window_test;
using testing_support::catchesSignal;
using testing_support::DiscImage;
using testing_support::haveTool;
using testing_support::readFileBytes;
using testing_support::runCommand;
using testing_support::spawnProgram;
using testing_support::stopProgram;
using testing_support::waitForProgram;
using testing_support::writeFileBytes;

namespace {

const std::string kProgram = VELUMO_BINARY_DIR "/velumo";

// A child process with the given environment additions (NAME=value), its
// output into log; killed if the test leaves it running.
class Child {
  public:
    Child(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
          const std::string& log = "/dev/null")
        : pid(spawnProgram(arguments, environment, log)) {}
    ~Child() {
        if (pid > 0) {
            stopProgram(pid, SIGKILL);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The exit status (128 + the signal when one ended it), or -1 when the
    // child has not ended within timeoutMs.
    int waitForExit(int timeoutMs) {
        const int status = waitForProgram(pid, timeoutMs);
        if (status != -1) {
            pid = -1;
        }
        return status;
    }

    pid_t pid = -1;
};

// A private Xvfb; display() is empty when it did not start.
class XServer {
  public:
    XServer() {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        const std::string fd = std::to_string(fds[1]);
        server = std::make_unique<Child>(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", fd,
                                                                  "-screen", "0", "1024x768x24",
                                                                  "-nolisten", "tcp"},
                                         std::vector<std::string>{});
        ::close(fds[1]);
        // The server writes its display number and a newline once it is ready.
        std::string number;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        ::close(fds[0]);
        if (!number.empty()) {
            name = ":" + number;
        }
    }
    const std::string& display() const { return name; }

  private:
    std::unique_ptr<Child> server;
    std::string name;
};

std::vector<std::string> storedNames(const std::string& path) {
    const StoredListDecoding stored = decodeStoredList(readFileBytes(path));
    std::vector<std::string> names;
    for (const StoredRow& texts : stored.rows) {
        names.push_back(texts[1]);
    }
    return names;
}

class StopRequestTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (!std::filesystem::exists(kProgram)) {
            GTEST_SKIP() << "velumo is not built";
        }
        program = dir.file("velumo");
        std::filesystem::copy_file(kProgram, program);
        list = dir.file("velumo.ini");
        std::vector<StoredRow> rows = {{"", "a.wav", "00:01", "1 KB", "/m/a.wav"},
                                       {"", "b.wav", "00:02", "2 KB", "/m/b.wav"}};
        writeFileBytes(list, encodeStoredList(rows));
    }

    // The centre of a button of the window, in the window's coordinates:
    // the same template gives the same layout on any X server at scale 1.
    QPoint buttonCentre(BitmapButton* MainWindow::*button) {
        return (window().*button)->geometry().center();
    }

    // Starts velumo on display, waits for its window and clicks the
    // button's centre; the window id, or "" when it never showed.
    std::string clickAfterStart(Child& velumo, const std::string& display, QPoint at) {
        std::string id;
        for (int i = 0; i < 300 && id.empty(); ++i) {
            id = runCommand("DISPLAY=" + display + " xdotool search --onlyvisible --pid " +
                            std::to_string(velumo.pid) + " 2>/dev/null | head -n 1");
            while (!id.empty() && id.back() == '\n') {
                id.pop_back();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (!id.empty()) {
            runCommand("DISPLAY=" + display + " xdotool mousemove --window " + id + " " +
                       std::to_string(at.x()) + " " + std::to_string(at.y()) +
                       " click 1 >/dev/null 2>&1");
            // The click is handled by the time the window answers again.
            runCommand("DISPLAY=" + display + " xdotool sleep 0.5 getwindowname " + id +
                       " >/dev/null 2>&1");
        }
        return id;
    }

    std::string log() {
        const std::vector<uint8_t> bytes = readFileBytes(dir.file("velumo.log"));
        return std::string(bytes.begin(), bytes.end());
    }

    std::string program;
    std::string list;
};

} // namespace

TEST_F(StopRequestTest, EachStopSignalStoresTheListAndEndsTheProcessNormally) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        std::filesystem::remove(list);
        Child velumo({program}, {"QT_QPA_PLATFORM=offscreen", "SDL_AUDIODRIVER=dummy"});
        ASSERT_GT(velumo.pid, 0);
        ASSERT_TRUE(catchesSignal(velumo.pid, signal, 30000));
        ASSERT_EQ(::kill(velumo.pid, signal), 0);
        const int status = velumo.waitForExit(20000);
        EXPECT_EQ(status, 0) << "after signal " << signal << " (-1: still running)";
        // The list that was missing at the start is there, empty.
        EXPECT_EQ(readFileBytes(list), (std::vector<uint8_t>{0, 0, 0, 0})) << signal;
    }
}

TEST_F(StopRequestTest, SignalAfterAChangeStoresTheChangedListAndInCdModeTheFileRows) {
    if (!haveTool("xdotool") || !std::filesystem::exists("/usr/bin/Xvfb")) {
        GTEST_SKIP() << "needs Xvfb and xdotool";
    }
    XServer x;
    ASSERT_FALSE(x.display().empty());
    const std::vector<std::string> env = {"DISPLAY=" + x.display(), "QT_QPA_PLATFORM=xcb",
                                          "SDL_AUDIODRIVER=dummy", "QT_SCALE_FACTOR=1"};
    const QPoint clearAll = buttonCentre(&MainWindow::clearAllButton);
    const QPoint cdRefresh = buttonCentre(&MainWindow::cdRefreshButton);
    {
        Child velumo({program}, env, dir.file("velumo.log"));
        ASSERT_FALSE(clickAfterStart(velumo, x.display(), clearAll).empty()) << log();
        ::kill(velumo.pid, SIGTERM);
        const int status = velumo.waitForExit(20000);
        EXPECT_EQ(status, 0);
        EXPECT_TRUE(storedNames(list).empty());
    }
    std::vector<StoredRow> rows = {{"", "a.wav", "00:01", "1 KB", "/m/a.wav"}};
    writeFileBytes(list, encodeStoredList(rows));
    DiscImage image;
    image.audio(150, 3).audio(150, 5);
    const std::string cue = image.write(dir.path().string(), "disc");
    {
        Child velumo({program, "--cd", cue}, env, dir.file("velumo.log"));
        ASSERT_FALSE(clickAfterStart(velumo, x.display(), cdRefresh).empty()) << log();
        ::kill(velumo.pid, SIGTERM);
        const int status = velumo.waitForExit(20000);
        EXPECT_EQ(status, 0);
        // The CD tracks were shown; the user's file rows are what is kept.
        EXPECT_EQ(storedNames(list), std::vector<std::string>{"a.wav"});
    }
}
