#include "player/PlayRows.h"

#include <algorithm>
#include <iterator>

int PlayRows::addListener(Listener listener) {
    const int id = nextListenerId++;
    listeners.emplace_back(id, std::move(listener));
    return id;
}

void PlayRows::removeListener(int id) {
    std::erase_if(listeners, [id](const auto& entry) { return entry.first == id; });
}

void PlayRows::notify(const Edit& edit) {
    for (const auto& [id, listener] : listeners) {
        listener(edit);
    }
}

const PlayRow* PlayRows::at(int row) const {
    if (row < 0 || row >= count()) {
        return nullptr;
    }
    return &list[static_cast<size_t>(row)];
}

std::string PlayRows::text(int row, int column) const {
    const PlayRow* found = at(row);
    if (found == nullptr || column < 0 || column >= kStoredColumns) {
        return {};
    }
    return found->storedColumns()[static_cast<size_t>(column)];
}

void PlayRows::setText(int row, int column, const std::string& text) {
    if (at(row) == nullptr || column < 0 || column >= kStoredColumns) {
        return;
    }
    PlayRow& changed = list[static_cast<size_t>(row)];
    StoredRow texts = changed.storedColumns();
    texts[static_cast<size_t>(column)] = text;
    changed = PlayRow::fromStored(texts);
    notify({Edit::Kind::Changed, row, 1});
}

int PlayRows::insert(int index, std::vector<PlayRow> rows) {
    index = std::clamp(index, 0, count());
    if (rows.empty()) {
        return index;
    }
    const int added = static_cast<int>(rows.size());
    list.insert(list.begin() + index, std::make_move_iterator(rows.begin()),
                std::make_move_iterator(rows.end()));
    notify({Edit::Kind::Inserted, index, added});
    return index;
}

bool PlayRows::remove(int row) {
    if (at(row) == nullptr) {
        return false;
    }
    list.erase(list.begin() + row);
    notify({Edit::Kind::Removed, row, 1});
    return true;
}

bool PlayRows::swap(int a, int b) {
    if (at(a) == nullptr || at(b) == nullptr || a == b) {
        return false;
    }
    std::swap(list[static_cast<size_t>(a)], list[static_cast<size_t>(b)]);
    notify({Edit::Kind::Moved, a, 1, b});
    return true;
}

int PlayRows::move(int row, int delta) {
    return swap(row, row + delta) ? row + delta : -1;
}

void PlayRows::clear() {
    list.clear();
    notify({Edit::Kind::Reset});
}

void PlayRows::save(int columns) {
    columns = std::clamp(columns, 0, kStoredColumns);
    std::vector<PlayRow> copy;
    copy.reserve(list.size());
    for (const PlayRow& row : list) {
        StoredRow texts = row.storedColumns();
        for (size_t c = static_cast<size_t>(columns); c < texts.size(); ++c) {
            texts[c].clear();
        }
        copy.push_back(PlayRow::fromStored(texts));
    }
    saved = std::move(copy);
}

bool PlayRows::restore() {
    if (!saved) {
        return false;
    }
    list = *saved;
    notify({Edit::Kind::Reset});
    return true;
}

std::vector<uint8_t> PlayRows::encodeRows(const std::vector<PlayRow>& rows) {
    std::vector<StoredRow> texts;
    texts.reserve(rows.size());
    for (const PlayRow& row : rows) {
        texts.push_back(row.storedColumns());
    }
    return encodeStoredList(texts);
}

std::optional<std::vector<uint8_t>> PlayRows::encodedSaved() const {
    if (!saved) {
        return std::nullopt;
    }
    return encodeRows(*saved);
}

bool PlayRows::insertStored(const uint8_t* data, size_t size) {
    const StoredListDecoding decoded = decodeStoredList(data, size);
    std::vector<PlayRow> rows;
    rows.reserve(decoded.rows.size());
    for (const StoredRow& texts : decoded.rows) {
        rows.push_back(PlayRow::fromStored(texts));
    }
    insert(0, std::move(rows));
    return decoded.complete;
}
