#include "controls/GroupFrame.h"

#include <QFontMetrics>
#include <QPainter>
#include <QRegion>
#include <qdrawutil.h>

#include <algorithm>

namespace {

constexpr int kTitleIndent = 8; // from the frame's left edge to the title
constexpr int kTitleGap = 2;    // free line on either side of the title

// The title's baseline: the font's ascent, or lower when a glyph reaches
// above it (some fonts' accents and italic capitals do), so that no ink is
// ever above the box.
int titleBaseline(const QFontMetrics& metrics, const QString& title) {
    return std::max(metrics.ascent(), -metrics.boundingRect(title).top());
}

} // namespace

GroupFrame::GroupFrame(QWidget* parent) : QGroupBox(parent) {}

QRect GroupFrame::titleRect() const {
    if (title().isEmpty()) {
        return {};
    }
    const QFontMetrics metrics(font());
    // The ink may reach past the advance on either side (italic overhang)
    // and below the line (descenders).
    const QRect ink = metrics.boundingRect(title());
    const int baseline = titleBaseline(metrics, title());
    const int left = std::min(0, ink.left());
    const int right = std::max(metrics.horizontalAdvance(title()), ink.right() + 1);
    const int top = std::min(baseline - metrics.ascent(), ink.top() + baseline);
    const int bottom = std::max(baseline + metrics.descent(), ink.bottom() + 1 + baseline);
    return {kTitleIndent, top, right - left, bottom - top};
}

QRect GroupFrame::frameRect() const {
    if (title().isEmpty()) {
        return rect();
    }
    // The top line runs through the middle of the title's line.
    const QFontMetrics metrics(font());
    const int baseline = titleBaseline(metrics, title());
    return rect().adjusted(0, baseline - metrics.ascent() + metrics.height() / 2, 0, 0);
}

QSize GroupFrame::minimumSizeHint() const {
    // The title, then its gap before the frame's etched right edge.
    const QRect titleBox = titleRect();
    return {titleBox.right() + 1 + kTitleGap + 2, titleBox.bottom() + 1};
}

void GroupFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect titleBox = titleRect();

    if (!titleBox.isEmpty()) {
        // The line is broken where the title stands.
        QRegion clip(rect());
        clip -= titleBox.adjusted(-kTitleGap, 0, kTitleGap, 0);
        painter.setClipRegion(clip);
    }
    // An etched line: shadow, with the light colour one pixel inside it. (The
    // styles' own group frame would start below the title.)
    qDrawShadeRect(&painter, frameRect(), palette(), true, 1);
    painter.setClipping(false);

    if (!titleBox.isEmpty()) {
        const QFontMetrics metrics(font());
        const int x = titleBox.left() - std::min(0, metrics.boundingRect(title()).left());
        painter.setFont(font());
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::WindowText));
        painter.drawText(QPoint(x, titleBaseline(metrics, title())), title());
    }
}
