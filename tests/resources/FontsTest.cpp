// The window's fonts come from the program itself: they resolve to the
// embedded DejaVu files whatever fonts fontconfig shows (ctest runs this
// under each font set, tests/CMakeLists.txt), at the classic sizes.

#include "resources/Fonts.h"

#include <QFontInfo>
#include <QFontMetrics>

#include <gtest/gtest.h>

namespace {

// The average character width as the dialog manager measures it, and the
// line height.
QSize baseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return {(metrics.horizontalAdvance(letters) / 26 + 1) / 2, metrics.height()};
}

TEST(EmbeddedFonts, ResolveToTheEmbeddedFilesWhateverTheMachineHas) {
    ASSERT_TRUE(embeddedFontsLoaded());

    const QFontInfo dialog(dialogFont());
    EXPECT_EQ(dialog.family(), "DejaVu Sans Condensed");
    EXPECT_FALSE(dialog.italic());
    EXPECT_LT(dialog.weight(), QFont::DemiBold);
    EXPECT_EQ(dialog.pointSize(), 8);

    const QFontInfo display(displayFont());
    EXPECT_EQ(display.family(), "DejaVu Sans");
    EXPECT_TRUE(display.italic());
    EXPECT_GE(display.weight(), QFont::Bold);
    EXPECT_EQ(display.pixelSize(), 16);
}

TEST(EmbeddedFonts, GiveTheClassicDialogBaseUnits) {
    EXPECT_EQ(baseUnits(dialogFont()), QSize(6, 13));
    QFont system = dialogFont();
    system.setPixelSize(14);
    EXPECT_EQ(baseUnits(system), QSize(8, 16));
}

} // namespace
