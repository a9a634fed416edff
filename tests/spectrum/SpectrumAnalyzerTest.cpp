#include "spectrum/SpectrumAnalyzer.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <deque>
#include <memory>
#include <new>
#include <numbers>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testing_support::MessageRecorder;

// A source that hands out prepared byte blocks, then the empty buffer.
class ListStream : public AudioStream {
  public:
    ListStream(uint16_t channels, uint32_t request) : format(pcmFormat(channels, 44100, 16)) {
        requestSize = request;
    }
    const WaveFormat* GetFormat() override { return format.get(); }
    AudioBuffer GetBuffer() override {
        if (blocks.empty()) {
            return {};
        }
        AudioBuffer b = AudioBuffer::fromBytes(blocks.front().data(),
                                               static_cast<uint32_t>(blocks.front().size()), true);
        blocks.pop_front();
        return b;
    }
    void add(const std::vector<int16_t>& samples) {
        blocks.push_back(testing_support::toBytes(samples));
    }
    FormatBuffer format;
    std::deque<std::vector<uint8_t>> blocks;
};

// Samples that are not a pure tone, so that every bin carries a value.
std::vector<int16_t> noiseSamples(size_t count, uint32_t seed) {
    std::vector<int16_t> out(count);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& s : out) {
        x = x * 1664525u + 1013904223u;
        s = static_cast<int16_t>(x >> 16);
    }
    return out;
}

// The half-complex spectrum of samples[first .. first + n) (every step-th
// sample), by the plain definition.
std::vector<double> plainDft(const std::vector<int16_t>& samples, size_t first, size_t n,
                             size_t step = 1) {
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i) {
        x[i] = samples[(first + i) * step] / 32767.0;
    }
    std::vector<double> out(n, 0.0);
    for (size_t k = 0; k <= n / 2; ++k) {
        double re = 0.0;
        double im = 0.0;
        for (size_t t = 0; t < n; ++t) {
            double angle =
                2.0 * std::numbers::pi * static_cast<double>((k * t) % n) / static_cast<double>(n);
            re += x[t] * std::cos(angle);
            im -= x[t] * std::sin(angle);
        }
        out[k] = re;
        if (k > 0 && k < (n + 1) / 2) {
            out[n - k] = im;
        }
    }
    return out;
}

void expectSpectrum(const SpectrumFrame& frame, const std::vector<double>& expected) {
    ASSERT_EQ(frame.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_NEAR(frame[static_cast<uint32_t>(i)], expected[i], 1e-9) << "element " << i;
    }
    EXPECT_EQ(frame[static_cast<uint32_t>(expected.size())], 0.0);
}

