#pragma once
// The rows of the play list, in order, with one saved copy of them (the
// user's file rows kept aside while CD tracks or a take are shown). Every
// edit tells the listeners what changed, so that a view can follow it row
// by row rather than rebuilding itself.
//
// The operations are the list's rules: Remove deletes one row, Move Up and
// Move Down swap a row with its neighbour (nothing at either end), Clear
// All empties the list; none of them touches the saved copy.
//
// Usage:
//   PlayRows rows;
//   rows.addListener([](const PlayRows::Edit& edit) { ... });
//   rows.append({PlayRow::file("/music/a.wav", 61, 2048)});
//   const int moved = rows.move(0, +1); // the row's new index, or -1
//
// User-interface thread only (the owner's thread).

#include "player/PlayRow.h"
#include "playlist/StoredList.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class PlayRows {
  public:
    struct Edit {
        enum class Kind {
            Inserted, // count rows now at first..first+count-1
            Removed,  // count rows that were at first
            Moved,    // the rows first and other swapped places
            Changed,  // the texts of row first changed
            Reset,    // every row may have changed
        };
        Kind kind = Kind::Reset;
        int first = 0;
        int count = 0;
        int other = -1;
    };
    using Listener = std::function<void(const Edit&)>;

    // Returns an id for removeListener. A listener may read the rows but
    // must not change them.
    int addListener(Listener listener);
    void removeListener(int id);

    int count() const { return static_cast<int>(list.size()); }
    const std::vector<PlayRow>& all() const { return list; }
    // Null outside the list.
    const PlayRow* at(int row) const;
    // Stored column 0..4 of row; empty outside the list or the columns.
    std::string text(int row, int column) const;
    // Sets one stored column; the row is classified again from its texts.
    void setText(int row, int column, const std::string& text);

    // Inserts rows at index (clamped to 0..count); returns that index.
    int insert(int index, std::vector<PlayRow> rows);
    void append(std::vector<PlayRow> rows) { insert(count(), std::move(rows)); }
    // Remove: false when row is outside the list.
    bool remove(int row);
    // Swaps rows a and b; false (nothing changes) when either is outside
    // the list or a == b.
    bool swap(int a, int b);
    // Move Up (delta -1) and Move Down (+1): the row swaps places with the
    // one delta away. The row's new index, or -1 when it cannot move.
    int move(int row, int delta);
    // Clear All.
    void clear();

    // Replaces the saved copy by the rows, keeping only their first
    // `columns` texts (a view that shows fewer columns saves fewer).
    void save(int columns = kStoredColumns);
    // Replaces the rows by the saved copy; false (nothing changes) when
    // nothing was ever saved.
    bool restore();

    // The rows in the stored-list layout.
    std::vector<uint8_t> encoded() const { return encodeRows(list); }
    // The saved copy in that layout; nothing when nothing was saved.
    std::optional<std::vector<uint8_t>> encodedSaved() const;
    // Inserts the rows read from a stored list at index 0 ahead of the rows
    // there are. False when the data was truncated or malformed; the rows
    // read in full before that point are inserted.
    bool insertStored(const uint8_t* data, size_t size);

  private:
    static std::vector<uint8_t> encodeRows(const std::vector<PlayRow>& rows);
    void notify(const Edit& edit);

    std::vector<PlayRow> list;
    std::optional<std::vector<PlayRow>> saved;
    std::vector<std::pair<int, Listener>> listeners;
    int nextListenerId = 1;
};
