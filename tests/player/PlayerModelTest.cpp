#include "player/PlayerModel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Change = PlayerModel::Change;

// Records what the model announced.
struct Recorder {
    explicit Recorder(PlayerModel& model)
        : id(model.addListener([this](Change what) { changes.push_back(what); })) {}
    int id;
    std::vector<Change> changes;
};

TEST(PlayerModel, NextAndPrevStepThroughTheRows) {
    struct Case {
        bool forward;
        int from;
        int count;
        bool wrap;
        int row;
        bool load;
    };
    const Case cases[] = {
        {true, -1, 3, false, 0, true},   {true, 0, 3, false, 1, true},
        {true, 2, 3, false, 2, false},   {true, 2, 3, true, 0, true},
        {true, 7, 3, false, 2, false},   {true, -9, 3, false, 0, true},
        {true, 1, 0, true, 1, false},    {false, 2, 3, false, 1, true},
        {false, 0, 3, false, 0, false},  {false, 0, 3, true, 2, true},
        {false, -1, 3, false, 0, false}, {false, 9, 3, false, 2, true},
        {false, 1, 0, true, 1, false},
    };
    for (const Case& c : cases) {
        PlayerModel model;
        model.setCurrentRow(c.from);
        const PlayerModel::Step step =
            c.forward ? model.next(c.count, c.wrap) : model.prev(c.count, c.wrap);
        const auto where = testing::Message() << (c.forward ? "next" : "prev") << " from " << c.from
                                              << " of " << c.count;
        EXPECT_EQ(step.row, c.row) << where;
        EXPECT_EQ(step.load, c.load) << where;
        EXPECT_EQ(model.currentRow(), c.row) << where;
    }
}

TEST(PlayerModel, PlayingARowLoadsItOnlyWhenItIsNotTheCurrentOne) {
    using Action = PlayerModel::RowAction;
    struct Case {
        int row;
        bool playing;
        Action action;
        int current;
    };
    // Three rows, row 1 current.
    const Case cases[] = {
        {2, true, Action::LoadAndPlay, 2}, {1, false, Action::Play, 1},
        {1, true, Action::Nothing, 1},     {3, false, Action::Nothing, 1},
        {-1, false, Action::Nothing, 1},
    };
    for (const Case& c : cases) {
        PlayerModel model;
        model.setCurrentRow(1);
        EXPECT_EQ(model.playRow(c.row, 3, c.playing), c.action) << c.row << c.playing;
        EXPECT_EQ(model.currentRow(), c.current) << c.row << c.playing;
    }
}

TEST(PlayerModel, NextAndPrevAreOfferedWhereTheyLoadARow) {
    struct Case {
        int mode;
        int repeat;
        int row;
        int count;
        bool next;
        bool prev;
    };
    const Case cases[] = {
        {kListFiles, kGoStraight, 0, 3, true, false},
        {kListFiles, kGoStraight, 2, 3, false, true},
        {kListFiles, kRepeatAll, 2, 3, true, true},
        {kListFiles, kRepeatAll, 0, 0, false, false},
        {kListCdTracks, kRepeatOne, 1, 3, true, true},
        {kListRecording, kRepeatAll, 1, 3, false, false},
    };
    for (const Case& c : cases) {
        PlayerModel model;
        model.fields().listMode = c.mode;
        model.setRepeatMode(c.repeat);
        model.setCurrentRow(c.row);
        EXPECT_EQ(model.canGoNext(c.count), c.next) << c.mode << c.repeat << c.row;
        EXPECT_EQ(model.canGoPrevious(c.count), c.prev) << c.mode << c.repeat << c.row;
    }
}

TEST(PlayerModel, TheEndOfAnItemFollowsTheRepeatMode) {
    using After = PlayerModel::AfterEnd;
    struct Case {
        int mode;
        int repeat;
        bool stopped;
        After after;
    };
    const Case cases[] = {
        {kListFiles, kGoStraight, false, After::Next},
        {kListFiles, kRepeatOne, false, After::Replay},
        {kListCdTracks, kRepeatAll, false, After::NextWrapping},
        {kListFiles, kRepeatAll, true, After::Stop},
        {kListRecording, kRepeatOne, false, After::Stop},
    };
    for (const Case& c : cases) {
        PlayerModel model;
        model.fields().listMode = c.mode;
        model.setRepeatMode(c.repeat);
        EXPECT_EQ(model.afterEnd(c.stopped), c.after) << c.mode << c.repeat << c.stopped;
    }
}

