#include "controls/PlayListView.h"

#include "base/CommandTarget.h"

#include <QByteArrayView>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

namespace {

// A text that is not valid UTF-8 (a Linux file name is any string of bytes)
// is shown with replacement characters, and its exact bytes are kept in this
// role of the same column, which the string interface returns.
constexpr int kBytesRole = Qt::UserRole + 1;

void setItemText(QTreeWidgetItem* item, int column, const std::string& text) {
    const QByteArrayView bytes(text.data(), static_cast<qsizetype>(text.size()));
    item->setText(column, QString::fromUtf8(bytes));
    if (bytes.isValidUtf8()) {
        item->setData(column, kBytesRole, QVariant());
    } else {
        item->setData(column, kBytesRole, bytes.toByteArray());
    }
}

std::string itemText(const QTreeWidgetItem* item, int column) {
    const QVariant bytes = item->data(column, kBytesRole);
    if (bytes.isValid()) {
        return bytes.toByteArray().toStdString();
    }
    return item->text(column).toUtf8().toStdString();
}

// New unselected items holding the first `columns` texts of each row; the
// list view inserts them in one step, which is much faster than row by row.
QList<QTreeWidgetItem*> makeItems(const std::vector<StoredRow>& rows, int columns) {
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const StoredRow& texts : rows) {
        auto* item = new QTreeWidgetItem;
        for (int c = 0; c < columns; ++c) {
            setItemText(item, c, texts[static_cast<size_t>(c)]);
        }
        items.append(item);
    }
    return items;
}

} // namespace

PlayListView::PlayListView(QWidget* parent) : QTreeWidget(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setExpandsOnDoubleClick(false);
    setSortingEnabled(false);
    setColumnCount(0);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    applySelectionPalette();
}

PlayListView::~PlayListView() = default;

void PlayListView::applySelectionPalette() {
    // The selection stays as visible without the focus as with it.
    QPalette p = palette();
    for (auto role : {QPalette::Highlight, QPalette::HighlightedText}) {
        p.setColor(QPalette::Inactive, role, p.color(QPalette::Active, role));
    }
    setPalette(p);
}

void PlayListView::SetOwnerWindow(CommandTarget* window) {
    owner = window;
}

int PlayListView::GetColumnCount() const {
    return header()->count();
}

int PlayListView::GetItemCount() const {
    return topLevelItemCount();
}

std::string PlayListView::GetItemText(int row, int column) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    if (item == nullptr || column < 0) {
        return {};
    }
    return itemText(item, column);
}

void PlayListView::SetItemText(int row, int column, const std::string& text) {
    QTreeWidgetItem* item = topLevelItem(row);
    if (item != nullptr && column >= 0) {
        setItemText(item, column, text);
    }
}

int PlayListView::InsertItem(int index, const std::string& column0) {
    index = std::clamp(index, 0, topLevelItemCount());
    auto* item = new QTreeWidgetItem;
    setItemText(item, 0, column0);
    insertTopLevelItem(index, item);
    return index;
}

bool PlayListView::DeleteItem(int row) {
    if (row < 0 || row >= topLevelItemCount()) {
        return false;
    }
    delete takeTopLevelItem(row);
    return true;
}

void PlayListView::DeleteAllItems() {
    clear();
}

int PlayListView::GetSelectedRow() const {
    for (int row = 0; row < topLevelItemCount(); ++row) {
        if (topLevelItem(row)->isSelected()) {
            return row;
        }
    }
    return -1;
}

