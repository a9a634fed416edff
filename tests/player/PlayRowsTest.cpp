#include "player/PlayRows.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Kind = PlayRows::Edit::Kind;

// Rows of the files /music/<name>, in order.
PlayRows rowsNamed(const std::vector<std::string>& names) {
    PlayRows rows;
    std::vector<PlayRow> made;
    made.reserve(names.size());
    for (const std::string& name : names) {
        made.push_back(PlayRow::file("/music/" + name, 10, 2048));
    }
    rows.append(std::move(made));
    return rows;
}

std::vector<std::string> namesOf(const PlayRows& rows) {
    std::vector<std::string> names;
    names.reserve(rows.all().size());
    for (const PlayRow& row : rows.all()) {
        names.push_back(row.name);
    }
    return names;
}

// Records the edits announced.
struct EditLog {
    explicit EditLog(PlayRows& rows)
        : id(rows.addListener([this](const PlayRows::Edit& edit) { edits.push_back(edit); })) {}
    int id;
    std::vector<PlayRows::Edit> edits;
};

TEST(PlayRows, RemoveMoveAndClearFollowTheListRules) {
    struct Case {
        const char* what;
        std::function<bool(PlayRows&)> edit; // whether the rows changed
        std::vector<std::string> after;
        Kind announced;
        int first;
        int other;
    };
    const Case cases[] = {
        {"remove the middle row",
         [](PlayRows& r) { return r.remove(1); },
         {"a", "c"},
         Kind::Removed,
         1,
         -1},
        {"remove outside the list",
         [](PlayRows& r) { return r.remove(3); },
         {"a", "b", "c"},
         Kind::Reset,
         -1,
         -1},
        {"remove with nothing selected",
         [](PlayRows& r) { return r.remove(-1); },
         {"a", "b", "c"},
         Kind::Reset,
         -1,
         -1},
        {"move the last row up",
         [](PlayRows& r) { return r.move(2, -1) == 1; },
         {"a", "c", "b"},
         Kind::Moved,
         2,
         1},
        {"move the first row down",
         [](PlayRows& r) { return r.move(0, +1) == 1; },
         {"b", "a", "c"},
         Kind::Moved,
         0,
         1},
        {"move the first row up",
         [](PlayRows& r) { return r.move(0, -1) != -1; },
         {"a", "b", "c"},
         Kind::Reset,
         -1,
         -1},
        {"move the last row down",
         [](PlayRows& r) { return r.move(2, +1) != -1; },
         {"a", "b", "c"},
         Kind::Reset,
         -1,
         -1},
        {"swap a row with itself",
         [](PlayRows& r) { return r.swap(1, 1); },
         {"a", "b", "c"},
         Kind::Reset,
         -1,
         -1},
        {"clear all",
         [](PlayRows& r) {
             r.clear();
             return true;
         },
         {},
         Kind::Reset,
         0,
         -1},
    };
    for (const Case& c : cases) {
        PlayRows rows = rowsNamed({"a", "b", "c"});
        EditLog log(rows);
        const bool changed = c.edit(rows);
        EXPECT_EQ(namesOf(rows), c.after) << c.what;
        // An edit that changes nothing announces nothing (first -1 here).
        EXPECT_EQ(changed, c.first >= 0) << c.what;
        ASSERT_EQ(log.edits.size(), changed ? 1U : 0U) << c.what;
        if (changed) {
            EXPECT_EQ(log.edits[0].kind, c.announced) << c.what;
            EXPECT_EQ(log.edits[0].first, c.first) << c.what;
            EXPECT_EQ(log.edits[0].other, c.other) << c.what;
        }
    }
}

TEST(PlayRows, InsertingClampsTheIndexAndAnnouncesTheNewRows) {
    PlayRows rows = rowsNamed({"a", "b"});
    EditLog log(rows);
    EXPECT_EQ(rows.insert(9, {PlayRow::file("/x/c", 1, 1), PlayRow::file("/x/d", 1, 1)}), 2);
    EXPECT_EQ(rows.insert(-4, {PlayRow::cdTrack(0, 1, 1)}), 0);
    rows.insert(1, {});
    EXPECT_EQ(namesOf(rows), (std::vector<std::string>{"Track-00", "a", "b", "c", "d"}));
    ASSERT_EQ(log.edits.size(), 2U) << "inserting no rows announces nothing";
    EXPECT_EQ(log.edits[0].first, 2);
    EXPECT_EQ(log.edits[0].count, 2);
    EXPECT_EQ(log.edits[1].first, 0);
    EXPECT_EQ(log.edits[1].count, 1);
    EXPECT_TRUE(rows.at(0)->isCdTrack());

    // A text set afterwards classifies the row again.
    rows.setText(1, 4, kCdRowPath);
    EXPECT_TRUE(rows.at(1)->isCdTrack());
    EXPECT_EQ(log.edits.back().kind, Kind::Changed);
    rows.removeListener(log.id);
    rows.clear();
    EXPECT_EQ(log.edits.size(), 3U);
}

TEST(PlayRows, TheSavedCopySurvivesEditsAndStoresAsTheUserList) {
    PlayRows rows = rowsNamed({"a.wav", "b.mp3"});
    EXPECT_FALSE(rows.restore()) << "nothing saved yet";
    EXPECT_FALSE(rows.encodedSaved());
    const std::vector<uint8_t> stored = rows.encoded();

    rows.save();
    rows.clear();
    rows.append({PlayRow::cdTrack(0, 60, 1024)});
    EXPECT_EQ(rows.encodedSaved(), stored);
    EXPECT_TRUE(rows.restore());
    EXPECT_EQ(rows.encoded(), stored);
    rows.remove(0);
    EXPECT_TRUE(rows.restore()) << "as often as asked";
    EXPECT_EQ(namesOf(rows), (std::vector<std::string>{"a.wav", "b.mp3"}));

    // Saving fewer columns keeps only those texts.
    rows.save(2);
    rows.restore();
    EXPECT_EQ(rows.text(0, 1), "a.wav");
    EXPECT_EQ(rows.text(0, 4), "");
}

TEST(PlayRows, StoredRowsGoAheadOfTheRowsThereAreAndDamageKeepsTheRowsRead) {
    const std::vector<uint8_t> two = rowsNamed({"x", "y"}).encoded();
    PlayRows rows = rowsNamed({"a"});
    EXPECT_TRUE(rows.insertStored(two.data(), two.size()));
    EXPECT_EQ(namesOf(rows), (std::vector<std::string>{"x", "y", "a"}));

    PlayRows damaged;
    EXPECT_FALSE(damaged.insertStored(two.data(), two.size() - 3));
    EXPECT_EQ(namesOf(damaged), (std::vector<std::string>{"x"}));
    EXPECT_EQ(damaged.text(0, 4), "/music/x");
    EXPECT_EQ(damaged.text(0, 5), "");
    EXPECT_EQ(damaged.text(1, 1), "");
}

} // namespace
