#pragma once
// Reduces a power spectrum (spectrum/HeardSpectrum.h) to bands on a
// logarithmic frequency axis: count bands of equal width in octaves from
// lowestHz to the Nyquist rate, each read in decibels of a full-scale sine
// (a band that holds a whole sine of amplitude A reads 20 log10 A), and
// never below floorDb.
//
// Bin k (1 <= k <= N / 2) stands for the frequencies within half a bin of
// k x rate / N, bin 1 reaching down to 0 Hz; the DC bin is left out. A band
// wider than a bin sums the power of the bins it overlaps, each in
// proportion to the overlap; a narrower band averages them the same way, so
// it reads the power of the bin it lies in. The band-to-bin table is made
// once per transform size and rate; a reduction then allocates nothing.
//
// Not thread-safe; one user.

#include "spectrum/HeardSpectrum.h"

#include <cstdint>
#include <vector>

class SpectrumBands {
  public:
    SpectrumBands(int count, double lowestHz, double floorDb);

    int count() const { return bands; }
    // The lower edge of band (0 .. count; count gives the top of the axis)
    // in Hz, for audio at rate.
    double bandLow(int band, double rate) const;

    // Writes count() levels in dB to db. False (db untouched) for an empty
    // spectrum or one without a rate.
    bool reduce(const PowerSpectrum& spectrum, double* db);

  private:
    // The share of one bin's power that one band takes.
    struct Share {
        int band;
        uint32_t bin;
        double weight;
    };
    void mapBins(uint32_t size, uint32_t rate);

    int bands;
    double lowest;
    double floor;
    uint32_t mappedSize = 0;
    uint32_t mappedRate = 0;
    std::vector<Share> shares;
    std::vector<double> power; // per band
};
