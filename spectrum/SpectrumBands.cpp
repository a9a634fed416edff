#include "spectrum/SpectrumBands.h"

#include <algorithm>
#include <cmath>

SpectrumBands::SpectrumBands(int count, double lowestHz, double floorDb)
    : bands(std::max(count, 1)), lowest(lowestHz), floor(floorDb),
      power(static_cast<size_t>(bands)) {}

double SpectrumBands::bandLow(int band, double rate) const {
    const double top = std::max(rate / 2.0, 2.0 * lowest);
    const double fraction = static_cast<double>(std::clamp(band, 0, bands)) / bands;
    return lowest * std::pow(top / lowest, fraction);
}

void SpectrumBands::mapBins(uint32_t size, uint32_t rate) {
    shares.clear();
    mappedSize = size;
    mappedRate = rate;
    const double binHz = static_cast<double>(rate) / size;
    const uint32_t lastBin = size / 2;
    for (int band = 0; band < bands; ++band) {
        const double low = bandLow(band, rate);
        const double high = bandLow(band + 1, rate);
        // Wider than a bin: the sum of the bins' power; narrower: their
        // average, so that a narrow band still reads the power of its bin.
        const double divisor = std::min(high - low, binHz);
        // Only the bins near the band: the table stays proportional to the
        // bins, not to bins x bands.
        const auto first = static_cast<uint32_t>(std::max(1.0, std::floor(low / binHz)));
        for (uint32_t bin = first; bin <= lastBin; ++bin) {
            const double binLow = bin == 1 ? 0.0 : (bin - 0.5) * binHz;
            const double binHigh = (bin + 0.5) * binHz;
            if (binLow >= high) {
                break;
            }
            const double overlap = std::min(high, binHigh) - std::max(low, binLow);
            if (overlap > 0.0) {
                shares.push_back({band, bin, overlap / divisor});
            }
        }
    }
}

bool SpectrumBands::reduce(const PowerSpectrum& spectrum, double* db) {
    const uint32_t size = spectrum.transformSize;
    if (spectrum.isEmpty() || spectrum.sampleRate == 0 || size < 2 ||
        spectrum.power.size() != size / 2 + 1) {
        return false;
    }
    if (size != mappedSize || spectrum.sampleRate != mappedRate) {
        mapBins(size, spectrum.sampleRate);
    }
    const double* bins = spectrum.power.data();
    std::fill(power.begin(), power.end(), 0.0);
    for (const Share& share : shares) {
        power[static_cast<size_t>(share.band)] += share.weight * bins[share.bin];
    }
    for (size_t band = 0; band < power.size(); ++band) {
        const double value = power[band];
        db[band] = value > 0.0 ? std::max(floor, 10.0 * std::log10(value)) : floor;
    }
    return true;
}
