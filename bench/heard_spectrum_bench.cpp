// CPU time of the live spectrum's analysis, apart from drawing: the heard
// spectra of a minute of 44.1 kHz audio, fed a tenth of a second at a time
// as the output analyser gets it, and 25 band reductions a second as the
// view makes them. Prints the time and its share of one core in real time.
//   heard_spectrum_bench [SECONDS]

#include "spectrum/HeardSpectrum.h"
#include "spectrum/SpectrumBands.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <numbers>
#include <vector>

namespace {

double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    constexpr uint32_t kRate = 44100;
    constexpr uint32_t kBuffer = kRate / 10;
    std::vector<double> chunk(kBuffer);
    HeardSpectrum heard;
    if (!heard.setRate(kRate)) {
        std::fprintf(stderr, "no plan\n");
        return 1;
    }
    SpectrumBands bands(20, 50.0, -60.0);
    std::vector<double> db(20);
    double checksum = 0.0;
    uint64_t position = 0;
    double spent = 0.0;
    for (int buffer = 0; buffer < seconds * 10; ++buffer) {
        for (uint32_t i = 0; i < kBuffer; ++i) {
            const double t = static_cast<double>(position + i) / kRate;
            chunk[i] = 0.3 * std::sin(2.0 * std::numbers::pi * 440.0 * t) +
                       0.2 * std::sin(2.0 * std::numbers::pi * 1500.0 * t);
        }
        const double before = threadSeconds();
        heard.push(chunk.data(), kBuffer, position);
        position += kBuffer;
        // Three view frames per buffer: a little more than the 2.5 of 25 a second.
        for (int frame = 0; frame < 5; frame += 2) {
            bands.reduce(heard.at(position - kBuffer * frame / 5), db.data());
            checksum += db[5];
        }
        spent += threadSeconds() - before; // the signal itself is not part of the cost
    }
    std::printf("heard spectra of %d s at %u Hz: %.3f s CPU = %.3f %% of one core\n", seconds,
                kRate, spent, 100.0 * spent / seconds);
    return checksum == 0.0 ? 1 : 0;
}
