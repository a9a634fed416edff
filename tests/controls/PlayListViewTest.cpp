#include "controls/PlayListView.h"
#include "base/CommandTarget.h"

#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

#include <memory>
#include <string>
#include <vector>

namespace {

class RecordingTarget : public CommandTarget {
  public:
    void postCommand(int commandId) override { posted.push_back(commandId); }
    std::vector<int> posted;
};

// A list with the main window's five columns and the given rows.
std::unique_ptr<PlayListView> makeList(const std::vector<StoredRow>& rows, int columns = 5) {
    auto view = std::make_unique<PlayListView>();
    const QStringList headers = {"", "Audio Name", "Time", "Size", "Directory"};
    view->setHeaderLabels(headers.mid(0, columns));
    int i = 0;
    for (const StoredRow& r : rows) {
        view->InsertItem(i, r[0]);
        for (int c = 1; c < columns; ++c) {
            view->SetItemText(i, c, r[static_cast<size_t>(c)]);
        }
        ++i;
    }
    return view;
}

StoredRow fileRow(const std::string& name) {
    return {"", name, "00:10", "1 KB", "/music/" + name};
}

std::vector<StoredRow> rowsOf(const PlayListView& view) {
    std::vector<StoredRow> rows;
    for (int r = 0; r < view.GetItemCount(); ++r) {
        StoredRow row;
        for (int c = 0; c < kStoredColumns; ++c) {
            row[static_cast<size_t>(c)] = view.GetItemText(r, c);
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<bool> selectionOf(const PlayListView& view) {
    std::vector<bool> selected;
    selected.reserve(static_cast<size_t>(std::max(view.GetItemCount(), 0)));
    for (int r = 0; r < view.GetItemCount(); ++r) {
        selected.push_back(view.IsRowSelected(r));
    }
    return selected;
}

TEST(PlayListView, SerializeWritesTheStoredLayout) {
    const std::vector<StoredRow> rows = {fileRow("a.wav"),
                                         {"", "Track-00", "03:10", "32802 KB", "CDROM"},
                                         {"", std::string(300, 'n'), "", "", ""}};
    auto view = makeList(rows);
    const std::vector<uint8_t> bytes = view->Serialize();
    EXPECT_EQ(bytes, encodeStoredList(rows));
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4),
              std::vector<uint8_t>({3, 0, 0, 0}));

    // The 300-character text is FF 2C 01 and the characters.
    const std::vector<uint8_t> longText = {0xFF, 0x2C, 0x01, 'n', 'n'};
    EXPECT_NE(std::search(bytes.begin(), bytes.end(), longText.begin(), longText.end()),
              bytes.end());
}

TEST(PlayListView, SerializeAlwaysWritesFiveTextsPerRow) {
    auto view = makeList({{"", "a.wav", "00:01", "", ""}}, 3);
    EXPECT_EQ(view->GetColumnCount(), 3);
    EXPECT_EQ(view->Serialize(), encodeStoredList({{"", "a.wav", "00:01", "", ""}}));
}

TEST(PlayListView, LoadingInsertsTheStoredRowsAheadOfExistingOnes) {
    const std::vector<StoredRow> stored = {fileRow("one.wav"), fileRow("two.mp3")};
    auto view = makeList({fileRow("existing.wma")});
    EXPECT_TRUE(view->Serialize(encodeStoredList(stored)));
    EXPECT_EQ(rowsOf(*view),
              (std::vector<StoredRow>{stored[0], stored[1], fileRow("existing.wma")}));
    EXPECT_EQ(view->GetSelectedRow(), -1);
}

TEST(PlayListView, LoadingTruncatedDataKeepsTheRowsReadSoFar) {
    const std::vector<StoredRow> stored = {fileRow("one.wav"), fileRow("two.mp3"),
                                           fileRow("three.wav")};
    std::vector<uint8_t> bytes = encodeStoredList(stored);
    bytes.resize(bytes.size() - 3);
    auto view = makeList({});
    EXPECT_FALSE(view->Serialize(bytes));
    EXPECT_EQ(rowsOf(*view), (std::vector<StoredRow>{stored[0], stored[1]}));

    // Garbage is refused without rows.
    auto other = makeList({});
    EXPECT_FALSE(other->Serialize(std::vector<uint8_t>{5, 0, 0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(other->GetItemCount(), 0);
}

TEST(PlayListView, SwapRowsWithInvalidOrEqualIndexesChangesNothing) {
    const std::vector<StoredRow> rows = {fileRow("a"), fileRow("b"), fileRow("c")};
    auto view = makeList(rows);
    view->SelectRow(1);
    for (const auto& [a, b] :
         std::vector<std::pair<int, int>>{{2, 2}, {-1, 0}, {0, 3}, {3, 0}, {0, -1}}) {
        EXPECT_EQ(view->SwapRows(a, b), 0);
        EXPECT_EQ(rowsOf(*view), rows) << a << "," << b;
        EXPECT_EQ(selectionOf(*view), (std::vector<bool>{false, true, false})) << a << "," << b;
    }
}

TEST(PlayListView, SwappingMovesTextsStateAndSelectionWithTheRow) {
    auto view = makeList({fileRow("a"), fileRow("b"), fileRow("c")});
    view->topLevelItem(2)->setData(0, Qt::UserRole, 42);
    view->SelectRow(2);
    ASSERT_EQ(view->currentItem(), view->topLevelItem(2));

    EXPECT_EQ(view->SwapRows(2, 1), 0); // Move Up
    EXPECT_EQ(view->GetItemText(1, 1), "c");
    EXPECT_EQ(view->GetItemText(1, 4), "/music/c");
    EXPECT_EQ(view->GetItemText(2, 1), "b");
    EXPECT_EQ(selectionOf(*view), (std::vector<bool>{false, true, false}));
    EXPECT_EQ(view->GetSelectedRow(), 1);
    EXPECT_EQ(view->currentItem(), view->topLevelItem(1));
    EXPECT_EQ(view->topLevelItem(1)->data(0, Qt::UserRole).toInt(), 42);
    EXPECT_FALSE(view->topLevelItem(2)->data(0, Qt::UserRole).isValid());

    EXPECT_EQ(view->SwapRows(1, 2), 0); // and back down
    EXPECT_EQ(view->GetItemText(2, 1), "c");
    EXPECT_EQ(view->GetSelectedRow(), 2);

    // Swapping two unselected rows leaves the selection where it was.
    view->SwapRows(0, 1);
    EXPECT_EQ(view->GetSelectedRow(), 2);
    EXPECT_EQ(view->GetItemText(0, 1), "b");
}

TEST(PlayListView, DeselectAllClearsTheSelection) {
    auto view = makeList({fileRow("a"), fileRow("b")});
    view->SelectRow(1);
    view->DeselectAll();
    EXPECT_EQ(view->GetSelectedRow(), -1);
    EXPECT_EQ(view->GetItemCount(), 2);
}

TEST(PlayListView, SavedRowsComeBackUnselectedAndAsOftenAsAsked) {
    auto view = makeList({fileRow("a.wav"), fileRow("b.mp3")});
    EXPECT_FALSE(view->RestoreRows()) << "nothing saved yet";
    EXPECT_EQ(view->GetItemCount(), 2);

    view->SelectRow(0);
    EXPECT_TRUE(view->SaveRows());
    view->DeleteAllItems();
    view->InsertItem(0, "");
    view->SetItemText(0, 1, "Track-00");
    view->SetItemText(0, 4, "CDROM");

    EXPECT_TRUE(view->RestoreRows());
    EXPECT_EQ(rowsOf(*view), (std::vector<StoredRow>{fileRow("a.wav"), fileRow("b.mp3")}));
    EXPECT_EQ(view->GetSelectedRow(), -1);

    view->SetItemText(0, 1, "changed");
    EXPECT_TRUE(view->RestoreRows());
    EXPECT_EQ(view->GetItemText(0, 1), "a.wav");
}

TEST(PlayListView, SavingAnEmptyListRestoresAnEmptyList) {
    auto view = makeList({});
    EXPECT_TRUE(view->SaveRows());
    view->InsertItem(0, "x");
    EXPECT_TRUE(view->RestoreRows());
    EXPECT_EQ(view->GetItemCount(), 0);
}

TEST(PlayListView, SavingKeepsOnlyTheColumnsTheHeaderHas) {
    auto view = makeList({fileRow("a.wav")}, 2);
    view->SaveRows();
    view->setHeaderLabels({"", "Audio Name", "Time", "Size", "Directory"});
    view->RestoreRows();
    EXPECT_EQ(rowsOf(*view), (std::vector<StoredRow>{{"", "a.wav", "", "", ""}}));
}

class PlayListViewClicks : public ::testing::Test {
  protected:
    void SetUp() override {
        view = makeList({fileRow("a"), fileRow("b"), fileRow("c")});
        view->resize(400, 300);
        view->SetOwnerWindow(&target);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    QPoint centreOfRow(int row) { return view->visualItemRect(view->topLevelItem(row)).center(); }

    RecordingTarget target;
    std::unique_ptr<PlayListView> view;
};

TEST_F(PlayListViewClicks, DoubleClickOnARowStoresItAndPostsNewItemOnce) {
    EXPECT_EQ(view->clickedRow, 0);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, centreOfRow(2));
    EXPECT_EQ(view->clickedRow, 2);
    EXPECT_EQ(target.posted, std::vector<int>{kNewItem});

    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, centreOfRow(1));
    EXPECT_EQ(view->clickedRow, 1);
    EXPECT_EQ(target.posted, (std::vector<int>{kNewItem, kNewItem}));
}

TEST_F(PlayListViewClicks, DoubleClickBelowTheLastRowPostsNothing) {
    view->clickedRow = 1;
    const QRect last = view->visualItemRect(view->topLevelItem(2));
    const QPoint below(last.center().x(), last.bottom() + 3 * last.height());
    ASSERT_LT(below.y(), view->viewport()->height());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(view->clickedRow, 1);
    EXPECT_TRUE(target.posted.empty());
}

TEST_F(PlayListViewClicks, DoubleClickWithoutOwnerPostsNothing) {
    view->SetOwnerWindow(nullptr);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, centreOfRow(1));
    EXPECT_EQ(view->clickedRow, 0);
    EXPECT_TRUE(target.posted.empty());
}

TEST_F(PlayListViewClicks, SelectionLooksTheSameWithoutFocus) {
    const QPalette p = view->palette();
    EXPECT_EQ(p.color(QPalette::Inactive, QPalette::Highlight),
              p.color(QPalette::Active, QPalette::Highlight));
    EXPECT_EQ(view->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
}

} // namespace
