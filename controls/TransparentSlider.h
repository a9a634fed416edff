#pragma once
// A horizontal slider whose channel shows the parent's background. At the
// first paint it takes a snapshot of the parent's own pixels under the control
// (the parent's background and painting, without its child widgets) and from
// then on paints that snapshot before the style draws the groove and the
// thumb. The snapshot is never refreshed: when the parent repaints
// differently or the control moves, the old pixels stay behind the slider.
//
// User-interface thread only.

#include <QPixmap>
#include <QSlider>

class TransparentSlider : public QSlider {
    Q_OBJECT
  public:
    explicit TransparentSlider(QWidget* parent = nullptr);
    ~TransparentSlider() override;

    // True once the snapshot has been taken (at the first paint).
    bool hasSnapshot() const { return snapshotTaken; }
    // The snapshot (null before the first paint).
    const QPixmap& parentSnapshot() const { return snapshot; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void takeSnapshot();

    QPixmap snapshot;
    bool snapshotTaken = false;
};
