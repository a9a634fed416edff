#pragma once
// The play list control: a view of the rows of a PlayRows (player/PlayRows.h)
// as a flat report-style list with five text columns (the columns themselves
// are created by the owner with setHeaderLabels / setColumnWidth). It shows
// rows of its own until showRows gives it the owner's, and the editing calls
// below edit the rows it shows, so the view and its owner never disagree.
// Besides being a list it
//  - tells its owner which row was double-clicked, or on which row Return
//    (or keypad Enter) was pressed (clickedRow, then a posted NewItem
//    command);
//  - keeps one saved copy of its rows (SaveRows / RestoreRows);
//  - swaps two rows with their state (SwapRows) and deselects all rows;
//  - stores and loads its rows in the stored-list layout (playlist/StoredList.h).
//
// Single selection, whole rows selected, and the selection is drawn the same
// with or without the focus. Texts are byte strings in the std::string
// interface: UTF-8 is shown as such, and a text that is not valid UTF-8 (a
// file name on Linux may be any bytes) is shown with replacement characters
// but read back, saved and stored byte for byte.
//
// User-interface thread only.

#include "player/PlayRows.h"
#include "playlist/StoredList.h"

#include <QTreeWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CommandTarget;

class PlayListView : public QTreeWidget {
    Q_OBJECT
  public:
    explicit PlayListView(QWidget* parent = nullptr);
    ~PlayListView() override;

    // The window that receives NewItem (not owned; may be null).
    void SetOwnerWindow(CommandTarget* window);
    CommandTarget* ownerWindow() const { return owner; }

    // Shows rows (not owned; they must outlive the view or be taken back
    // with showRows(nullptr)); null shows the view's own rows again.
    void showRows(PlayRows* shown);
    PlayRows& rows() { return *shownRows; }
    const PlayRows& rows() const { return *shownRows; }

    // The number of columns of the header.
    int GetColumnCount() const;

    // Swaps texts, item data, icon and state (selected, current) of rows a
    // and b. Does nothing when either index is outside the list or a == b.
    // Always returns 0.
    int SwapRows(int a, int b);
    // Clears the selected state of every row; the current row stays.
    void DeselectAll();
    // Replaces the saved copy by the texts of the current rows (the first
    // min(columns, 5) columns). Always true.
    bool SaveRows();
    // Replaces every row by the saved copy; false (and nothing changes) when
    // nothing was ever saved. Restored rows are unselected.
    bool RestoreRows();

    // Storing: the rows in the stored-list layout (always five texts a row).
    std::vector<uint8_t> Serialize() const;
    // Loading: inserts the rows read from bytes at index 0, 1, ... without
    // removing existing rows. Returns false when the data was truncated or
    // malformed; the rows read in full before that point are inserted.
    bool Serialize(const uint8_t* data, size_t size);
    bool Serialize(const std::vector<uint8_t>& bytes) {
        return Serialize(bytes.data(), bytes.size());
    }
    // The saved copy in the stored-list layout; nothing when no copy was
    // ever saved.
    std::optional<std::vector<uint8_t>> SerializeSavedRows() const;

    // Row access in the 8-bit string form the rest of the program uses.
    int GetItemCount() const;
    std::string GetItemText(int row, int column) const; // "" outside the list
    void SetItemText(int row, int column, const std::string& text);
    // Inserts a row at index (clamped to 0..count) with the text of column 0;
    // returns the row's index.
    int InsertItem(int index, const std::string& column0);
    // Appends rows (their five texts) in one step, which is much faster
    // than InsertItem row by row for a long list.
    void AppendRows(const std::vector<StoredRow>& rows);
    bool DeleteItem(int row);
    void DeleteAllItems();
    // The selected row, or -1.
    int GetSelectedRow() const;
    // Selects row (and makes it current); -1 or an invalid row clears the selection.
    void SelectRow(int row);
    bool IsRowSelected(int row) const;

    // The row of the last double-click that hit a row, or of the last
    // Return on the selected row; 0 at construction.
    int32_t clickedRow = 0;

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    // Return and keypad Enter on the selected row play it as a double-click
    // does; with no row selected the key is taken and does nothing, so that
    // it never reaches the window.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void applySelectionPalette();
    // Follows one edit of the rows shown.
    void rowsEdited(const PlayRows::Edit& edit);
    void showTexts(int row);
    void swapItems(int a, int b);
    void rebuildItems();

    CommandTarget* owner = nullptr;
    PlayRows ownRows;
    PlayRows* shownRows = &ownRows;
    int listenerId = 0;
};
