#include "controls/BitmapButton.h"
#include "resources/Images.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <memory>

// Receives the URLs that the desktop services would open.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void openUrl(const QUrl& url) { urls << url; }
};

namespace {

constexpr uint32_t kMagenta = 0xFF00FF;

// The bounding box of the pixels that differ from background, ignoring a
// frame of margin pixels (where borders are drawn).
QRect inkBox(const QImage& image, QRgb background, int margin) {
    QRect box;
    for (int y = margin; y < image.height() - margin; ++y) {
        for (int x = margin; x < image.width() - margin; ++x) {
            if ((image.pixel(x, y) & 0xFFFFFF) != (background & 0xFFFFFF)) {
                box = box.united(QRect(x, y, 1, 1));
            }
        }
    }
    return box;
}

// The box of the opaque pixels of an image with an alpha channel.
QRect opaqueBox(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) != 0) {
                box = box.united(QRect(x, y, 1, 1));
            }
        }
    }
    return box;
}

class BitmapButtonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        parent = std::make_unique<QWidget>();
        parent->resize(200, 120);
        button = new BitmapButton(parent.get());
        button->setControlId(1019);
        button->subclassButton(OwnerDrawButton::kPushButton);
        button->setGeometry(20, 20, 24, 26); // a 16 x 16 unit button of the main window
        ASSERT_TRUE(button->setBitmap(kBitmapStop, kMagenta));
        button->setImageAlign(BitmapButton::kAlignHCenter | BitmapButton::kAlignVCenter);
        parent->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(parent.get()));
        face = button->palette().color(QPalette::Button).rgb();
        light = button->palette().color(QPalette::Light).rgb();
        dark = button->palette().color(QPalette::Dark).rgb();
        imageInk = opaqueBox(button->image().toImage());
    }

    QImage grab() { return button->grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QPoint centre() const { return button->rect().center(); }
    // Where the image's top-left corner landed in the grab.
    QPoint imageOrigin(const QImage& shot) const {
        return inkBox(shot, face, 1).topLeft() - imageInk.topLeft();
    }

    std::unique_ptr<QWidget> parent;
    BitmapButton* button = nullptr;
    QRgb face = 0, light = 0, dark = 0;
    QRect imageInk;
};

TEST_F(BitmapButtonTest, NormalButtonIsFlatWithTheImageCentred) {
    const QImage shot = grab();
    EXPECT_EQ(shot.pixel(0, 0), face);
    EXPECT_EQ(shot.pixel(23, 25), face);
    // Content rectangle 3..20 x 3..22; the 20 x 20 image centred in it.
    EXPECT_EQ(imageOrigin(shot), QPoint(2, 3));
    EXPECT_EQ(button->currentDrawState(), BitmapButton::kNormal);
}

TEST_F(BitmapButtonTest, HoverRaisesTheBorderAndLeavingRemovesIt) {
    QTest::mouseMove(button, centre());
    ASSERT_TRUE(button->isHovering());
    QImage shot = grab();
    EXPECT_EQ(shot.pixel(0, 0), light); // highlight top-left
    EXPECT_EQ(shot.pixel(0, 12), light);
    EXPECT_EQ(shot.pixel(23, 25), dark); // shadow bottom-right
    EXPECT_EQ(shot.pixel(23, 12), dark);
    EXPECT_EQ(imageOrigin(shot), QPoint(2, 3));

    QTest::mouseMove(parent.get(), QPoint(150, 100));
    EXPECT_FALSE(button->isHovering());
    shot = grab();
    EXPECT_EQ(shot.pixel(0, 0), face);
    EXPECT_EQ(shot.pixel(23, 25), face);
}

TEST_F(BitmapButtonTest, PressingSinksTheBorderAndShiftsTheImage) {
    QTest::mouseMove(button, centre());
    QTest::mousePress(button, Qt::LeftButton, {}, centre());
    ASSERT_TRUE(button->isPressedDown());
    const QImage shot = grab();
    EXPECT_EQ(shot.pixel(0, 0), dark);    // shadow top-left
    EXPECT_EQ(shot.pixel(23, 25), light); // highlight bottom-right
    EXPECT_EQ(imageOrigin(shot), QPoint(3, 4));
    EXPECT_EQ(button->currentDrawState(), BitmapButton::kPressed);

    QTest::mouseRelease(button, Qt::LeftButton, {}, centre());
    EXPECT_FALSE(button->isPressedDown());
    EXPECT_TRUE(button->isHovering());
    EXPECT_EQ(imageOrigin(grab()), QPoint(2, 3));
}

TEST_F(BitmapButtonTest, ClickDeliversTheCommandWithTheControlId) {
    QSignalSpy commands(button, &OwnerDrawButton::command);
    QTest::mouseClick(button, Qt::LeftButton, {}, centre());
    ASSERT_EQ(commands.count(), 1);
    EXPECT_EQ(commands.at(0).at(0).toInt(), 1019);

    // A press released outside the button is no click.
    QTest::mousePress(button, Qt::LeftButton, {}, centre());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(commands.count(), 1);
    EXPECT_FALSE(button->isPressedDown());
}

