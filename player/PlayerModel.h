#pragma once
// The player's state under the window, without any widget: what the list
// shows (files, CD tracks or the recorded take), the current row, the
// repeat mode, the volume, the status and why the last load failed, and the
// position in the loaded item. The rules that decide what follows what
// (next and prev, the end of an item, switching the list mode) are
// operations here; the window carries out what they decide on the device
// and the list view.
//
// Every setter notifies the listeners when its value changed, with what
// changed; a listener may read the model but must not change it.
//
// Usage:
//   PlayerModel model;
//   model.addListener([](PlayerModel::Change what) { ... });
//   model.setStatus(PlayStatus::Playing);
//   const PlayerModel::Step step = model.next(rowCount, wrap);
//
// User-interface thread only (the owner's thread).

#include "player/PlayRows.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// What the list shows (listMode).
enum ListMode : int { kListFiles = 0, kListCdTracks = 1, kListRecording = 2 };

// Repeat modes (repeatMode): what follows the end of an item.
enum RepeatMode : int { kGoStraight = 0, kRepeatOne = 1, kRepeatAll = 2 };

enum class PlayStatus : int { Stopped = 0, Playing = 1, Paused = 2 };

// "Stopped", "Playing" or "Paused": the status as the window shows it.
const char* statusText(PlayStatus status);

class PlayerModel {
  public:
    // The state. Fields, so that the window can show them as its own; the
    // setters below are the way to change them with a notification.
    struct State {
        int32_t listMode = kListFiles;
        int32_t currentIndex = -1;
        int32_t repeatMode = kGoStraight;
        int32_t volume = 0x8000; // 0 to 65535
        double elapsedSeconds = 0.0;
        PlayStatus status = PlayStatus::Stopped;
        // Why the last load failed, as the window shows it in place of the
        // title; empty once an item loaded.
        std::string loadProblem;
        // The rows shown are the user's file rows (the file mode, or the
        // take recorded from it) rather than CD tracks.
        bool fileRowsShown = true;
    };

    enum class Change { Status, ListMode, CurrentRow, Repeat, Volume, Position, LoadProblem };
    using Listener = std::function<void(Change)>;

    // Returns an id for removeListener.
    int addListener(Listener listener);
    void removeListener(int id);

    // The rows of the list as shown (files, CD tracks or the take), with the
    // user's file rows saved aside while they are not shown.
    PlayRows& rows() { return rowList; }
    const PlayRows& rows() const { return rowList; }

    // The user's list as it is stored: the rows shown in the file mode, the
    // saved file rows while CD tracks or the take are shown.
    std::vector<uint8_t> storedList() const;

    const State& state() const { return current; }
    // The fields themselves, for an owner that shows them as its own.
    State& fields() { return current; }

    PlayStatus status() const { return current.status; }
    int listMode() const { return current.listMode; }
    int currentRow() const { return current.currentIndex; }
    int repeatMode() const { return current.repeatMode; }
    int volume() const { return current.volume; }
    double position() const { return current.elapsedSeconds; }

    void setStatus(PlayStatus status);
    // Modes outside 0..2 are ignored.
    void setRepeatMode(int mode);
    // Go Straight, Repeat One, Repeat All, and round again.
    void cycleRepeatMode();
    // Clamped to 0..65535.
    void setVolume(int level);
    void setCurrentRow(int row);
    void setPosition(double seconds);
    void setLoadProblem(const std::string& why);

    // --- Rules ---

    // Where next or prev goes among count rows from the current row: the
    // row to load, or load false when there is none (the end of the list
    // without wrap, or no rows). The current row becomes step.row either
    // way (moved back inside the list).
    struct Step {
        int row = -1;
        bool load = false;
    };
    Step next(int count, bool wrap);
    Step prev(int count, bool wrap);
    // Whether Next and Prev would load a row now (never while the take is
    // shown).
    bool canGoNext(int count) const;
    bool canGoPrevious(int count) const;

    // What playing row (a double-click, Return, a file opened remotely)
    // does among count rows: load it and play (it becomes the current
    // row), play the current row's item again when it is not playing, or
    // nothing for a row outside the list or the current row playing.
    enum class RowAction { Nothing, LoadAndPlay, Play };
    RowAction playRow(int row, int count, bool playing);

    // What Play does while nothing is loaded: load the selected row (it
    // becomes the current row), or with no row selected start at the first
    // row as Next does (the current row is put before the list), or say
    // that there is nothing to play when the list is empty.
    enum class PlayStart { NothingToPlay, Selected, First };
    PlayStart startPlaying(int selected);

    // What follows the end of the loaded item.
    enum class AfterEnd { Stop, Replay, Next, NextWrapping };
    // deviceStopped: the item had been stopped before its end came in.
    AfterEnd afterEnd(bool deviceStopped) const;

    // What switching the list mode asks of the window, in this order: reset
    // the player, restore the saved file rows, save the rows shown, then
    // deselect every row and disable the list. setListMode has already
    // applied the mode and the current row when it returns.
    struct ModeSwitch {
        bool resetPlayer = false;
        bool restoreRows = false;
        bool saveRows = false;
        bool disableList = false;
    };
    ModeSwitch setListMode(int mode);
    // The mode a Record goes back to when no take comes of it: the one
    // shown, or the file mode after a take (the recording mode keeps the
    // file rows aside, and a take is no mode to return to).
    int modeWithoutTake() const;

  private:
    void notify(Change what);

    State current;
    PlayRows rowList;
    std::vector<std::pair<int, Listener>> listeners;
    int nextListenerId = 1;
};
