#include "spectrum/SpectrumAnalyzer.h"

#include "platform/MessageBox.h"

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

constexpr double kSampleScale = 1.0 / 32767.0;
// How long an idle analysis thread waits before it looks at `state` again.
// A queued buffer and Stop wake it at once; the wait only bounds a stop
// requested some other way. An analyser idles for as long as its item is
// loaded and not playing, so a short wait would cost wake-ups for nothing.
constexpr auto kIdleWait = std::chrono::seconds(1);

int16_t sampleAt(const uint8_t* bytes, size_t index) {
    return static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * index]) |
                                static_cast<uint16_t>(bytes[2 * index + 1]) << 8);
}

} // namespace

SpectrumAnalyzer::SpectrumAnalyzer() : WorkerThread(false) {}

SpectrumAnalyzer::~SpectrumAnalyzer() {
    // Run() uses the queues and the plan: the thread must be gone before they
    // are, also when a stop was requested earlier. It ends only once it has
    // emptied the input queue. An idle thread is woken to see the stop at
    // once rather than at the end of its wait.
    SpectrumAnalyzer::Stop(false);
    WaitForEnd();
    std::lock_guard<std::mutex> lock(mutex);
    plan.reset();
    inputQueue.clear();
    spectra.clear();
}

const WaveFormat* SpectrumAnalyzer::GetFormat() {
    return source ? source->GetFormat() : nullptr;
}

AudioBuffer SpectrumAnalyzer::GetBuffer() {
    if (!source) {
        return {};
    }
    AudioBuffer buffer = source->GetBuffer();
    if (!buffer.isEmpty()) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            inputQueue.push_front({buffer, channels, sampleRate});
            framesRead += channels ? buffer.length() / (2u * channels) : 0;
        }
        // Woken with the lock released, so that the analysis thread does not
        // wake only to wait for it again.
        queued.notify_one();
    }
    return buffer;
}

void SpectrumAnalyzer::SetSource(AudioStream* stream) {
    if (!stream) {
        // Detaching: nothing will be read, the transform stays as it is.
        FilterStream::SetSource(nullptr);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        plan.reset();
        const WaveFormat* format = stream->GetFormat();
        channels = format ? format->nChannels : 0;
        sampleRate = format ? format->nSamplesPerSec : 0;
        // Sample frames of 16 bits in one request, rounded down to even. A
        // format without channels gives 0 rather than a division by zero.
        uint32_t frames = channels ? 2 * ((stream->requestSize / channels) / 4) : 0;
        if (fftSize >= frames) {
            fftSize = frames;
        } else {
            uint32_t d = frames / 256 ? frames / 256 : 1;
            for (; d < 1024; ++d) {
                if (frames % d == 0) {
                    fftSize = frames / d;
                    break;
                }
            }
        }
        plan = RealFftPlan::create(fftSize);
    }
    uint32_t current = state.load();
    if (current == 0 || current == 1) {
        Start();
    }
    FilterStream::SetSource(stream);
}

bool SpectrumAnalyzer::Stop(bool wait) {
    WorkerThread::Stop(false);
    {
        // Taking the lock orders the request before the thread's next look
        // at `state`: it cannot check, miss the request and then sleep.
        std::lock_guard<std::mutex> lock(mutex);
        queued.notify_all();
    }
    return wait ? WaitForEnd() : true;
}

void SpectrumAnalyzer::Run() {
    while (state.load() != 1) {
        for (;;) {
            QueuedBuffer next;
            bool failed = false;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (inputQueue.empty()) {
                    break;
                }
                next = std::move(inputQueue.back());
                inputQueue.pop_back();
                if (!next.buffer.isEmpty()) {
                    try {
                        Analyse(next.buffer);
                    } catch (...) {
                        failed = true;
                    }
                    try {
                        Follow(next);
                    } catch (...) {
                        // Out of memory: the display loses its history and
                        // starts again with the next buffer.
                        heard.clear();
                    }
                    while (spectra.size() >= spectrumLimit) {
                        spectra.pop_back();
                    }
                }
            }
            // Shown with the lock released: the message may need the
            // user-interface thread, which can be waiting for this lock in
            // SetSource.
            if (failed) {
                showMessage(kFailureText);
            }
        }
        // Waiting on the queue rather than polling it every few
        // milliseconds: an analyser (one per loaded item, and the output's)
        // would otherwise wake hundreds of times a second while playback is
        // idle, which costs more than all of its transforms.
        std::unique_lock<std::mutex> lock(mutex);
        queued.wait_for(lock, kIdleWait,
                        [this] { return !inputQueue.empty() || state.load() == 1; });
    }
}

