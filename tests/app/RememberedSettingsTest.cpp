// The remembered settings set the window's controls and are read back from
// them.

#include "app/RememberedSettings.h"
#include "app/WindowFixture.h"

#include "controls/TransparentSlider.h"

#include <QComboBox>

using namespace window_test;

TEST_F(WindowTest, RememberedSettingsSetTheControlsAndAreReadBackFromThem) {
    MainWindow& w = window();
    EXPECT_EQ(settingsOf(w), Settings{});
    for (const Settings& wanted :
         {Settings{1000, 2, "144KB"}, Settings{65535, 1, "48KB"}, Settings{0, 0, "32KB"}}) {
        applySettings(w, wanted);
        EXPECT_EQ(w.volumeSlider->value(), wanted.volume);
        EXPECT_EQ(w.bitrateCombo->currentText().toStdString(), wanted.bitrate);
        EXPECT_EQ(w.conversionRate(), bitrateValueOf(wanted.bitrate));
        EXPECT_EQ(settingsOf(w), wanted);
    }
    // A bitrate the box does not list leaves it as it is.
    applySettings(w, Settings{5, 1, "33KB"});
    EXPECT_EQ(settingsOf(w), (Settings{5, 1, "32KB"}));
}
