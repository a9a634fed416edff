#include "mixer/Mixer.h"

#include "cd/CdDrive.h"
#include "engine/ConversionStream.h"
#include "engine/WaveStream.h"
#include "engine/WmaStream.h"
#include "platform/MessageBox.h"
#include "spectrum/SpectrumAnalyzer.h"

#include <exception>
#include <memory>
#include <utility>

namespace {

constexpr const char* kLoadWaveFailed = "Exception in Mixer::LoadWave!";
constexpr const char* kLoadWmaFailed = "Exception in Mixer::LoadWMA!";
constexpr const char* kAttachConversionFailed =
    "Exception attaching a conversion stream in Mixer::AddStream!";
constexpr const char* kCreateAnalyserFailed =
    "Exception creating spectrum analyzer in Mixer::AddStream!";
constexpr const char* kFirstBufferFailed =
    "Exception requesting a stream buffer in Mixer::AddStream!";
constexpr const char* kAddStreamFailed = "Exception in Mixer::AddStream!";
constexpr const char* kCalcFormatFailed = "Exception in Mixer::calcoutputformat!";

// The smallest known value of the entries' sources; -1.0 (unknown) only
// when no source knows.
template <typename Entries, typename Get> double smallestKnown(const Entries& entries, Get get) {
    double result = -1.0;
    for (const auto& entry : entries) {
        double value = get(entry.source);
        if (result == -1.0 || (value != -1.0 && value < result)) {
            result = value;
        }
    }
    return result;
}

} // namespace

Mixer::Mixer() : embeddedAnalyser(std::make_unique<SpectrumAnalyzer>()) {
    computeOutputFormat();
}

Mixer::~Mixer() {
    RemoveAll();
    // The embedded analyser reads nothing, but its source is this Mixer:
    // end its thread while the Mixer is still whole.
    embeddedAnalyser.reset();
}

AudioBuffer Mixer::GetBuffer() {
    std::lock_guard lock(mutex);
    if (entries.empty()) {
        return {};
    }
    ConversionStream& conversion = *entries.front().conversion;
    AudioBuffer first = carried.isEmpty() ? conversion.GetBuffer() : std::exchange(carried, {});
    const uint32_t enough = requestSize / 4 * 3;
    if (first.isEmpty() || first.length() >= enough) {
        return first;
    }
    // Joined into a block of its own: the conversion's buffers may share
    // their blocks with other readers.
    AudioBuffer joined;
    if (!joined.appendBuffer(first)) {
        return first;
    }
    while (joined.length() < enough) {
        AudioBuffer next = conversion.GetBuffer();
        if (next.isEmpty()) {
            break;
        }
        if (!joined.appendBuffer(next)) {
            carried = std::move(next);
            break;
        }
    }
    return joined;
}

// Seeking goes through each entry's conversion, which moves its source and
// drops what the converter held from the old position.
void Mixer::Rewind() {
    std::lock_guard lock(mutex);
    carried = AudioBuffer();
    for (auto& entry : entries) {
        entry.conversion->Rewind();
    }
}

void Mixer::SkipBack(uint32_t seconds) {
    std::lock_guard lock(mutex);
    carried = AudioBuffer();
    for (auto& entry : entries) {
        entry.conversion->SkipBack(seconds);
    }
}

void Mixer::SkipForward(uint32_t seconds) {
    std::lock_guard lock(mutex);
    carried = AudioBuffer();
    for (auto& entry : entries) {
        entry.conversion->SkipForward(seconds);
    }
}

void Mixer::Seek(uint32_t seconds) {
    std::lock_guard lock(mutex);
    carried = AudioBuffer();
    for (auto& entry : entries) {
        entry.conversion->Seek(seconds);
    }
}

double Mixer::GetPosition() {
    std::lock_guard lock(mutex);
    return smallestKnown(entries, [](AudioStream* s) { return s->GetPosition(); });
}

double Mixer::GetDuration() {
    std::lock_guard lock(mutex);
    return smallestKnown(entries, [](AudioStream* s) { return s->GetDuration(); });
}

WaveStream* Mixer::LoadWave(const char* path) {
    if (!path) {
        return nullptr;
    }
    try {
        auto stream = std::make_unique<WaveStream>();
        if (!stream->LoadWave(path) || !AddStream(stream.get(), true)) {
            return nullptr;
        }
        isCdTrack = false;
        return stream.release();
    } catch (...) {
        showMessage(kLoadWaveFailed);
        return nullptr;
    }
}

WmaStream* Mixer::LoadWMA(const char* path) {
    if (!path) {
        return nullptr;
    }
    try {
        auto stream = std::make_unique<WmaStream>();
        stream->SetStopFlag(stopFlag);
        if (stream->Open(path) < 0 || !AddStream(stream.get(), true)) {
            return nullptr;
        }
        isCdTrack = false;
        return stream.release();
    } catch (...) {
        showMessage(kLoadWmaFailed);
        return nullptr;
    }
}

CdDrive* Mixer::LoadCdTrack(int track) {
    auto stream = std::make_unique<CdDrive>();
    if (!stream->OpenTrack(track) || !AddStream(stream.get(), true)) {
        return nullptr;
    }
    isCdTrack = true;
    return stream.release();
}

