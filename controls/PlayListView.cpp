#include "controls/PlayListView.h"

#include "base/CommandTarget.h"

#include <QByteArrayView>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

namespace {

// Texts are shown as UTF-8; a text that is not valid UTF-8 (a Linux file
// name is any string of bytes) shows replacement characters, while the rows
// keep its bytes.
void showText(QTreeWidgetItem* item, int column, const std::string& text) {
    item->setText(column, QString::fromUtf8(
                              QByteArrayView(text.data(), static_cast<qsizetype>(text.size()))));
}

// New unselected items showing rows first..first+count-1; the list view
// inserts them in one step, which is much faster than row by row.
QList<QTreeWidgetItem*> makeItems(const PlayRows& rows, int first, int count) {
    QList<QTreeWidgetItem*> items;
    items.reserve(count);
    for (int row = first; row < first + count; ++row) {
        auto* item = new QTreeWidgetItem;
        const StoredRow texts = rows.at(row)->storedColumns();
        for (int c = 0; c < kStoredColumns; ++c) {
            showText(item, c, texts[static_cast<size_t>(c)]);
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
    listenerId = shownRows->addListener([this](const PlayRows::Edit& edit) { rowsEdited(edit); });
}

PlayListView::~PlayListView() {
    shownRows->removeListener(listenerId);
}

void PlayListView::showRows(PlayRows* shown) {
    shownRows->removeListener(listenerId);
    shownRows = shown != nullptr ? shown : &ownRows;
    listenerId = shownRows->addListener([this](const PlayRows::Edit& edit) { rowsEdited(edit); });
    rebuildItems();
}

void PlayListView::rowsEdited(const PlayRows::Edit& edit) {
    switch (edit.kind) {
    case PlayRows::Edit::Kind::Inserted:
        insertTopLevelItems(edit.first, makeItems(*shownRows, edit.first, edit.count));
        break;
    case PlayRows::Edit::Kind::Removed:
        for (int i = 0; i < edit.count; ++i) {
            delete takeTopLevelItem(edit.first);
        }
        break;
    case PlayRows::Edit::Kind::Moved:
        swapItems(edit.first, edit.other);
        break;
    case PlayRows::Edit::Kind::Changed:
        showTexts(edit.first);
        break;
    case PlayRows::Edit::Kind::Reset:
        rebuildItems();
        break;
    }
}

void PlayListView::rebuildItems() {
    clear();
    insertTopLevelItems(0, makeItems(*shownRows, 0, shownRows->count()));
}

void PlayListView::showTexts(int row) {
    QTreeWidgetItem* item = topLevelItem(row);
    const PlayRow* shown = shownRows->at(row);
    if (item == nullptr || shown == nullptr) {
        return;
    }
    const StoredRow texts = shown->storedColumns();
    for (int c = 0; c < kStoredColumns; ++c) {
        showText(item, c, texts[static_cast<size_t>(c)]);
    }
}

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
    return shownRows->count();
}

std::string PlayListView::GetItemText(int row, int column) const {
    return shownRows->text(row, column);
}

void PlayListView::SetItemText(int row, int column, const std::string& text) {
    shownRows->setText(row, column, text);
}

int PlayListView::InsertItem(int index, const std::string& column0) {
    return shownRows->insert(index, {PlayRow::fromStored({column0, {}, {}, {}, {}})});
}

bool PlayListView::DeleteItem(int row) {
    return shownRows->remove(row);
}

void PlayListView::DeleteAllItems() {
    shownRows->clear();
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
    shownRows->swap(a, b);
    return 0;
}

void PlayListView::swapItems(int a, int b) {
    QTreeWidgetItem* itemA = topLevelItem(a);
    QTreeWidgetItem* itemB = topLevelItem(b);
    if (itemA == nullptr || itemB == nullptr) {
        return;
    }
    showTexts(a);
    showTexts(b);
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
}

void PlayListView::DeselectAll() {
    for (int row = 0; row < topLevelItemCount(); ++row) {
        topLevelItem(row)->setSelected(false);
    }
}

bool PlayListView::SaveRows() {
    shownRows->save(std::min(GetColumnCount(), kStoredColumns));
    return true;
}

bool PlayListView::RestoreRows() {
    return shownRows->restore();
}

std::vector<uint8_t> PlayListView::Serialize() const {
    return shownRows->encoded();
}

std::optional<std::vector<uint8_t>> PlayListView::SerializeSavedRows() const {
    return shownRows->encodedSaved();
}

void PlayListView::AppendRows(const std::vector<StoredRow>& rows) {
    std::vector<PlayRow> added;
    added.reserve(rows.size());
    for (const StoredRow& texts : rows) {
        added.push_back(PlayRow::fromStored(texts));
    }
    shownRows->append(std::move(added));
}

bool PlayListView::Serialize(const uint8_t* bytes, size_t size) {
    return shownRows->insertStored(bytes, size);
}

void PlayListView::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex index = indexAt(event->position().toPoint());
    const int row = index.isValid() ? index.row() : -1;
    if (row >= 0 && row < GetItemCount() && owner != nullptr) {
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