TEST_F(BitmapButtonTest, DisabledButtonGreysItsImageAndIgnoresThePointer) {
    const QImage before = grab();
    const QPoint origin = imageOrigin(before);
    const QPoint inside = origin + imageInk.center();
    const QRgb colour = before.pixel(inside);
    ASSERT_FALSE(qRed(colour) == qGreen(colour) && qGreen(colour) == qBlue(colour))
        << "the test needs a coloured pixel";

    button->setEnabled(false);
    QTest::mouseMove(button, centre());
    EXPECT_FALSE(button->isHovering());
    const QImage shot = grab();
    const QRgb grey = shot.pixel(inside);
    EXPECT_EQ(qRed(grey), qGreen(grey));
    EXPECT_EQ(qGreen(grey), qBlue(grey));
    EXPECT_GT(qRed(grey), qRed(colour)); // lighter than the image
    EXPECT_EQ(shot.pixel(0, 0), face);   // no border
    EXPECT_EQ(button->currentDrawState(), BitmapButton::kDisabled);
}

TEST_F(BitmapButtonTest, MissingResourceKeepsTheOldImage) {
    const qint64 before = button->image().cacheKey();
    EXPECT_FALSE(button->setBitmap(9999, kMagenta));
    EXPECT_TRUE(button->hasImage());
    EXPECT_EQ(button->image().cacheKey(), before);
    EXPECT_EQ(button->imageWidth(), 20);
    EXPECT_EQ(imageOrigin(grab()), QPoint(2, 3));

    EXPECT_TRUE(button->setBitmap(kBitmapPause, kMagenta));
    EXPECT_EQ(button->imageWidth(), 21);
    EXPECT_EQ(button->imageHeight(), 20);
}

TEST_F(BitmapButtonTest, MagentaPixelsAreTransparent) {
    for (int id : {kBitmapPlay, kBitmapRecord, kBitmapAddFiles, kBitmapRepeatAll}) {
        ASSERT_TRUE(button->setBitmap(id, kMagenta));
        button->resize(40, 40);
        const QImage shot = grab();
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                ASSERT_NE(shot.pixel(x, y) & 0xFFFFFF, kMagenta) << id << " at " << x << "," << y;
            }
        }
        EXPECT_EQ(shot.pixel(3, 3), face) << id; // image corners show the button face
    }
}

TEST_F(BitmapButtonTest, ImageAlignmentFlagsPlaceTheImage) {
    button->resize(40, 36);
    button->setImageAlign(0);
    EXPECT_EQ(imageOrigin(grab()), QPoint(3, 3));
    button->setImageAlign(BitmapButton::kAlignRight | BitmapButton::kAlignBottom);
    EXPECT_EQ(imageOrigin(grab()), QPoint(40 - 3 - 20, 36 - 3 - 20));
    button->setImageAlign(BitmapButton::kAlignHCenter | BitmapButton::kAlignBottom);
    EXPECT_EQ(imageOrigin(grab()), QPoint(10, 13));
    button->setImageAlign(BitmapButton::kAlignRight | BitmapButton::kAlignVCenter);
    EXPECT_EQ(imageOrigin(grab()), QPoint(17, 8));
}

TEST_F(BitmapButtonTest, ToolTipFollowsTextAndActivation) {
    button->setToolTip("Stop", true);
    EXPECT_EQ(button->toolTip(), "Stop");
    button->setToolTip("No Repeat", false);
    EXPECT_EQ(button->toolTipText(), "No Repeat");
    EXPECT_TRUE(button->toolTip().isEmpty());
    button->setToolTip(QString(), true); // a null text changes nothing
    EXPECT_EQ(button->toolTipText(), "No Repeat");
    EXPECT_FALSE(button->toolTipActive());
}

TEST_F(BitmapButtonTest, CheckBoxKindTogglesBeforeTheCommandArrives) {
    button->subclassButton(OwnerDrawButton::kAutoCheckBox);
    int stateSeen = -1;
    QObject::connect(button, &OwnerDrawButton::command, [&] { stateSeen = button->checkState(); });
    QTest::mouseClick(button, Qt::LeftButton, {}, centre());
    EXPECT_EQ(stateSeen, 1);
    EXPECT_EQ(button->checkState(), 1);
    EXPECT_EQ(imageOrigin(grab()), QPoint(3, 4)) << "a checked box is drawn pushed";
    QTest::mouseClick(button, Qt::LeftButton, {}, centre());
    EXPECT_EQ(button->checkState(), 0);
}

TEST_F(BitmapButtonTest, RadioKindChecksItselfAndClearsItsGroup) {
    auto* other = new BitmapButton(parent.get());
    other->subclassButton(OwnerDrawButton::kAutoRadioButton);
    other->setCheckState(1);
    button->subclassButton(OwnerDrawButton::kAutoRadioButton);
    QTest::mouseClick(button, Qt::LeftButton, {}, centre());
    EXPECT_EQ(button->checkState(), 1);
    EXPECT_EQ(other->checkState(), 0);
    // A push button reports no check state.
    button->subclassButton(OwnerDrawButton::kPushButton);
    EXPECT_EQ(button->checkState(), 0);
}

