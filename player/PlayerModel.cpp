#include "player/PlayerModel.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

const char* statusText(PlayStatus status) {
    switch (status) {
    case PlayStatus::Playing:
        return "Playing";
    case PlayStatus::Paused:
        return "Paused";
    case PlayStatus::Stopped:
        break;
    }
    return "Stopped";
}

int PlayerModel::addListener(Listener listener) {
    const int id = nextListenerId++;
    listeners.emplace_back(id, std::move(listener));
    return id;
}

void PlayerModel::removeListener(int id) {
    std::erase_if(listeners, [id](const auto& entry) { return entry.first == id; });
}

void PlayerModel::notify(Change what) {
    // A copy: a listener may remove itself (or another) while being told.
    const auto told = listeners;
    for (const auto& entry : told) {
        if (entry.second) {
            entry.second(what);
        }
    }
}

void PlayerModel::setStatus(PlayStatus status) {
    if (current.status != status) {
        current.status = status;
        notify(Change::Status);
    }
}

void PlayerModel::setRepeatMode(int mode) {
    if (mode >= kGoStraight && mode <= kRepeatAll && mode != current.repeatMode) {
        current.repeatMode = mode;
        notify(Change::Repeat);
    }
}

void PlayerModel::cycleRepeatMode() {
    // A mode written from outside the three still comes back to them.
    const int mode = current.repeatMode >= kGoStraight && current.repeatMode <= kRepeatAll
                         ? current.repeatMode
                         : kGoStraight;
    current.repeatMode = (mode + 1) % 3;
    notify(Change::Repeat);
}

void PlayerModel::setVolume(int level) {
    level = std::clamp(level, 0, 0xFFFF);
    if (level != current.volume) {
        current.volume = level;
        notify(Change::Volume);
    }
}

void PlayerModel::setCurrentRow(int row) {
    if (row != current.currentIndex) {
        current.currentIndex = row;
        notify(Change::CurrentRow);
    }
}

void PlayerModel::setPosition(double seconds) {
    if (std::isnan(seconds)) {
        return;
    }
    if (seconds != current.elapsedSeconds) {
        current.elapsedSeconds = seconds;
        notify(Change::Position);
    }
}

void PlayerModel::setLoadProblem(const std::string& why) {
    if (why != current.loadProblem) {
        current.loadProblem = why;
        notify(Change::LoadProblem);
    }
}

PlayerModel::Step PlayerModel::next(int count, bool wrap) {
    if (count <= 0) {
        return {current.currentIndex, false};
    }
    int row = current.currentIndex + 1;
    bool load = true;
    if (row >= count) {
        row = wrap ? 0 : count - 1;
        load = wrap;
    }
    row = std::max(row, 0);
    setCurrentRow(row);
    return {row, load};
}

PlayerModel::Step PlayerModel::prev(int count, bool wrap) {
    if (count <= 0) {
        return {current.currentIndex, false};
    }
    int row = current.currentIndex - 1;
    bool load = true;
    if (row < 0) {
        row = wrap ? count - 1 : 0;
        load = wrap;
    }
    row = std::min(row, count - 1);
    setCurrentRow(row);
    return {row, load};
}

bool PlayerModel::canGoNext(int count) const {
    return count > 0 && current.listMode != kListRecording &&
           (current.repeatMode == kRepeatAll || current.currentIndex < count - 1);
}

bool PlayerModel::canGoPrevious(int count) const {
    return count > 0 && current.listMode != kListRecording &&
           (current.repeatMode == kRepeatAll || current.currentIndex > 0);
}

PlayerModel::RowAction PlayerModel::playRow(int row, int count, bool playing) {
    if (row < 0 || row >= count) {
        return RowAction::Nothing;
    }
    if (row != current.currentIndex) {
        setCurrentRow(row);
        return RowAction::LoadAndPlay;
    }
    return playing ? RowAction::Nothing : RowAction::Play;
}

PlayerModel::AfterEnd PlayerModel::afterEnd(bool deviceStopped) const {
    if (current.listMode == kListRecording || deviceStopped) {
        return AfterEnd::Stop;
    }
    switch (current.repeatMode) {
    case kRepeatOne:
        return AfterEnd::Replay;
    case kRepeatAll:
        return AfterEnd::NextWrapping;
    default:
        return AfterEnd::Next;
    }
}

int PlayerModel::modeWithoutTake() const {
    return current.listMode == kListRecording ? kListFiles : current.listMode;
}

PlayerModel::ModeSwitch PlayerModel::setListMode(int mode) {
    ModeSwitch actions;
    const int before = current.listMode;
    if (mode == kListFiles && before != kListFiles) {
        actions.resetPlayer = true;
        actions.restoreRows = true;
        setCurrentRow(-1);
        current.fileRowsShown = true;
    } else if (mode == kListCdTracks && before != kListCdTracks) {
        actions.resetPlayer = true;
        setCurrentRow(-1);
        // Only file rows are saved: the take recorded in the CD mode shows
        // CD rows, and saving those would lose the file rows for good.
        actions.saveRows = current.fileRowsShown;
        current.fileRowsShown = false;
    } else if (mode == kListRecording) {
        if (before == kListFiles) {
            setCurrentRow(-1);
            actions.saveRows = true;
        }
        actions.disableList = true;
    }
    if (mode != before) {
        current.listMode = mode;
        notify(Change::ListMode);
    }
    return actions;
}

PlayerModel::PlayStart PlayerModel::startPlaying(int selected) {
    if (rowList.at(selected) != nullptr) {
        setCurrentRow(selected);
        return PlayStart::Selected;
    }
    if (rowList.count() == 0) {
        return PlayStart::NothingToPlay;
    }
    setCurrentRow(-1);
    return PlayStart::First;
}

std::vector<uint8_t> PlayerModel::storedList() const {
    if (current.listMode != kListFiles) {
        if (std::optional<std::vector<uint8_t>> saved = rowList.encodedSaved()) {
            return std::move(*saved);
        }
    }
    return rowList.encoded();
}
