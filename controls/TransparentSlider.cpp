#include "controls/TransparentSlider.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

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

QRect TransparentSlider::partRect(QStyle::SubControl part) const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, part, this);
}

int TransparentSlider::valueAt(int x) const {
    const QRect groove = partRect(QStyle::SC_SliderGroove);
    const QRect thumb = partRect(QStyle::SC_SliderHandle);
    // The thumb's left edge runs from the groove's left to its right less
    // the thumb's width; its centre goes under x.
    const int span = groove.width() - thumb.width();
    const int offset = x - groove.x() - thumb.width() / 2;
    return QStyle::sliderValueFromPosition(minimum(), maximum(), offset, span,
                                           invertedAppearance());
}

void TransparentSlider::mousePressEvent(QMouseEvent* event) {
    if (jumpToClick && event->button() == Qt::LeftButton && orientation() == Qt::Horizontal) {
        const QPoint at = event->position().toPoint();
        if (!partRect(QStyle::SC_SliderHandle).contains(at)) {
            // The thumb now lies under the pointer, so QSlider starts a drag.
            setSliderPosition(valueAt(at.x()));
        }
    }
    QSlider::mousePressEvent(event);
}