void SpectrumAnalyzer::Analyse(const AudioBuffer& buffer) {
    if (!plan) {
        return; // no transform size (a request too small to hold one)
    }
    if (channels == 0) {
        throw std::runtime_error("format without channels");
    }
    const size_t frames = (buffer.length() / channels) / 2;
    const size_t blocks = frames / fftSize;
    if (blocks < 2) {
        return; // only the last whole block, which is never transformed
    }
    const size_t step = channels == 2 ? 2 : 1;
    std::vector<double> input(frames);
    const uint8_t* bytes = buffer.data();
    for (size_t i = 0; i < frames; ++i) {
        input[i] = sampleAt(bytes, i * step) * kSampleScale;
    }
    for (size_t j = 0; j + 1 < blocks; ++j) {
        SpectrumFrame frame = SpectrumFrame::allocate(fftSize + 1);
        plan->execute(input.data() + j * fftSize, frame.data());
        spectra.push_front(std::move(frame));
    }
}

void SpectrumAnalyzer::Follow(const QueuedBuffer& queuedBuffer) {
    const AudioBuffer& buffer = queuedBuffer.buffer;
    const uint32_t count = queuedBuffer.channels;
    const size_t frames = count ? buffer.length() / (2u * count) : 0;
    const uint64_t first = framesAnalysed;
    framesAnalysed += frames;
    // A new rate (the next item's) starts the spectra afresh.
    if (!followHeard || frames == 0 || !heard.setRate(queuedBuffer.rate)) {
        return;
    }
    std::vector<double> mono(frames);
    const uint8_t* bytes = buffer.data();
    const double scale = kSampleScale / count;
    for (size_t i = 0; i < frames; ++i) {
        int32_t sum = 0;
        for (uint32_t c = 0; c < count; ++c) {
            sum += sampleAt(bytes, i * count + c);
        }
        mono[i] = sum * scale;
    }
    heard.push(mono.data(), frames, first);
}

void SpectrumAnalyzer::SetHeardSpectra(bool on) {
    std::lock_guard<std::mutex> lock(mutex);
    followHeard = on;
    if (on) {
        heard.setRate(sampleRate);
    } else {
        heard.clear();
    }
}

PowerSpectrum SpectrumAnalyzer::HeardSpectrumAt(uint64_t unheardFrames) {
    std::lock_guard<std::mutex> lock(mutex);
    if (!followHeard) {
        return {};
    }
    return heard.at(framesRead > unheardFrames ? framesRead - unheardFrames : 0);
}

uint64_t SpectrumAnalyzer::FramesRead() {
    std::lock_guard<std::mutex> lock(mutex);
    return framesRead;
}

uint32_t SpectrumAnalyzer::SpectrumCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<uint32_t>(spectra.size());
}

SpectrumFrame SpectrumAnalyzer::FrontSpectrum() {
    std::lock_guard<std::mutex> lock(mutex);
    return spectra.empty() ? SpectrumFrame() : spectra.front();
}

std::deque<SpectrumFrame> SpectrumAnalyzer::Spectra() {
    std::lock_guard<std::mutex> lock(mutex);
    return spectra;
}

uint32_t SpectrumAnalyzer::PendingBuffers() {
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<uint32_t>(inputQueue.size());
}

uint32_t SpectrumAnalyzer::FftSize() {
    std::lock_guard<std::mutex> lock(mutex);
    return fftSize;
}

bool SpectrumAnalyzer::HasPlan() {
    std::lock_guard<std::mutex> lock(mutex);
    return plan != nullptr;
}
