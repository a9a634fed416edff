#pragma once
// A horizontal slider whose channel shows the parent's background. At the
// first paint it takes a snapshot of the parent's own pixels under the control
// (the parent's background and painting, without its child widgets) and from
// then on paints that snapshot before the style draws the groove and the
// thumb. The snapshot is never refreshed: when the parent repaints
// differently or the control moves, the old pixels stay behind the slider.
//
// A slider that jumps to clicks (setJumpToClick) takes a press of the left
// button on its channel as a press on the thumb moved under the pointer: the
// thumb jumps there and a drag begins, so that the release comes with
// sliderReleased like any drag of the thumb.
//
// User-interface thread only.

#include <QPixmap>
#include <QSlider>
#include <QStyle>

class TransparentSlider : public QSlider {
    Q_OBJECT
  public:
    explicit TransparentSlider(QWidget* parent = nullptr);
    ~TransparentSlider() override;

    // True once the snapshot has been taken (at the first paint).
    bool hasSnapshot() const { return snapshotTaken; }
    // The snapshot (null before the first paint).
    const QPixmap& parentSnapshot() const { return snapshot; }

    // Off by default: a press on the channel moves the thumb by a page.
    void setJumpToClick(bool on) { jumpToClick = on; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    void takeSnapshot();
    QRect partRect(QStyle::SubControl part) const;
    // The value that puts the thumb's centre at x (in the control's
    // coordinates), clamped to the range.
    int valueAt(int x) const;

    QPixmap snapshot;
    bool snapshotTaken = false;
    bool jumpToClick = false;
};