bool drained(SpectrumAnalyzer& analyser) {
    for (int i = 0; i < 2000; ++i) {
        if (analyser.PendingBuffers() == 0) {
            return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

// Reads every buffer of the source through the analyser, waits for the
// analysis, and returns the buffers read.
std::vector<AudioBuffer> pullAll(SpectrumAnalyzer& analyser) {
    std::vector<AudioBuffer> out;
    for (AudioBuffer b = analyser.GetBuffer(); !b.isEmpty(); b = analyser.GetBuffer()) {
        out.push_back(b);
    }
    EXPECT_TRUE(drained(analyser));
    return out;
}

uint32_t fftSizeFor(uint16_t channels, uint32_t request, SpectrumAnalyzer& analyser) {
    ListStream source(channels, request);
    analyser.SetSource(&source);
    analyser.SetSource(nullptr);
    return analyser.FftSize();
}

TEST(SpectrumAnalyzer, TransformSizeFollowsTheRequest) {
    {
        SpectrumAnalyzer a;
        EXPECT_EQ(fftSizeFor(1, 4096, a), 256u); // F = 2048, d = 8
    }
    {
        SpectrumAnalyzer a;
        EXPECT_EQ(fftSizeFor(2, 4096, a), 256u); // F = 1024, d = 4
    }
    {
        SpectrumAnalyzer a;
        EXPECT_EQ(fftSizeFor(1, 8820, a), 245u); // F = 4410, 17 does not divide it, d = 18
        // The same request again keeps the size.
        EXPECT_EQ(fftSizeFor(1, 8820, a), 245u);
    }
    {
        SpectrumAnalyzer a;
        EXPECT_EQ(fftSizeFor(1, 400, a), 200u); // F = 200 <= 256: one transform per request
        EXPECT_EQ(fftSizeFor(2, 400, a), 100u);
    }
}

TEST(SpectrumAnalyzer, ReducedTransformSizeIsNotRestored) {
    // F = 2062 = 2 x 1031 has no divisor in [8, 1024): the size stays as it was.
    SpectrumAnalyzer fresh;
    EXPECT_EQ(fftSizeFor(1, 4124, fresh), 256u);
    SpectrumAnalyzer reduced;
    EXPECT_EQ(fftSizeFor(1, 200, reduced), 100u);
    EXPECT_EQ(fftSizeFor(1, 4124, reduced), 100u);
}

TEST(SpectrumAnalyzer, SpectraEqualThePlainTransformForEvenAndOddSizes) {
    for (uint32_t request : {4096u, 8820u}) {
        SpectrumAnalyzer analyser;
        ListStream source(1, request);
        const uint32_t n = request == 4096 ? 256 : 245;
        std::vector<int16_t> samples = noiseSamples(request / 2, request);
        source.add(samples);
        analyser.SetSource(&source);
        ASSERT_EQ(analyser.FftSize(), n);
        pullAll(analyser);

        const uint32_t blocks = (request / 2) / n;
        std::deque<SpectrumFrame> spectra = analyser.Spectra();
        ASSERT_EQ(spectra.size(), blocks - 1);
        // Newest first: the front is the last block transformed.
        for (uint32_t j = 0; j + 1 < blocks; ++j) {
            SCOPED_TRACE(testing::Message() << "size " << n << " block " << j);
            expectSpectrum(spectra[blocks - 2 - j], plainDft(samples, j * n, n));
        }
    }
}

TEST(SpectrumAnalyzer, BlockCountGivesOneSpectrumLessThanBlocks) {
    MessageRecorder messages;
    SpectrumAnalyzer analyser;
    ListStream source(1, 4096);
    analyser.SetSource(&source);

    source.add(noiseSamples(2048, 1)); // 8 blocks of 256
    pullAll(analyser);
    EXPECT_EQ(analyser.SpectrumCount(), 7u);

    source.add(noiseSamples(511, 2)); // one whole block and a remainder
    pullAll(analyser);
    EXPECT_EQ(analyser.SpectrumCount(), 7u);

    source.add(noiseSamples(512, 3)); // exactly two blocks
    pullAll(analyser);
    EXPECT_EQ(analyser.SpectrumCount(), 8u);
    EXPECT_TRUE(messages.texts().empty());
}

TEST(SpectrumAnalyzer, KeepsOnlyThe51MostRecentSpectra) {
    SpectrumAnalyzer analyser;
    ListStream source(1, 4096);
    analyser.SetSource(&source);
    std::vector<int16_t> samples = noiseSamples(256 * 60, 7); // 59 transforms
    source.add(samples);
    pullAll(analyser);
    std::deque<SpectrumFrame> spectra = analyser.Spectra();
    ASSERT_EQ(spectra.size(), 51u);
    expectSpectrum(spectra.front(), plainDft(samples, 58 * 256, 256));
    expectSpectrum(spectra.back(), plainDft(samples, 8 * 256, 256));
    expectSpectrum(analyser.FrontSpectrum(), plainDft(samples, 58 * 256, 256));
}

TEST(SpectrumAnalyzer, StereoIsAnalysedOnTheLeftChannelOnly) {
    SpectrumAnalyzer analyser;
    ListStream source(2, 4096);
    analyser.SetSource(&source);
    std::vector<int16_t> samples = noiseSamples(2048, 11); // 1024 frames, 4 blocks
    source.add(samples);
    pullAll(analyser);
    std::deque<SpectrumFrame> spectra = analyser.Spectra();
    ASSERT_EQ(spectra.size(), 3u);
    for (uint32_t j = 0; j < 3; ++j) {
        expectSpectrum(spectra[2 - j], plainDft(samples, j * 256, 256, 2));
    }
}

TEST(SpectrumAnalyzer, BuffersPassThroughUnchangedAndTheEndQueuesNothing) {
    SpectrumAnalyzer analyser;
    ListStream source(1, 4096);
    std::vector<int16_t> samples = noiseSamples(2048, 5);
    source.add(samples);
    analyser.SetSource(&source);
    EXPECT_TRUE(sameFormat(*analyser.GetFormat(), *source.GetFormat()));

    AudioBuffer b = analyser.GetBuffer();
    ASSERT_EQ(b.length(), 4096u);
    EXPECT_EQ(testing_support::toBytes(samples), std::vector<uint8_t>(b.data(), b.data() + 4096));
    EXPECT_EQ(b.kind(), BufferKind::WaveOut);

    AudioBuffer end = analyser.GetBuffer();
    EXPECT_TRUE(end.isEmpty());
    EXPECT_TRUE(drained(analyser));
    EXPECT_EQ(analyser.SpectrumCount(), 7u);
    AudioBuffer again = analyser.GetBuffer();
    EXPECT_TRUE(again.isEmpty());
    EXPECT_EQ(analyser.PendingBuffers(), 0u);
    EXPECT_EQ(analyser.SpectrumCount(), 7u);

    SpectrumAnalyzer detached;
    EXPECT_EQ(detached.GetFormat(), nullptr);
    EXPECT_TRUE(detached.GetBuffer().isEmpty());
}

TEST(SpectrumAnalyzer, RequestTooSmallForATransformAnalysesNothing) {
    MessageRecorder messages;
    SpectrumAnalyzer analyser;
    ListStream source(2, 6); // F = 2 x ((6 / 2) / 4) = 0
    source.add(noiseSamples(2048, 9));
    analyser.SetSource(&source);
    EXPECT_FALSE(analyser.HasPlan());
    EXPECT_EQ(analyser.FftSize(), 0u);
    EXPECT_EQ(pullAll(analyser).size(), 1u);
    EXPECT_EQ(analyser.SpectrumCount(), 0u);
    EXPECT_TRUE(messages.texts().empty());

    // A later source with room for transforms gets a plan again.
    ListStream larger(1, 4096);
    larger.add(noiseSamples(2048, 10));
    analyser.SetSource(&larger);
    EXPECT_EQ(analyser.FftSize(), 256u);
    pullAll(analyser);
    EXPECT_EQ(analyser.SpectrumCount(), 7u);
}

TEST(SpectrumAnalyzer, FormatWithoutChannelsIsRefusedWithoutCrashing) {
    MessageRecorder messages;
    SpectrumAnalyzer analyser;
    ListStream source(1, 4096);
    source.format->nChannels = 0;
    source.add(noiseSamples(2048, 9));
    analyser.SetSource(&source);
    EXPECT_FALSE(analyser.HasPlan());
    EXPECT_EQ(pullAll(analyser).size(), 1u);
    EXPECT_EQ(analyser.SpectrumCount(), 0u);
}

// Analyses normally, then fails the way a failed allocation does.
class FailingAnalyzer : public SpectrumAnalyzer {
  public:
    ~FailingAnalyzer() override { WaitForEnd(); }
    void Analyse(const AudioBuffer& buffer) override {
        SpectrumAnalyzer::Analyse(buffer);
        if (failures.fetch_add(1) == 0) {
            throw std::bad_alloc();
        }
    }
    std::atomic<int> failures{0};
};

TEST(SpectrumAnalyzer, AnalysisFailureIsReportedAndTheThreadGoesOn) {
    MessageRecorder messages;
    FailingAnalyzer analyser;
    ListStream source(1, 4096);
    source.add(noiseSamples(256 * 60, 1));
    analyser.SetSource(&source);
    pullAll(analyser);
    // The message follows the analysis, outside the lock.
    for (int i = 0; i < 2000 && messages.texts().empty(); ++i) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(
        messages.texts()[0],
        "Exception 0x01 (Access Violation) in Spectrum Analyzer, but it has been caught safely!");
    // Spectra made before the failure stay, trimmed to the bound.
    EXPECT_EQ(analyser.SpectrumCount(), 51u);

    source.add(noiseSamples(2048, 2));
    pullAll(analyser);
    EXPECT_EQ(analyser.failures.load(), 2);
    EXPECT_EQ(messages.texts().size(), 1u);
}

// Counts the buffers analysed into a counter that outlives the analyser.
class CountingAnalyzer : public SpectrumAnalyzer {
  public:
    explicit CountingAnalyzer(std::atomic<int>& counter) : analysed(counter) {}
    ~CountingAnalyzer() override { WaitForEnd(); }
    void Analyse(const AudioBuffer& buffer) override {
        SpectrumAnalyzer::Analyse(buffer);
        ++analysed;
    }
    std::atomic<int>& analysed;
};

TEST(SpectrumAnalyzer, DestructionWhileBusyAnalysesTheQueueThenEnds) {
    std::atomic<int> analysed{0};
    {
        CountingAnalyzer analyser(analysed);
        ListStream source(1, 4096);
        for (int i = 0; i < 40; ++i) {
            source.add(noiseSamples(256 * 40, i));
        }
        analyser.SetSource(&source);
        // Queue every buffer with the thread halted, so that the thread, once
        // started again, finds a full queue rather than racing the reads.
        ASSERT_TRUE(analyser.Stop(true));
        for (int i = 0; i < 40; ++i) {
            analyser.GetBuffer();
        }
        ASSERT_EQ(analyser.PendingBuffers(), 40u);
        ASSERT_TRUE(analyser.Start());
        // Busy: the thread has begun on the queue and empties it before it
        // looks at the stop request.
        for (int i = 0; i < 2000 && analysed.load() == 0; ++i) {
            std::this_thread::sleep_for(1ms);
        }
        ASSERT_GT(analysed.load(), 0);
    }
    EXPECT_EQ(analysed.load(), 40);

    // Plain analysers destroyed at once after reading, and never read at all.
    for (int i = 0; i < 10; ++i) {
        SpectrumAnalyzer analyser;
        ListStream source(2, 4096);
        source.add(noiseSamples(4096, i));
        analyser.SetSource(&source);
        analyser.GetBuffer();
    }
    for (int i = 0; i < 10; ++i) {
        SpectrumAnalyzer analyser;
        ListStream source(2, 4096);
        analyser.SetSource(&source);
    }
    // An idle thread is woken by a stop rather than seeing it at the end of
    // its wait for the next buffer, which is a second long.
    {
        SpectrumAnalyzer analyser;
        ListStream source(2, 4096);
        analyser.SetSource(&source);
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 5; ++i) {
            ASSERT_TRUE(analyser.Stop(true));
            ASSERT_TRUE(analyser.Start());
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    }
    // A stop requested earlier does not let the destructor free what the
    // still running thread uses.
    for (int i = 0; i < 10; ++i) {
        auto analyser = std::make_unique<SpectrumAnalyzer>();
        ListStream source(1, 4096);
        for (int k = 0; k < 5; ++k) {
            source.add(noiseSamples(256 * 40, k));
        }
        analyser->SetSource(&source);
        for (int k = 0; k < 5; ++k) {
            analyser->GetBuffer();
        }
        analyser->Stop(false);
        analyser.reset();
    }
}

TEST(SpectrumAnalyzer, AnalysersOnManyThreadsShareThePlannerSafely) {
    std::vector<std::thread> threads;
    threads.reserve(4);
    std::atomic<int> good{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &good] {
            for (int round = 0; round < 5; ++round) {
                SpectrumAnalyzer analyser;
                ListStream source(1, t % 2 ? 8820 : 4096);
                source.add(noiseSamples(t % 2 ? 4410 : 2048, t * 10 + round));
                analyser.SetSource(&source);
                analyser.GetBuffer();
                // A reader copying the newest frame while the thread works.
                for (int i = 0; i < 50 && analyser.SpectrumCount() == 0; ++i) {
                    SpectrumFrame f = analyser.FrontSpectrum();
                    (void)f.size();
                    std::this_thread::sleep_for(1ms);
                }
                if (drained(analyser) && analyser.SpectrumCount() == (t % 2 ? 17u : 7u)) {
                    ++good;
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(good.load(), 20);
}

} // namespace

// Buffers read before a new source was set are followed in the layout they
// were read in (the player's output changes from item to item): the heard
// spectra keep their rate, and their positions never run past what was read.
TEST(SpectrumAnalyzer, BuffersQueuedBeforeANewSourceKeepTheirLayout) {
    SpectrumAnalyzer analyser;
    analyser.SetHeardSpectra(true);
    ListStream stereo(2, 17640); // a tenth of a second at 44,100 Hz
    ListStream mono(1, 4410);
    mono.format.assign(pcmFormat(1, 22050, 16));
    for (uint32_t i = 0; i < 5; ++i) {
        stereo.add(noiseSamples(8820, i));
        mono.add(noiseSamples(2205, i));
    }
    analyser.SetSource(&stereo);
    ASSERT_TRUE(analyser.Stop(true)); // the stereo buffers wait in the queue
    for (int i = 0; i < 5; ++i) {
        analyser.GetBuffer();
    }
    analyser.SetSource(&mono); // starts the thread again
    auto analysedAll = [&] {
        for (int i = 0; i < 5000 && analyser.PendingBuffers() != 0; ++i) {
            std::this_thread::sleep_for(1ms);
        }
        return analyser.PendingBuffers() == 0;
    };
    struct Step {
        int monoBuffers;
        uint64_t framesRead;
        uint32_t rate;
    };
    for (const Step step : {Step{0, 22050, 44100}, Step{5, 33075, 22050}}) {
        SCOPED_TRACE(step.rate);
        for (int i = 0; i < step.monoBuffers; ++i) {
            analyser.GetBuffer();
        }
        ASSERT_TRUE(analysedAll());
        EXPECT_EQ(analyser.FramesRead(), step.framesRead);
        const PowerSpectrum latest = analyser.HeardSpectrumAt(0);
        ASSERT_FALSE(latest.isEmpty());
        EXPECT_EQ(latest.sampleRate, step.rate);
        EXPECT_LE(latest.centre + latest.transformSize / 2, step.framesRead);
    }
}
