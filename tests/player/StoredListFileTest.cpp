#include "player/StoredListFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testing_support::readFileBytes;
using testing_support::TempDir;
using testing_support::writeFileBytes;

std::vector<uint8_t> listOf(const std::vector<std::string>& names) {
    PlayRows rows;
    for (const std::string& name : names) {
        rows.append({PlayRow::file("/music/" + name, 1, 1024)});
    }
    return rows.encoded();
}

TEST(StoredListFile, ADamagedListIsKeptOnceAndAnotherWindowsListIsKeptAside) {
    TempDir dir;
    const ProgramFiles files = ProgramFiles::inDirectory(dir.path().string());
    const std::string list = files.storedListPath();
    std::vector<uint8_t> damaged = listOf({"a.wav", "b.wav"});
    damaged.resize(damaged.size() - 2);
    writeFileBytes(list, damaged);

    StoredListFile first;
    PlayRows rows;
    EXPECT_FALSE(first.load(files, rows));
    EXPECT_EQ(rows.count(), 1);
    ASSERT_TRUE(first.store(files, rows.encoded()));
    EXPECT_EQ(readFileBytes(list + ".damaged"), damaged);
    EXPECT_EQ(readFileBytes(list), rows.encoded());
    EXPECT_EQ(first.takeNotice(), "");

    // A second window reads and stores; the first one's next store keeps
    // that list as ".other" and has the user told.
    StoredListFile second;
    PlayRows secondRows;
    EXPECT_TRUE(second.load(files, secondRows));
    secondRows.append({PlayRow::file("/music/c.wav", 1, 1024)});
    ASSERT_TRUE(second.store(files, secondRows.encoded()));
    ASSERT_TRUE(first.store(files, rows.encoded()));
    EXPECT_EQ(readFileBytes(StoredListFile::otherWindowPath(files)), secondRows.encoded());
    EXPECT_NE(first.takeNotice().find(StoredListFile::otherWindowPath(files)), std::string::npos);
    EXPECT_EQ(first.takeNotice(), "") << "told once";
    EXPECT_EQ(readFileBytes(list), rows.encoded());
}

} // namespace
