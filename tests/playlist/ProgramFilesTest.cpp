// Where the stored list and the recorded take live.

#include "playlist/ProgramFiles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <pwd.h>
#include <unistd.h>

TEST(ProgramFiles, FilesLiveNextToAWritableProgram) {
    testing_support::TempDir dir;
    const std::string program = dir.file("velumo");
    const ProgramFiles files = ProgramFiles::locate(program, "/xdg", "/home/someone");
    EXPECT_EQ(files.dataDirectory(), dir.path().string());
    EXPECT_EQ(files.storedListPath(), program + ".ini");
    EXPECT_EQ(files.recordedTakePath(), dir.file("_temp.wav"));

    // The running program: its own path plus ".ini".
    const ProgramFiles self = ProgramFiles::current();
    EXPECT_EQ(self.programPath(), executablePath());
    EXPECT_EQ(std::filesystem::path(self.storedListPath()).filename().string(),
              std::filesystem::path(executablePath()).filename().string() + ".ini");
}

TEST(ProgramFiles, UnwritableProgramDirectoryFallsBackToTheUserDataDirectory) {
    const std::string program = "/nonexistent-velumo-dir/bin/velumo";
    EXPECT_EQ(ProgramFiles::locate(program, "/data", "/home/u").storedListPath(),
              "/data/velumo/velumo.ini");
    EXPECT_EQ(ProgramFiles::locate(program, "/data/", "/home/u").recordedTakePath(),
              "/data/velumo/_temp.wav");
    // A relative or empty XDG_DATA_HOME is ignored.
    EXPECT_EQ(ProgramFiles::locate(program, "rel/data", "/home/u").storedListPath(),
              "/home/u/.local/share/velumo/velumo.ini");
    EXPECT_EQ(ProgramFiles::locate(program, "", "/home/u").dataDirectory(),
              "/home/u/.local/share/velumo");
    // With nowhere else to go the program's directory stays (writing then fails).
    EXPECT_EQ(ProgramFiles::locate(program, "", "").dataDirectory(), "/nonexistent-velumo-dir/bin");
}

TEST(ProgramFiles, DataDirectoryIsCreatedOnDemand) {
    testing_support::TempDir dir;
    const ProgramFiles files = ProgramFiles::inDirectory(dir.file("a/b/velumo"));
    EXPECT_FALSE(std::filesystem::exists(files.dataDirectory()));
    EXPECT_TRUE(files.ensureDataDirectory());
    EXPECT_TRUE(std::filesystem::is_directory(files.dataDirectory()));
    EXPECT_EQ(files.storedListPath(), dir.file("a/b/velumo/velumo.ini"));
}

TEST(ProgramFiles, ProgramInItsInstallDirectoryUsesTheUserDataDirectoryEvenWhenWritable) {
    testing_support::TempDir dir;
    const std::string bin = dir.file("bin");
    std::filesystem::create_directories(bin);
    const std::string program = bin + "/velumo";
    // Root can write /usr/local/bin; the list must not land there.
    EXPECT_EQ(ProgramFiles::locate(program, "/data", "/home/u", bin).storedListPath(),
              "/data/velumo/velumo.ini");
    // The same directory by another spelling counts as well.
    EXPECT_EQ(
        ProgramFiles::locate(program, "/data", "/home/u", dir.file("bin/../bin")).dataDirectory(),
        "/data/velumo");
    // A build folder elsewhere keeps its files next to the program.
    EXPECT_EQ(ProgramFiles::locate(program, "/data", "/home/u", "/nonexistent-prefix/bin")
                  .dataDirectory(),
              bin);
    // The running test is not installed: the build names an absolute bindir
    // that is not its own directory.
    const std::string installed = ProgramFiles::installDirectory();
    ASSERT_FALSE(installed.empty());
    EXPECT_EQ(installed.front(), '/');
    EXPECT_EQ(ProgramFiles::current().dataDirectory(),
              std::filesystem::path(executablePath()).parent_path().string());
}

// The places are tried in order, and an installed program without any
// never gets its list beside itself.
TEST(ProgramFiles, TheFirstPlaceThatCanHoldTheFilesIsTakenAndNeverTheInstallFolder) {
    testing_support::TempDir dir;
    const std::string bin = dir.file("bin");
    std::filesystem::create_directories(bin);
    const std::string program = bin + "/velumo";
    // XDG_DATA_HOME names a file: nothing can be made below it, even by root.
    const std::string notAFolder = dir.file("data-file");
    testing_support::writeFileBytes(notAFolder, {1});
    const std::string home = dir.file("home");
    EXPECT_EQ(ProgramFiles::locate(program, notAFolder, home, bin).dataDirectory(),
              home + "/.local/share/velumo");
    EXPECT_EQ(ProgramFiles::locate(program, dir.file("xdg"), home, bin).dataDirectory(),
              dir.file("xdg") + "/velumo");
    // Neither place can: the first, where writing fails and says so.
    EXPECT_EQ(ProgramFiles::locate(program, notAFolder, notAFolder, bin).dataDirectory(),
              notAFolder + "/velumo");
    // No place at all: no data directory, and no list path beside the program.
    const ProgramFiles none = ProgramFiles::locate(program, "", "", bin);
    EXPECT_EQ(none.dataDirectory(), "");
    EXPECT_EQ(none.storedListPath(), "");
    EXPECT_EQ(none.recordedTakePath(), "");
    EXPECT_FALSE(none.ensureDataDirectory());
}

TEST(ProgramFiles, WithoutHomeTheHomeComesFromThePasswordDatabase) {
    const char* saved = std::getenv("HOME");
    const std::string before = saved ? saved : "";
    const struct passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        if (value) {
            setenv("HOME", value, 1);
        } else {
            unsetenv("HOME");
        }
        EXPECT_EQ(ProgramFiles::homeDirectory(), entry->pw_dir) << (value ? value : "unset");
    }
    setenv("HOME", "/somewhere/else", 1);
    EXPECT_EQ(ProgramFiles::homeDirectory(), "/somewhere/else");
    if (saved) {
        setenv("HOME", before.c_str(), 1);
    } else {
        unsetenv("HOME");
    }
}
