#include "spectrum/HeardSpectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr uint32_t kBinHzAtMost = 12;
constexpr uint32_t kSmallestSize = 256;
constexpr uint32_t kLargestSize = 1u << 16;

} // namespace

uint32_t HeardSpectrum::sizeForRate(uint32_t rate) {
    uint32_t n = kSmallestSize;
    while (n < kLargestSize && n * kBinHzAtMost < rate) {
        n *= 2;
    }
    return n;
}

bool HeardSpectrum::setRate(uint32_t newRate) {
    if (newRate == rate && plan) {
        return true;
    }
    clear();
    plan.reset();
    rate = newRate;
    size = 0;
    if (newRate == 0) {
        return false;
    }
    const uint32_t n = sizeForRate(newRate);
    plan = RealFftPlan::create(n);
    if (!plan) {
        return false;
    }
    size = n;
    hop = n / 4;
    window.resize(n);
    // The periodic Hann window: its overlapped copies at a quarter hop sum
    // to a constant, so no stretch of the stream weighs more than another.
    for (uint32_t i = 0; i < n; ++i) {
        window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / n);
    }
    windowed.resize(n);
    transformed.resize(n);
    historyLimit = static_cast<size_t>(std::ceil(kHistorySeconds * newRate / hop)) + 1;
    return true;
}

void HeardSpectrum::clear() {
    history.clear();
    pending.clear();
}

void HeardSpectrum::push(const double* samples, size_t count, uint64_t first) {
    if (!plan || count == 0) {
        return;
    }
    if (first != pendingStart + pending.size()) {
        // A gap (or a step back) in the stream: the partial window would join
        // audio that was never played together.
        pending.clear();
        pendingStart = first;
    }
    pending.insert(pending.end(), samples, samples + count);
    while (pending.size() >= size) {
        transformFront();
        pending.erase(pending.begin(), pending.begin() + hop);
        pendingStart += hop;
    }
}

void HeardSpectrum::transformFront() {
    for (uint32_t i = 0; i < size; ++i) {
        windowed[i] = pending[i] * window[i];
    }
    plan->execute(windowed.data(), transformed.data());
    PowerSpectrum spectrum;
    spectrum.power = SpectrumFrame::allocate(size / 2 + 1);
    spectrum.transformSize = size;
    spectrum.sampleRate = rate;
    spectrum.centre = pendingStart + size / 2;
    // A sine of amplitude A centred on bin k gives |X(k)| = A N / 4 and
    // |X(k +- 1)| = A N / 8 through the Hann window: A^2 N^2 x 3 / 32 over
    // its bins, which this scale turns into A^2.
    const double scale = 32.0 / (3.0 * static_cast<double>(size) * size);
    double* power = spectrum.power.data();
    power[0] = transformed[0] * transformed[0] * scale;
    for (uint32_t k = 1; k < size / 2; ++k) {
        const double re = transformed[k];
        const double im = transformed[size - k];
        power[k] = (re * re + im * im) * scale;
    }
    power[size / 2] = transformed[size / 2] * transformed[size / 2] * scale;
    history.push_front(std::move(spectrum));
    while (history.size() > historyLimit) {
        history.pop_back();
    }
}

PowerSpectrum HeardSpectrum::at(uint64_t position) const {
    for (const PowerSpectrum& spectrum : history) {
        if (spectrum.centre <= position) {
            return spectrum;
        }
    }
    return history.empty() ? PowerSpectrum() : history.back();
}
