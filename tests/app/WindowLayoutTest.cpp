// The window's size: the template's by default, never larger than the screen,
// and resizable, with the list taking the room and the controls above it in
// their places. ctest runs this under each font set at scale 1 and 2 on a
// 1280 x 800 screen (tests/CMakeLists.txt, support/run-hermetic.sh).

#include "app/WindowFixture.h"

#include "controls/TemplateBuilder.h"
#include "resources/DialogTemplate.h"

#include <QHeaderView>
#include <QScreen>
#include <QTest>

#include <map>
#include <vector>

using namespace window_test;

namespace {

// The geometry of every control but the list, by id or, for those without
// one, by their order among the window's children.
std::map<int, QRect> controlsAboveTheList(const MainWindow& w) {
    std::map<int, QRect> places;
    int unnamed = -1;
    for (QWidget* child : w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        const int id = TemplateBuilder::controlId(child);
        if (child->property("controlId").isValid() && id != kIdList) {
            places[id == kNoControlId ? unnamed-- : id] = child->geometry();
        }
    }
    return places;
}

std::vector<int> columnWidths(const MainWindow& w) {
    std::vector<int> widths;
    widths.reserve(static_cast<size_t>(w.listView->columnCount()));
    for (int i = 0; i < w.listView->columnCount(); ++i) {
        widths.push_back(w.listView->columnWidth(i));
    }
    return widths;
}

TEST_F(WindowTest, WindowFitsTheScreenAndTheListTakesTheRoom) {
    MainWindow& w = window();
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QRect screen = w.screen()->availableGeometry();
    const QSize templateSize = TemplateBuilder(*findDialogTemplate(kMainDialog)).dialogSize();

    // The template's size when the screen has room for it, and never
    // larger than the screen.
    EXPECT_TRUE(screen.contains(w.frameGeometry()))
        << w.frameGeometry().width() << " x " << w.frameGeometry().height() << " on "
        << screen.width() << " x " << screen.height();
    if (templateSize.width() <= screen.width() - 40 &&
        templateSize.height() <= screen.height() - 60) {
        EXPECT_EQ(w.size(), templateSize);
    }
    EXPECT_LT(w.minimumHeight(), w.maximumHeight()) << "the window can be resized";

    const std::map<int, QRect> places = controlsAboveTheList(w);
    const std::vector<int> widths = columnWidths(w);
    const QRect list = w.listView->geometry();
    const QSize before = w.size();
    // Larger: the list takes the room in both directions.
    w.resize(before + QSize(150, 200));
    ASSERT_TRUE(waitFor([&] { return w.listView->height() == list.height() + 200; }));
    EXPECT_EQ(w.listView->geometry(), list.adjusted(0, 0, 150, 200));
    // Smaller, as far as it goes: the list keeps a few rows.
    w.resize(1, 1);
    ASSERT_TRUE(waitFor([&] { return w.size() == w.minimumSize(); }));
    EXPECT_EQ(w.listView->geometry().topLeft(), list.topLeft());
    EXPECT_GE(w.listView->height(), 4 * w.listView->header()->height());
    EXPECT_LE(w.listView->geometry().bottom(), w.height());
    EXPECT_LE(w.minimumHeight(), screen.height() - 60) << "fits a small screen";
    // The controls above stay where they were, the columns as they were.
    EXPECT_EQ(controlsAboveTheList(w), places);
    EXPECT_EQ(columnWidths(w), widths);
}

} // namespace
