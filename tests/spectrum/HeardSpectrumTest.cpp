// The spectra a display shows: a tone lights the band that holds it at the
// rates a player meets, and the spectrum chosen is that of the audio the
// device plays now, not of what was last read.

#include "spectrum/HeardSpectrum.h"
#include "spectrum/SpectrumAnalyzer.h"
#include "spectrum/SpectrumBands.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr int kBands = 20;
constexpr double kLowestHz = 50.0;
constexpr double kFloorDb = -60.0;

// Hands out a tenth of a second of prepared audio per request, then the
// empty buffer.
class PreparedStream : public AudioStream {
  public:
    PreparedStream(uint16_t channels, uint32_t rate)
        : format(pcmFormat(channels, rate, 16)), frameBytes(2u * channels) {
        requestSize = frameBytes * (rate / 10);
    }
    const WaveFormat* GetFormat() override { return format.get(); }
    AudioBuffer GetBuffer() override {
        const size_t n = std::min<size_t>(requestSize, bytes.size() - offset);
        if (n == 0) {
            return {};
        }
        AudioBuffer b =
            AudioBuffer::fromBytes(bytes.data() + offset, static_cast<uint32_t>(n), true);
        offset += n;
        return b;
    }
    // Appends seconds of a sine (every channel at hz) at half of full scale.
    void addTone(double hz, double seconds) {
        const uint16_t channels = format->nChannels;
        const uint32_t rate = format->nSamplesPerSec;
        const auto frames = static_cast<uint32_t>(rate * seconds);
        const std::vector<int16_t> mono = testing_support::sineSamples(rate, 1, frames, hz, 0.5);
        std::vector<int16_t> interleaved;
        for (int16_t s : mono) {
            interleaved.insert(interleaved.end(), channels, s);
        }
        const std::vector<uint8_t> more = testing_support::toBytes(interleaved);
        bytes.insert(bytes.end(), more.begin(), more.end());
    }

    FormatBuffer format;
    uint32_t frameBytes;
    std::vector<uint8_t> bytes;
    size_t offset = 0;
};

// Reads the whole source through the analyser and waits until every buffer
// has been analysed.
bool readAll(SpectrumAnalyzer& analyser) {
    while (!analyser.GetBuffer().isEmpty()) {
    }
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (analyser.PendingBuffers() != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

int bandOf(const SpectrumBands& bands, double hz, double rate) {
    for (int band = 0; band < bands.count(); ++band) {
        if (hz < bands.bandLow(band + 1, rate)) {
            return band;
        }
    }
    return bands.count() - 1;
}

std::vector<double> levels(SpectrumBands& bands, const PowerSpectrum& spectrum) {
    std::vector<double> db(static_cast<size_t>(bands.count()), 1.0);
    EXPECT_TRUE(bands.reduce(spectrum, db.data()));
    return db;
}

TEST(HeardSpectrum, TransformResolvesTwelveHertzAtEveryRate) {
    for (uint32_t rate : {8000u, 11025u, 22050u, 32000u, 44100u, 48000u, 96000u, 192000u}) {
        const uint32_t size = HeardSpectrum::sizeForRate(rate);
        EXPECT_EQ(size & (size - 1), 0u) << rate;
        EXPECT_LE(static_cast<double>(rate) / size, 12.0) << rate;
        EXPECT_GT(static_cast<double>(rate) / size, 6.0) << rate; // no longer than needed
    }
}

TEST(HeardSpectrum, ToneLightsItsOwnBandAndTheBandsTwoAwayStayFarBelow) {
    struct Case {
        uint32_t rate;
        uint16_t channels;
    };
    for (Case c : {Case{44100, 1}, Case{48000, 2}, Case{22050, 1}, Case{96000, 2}}) {
        for (double hz : {100.0, 440.0, 1000.0, 5000.0}) {
            SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) +
                         " channels, tone " + std::to_string(hz));
            PreparedStream source(c.channels, c.rate);
            source.addTone(hz, 0.6);
            SpectrumAnalyzer analyser;
            analyser.SetHeardSpectra(true);
            analyser.SetSource(&source);
            ASSERT_TRUE(readAll(analyser));
            const PowerSpectrum spectrum = analyser.HeardSpectrumAt(0);
            ASSERT_FALSE(spectrum.isEmpty());
            EXPECT_EQ(spectrum.sampleRate, c.rate);

            SpectrumBands bands(kBands, kLowestHz, kFloorDb);
            const std::vector<double> db = levels(bands, spectrum);
            const int band = bandOf(bands, hz, c.rate);
            for (int other = 0; other < kBands; ++other) {
                if (other != band) {
                    EXPECT_LT(db[other], db[band]) << "band " << other;
                }
            }
            // Half of full scale reads -6 dB; a tone right at a band's edge
            // leaves up to half of its power in the next band.
            EXPECT_LE(db[band], -5.0);
            EXPECT_GE(db[band], -9.5);
            for (int other : {band - 2, band + 2}) {
                if (other >= 0 && other < kBands) {
                    EXPECT_LT(db[other], db[band] - 25.0) << "band " << other;
                }
            }
        }
    }
}