TEST_F(BitmapButtonTest, DefaultPushStyleBecomesADefaultPushButton) {
    button->subclassButton(OwnerDrawButton::kDefaultPushButton);
    EXPECT_EQ(button->isDefault, 1u);
    EXPECT_EQ(button->buttonType, uint32_t{OwnerDrawButton::kPushButton});
    button->setButtonStyle(OwnerDrawButton::kPushButton);
    EXPECT_EQ(button->isDefault, 0u);
}

TEST_F(BitmapButtonTest, SizeToContentFitsTheImage) {
    button->setStyleFlags(BitmapButton::kFlat | BitmapButton::kSizeToContent);
    EXPECT_EQ(button->size(), QSize(20 + 6, 20 + 6));
    button->setStyleFlags(BitmapButton::kFlat | BitmapButton::kSizeToContent |
                          BitmapButton::kDropDownArrow);
    EXPECT_EQ(button->size(), QSize(20 + 6 + 19, 20 + 6));
}

// The repeat, Remove and Clear All images (32 x 32) are larger than their
// 24-pixel buttons: the whole image is shown, shrunk into the content
// rectangle, rather than cut by the button's edges.
TEST_F(BitmapButtonTest, ImageLargerThanTheButtonIsShrunkIntoIt) {
    ASSERT_TRUE(button->setBitmap(kBitmapRepeatAll, kMagenta));
    QTest::mouseMove(parent.get(), QPoint(150, 100)); // no hover border
    const QRect content = button->rect().adjusted(3, 3, -3, -3);
    const QRect ink = inkBox(grab(), face, 1);
    EXPECT_TRUE(content.contains(ink))
        << ink.x() << "," << ink.y() << " " << ink.width() << "x" << ink.height();
    // Shrunk as a whole (32 -> 18 pixels), not cropped.
    const QRect own = opaqueBox(button->image().toImage());
    EXPECT_NEAR(ink.width(), own.width() * 18.0 / 32, 1.5);
    EXPECT_NEAR(ink.height(), own.height() * 18.0 / 32, 1.5);
    // Pressed, it still moves 1 pixel right and down.
    QTest::mousePress(button, Qt::LeftButton, {}, centre());
    EXPECT_EQ(inkBox(grab(), face, 1).topLeft(), ink.topLeft() + QPoint(1, 1));
    QTest::mouseRelease(button, Qt::LeftButton, {}, centre());
}

// The focused image button is the default: it shows a focus rectangle and
// Return or the keypad's Enter presses it.
TEST_F(BitmapButtonTest, FocusedButtonShowsAFocusRectangleAndEnterPressesIt) {
    auto* before = new BitmapButton(parent.get());
    before->subclassButton(OwnerDrawButton::kPushButton);
    before->setGeometry(100, 20, 24, 26);
    before->show();
    QWidget::setTabOrder(before, button);
    parent->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(parent.get()));
    before->setFocus(Qt::OtherFocusReason);
    const QImage unfocused = grab();
    QTest::keyClick(before, Qt::Key_Tab); // the focus moves by keyboard
    ASSERT_TRUE(button->hasFocus());
    EXPECT_NE(grab(), unfocused);

    QSignalSpy commands(button, &OwnerDrawButton::command);
    QTest::keyClick(button, Qt::Key_Return);
    QTest::keyClick(button, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(commands.count(), 2);
    QTest::keyClick(button, Qt::Key_Return, Qt::ControlModifier);
    button->setEnabled(false);
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(commands.count(), 2);
}

} // namespace

namespace {

TEST_F(BitmapButtonTest, LinkTargetOpensOnClickAndTheCommandStillArrives) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "openUrl");
    button->setLinkTarget("https://example.org/velumo");
    QSignalSpy commands(button, &OwnerDrawButton::command);
    QTest::mouseClick(button, Qt::LeftButton, {}, centre());
    QDesktopServices::unsetUrlHandler("https");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0], QUrl("https://example.org/velumo"));
    EXPECT_EQ(commands.count(), 1);
}

TEST_F(BitmapButtonTest, ArrowStripOpensTheMenuInsteadOfClicking) {
    QMenu menu;
    menu.addAction("first");
    button->resize(60, 26);
    button->setStyleFlags(BitmapButton::kFlat | BitmapButton::kDropDownArrow);
    button->setPopupMenu(&menu);
    QSignalSpy commands(button, &OwnerDrawButton::command);
    bool menuShown = false;
    QTimer::singleShot(50, [&] {
        menuShown = QApplication::activePopupWidget() == &menu;
        menu.close();
    });
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(55, 13));
    EXPECT_TRUE(menuShown);
    EXPECT_FALSE(button->isPressedDown());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(55, 13));
    EXPECT_EQ(commands.count(), 0);

    // Outside the strip the button is an ordinary button.
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(10, 13));
    EXPECT_EQ(commands.count(), 1);
}

} // namespace

#include "BitmapButtonTest.moc"