bool Mixer::AddStream(AudioStream* stream, bool owned) {
    if (!stream) {
        return false;
    }
    const char* failure = nullptr;
    bool formatFailed = false;
    {
        std::lock_guard lock(mutex);
        carried = AudioBuffer();
        // The stages built so far, owned here until the entry holds them;
        // a failure deletes them again (the caller deletes the stream).
        std::unique_ptr<ConversionStream> conversion;
        std::unique_ptr<SpectrumAnalyzer> analyser;
        bool added = false;
        const char* step = kAddStreamFailed;
        try {
            StreamEntry entry;
            entry.source = stream;
            entry.owned = owned;
            entry.tail = stream;

            step = kAttachConversionFailed;
            conversion = std::make_unique<ConversionStream>();
            conversion->SetSource(entry.tail);
            entry.conversion = conversion.get();
            entry.tail = conversion.get();

            step = kCreateAnalyserFailed;
            analyser = std::make_unique<SpectrumAnalyzer>();
            analyser->SetSource(entry.tail);
            entry.analyser = analyser.get();
            entry.tail = analyser.get();

            // The analyser sees the item's first buffer; readers that want
            // the whole item rewind the Mixer before reading.
            step = kFirstBufferFailed;
            entry.buffer = analyser->GetBuffer();

            step = kAddStreamFailed;
            entries.push_back(entry);
            added = true;
            // The entry owns the stages now: Remove and RemoveAll delete them.
            static_cast<void>(conversion.release());
            static_cast<void>(analyser.release());
            formatFailed = !computeOutputFormat();
            if (!embeddedAnalyser->source) {
                embeddedAnalyser->SetSource(this);
            }
        } catch (...) {
            failure = step;
            if (added) {
                StreamEntry last = entries.back();
                entries.pop_back();
                conversion.reset(last.conversion);
                analyser.reset(last.analyser);
            }
        }
        // The analyser reads the conversion: it goes first. Deleting it
        // joins its thread, which takes only the analyser's own lock.
        analyser.reset();
        conversion.reset();
    }
    // Messages are shown outside the lock: a reader must not wait for the
    // user.
    if (formatFailed) {
        showMessage(kCalcFormatFailed);
    }
    if (failure) {
        showMessage(failure);
        return false;
    }
    return true;
}

void Mixer::RemoveAll() {
    std::vector<StreamEntry> removed;
    std::lock_guard lock(mutex);
    removed.swap(entries);
    carried = AudioBuffer();
    // Deleted under the lock: a reader on another thread may be inside
    // GetBuffer, and must finish with the chain before it goes. Each
    // analyser's thread takes only the analyser's lock, so joining it here
    // cannot wait for the Mixer.
    for (auto& entry : removed) {
        delete entry.analyser;
        delete entry.conversion;
        if (entry.owned) {
            delete entry.source;
        }
        entry.buffer = AudioBuffer();
    }
}

void Mixer::calcoutputformat() {
    bool ok;
    {
        std::lock_guard lock(mutex);
        ok = computeOutputFormat();
    }
    if (!ok) {
        showMessage(kCalcFormatFailed);
    }
}

bool Mixer::computeOutputFormat() {
    carried = AudioBuffer(); // in the layout being replaced
    try {
        uint16_t channels = outputChannels == 2 ? 2 : 1;
        auto rate = static_cast<uint32_t>(outputSampleRate);
        const WaveFormat* item = entries.empty() ? nullptr : entries.front().source->GetFormat();
        if (item && followItemChannels && item->nChannels != 0) {
            channels = item->nChannels >= 2 ? 2 : 1;
        }
        if (item && followItemRate && item->nSamplesPerSec != 0) {
            rate = item->nSamplesPerSec;
        }
        outputFormat = pcmFormat(channels, rate, 16);
        requestSize = outputFormat.nBlockAlign *
                      ((outputFormat.nAvgBytesPerSec / 10) / outputFormat.nBlockAlign);
        for (auto& entry : entries) {
            entry.conversion->SetOutputFormat(&outputFormat);
        }
        // An analyser reading the output learns its new layout.
        if (embeddedAnalyser && embeddedAnalyser->source) {
            embeddedAnalyser->SetSource(this);
        }
        return true;
    } catch (...) {
        return false;
    }
}

AudioStream* Mixer::GetStream(int index) {
    std::lock_guard lock(mutex);
    if (index < 0 || size_t(index) >= entries.size()) {
        return nullptr;
    }
    return entries[size_t(index)].source;
}

bool Mixer::hasEntries() {
    std::lock_guard lock(mutex);
    return !entries.empty();
}

SpectrumAnalyzer& Mixer::outputAnalyser() {
    std::lock_guard lock(mutex);
    // Attached once: AddStream attaches it again to the same Mixer after each
    // stream, which changes nothing a reader sees.
    if (!embeddedAnalyser->source) {
        embeddedAnalyser->SetSource(this);
    }
    return *embeddedAnalyser;
}