TEST(PlayerModel, ListModesSaveTheFileRowsOnceAndRestoreThem) {
    struct Step {
        int mode;
        bool reset;
        bool restore;
        bool save;
        bool disable;
    };
    // Files, the CD, a take recorded from the CD, the CD again, files: the
    // file rows are saved once, when the CD rows replace them, and never
    // overwritten by the CD rows shown while the take is loaded.
    const Step steps[] = {
        {kListCdTracks, true, false, true, false},  {kListRecording, false, false, false, true},
        {kListCdTracks, true, false, false, false}, {kListCdTracks, false, false, false, false},
        {kListFiles, true, true, false, false},     {kListRecording, false, false, true, true},
        {kListFiles, true, true, false, false},     {kListFiles, false, false, false, false},
    };
    PlayerModel model;
    for (const Step& s : steps) {
        model.setCurrentRow(4);
        const PlayerModel::ModeSwitch actions = model.setListMode(s.mode);
        EXPECT_EQ(model.listMode(), s.mode);
        EXPECT_EQ(actions.resetPlayer, s.reset) << s.mode;
        EXPECT_EQ(actions.restoreRows, s.restore) << s.mode;
        EXPECT_EQ(actions.saveRows, s.save) << s.mode;
        EXPECT_EQ(actions.disableList, s.disable) << s.mode;
        EXPECT_EQ(model.currentRow(), s.reset || s.save ? -1 : 4) << s.mode;
        // A Record that brings no take never returns to a take's mode.
        EXPECT_EQ(model.modeWithoutTake(), s.mode == kListRecording ? kListFiles : s.mode);
    }
}

TEST(PlayerModel, ListenersHearEachRealChangeUntilRemoved) {
    PlayerModel model;
    Recorder recorder(model);
    model.setStatus(PlayStatus::Playing);
    model.setStatus(PlayStatus::Playing);
    model.setVolume(70000); // clamped
    model.setVolume(0xFFFF);
    model.cycleRepeatMode();
    model.setRepeatMode(7); // not a mode
    model.setPosition(2.5);
    model.setLoadProblem("No Audio");
    EXPECT_EQ(recorder.changes, (std::vector<Change>{Change::Status, Change::Volume, Change::Repeat,
                                                     Change::Position, Change::LoadProblem}));
    EXPECT_EQ(model.volume(), 0xFFFF);
    EXPECT_EQ(model.repeatMode(), kRepeatOne);
    EXPECT_STREQ(statusText(model.status()), "Playing");

    // A listener that removes itself while told is safe, and hears no more.
    int heard = 0;
    int self = 0;
    self = model.addListener([&](Change) {
        ++heard;
        model.removeListener(self);
    });
    model.removeListener(recorder.id);
    model.setStatus(PlayStatus::Paused);
    model.setStatus(PlayStatus::Stopped);
    EXPECT_EQ(heard, 1);
    EXPECT_EQ(recorder.changes.size(), 5U);
}

} // namespace

TEST(PlayerModel, PlayWithNothingLoadedStartsAtTheSelectedOrTheFirstRow) {
    using Start = PlayerModel::PlayStart;
    struct Case {
        int rows;
        int selected;
        Start start;
        int current; // the current row afterwards
    };
    const Case cases[] = {
        {0, -1, Start::NothingToPlay, 2}, {3, -1, Start::First, -1},
        {3, 1, Start::Selected, 1},       {3, 3, Start::First, -1},
        {0, 0, Start::NothingToPlay, 2},
    };
    for (const Case& c : cases) {
        PlayerModel model;
        model.setCurrentRow(2);
        for (int i = 0; i < c.rows; ++i) {
            model.rows().append({PlayRow::file("/music/" + std::to_string(i) + ".wav", 1, 1)});
        }
        EXPECT_EQ(model.startPlaying(c.selected), c.start) << c.rows << " rows, " << c.selected;
        EXPECT_EQ(model.currentRow(), c.current) << c.rows << " rows, " << c.selected;
    }
}
