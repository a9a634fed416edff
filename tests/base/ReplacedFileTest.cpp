// Replacing a file's contents: links kept, attributes kept, folders that
// refuse new files, targets that are not files, and the clean-up of
// temporaries that only ever removes Velumo's own.

#include "base/ReplacedFile.h"
#include "support/TestSupport.h"
#include "support/Unprivileged.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;
namespace fs = std::filesystem;

const std::vector<uint8_t> kOld = {'o', 'l', 'd', ' ', 'b', 'y', 't', 'e', 's'};
const std::vector<uint8_t> kNew = {'n', 'e', 'w'};

int entriesIn(const fs::path& dir) {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) {
        ++count;
    }
    return count;
}

TEST(ReplacedFile, LinksKeepNamingTheReplacedFile) {
    TempDir dir;
    fs::create_directory(dir.file("real"));
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> links; // link, what it names
        std::string file;                                       // the file written
    };
    const std::vector<Case> cases = {
        {"relative", {{"a.wav", "real/a.wav"}}, "real/a.wav"},
        {"absolute", {{"b.wav", dir.file("real/b.wav")}}, "real/b.wav"},
        {"chain", {{"c.wav", "c2.wav"}, {"c2.wav", "real/c.wav"}}, "real/c.wav"},
        {"into a folder", {{"real/d.wav", "../d.wav"}}, "d.wav"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFileBytes(dir.file(c.file), kOld);
        for (const auto& [link, target] : c.links) {
            fs::create_symlink(target, dir.file(link));
        }
        const std::string named = dir.file(c.links.front().first);
        std::string problem;
        ASSERT_TRUE(replaceFileContents(named, kNew, &problem)) << problem;
        for (const auto& [link, target] : c.links) {
            EXPECT_TRUE(fs::is_symlink(dir.file(link))) << link;
        }
        EXPECT_EQ(readFileBytes(dir.file(c.file)), kNew);
    }
    // A link that names no file yet creates that file.
    fs::create_symlink("real/new.wav", dir.file("dangling.wav"));
    ASSERT_TRUE(replaceFileContents(dir.file("dangling.wav"), kNew));
    EXPECT_TRUE(fs::is_symlink(dir.file("dangling.wav")));
    EXPECT_EQ(readFileBytes(dir.file("real/new.wav")), kNew);
    // A loop of links fails.
    fs::create_symlink("loop2", dir.file("loop1"));
    fs::create_symlink("loop1", dir.file("loop2"));
    ReplacedFile loop;
    EXPECT_FALSE(loop.open(dir.file("loop1")));
    EXPECT_EQ(loop.error(), ELOOP);
}

TEST(ReplacedFile, TargetsThatAreNotRegularFilesAreRefusedUntouched) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    fs::create_directory(dir.file("folder"));
    fs::create_symlink("/dev/full", dir.file("full.wav"));
    fs::create_symlink("fifo", dir.file("to-fifo"));
    for (const char* name : {"full.wav", "fifo", "to-fifo", "folder"}) {
        SCOPED_TRACE(name);
        ReplacedFile file;
        EXPECT_FALSE(file.open(dir.file(name)));
        EXPECT_NE(file.problem().find("not a regular file"), std::string::npos) << file.problem();
        EXPECT_EQ(file.fd(), -1);
        std::string problem;
        EXPECT_FALSE(replaceFileContents(dir.file(name), kNew, &problem));
        EXPECT_FALSE(problem.empty());
    }
    EXPECT_TRUE(fs::is_symlink(dir.file("full.wav")));
    EXPECT_TRUE(fs::is_fifo(dir.file("fifo")));
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
    EXPECT_EQ(entriesIn(dir.path()), 4); // no temporary left
}

