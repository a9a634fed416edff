// Space and Delete on the window, sent as real key events to whichever
// widget has focus.

#include "app/WindowFixture.h"

#include "controls/BitmapButton.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QTest>

using namespace window_test;

namespace {

// Generous: the sanitizer builds run two test programs at once.
constexpr int kPatienceMs = 20000;

// Where the focus is when a key is pressed.
enum class Focus { Window, List, Button, TextField, Dialog };

struct KeyCase {
    const char* name;
    Focus focus;
    bool reachesThePlayer;
};

const KeyCase kKeyCases[] = {
    {"window", Focus::Window, true},  {"list", Focus::List, true},
    {"button", Focus::Button, true},  {"text field", Focus::TextField, false},
    {"dialog", Focus::Dialog, false},
};

class WindowKeysTest : public WindowTest {
  protected:
    // Two playable rows, the second selected; the window shown and active.
    void setUpList() {
        useAudioDriver("dummy");
        first = testing_support::writeWave(dir.file("one.wav"), 1, 44100, 30.0);
        second = testing_support::writeWave(dir.file("two.wav"), 1, 44100, 30.0);
        MainWindow& w = window();
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w, kPatienceMs));
        ASSERT_EQ(w.addFiles({first, second}), 2);
        w.listView->SelectRow(1);
    }

    // Presses key where focus says; a dialog is open (and closed again) for
    // Focus::Dialog.
    void press(Qt::Key key, Focus focus) {
        MainWindow& w = window();
        if (focus == Focus::Dialog) {
            QDialog dialog(&w);
            dialog.setModal(true);
            dialog.show();
            dialog.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog, kPatienceMs));
            QTest::keyClick(&dialog, key);
            dialog.hide();
            w.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&w, kPatienceMs));
            return;
        }
        QWidget* target = focus == Focus::List     ? static_cast<QWidget*>(w.listView)
                          : focus == Focus::Button ? static_cast<QWidget*>(w.stopButton)
                          : focus == Focus::TextField
                              ? static_cast<QWidget*>(w.bitrateCombo->lineEdit())
                              : static_cast<QWidget*>(&w);
        ASSERT_NE(target, nullptr);
        target->setFocus(Qt::TabFocusReason);
        QTest::keyClick(target, key);
    }

    std::string first;
    std::string second;
};

} // namespace

TEST_F(WindowKeysTest, SpacePlaysAndPausesUnlessADialogOrATextFieldHasFocus) {
    for (const KeyCase& c : kKeyCases) {
        SCOPED_TRACE(c.name);
        setUpList();
        MainWindow& w = window();
        press(Qt::Key_Space, c.focus);
        if (!c.reachesThePlayer) {
            // Play would have loaded the row within the key press.
            QCoreApplication::processEvents();
            EXPECT_EQ(labelText(kIdStatus), "Stopped");
            EXPECT_EQ(w.loadedFile(), "");
            if (c.focus == Focus::TextField) {
                // The space was typed (over the text the focus selected).
                EXPECT_EQ(w.bitrateCombo->lineEdit()->text(), QStringLiteral(" "));
            }
            resetWindow();
            continue;
        }
        // Play takes the selected row, as the Play button does.
        ASSERT_TRUE(waitFor([&] { return labelText(kIdStatus) == "Playing"; }, kPatienceMs));
        EXPECT_EQ(w.loadedFile(), second);
        press(Qt::Key_Space, c.focus);
        EXPECT_TRUE(waitFor([&] { return labelText(kIdStatus) == "Paused"; }, kPatienceMs));
        press(Qt::Key_Space, c.focus);
        EXPECT_TRUE(waitFor([&] { return labelText(kIdStatus) == "Playing"; }, kPatienceMs));
        EXPECT_EQ(w.loadedFile(), second);
        w.onCommand(kIdStop);
        resetWindow();
    }
}

TEST_F(WindowKeysTest, DeleteRemovesTheSelectedRowUnlessADialogOrATextFieldHasFocus) {
    for (const KeyCase& c : kKeyCases) {
        SCOPED_TRACE(c.name);
        setUpList();
        MainWindow& w = window();
        press(Qt::Key_Delete, c.focus);
        if (!c.reachesThePlayer) {
            EXPECT_EQ(rowCount(), 2);
            resetWindow();
            continue;
        }
        ASSERT_EQ(rowCount(), 1);
        EXPECT_EQ(row(0, 4), first);
        // Row by row: the next press takes the row selected then, and with
        // none selected it does nothing.
        w.listView->SelectRow(0);
        press(Qt::Key_Delete, c.focus);
        EXPECT_EQ(rowCount(), 0);
        press(Qt::Key_Delete, c.focus);
        EXPECT_EQ(rowCount(), 0);
        EXPECT_TRUE(messages->texts().empty());
        resetWindow();
    }
}
