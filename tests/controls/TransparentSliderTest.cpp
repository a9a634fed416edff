#include "controls/TransparentSlider.h"

#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A parent that paints its left half in one colour and its right half in another.
class PaintedParent : public QWidget {
  public:
    QColor left = Qt::red;
    QColor right = Qt::blue;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(QRect(0, 0, width() / 2, height()), left);
        p.fillRect(QRect(width() / 2, 0, width() - width() / 2, height()), right);
    }
};

class TransparentSliderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        parent = std::make_unique<PaintedParent>();
        parent->resize(400, 100);
        slider = new TransparentSlider(parent.get());
        slider->setGeometry(10, 20, 150, 40);
    }
    QRgb backgroundPixel() {
        // Row 1 lies above the groove and the thumb.
        return slider->grab().toImage().pixel(slider->width() / 2, 1) & 0xFFFFFF;
    }

    std::unique_ptr<PaintedParent> parent;
    TransparentSlider* slider = nullptr;
};

TEST_F(TransparentSliderTest, ChannelShowsTheParentsPixelsFromTheFirstPaint) {
    EXPECT_FALSE(slider->hasSnapshot());
    parent->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(parent.get()));
    EXPECT_EQ(backgroundPixel(), QColor(Qt::red).rgb() & 0xFFFFFF);
    ASSERT_TRUE(slider->hasSnapshot());
    const QImage snapshot = slider->parentSnapshot().toImage();
    EXPECT_EQ(snapshot.size(), slider->size());
    EXPECT_EQ(snapshot.pixel(0, 0) & 0xFFFFFF, QColor(Qt::red).rgb() & 0xFFFFFF);
    EXPECT_EQ(snapshot.pixel(149, 39) & 0xFFFFFF, QColor(Qt::red).rgb() & 0xFFFFFF);
}

TEST_F(TransparentSliderTest, SnapshotIsNeverRefreshed) {
    parent->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(parent.get()));
    ASSERT_EQ(backgroundPixel(), QColor(Qt::red).rgb() & 0xFFFFFF);

    // The parent repaints in another colour: the slider keeps the old pixels.
    parent->left = Qt::green;
    parent->repaint();
    EXPECT_EQ(backgroundPixel(), QColor(Qt::red).rgb() & 0xFFFFFF);

    // Moved over the blue half, it still shows red.
    slider->move(250, 20);
    EXPECT_EQ(backgroundPixel(), QColor(Qt::red).rgb() & 0xFFFFFF);
}

TEST_F(TransparentSliderTest, ThumbIsDrawnOverTheSnapshot) {
    parent->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(parent.get()));
    slider->setRange(0, 100);
    slider->setValue(50);
    const QImage shot = slider->grab().toImage();
    // Along the middle row, the groove and the thumb cover some of the red.
    int covered = 0;
    for (int x = 0; x < shot.width(); ++x) {
        covered +=
            (shot.pixel(x, shot.height() / 2) & 0xFFFFFF) != (QColor(Qt::red).rgb() & 0xFFFFFF);
    }
    EXPECT_GT(covered, 10);
}

TEST_F(TransparentSliderTest, PressOnTheChannelJumpsThereAndDragsOnlyWhenAsked) {
    parent->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(parent.get()));
    slider->setRange(0, 100);
    slider->setPageStep(20);
    const int y = slider->height() / 2;
    const int x75 = slider->width() * 3 / 4;
    // By default a press on the channel moves the thumb by a page.
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(x75, y));
    EXPECT_EQ(slider->value(), 20);

    slider->setValue(0);
    slider->setJumpToClick(true);
    QSignalSpy released(slider, &QSlider::sliderReleased);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(x75, y));
    EXPECT_TRUE(slider->isSliderDown());
    EXPECT_NEAR(slider->sliderPosition(), 75, 4);
    // The drag goes on from the thumb's new place.
    QTest::mouseMove(slider, QPoint(slider->width() / 4, y));
    EXPECT_NEAR(slider->sliderPosition(), 25, 4);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(slider->width() / 4, y));
    EXPECT_FALSE(slider->isSliderDown());
    EXPECT_EQ(released.count(), 1);
    EXPECT_NEAR(slider->value(), 25, 4);
}

TEST_F(TransparentSliderTest, ControlNeverDrawnTakesNoSnapshot) {
    auto hidden = std::make_unique<TransparentSlider>();
    hidden->setValue(3);
    EXPECT_FALSE(hidden->hasSnapshot());
    EXPECT_TRUE(hidden->parentSnapshot().isNull());
}

} // namespace
