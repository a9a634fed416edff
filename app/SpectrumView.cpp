#include "app/SpectrumView.h"

#include "spectrum/SpectrumAnalyzer.h"

#include <QPaintEvent>
#include <QPainter>
#include <QTimerEvent>

#include <algorithm>
#include <cmath>
#include <complex>

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
    mappedSize = 0;
    lastFrame = SpectrumFrame();
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
    lastFrame = analyser ? analyser->FrontSpectrum() : SpectrumFrame();
    framesSinceNew = 0;
    timer.start(kFrameMs, this);
    show();
}

double SpectrumView::bandLow(int band) const {
    const double top = std::max(rate / 2.0, 2.0 * kLowestHz);
    const double fraction = static_cast<double>(std::clamp(band, 0, kBands)) / kBands;
    return kLowestHz * std::pow(top / kLowestHz, fraction);
}

int SpectrumView::tallestBand() const {
    return static_cast<int>(std::max_element(barDb.begin(), barDb.end()) - barDb.begin());
}

void SpectrumView::mapBins(uint32_t size) {
    shares.clear();
    binPower.assign(size / 2 + 1, 0.0);
    mappedSize = size;
    const double binHz = rate / size;
    const uint32_t lastBin = size / 2;
    for (int band = 0; band < kBands; ++band) {
        const double low = bandLow(band);
        const double high = bandHigh(band);
        // Wider than a bin: the sum of the bins' power; narrower: their
        // average, so that a narrow band still reads the power of its bin.
        const double divisor = std::min(high - low, binHz);
        for (uint32_t bin = 1; bin <= lastBin; ++bin) {
            const double binLow = bin == 1 ? 0.0 : (bin - 0.5) * binHz;
            const double binHigh = (bin + 0.5) * binHz;
            const double overlap = std::min(high, binHigh) - std::max(low, binLow);
            if (overlap > 0.0) {
                shares.push_back({band, bin, overlap / divisor});
            }
        }
    }
}

void SpectrumView::reduce(const SpectrumFrame& frame) {
    const uint32_t size = frame.size() - 1; // the transform's length
    if (size != mappedSize) {
        mapBins(size);
    }
    const double* values = frame.data();
    // Bin k of the transform, for 0 <= k <= size: half-complex order keeps
    // the real part of bin k at k and its imaginary part at size - k (none
    // for bin 0 and the Nyquist bin of an even size); the bins above size / 2
    // mirror those below (a real signal's spectrum is conjugate symmetric).
    auto bin = [values, size](uint32_t k) {
        const bool mirrored = k > size / 2;
        const uint32_t index = mirrored ? size - k : k;
        const double im = index > 0 && index < (size + 1) / 2 ? values[size - index] : 0.0;
        return std::complex<double>(values[index], mirrored ? -im : im);
    };
    // The spectra are of unwindowed blocks, whose tones leak across the
    // whole axis. A Hann window applied here, as its three-term convolution
    // in frequency, keeps a tone within a few bins of its frequency.
    for (uint32_t k = 1; k < binPower.size(); ++k) {
        const std::complex<double> windowed = 0.5 * bin(k) - 0.25 * (bin(k - 1) + bin(k + 1));
        binPower[k] = std::norm(windowed);
    }
    power.fill(0.0);
    for (const Share& share : shares) {
        power[static_cast<size_t>(share.band)] += share.weight * binPower[share.bin];
    }
    // A sine of amplitude A (full scale 1) has a one-sided power of
    // A^2 x size^2 / 4 unwindowed, of which the Hann window keeps 3/8:
    // scaled so, a band that holds the whole tone reads A^2 (0 dB at full
    // scale).
    const double scale = (4.0 * 8.0 / 3.0) / (static_cast<double>(size) * size);
    for (size_t band = 0; band < targetDb.size(); ++band) {
        const double value = power[band] * scale;
        targetDb[band] = value > 0.0 ? std::max(kFloorDb, 10.0 * std::log10(value)) : kFloorDb;
    }
}

bool SpectrumView::advance() {
    bool taken = false;
    if (analyser) {
        const SpectrumFrame frame = analyser->FrontSpectrum();
        // A transform of fewer than two samples has no bin to show.
        if (frame.size() > 2 && !frame.sameRecord(lastFrame)) {
            lastFrame = frame;
            reduce(frame);
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
