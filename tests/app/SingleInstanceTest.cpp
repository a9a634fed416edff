// One window per session: a second `velumo FILE...` hands its files to the
// running window over a real session bus and ends. Two real velumo
// processes (offscreen) on a private bus; what the window does is read
// back through its MPRIS properties, its stored list and its settings.

#include "app/SingleInstance.h"
#include "app/WindowFixture.h"

#include "app/mpris/MprisService.h"
#include "playlist/Settings.h"
#include "playlist/StoredList.h"
#include "support/SessionBus.h"
#include "support/SoundServer.h"

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>

using namespace window_test;
using testing_support::PrivateSessionBus;
using testing_support::readFileBytes;
using testing_support::spawnProgram;
using testing_support::stopProgram;
using testing_support::waitForProgram;

namespace {

const std::string kProgram = VELUMO_BINARY_DIR "/velumo";

// Kills a velumo the test leaves running.
struct Running {
    pid_t pid = -1;
    ~Running() { stopProgram(pid, SIGKILL); }
};

} // namespace

TEST(SingleInstance, PathsCrossTheBusAsTheirBytesAndOnlyAbsoluteOnesAreTaken) {
    const std::vector<std::string> paths = {"/m/a b.wav", "/m/\xe9t\xe9.mp3", "/x"};
    EXPECT_EQ(SingleInstance::decodePaths(SingleInstance::encodePaths(paths)), paths);
    const QByteArray mixed("rel.wav\0/m/a.wav\0\0/m/last.wav", 29);
    EXPECT_EQ(SingleInstance::decodePaths(mixed),
              (std::vector<std::string>{"/m/a.wav", "/m/last.wav"}));
    EXPECT_TRUE(SingleInstance::decodePaths(QByteArray()).empty());
}

TEST(SingleInstance, ASecondVelumoHandsItsFilesToTheRunningWindowAndEnds) {
    if (!std::filesystem::exists(kProgram)) {
        GTEST_SKIP() << "velumo is not built";
    }
    testing_support::TempDir dir;
    PrivateSessionBus bus;
    ASSERT_TRUE(bus.ok()) << "dbus-daemon did not start";
    // A copy keeps its stored list next to itself, in the test's folder.
    const std::string program = dir.file("velumo");
    std::filesystem::copy_file(kProgram, program);
    const std::string first = testing_support::writeWave(dir.file("first.wav"), 1, 44100, 60.0);
    const std::string second = testing_support::writeWave(dir.file("second.wav"), 1, 44100, 60.0);
    const std::string settings = dir.file("config/velumo/settings");
    ASSERT_TRUE(writeSettings(settings, Settings{1000, 2, "96KB"}));
    const std::vector<std::string> env = {bus.environmentEntry(), "QT_QPA_PLATFORM=offscreen",
                                          "SDL_AUDIODRIVER=dummy",
                                          "XDG_CONFIG_HOME=" + dir.file("config")};
    const std::string log = dir.file("velumo.log");
    const auto mpris = [&](const char* name) {
        return bus.property(MprisService::kServiceName, MprisService::kObjectPath,
                            "org.mpris.MediaPlayer2.Player", name);
    };
    // Volume prints as "(<0.5>,)".
    const auto volume = [&] {
        const std::string text = mpris("Volume");
        return text.size() > 2 ? std::atof(text.c_str() + 2) : -1.0;
    };
    const auto playing = [&](const std::string& path) {
        return mpris("PlaybackStatus") == "(<'Playing'>,)" &&
               mpris("Metadata").find("'file://" + path + "'") != std::string::npos;
    };

    // No window runs: the first one opens its own, plays its file and takes
    // the name; the remembered settings are set.
    Running window{spawnProgram({program, first}, env, log)};
    ASSERT_GT(window.pid, 0);
    ASSERT_TRUE(waitFor([&] { return playing(first); }, 60000)) << log;
    EXPECT_TRUE(bus.hasOwner(SingleInstance::kServiceName));
    EXPECT_EQ(mpris("LoopStatus"), "(<'Playlist'>,)");
    EXPECT_NEAR(volume(), 1000 / 65535.0, 1e-6) << mpris("Volume");

    // The second hands over both files (one already listed) and ends at once.
    const pid_t handing = spawnProgram({program, second, first}, env, log);
    ASSERT_GT(handing, 0);
    EXPECT_EQ(waitForProgram(handing, 30000), 0);
    EXPECT_TRUE(waitFor([&] { return playing(second); }, 30000));

    // The volume set from outside is remembered, the list holds each file
    // once.
    bus.gdbus({"call", "--session", "--dest", MprisService::kServiceName, "--object-path",
               MprisService::kObjectPath, "--method", "org.freedesktop.DBus.Properties.Set",
               "org.mpris.MediaPlayer2.Player", "Volume", "<0.5>"});
    ASSERT_TRUE(waitFor([&] { return std::abs(volume() - 0.5) < 1e-3; }, 10000)) << mpris("Volume");
    EXPECT_EQ(stopProgram(window.pid, SIGTERM, 30000), 0);
    window.pid = -1;
    const StoredListDecoding stored = decodeStoredList(readFileBytes(program + ".ini"));
    ASSERT_EQ(stored.rows.size(), 2U);
    EXPECT_EQ(stored.rows[0][4], first);
    EXPECT_EQ(stored.rows[1][4], second);
    EXPECT_EQ(readSettings(settings), (Settings{32768, 2, "96KB"}));
}
