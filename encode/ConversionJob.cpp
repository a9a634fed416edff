#include "encode/ConversionJob.h"

#include "base/CommandTarget.h"
#include "cd/CdDrive.h"
#include "engine/WaveStream.h"
#include "engine/WmaStream.h"
#include "platform/CdLibrary.h"
#include "platform/MessageBox.h"
#include "playlist/AudioItem.h"

#include <algorithm>
#include <filesystem>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>

namespace {

void lowerToIdlePriority() {
    sched_param param{};
    param.sched_priority = 0;
    // Best effort: a system that refuses keeps the normal priority.
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
}

// Whether two paths name one file: the same device and inode when both
// exist (through symbolic and hard links), otherwise the same path once
// resolved.
bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    if (::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0) {
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
    }
    std::error_code errorA;
    std::error_code errorB;
    const auto resolvedA = std::filesystem::weakly_canonical(a, errorA);
    const auto resolvedB = std::filesystem::weakly_canonical(b, errorB);
    return !errorA && !errorB && resolvedA == resolvedB;
}

} // namespace

AudioBuffer ConversionJob::StopGate::GetBuffer() {
    if (stopped.load(std::memory_order_acquire)) {
        return {};
    }
    return mixer.GetBuffer();
}

ConversionJob::ConversionJob(double sampleRate, uint16_t channels) : gate(mixer, stopRequested) {
    mixer.outputSampleRate = sampleRate;
    mixer.outputChannels = channels;
    mixer.calcoutputformat();
}

ConversionJob::~ConversionJob() {
    Stop();
    Wait();
}

bool ConversionJob::LoadSource(const std::string& path) {
    // A new item starts a new job: a stop meant for an earlier one is over.
    stopRequested.store(false, std::memory_order_release);
    // Stop ends an open in progress too: a file that takes long to probe
    // does not hold the job.
    mixer.SetStopFlag(&stopRequested);
    mixer.RemoveAll();
    loadedStream = nullptr;
    sourcePath = path;
    if (!isLoadableItem(path)) {
        showMessage(kUnknownSourceMessage);
        return false;
    }
    const FileKind kind = fileKind(path, ExtensionRule::LastThree);
    try {
        if (kind == FileKind::Wave) {
            loadedStream = mixer.LoadWave(path.c_str());
        } else if (readByMediaReader(kind)) {
            loadedStream = mixer.LoadWMA(path.c_str());
        } else {
            loadedStream = mixer.LoadCdTrack(trackIndexOfName(path));
        }
    } catch (...) {
        // Loading a CD track reports nothing itself: a failure inside it
        // (out of memory) is a source that cannot be opened.
        loadedStream = nullptr;
    }
    if (!loadedStream) {
        showMessage(kCannotOpenSourceMessage);
        return false;
    }
    return true;
}

bool ConversionJob::SetTarget(const std::string& targetPath) {
    const FileKind kind = fileKind(targetPath, ExtensionRule::LastThree);
    OutputFile* chosen = nullptr;
    if (kind == FileKind::Mp3) {
        chosen = &mp3Writer;
        activeWriter = WriterKind::Mp3;
    } else if (kind == FileKind::Wave) {
        chosen = &waveWriter;
        activeWriter = WriterKind::Wave;
    } else {
        showMessage(kFormatNotSupportedMessage);
        return false;
    }
    // Opening the target truncates it: were it the source, the item would
    // be destroyed before it is read. A CD track of a disc image is read
    // from the image's sheet and the data files it names.
    std::vector<std::string> sources;
    if (dynamic_cast<CdDrive*>(loadedStream)) {
        sources = firstDriveImageFiles();
    } else if (!sourcePath.empty()) {
        sources.push_back(sourcePath);
    }
    if (std::any_of(sources.begin(), sources.end(),
                    [&](const std::string& source) { return sameFile(source, targetPath); })) {
        showMessage(kTargetIsSourceMessage);
        activeWriter = WriterKind::None;
        return false;
    }
    chosen->SetSource(&gate);
    chosen->SetFileName(targetPath);
    return true;
}

std::string ConversionJob::Mp3RateNotice() const {
    const auto rate = uint32_t(mixer.outputSampleRate);
    if (activeWriter != WriterKind::Mp3 || Mp3FileWriter::holdsSampleRate(rate)) {
        return {};
    }
    const uint32_t written = Mp3FileWriter::encodedRate(pcmFormat(1, rate, 16));
    if (written == 0) {
        return {};
    }
    return "The MP3 file will have a sample rate of " + std::to_string(written) + " Hz, not " +
           std::to_string(rate) + " Hz: an MP3 file holds only " +
           Mp3FileWriter::sampleRateList(", ", " or ") + " Hz.";
}

OutputFile* ConversionJob::writer() {
    switch (activeWriter) {
    case WriterKind::Mp3:
        return &mp3Writer;
    case WriterKind::Wave:
        return &waveWriter;
    default:
        return nullptr;
    }
}

int ConversionJob::TargetSystemError() {
    const OutputFile* out = writer();
    return out ? out->SystemError() : 0;
}

ConversionJob::Result ConversionJob::RunHere() {
    OutputFile* out = writer();
    Result outcome = Result::Failed;
    if (out && loadedStream && !stopRequested.load(std::memory_order_acquire)) {
        // Loading pulled the item's first buffer through the analyser:
        // start again from the beginning so that the file holds all of it.
        mixer.Rewind();
        bool ok = out->Run();
        auto* drive = dynamic_cast<CdDrive*>(loadedStream);
        if (!ok) {
            outcome = Result::Failed;
        } else if (stopRequested.load(std::memory_order_acquire)) {
            outcome = Result::Stopped;
        } else if (drive && !drive->discReady) {
            // The track ended early because a read failed, not at its end.
            showMessage(kTrackCutShortMessage);
            outcome = Result::Failed;
        } else {
            outcome = Result::Completed;
        }
    } else if (stopRequested.load(std::memory_order_acquire)) {
        outcome = Result::Stopped;
    }
    result.store(outcome, std::memory_order_release);
    finished.store(true, std::memory_order_release);
    return outcome;
}

bool ConversionJob::Start(std::function<void(Result)> onDone, CommandTarget* target) {
    if (!loadedStream || !writer() || worker.joinable()) {
        return false;
    }
    finished.store(false, std::memory_order_release);
    result.store(Result::NotRun, std::memory_order_release);
    bool idle = idlePriority;
    worker = std::thread([this, idle, onDone = std::move(onDone), target] {
        if (idle) {
            lowerToIdlePriority();
        }
        Result outcome = RunHere();
        if (onDone) {
            onDone(outcome);
        }
        if (target) {
            target->postCommand(kEncodeOver);
        }
    });
    return true;
}

void ConversionJob::Stop() {
    // The gate ends the writer's stream at the next buffer, so the writer
    // completes its file with everything it has read (the MP3 writer
    // flushes its last partial chunk) rather than drop the buffer in hand.
    stopRequested.store(true, std::memory_order_release);
}

void ConversionJob::Wait() {
    if (worker.joinable()) {
        worker.join();
    }
}

double ConversionJob::Position() {
    return loadedStream ? mixer.GetPosition() : -1.0;
}

double ConversionJob::Duration() {
    return loadedStream ? mixer.GetDuration() : -1.0;
}

int ConversionJob::Percent() {
    double duration = Duration();
    if (!(duration > 0.0)) {
        return 0;
    }
    double percent = Position() * 100.0 / duration;
    return int(std::clamp(percent, 0.0, 100.0));
}
