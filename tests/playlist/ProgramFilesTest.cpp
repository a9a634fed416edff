// Where the stored list and the recorded take live.

#include "playlist/ProgramFiles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

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
