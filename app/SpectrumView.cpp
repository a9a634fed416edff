#include "app/SpectrumView.h"

#include "spectrum/SpectrumAnalyzer.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>
#include <utility>

SpectrumView::SpectrumView(QWidget* parent) : QWidget(parent) {
    // The view fills all of its area itself, so Qt need not paint the
    // window's tiles beneath it on every frame.
    setAttribute(Qt::WA_OpaquePaintEvent);
    rest();
    hide();
}

void SpectrumView::setAnalyser(SpectrumAnalyzer* source, double sampleRate) {
    setRunning(false);
    analyser = source;
    rate = sampleRate;
    lastFrame = SpectrumFrame();
    if (analyser) {
        analyser->SetHeardSpectra(true);
    }
}

void SpectrumView::setDelaySource(std::function<uint64_t()> unheardFrames) {
    delay = std::move(unheardFrames);
}

void SpectrumView::setRunning(bool run) {
    if (!run) {
        timer.stop();
        rest();
        hide();
        return;
    }
    if (timer.isActive()) {
        return;
    }
    // What the analyser holds now was made before this start (an earlier
    // item, or before a pause) and has been shown or is stale.
    lastFrame = analyser ? analyser->HeardSpectrumAt(delay ? delay() : 0).power : SpectrumFrame();
    framesSinceNew = 0;
    timer.start(kFrameMs, this);
    show();
}

double SpectrumView::bandLow(int band) const {
    return bands.bandLow(band, rate);
}

int SpectrumView::tallestBand() const {
    return static_cast<int>(std::max_element(barDb.begin(), barDb.end()) - barDb.begin());
}

bool SpectrumView::advance() {
    bool taken = false;
    if (analyser) {
        const PowerSpectrum spectrum = analyser->HeardSpectrumAt(delay ? delay() : 0);
        if (!spectrum.power.sameRecord(lastFrame) && bands.reduce(spectrum, targetDb.data())) {
            lastFrame = spectrum.power;
            rate = spectrum.sampleRate;
            taken = true;
        }
    }
    if (taken) {
        framesSinceNew = 0;
    } else if (++framesSinceNew > kStaleFrames) {
        targetDb.fill(kFloorDb);
    }
    for (size_t band = 0; band < barDb.size(); ++band) {
        barDb[band] = std::max({targetDb[band], barDb[band] - kBarFallDb, kFloorDb});
        if (barDb[band] >= peakDb[band]) {
            peakDb[band] = barDb[band];
            peakHold[band] = kPeakHoldFrames;
        } else if (peakHold[band] > 0) {
            --peakHold[band];
        } else {
            peakDb[band] = std::max(barDb[band], peakDb[band] - kPeakFallDb);
        }
    }
    update();
    return taken;
}

void SpectrumView::rest() {
    targetDb.fill(kFloorDb);
    barDb.fill(kFloorDb);
    peakDb.fill(kFloorDb);
    peakHold.fill(0);
    framesSinceNew = 0;
    update();
}

void SpectrumView::paintEvent(QPaintEvent* event) {
    (void)event;
    QPainter painter(this);
    const QRectF area = rect();
    painter.fillRect(area, palette().color(QPalette::Base));
    const double slot = area.width() / kBands;
    const double gap = slot >= 3.0 ? 1.0 : 0.0;
    const double height = area.height();
    const QColor bar = palette().color(QPalette::Highlight);
    const QColor peak = palette().color(QPalette::Text);
    auto fraction = [](double db) { return std::clamp(1.0 - db / kFloorDb, 0.0, 1.0); };
    for (int band = 0; band < kBands; ++band) {
        const size_t index = static_cast<size_t>(band);
        const double left = band * slot;
        // At least one line, so that bars at rest still show as a floor.
        const double barHeight = std::max(1.0, fraction(barDb[index]) * height);
        painter.fillRect(QRectF(left, height - barHeight, slot - gap, barHeight), bar);
        if (peakDb[index] > kFloorDb) {
            const double top = std::min(height - 1.0, (1.0 - fraction(peakDb[index])) * height);
            painter.fillRect(QRectF(left, top, slot - gap, 1.0), peak);
        }
    }
}

void SpectrumView::timerEvent(QTimerEvent* event) {
    if (event->timerId() == timer.timerId()) {
        advance();
        return;
    }
    QWidget::timerEvent(event);
}