void PlayListView::SelectRow(int row) {
    QTreeWidgetItem* item = topLevelItem(row);
    if (item == nullptr) {
        clearSelection();
        return;
    }
    setCurrentItem(item, 0, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

bool PlayListView::IsRowSelected(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item != nullptr && item->isSelected();
}

int PlayListView::SwapRows(int a, int b) {
    const int count = topLevelItemCount();
    if (a < 0 || b < 0 || a >= count || b >= count || a == b) {
        return 0;
    }
    QTreeWidgetItem* itemA = topLevelItem(a);
    QTreeWidgetItem* itemB = topLevelItem(b);
    const int columns = std::max(GetColumnCount(), columnCount());

    for (int c = 0; c < columns; ++c) {
        const std::string text = itemText(itemA, c);
        setItemText(itemA, c, itemText(itemB, c));
        setItemText(itemB, c, text);
    }
    // The item parameter and image live in column 0.
    const QVariant parameterA = itemA->data(0, Qt::UserRole);
    itemA->setData(0, Qt::UserRole, itemB->data(0, Qt::UserRole));
    itemB->setData(0, Qt::UserRole, parameterA);
    const QIcon icon = itemA->icon(0);
    itemA->setIcon(0, itemB->icon(0));
    itemB->setIcon(0, icon);

    // State: the selection and the current (focused) row move with the texts.
    const bool selectedA = itemA->isSelected();
    const bool selectedB = itemB->isSelected();
    QTreeWidgetItem* current = currentItem();
    if (current == itemA || current == itemB) {
        QTreeWidgetItem* newCurrent = current == itemA ? itemB : itemA;
        selectionModel()->setCurrentIndex(indexFromItem(newCurrent), QItemSelectionModel::NoUpdate);
    }
    itemA->setSelected(selectedB);
    itemB->setSelected(selectedA);
    return 0;
}

void PlayListView::DeselectAll() {
    for (int row = 0; row < topLevelItemCount(); ++row) {
        topLevelItem(row)->setSelected(false);
    }
}

bool PlayListView::SaveRows() {
    const int k = std::min(GetColumnCount(), kStoredColumns);
    savedRows.clear();
    for (int row = 0; row < topLevelItemCount(); ++row) {
        StoredRow texts;
        for (int c = 0; c < k; ++c) {
            texts[static_cast<size_t>(c)] = GetItemText(row, c);
        }
        savedRows.push_back(std::move(texts));
    }
    hasSavedRows = true;
    return true;
}

bool PlayListView::RestoreRows() {
    if (!hasSavedRows) {
        return false;
    }
    DeleteAllItems();
    insertTopLevelItems(0, makeItems(savedRows, std::clamp(GetColumnCount(), 1, kStoredColumns)));
    return true;
}

std::vector<uint8_t> PlayListView::Serialize() const {
    std::vector<StoredRow> rows;
    rows.reserve(static_cast<size_t>(topLevelItemCount()));
    for (int row = 0; row < topLevelItemCount(); ++row) {
        StoredRow texts;
        for (int c = 0; c < kStoredColumns; ++c) {
            texts[static_cast<size_t>(c)] = GetItemText(row, c);
        }
        rows.push_back(std::move(texts));
    }
    return encodeStoredList(rows);
}

std::optional<std::vector<uint8_t>> PlayListView::SerializeSavedRows() const {
    if (!hasSavedRows) {
        return std::nullopt;
    }
    return encodeStoredList(savedRows);
}

void PlayListView::AppendRows(const std::vector<StoredRow>& rows) {
    addTopLevelItems(makeItems(rows, std::min(GetColumnCount(), kStoredColumns)));
}

bool PlayListView::Serialize(const uint8_t* bytes, size_t size) {
    const StoredListDecoding decoded = decodeStoredList(bytes, size);
    insertTopLevelItems(0, makeItems(decoded.rows, kStoredColumns));
    return decoded.complete;
}

void PlayListView::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    const int row = index.isValid() ? index.row() : -1;
    if (row >= 0 && row < topLevelItemCount() && owner != nullptr) {
        clickedRow = row;
        owner->postCommand(kNewItem);
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

void PlayListView::keyPressEvent(QKeyEvent* event) {
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        modifiers == Qt::NoModifier) {
        const int row = GetSelectedRow();
        if (row >= 0 && owner != nullptr) {
            clickedRow = row;
            owner->postCommand(kNewItem);
        }
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}