TEST(HeardSpectrum, ShownSpectrumIsOfTheAudioTheDeviceStillHasToPlay) {
    // Half a second of 440 Hz, then half a second of 3000 Hz, all read:
    // what is shown depends on how much of it the device has not yet played.
    constexpr uint32_t kRate = 44100;
    PreparedStream source(1, kRate);
    source.addTone(440.0, 0.5);
    source.addTone(3000.0, 0.5);
    SpectrumAnalyzer analyser;
    analyser.SetHeardSpectra(true);
    analyser.SetSource(&source);
    ASSERT_TRUE(readAll(analyser));
    ASSERT_EQ(analyser.FramesRead(), uint64_t{kRate});

    struct Case {
        double unheardSeconds;
        double heardHz;
    };
    SpectrumBands bands(kBands, kLowestHz, kFloorDb);
    for (Case c : {Case{0.0, 3000.0}, Case{0.35, 3000.0}, Case{0.65, 440.0}, Case{0.9, 440.0},
                   Case{5.0, 440.0}}) {
        SCOPED_TRACE(c.unheardSeconds);
        const auto unheard = static_cast<uint64_t>(c.unheardSeconds * kRate);
        const PowerSpectrum spectrum = analyser.HeardSpectrumAt(unheard);
        ASSERT_FALSE(spectrum.isEmpty());
        // The window is centred no later than the play position, and within
        // a hop of it where the audio around that position has been read.
        const uint64_t position = unheard < kRate ? kRate - unheard : 0;
        EXPECT_LE(spectrum.centre, std::max<uint64_t>(position, spectrum.transformSize / 2));
        if (position > spectrum.transformSize && unheard >= spectrum.transformSize / 2) {
            EXPECT_GE(spectrum.centre + spectrum.transformSize / 4, position);
        }
        const std::vector<double> db = levels(bands, spectrum);
        const int heard = bandOf(bands, c.heardHz, kRate);
        const int other = bandOf(bands, c.heardHz == 440.0 ? 3000.0 : 440.0, kRate);
        EXPECT_GT(db[heard], -9.0);
        EXPECT_LT(db[other], db[heard] - 40.0);
    }

    // Turned off, the analyser keeps and offers nothing.
    analyser.SetHeardSpectra(false);
    EXPECT_TRUE(analyser.HeardSpectrumAt(0).isEmpty());
}

TEST(HeardSpectrum, GapInTheStreamStartsAFreshWindow) {
    HeardSpectrum heard;
    ASSERT_TRUE(heard.setRate(8000));
    const uint32_t size = heard.transformSize();
    std::vector<double> ones(size - 1, 1.0);
    heard.push(ones.data(), ones.size(), 0);
    EXPECT_EQ(heard.kept(), 0u);
    // One sample short of a window, then a jump: the first part is dropped,
    // and it takes a whole window after the jump to make a spectrum.
    heard.push(ones.data(), ones.size(), 10 * size);
    EXPECT_EQ(heard.kept(), 0u);
    heard.push(ones.data(), 1, 11 * size - 1);
    ASSERT_EQ(heard.kept(), 1u);
    EXPECT_EQ(heard.at(~uint64_t{0}).centre, 10 * size + size / 2);
}

} // namespace