TEST(ReplacedFile, ModeOwnerAndExtendedAttributesAreKept) {
    TempDir dir;
    const std::string path = dir.file("list.ini");
    writeFileBytes(path, kOld);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(path.c_str(), 4321, 8765), 0);
    }
    const std::string value = "kept";
    const bool attributes =
        ::setxattr(path.c_str(), "user.velumo.test", value.data(), value.size(), 0) == 0;

    ASSERT_TRUE(replaceFileContents(path, kNew));
    EXPECT_EQ(readFileBytes(path), kNew);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640U);
    if (root) {
        EXPECT_EQ(info.st_uid, 4321U);
        EXPECT_EQ(info.st_gid, 8765U);
    }
    if (attributes) {
        char got[16] = {};
        EXPECT_EQ(::getxattr(path.c_str(), "user.velumo.test", got, sizeof got),
                  static_cast<ssize_t>(value.size()));
        EXPECT_EQ(std::string(got), value);
    }
    // A new file gets the mode of any new file.
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(replaceFileContents(dir.file("fresh.ini"), kNew));
    ::umask(mask);
    ASSERT_EQ(::stat(dir.file("fresh.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644U);
}

// Result codes of the unprivileged child below.
enum : int { kPassed = 0, kOpenFailed = 10, kNotInPlace, kWriteFailed, kCommitFailed, kWrongBytes };

TEST(ReplacedFile, AWritableFileInAFolderThatRefusesNewFilesIsWrittenOverInOnePass) {
    TempDir dir;
    const std::string folder = dir.file("locked");
    const std::string path = folder + "/out.wav";
    fs::create_directory(folder);
    writeFileBytes(path, kOld);
    const unsigned user = testing_support::unprivilegedUid();
    ASSERT_EQ(::chown(dir.path().c_str(), user, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(::chown(path.c_str(), user, static_cast<gid_t>(-1)), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    const int result = testing_support::runUnprivileged([&] {
        ReplacedFile file;
        if (!file.open(path)) {
            return int{kOpenFailed};
        }
        if (!file.writesInPlace()) {
            return int{kNotInPlace};
        }
        if (!file.writeAll(kNew)) {
            return int{kWriteFailed};
        }
        // Until commit the target keeps its old bytes.
        if (readFileBytes(path) != kOld) {
            return int{kWrongBytes};
        }
        return file.commit() ? int{kPassed} : int{kCommitFailed};
    });
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(result, kPassed);
    EXPECT_EQ(readFileBytes(path), kNew); // shorter than before: cut to length
    EXPECT_EQ(entriesIn(folder), 1);

    // A file the user may not write in such a folder still fails.
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const int refused = testing_support::runUnprivileged([&] {
        ReplacedFile file;
        return file.open(path) ? 1 : (file.error() == EACCES ? 0 : 2);
    });
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(readFileBytes(path), kNew);
}

TEST(ReplacedFile, CleanUpRemovesOnlyTheTemporariesOfEndedReplacements) {
    TempDir dir;
    // What a killed process left, and names a user may well choose.
    const std::vector<std::string> leftovers = {".velumo.ini.velumo-Ab3xY9",
                                                ".a.wav.velumo-000000"};
    const std::vector<std::string> kept = {
        "velumo.ini.backup", "velumo.ini.Ab3xY9",  ".velumo.ini.velumo-Ab3xY9.old",
        ".velumo-Ab3xY9",    ".a.wav.velumo-Ab3x", ".a.wav.velumo-Ab3xY_"};
    for (const auto& name : leftovers) {
        writeFileBytes(dir.file(name), kOld);
        EXPECT_TRUE(ReplacedFile::isTemporaryName(name)) << name;
    }
    for (const auto& name : kept) {
        writeFileBytes(dir.file(name), kOld);
        EXPECT_FALSE(ReplacedFile::isTemporaryName(name)) << name;
    }
    // A replacement in progress, here and in another process, keeps its
    // temporary file.
    ReplacedFile live;
    ASSERT_TRUE(live.open(dir.file("live.wav")));
    ASSERT_TRUE(live.writeAll(kNew));
    EXPECT_EQ(ReplacedFile::removeLeftoverTemporaries(dir.path().string()), 0);
    for (const auto& name : leftovers) {
        EXPECT_FALSE(fs::exists(dir.file(name))) << name;
    }
    for (const auto& name : kept) {
        EXPECT_TRUE(fs::exists(dir.file(name))) << name;
    }
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0); // the other process may remove
    writeFileBytes(dir.file(leftovers[0]), kOld);
    ASSERT_EQ(::chmod(dir.file(leftovers[0]).c_str(), 0644), 0);
    const int other = testing_support::runUnprivileged(
        [&] { return ReplacedFile::removeLeftoverTemporaries(dir.path().string()); });
    EXPECT_EQ(other, 1); // the leftover, not the live one
    EXPECT_FALSE(fs::exists(dir.file(leftovers[0])));
    ASSERT_TRUE(live.commit());
    EXPECT_EQ(readFileBytes(dir.file("live.wav")), kNew);
    EXPECT_EQ(entriesIn(dir.path()), static_cast<int>(kept.size()) + 1);
}

TEST(ReplacedFile, DiscardAndFailuresLeaveTheTargetAsItWas) {
    TempDir dir;
    const std::string path = dir.file("out.wav");
    writeFileBytes(path, kOld);
    {
        ReplacedFile file;
        ASSERT_TRUE(file.open(path));
        ASSERT_TRUE(file.writeAll(kNew));
        // Destroyed without commit.
    }
    EXPECT_EQ(readFileBytes(path), kOld);
    ReplacedFile file;
    ASSERT_TRUE(file.open(path));
    file.discard();
    EXPECT_FALSE(file.writeAll(kNew));
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(readFileBytes(path), kOld);
    EXPECT_EQ(entriesIn(dir.path()), 1);
    std::string problem;
    EXPECT_FALSE(replaceFileContents(dir.file("missing/out.wav"), kNew, &problem));
    EXPECT_EQ(problem, "No such file or directory");
}

} // namespace
