#include "controls/TransparentSlider.h"

#include <QPaintEvent>
#include <QPainter>

TransparentSlider::TransparentSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTickPosition(QSlider::NoTicks);
    // The control paints every pixel itself (snapshot first), so Qt need not
    // fill the background before paintEvent.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

TransparentSlider::~TransparentSlider() = default;

void TransparentSlider::takeSnapshot() {
    snapshotTaken = true;
    snapshot = QPixmap(size());
    snapshot.fill(palette().color(QPalette::Window));
    QWidget* parent = parentWidget();
    if (parent == nullptr) {
        return;
    }
    // Only the parent's own painting: with DrawChildren the parent would paint
    // this control again from inside its own paint.
    parent->render(&snapshot, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
}

void TransparentSlider::paintEvent(QPaintEvent* event) {
    if (!snapshotTaken) {
        takeSnapshot();
    }
    if (!snapshot.isNull()) {
        QPainter painter(this);
        painter.drawPixmap(0, 0, snapshot);
    }
    QSlider::paintEvent(event);
}
