#include "record/WaveRecorder.h"

#include "platform/MessageBox.h"

#include <string>
#include <utility>

WaveRecorder::WaveRecorder() : writer(std::make_unique<WaveFileWriter>()) {}

WaveRecorder::~WaveRecorder() {
    Stop();
    std::lock_guard lock(mutex);
    writer.reset();
    pending.clear();
}

void WaveRecorder::OnOpen() {}

void WaveRecorder::OnClose() {}

void WaveRecorder::SetOutputFile(const std::string& path) {
    std::lock_guard lock(mutex);
    writer->SetFileName(path);
}

bool WaveRecorder::isRecording() const {
    std::lock_guard lock(mutex);
    return recording;
}

uint32_t WaveRecorder::buffersWritten() const {
    std::lock_guard lock(mutex);
    return written;
}

uint64_t WaveRecorder::bytesCaptured() const {
    std::lock_guard lock(mutex);
    return device ? waveInCapturedBytes(device) : captured;
}

uint32_t WaveRecorder::Start() {
    if (waveInGetNumDevs() == 0) {
        // SDL's reason on a second line: no sound server, no input on it.
        const std::string reason = waveInErrorText();
        showMessage(reason.empty() ? std::string(kNoDeviceMessage)
                                   : std::string(kNoDeviceMessage) + "\n" + reason);
        return 0;
    }
    if (waveInGetDevCaps(0, &capabilities, sizeof capabilities) != kWaveOk) {
        showMessage(kNoCapabilitiesMessage);
    }
    format = pcmFormat(1, sampleRate, 16);

    WaveInHandle opened = nullptr;
    const int openResult =
        waveInOpen(&opened, kWaveMapper, &format, &WaveRecorder::WaveInCallback, this);
    if (openResult != kWaveOk) {
        showMessage(kOpenFailedMessage);
        return uint32_t(openResult);
    }

    bool allQueued = true;
    {
        std::lock_guard lock(mutex);
        device = opened;
        written = 0;
        captured = 0;
        for (int i = 0; i < kQueuedBuffers && allQueued; ++i) {
            allQueued = queueBufferLocked();
        }
    }

    if (!allQueued) {
        // The device stays open and silent until Stop; no file is touched.
        return 0;
    }
    std::unique_lock lock(mutex);
    // Under the lock: a buffer that completes at once waits here until the
    // file is open and the flag says it is to be written. waveInStart does
    // not wait for the notifier thread.
    const int startResult = waveInStart(opened);
    if (startResult != kWaveOk) {
        lock.unlock();
        // The file of an earlier take is left as it was.
        showMessage(kStartFailedMessage);
        return uint32_t(startResult);
    }
    // Only now that capture runs is the file replaced. A message about it
    // holds the notifier thread until it is answered; a file that cannot be
    // written loses nothing by that.
    writer->SetFormat(format);
    writer->Open(true);
    writer->Begin();
    recording = true;
    return 0;
}

bool WaveRecorder::QueueBuffer() {
    std::lock_guard lock(mutex);
    return queueBufferLocked();
}

bool WaveRecorder::queueBufferLocked() {
    if (!device) {
        return false;
    }
    AudioBuffer buffer = AudioBuffer::allocate(2 * bufferLength);
    if (!buffer.hasBlock() || buffer.length() != 2 * bufferLength) {
        return false;
    }
    buffer.setKind(BufferKind::WaveIn);
    buffer.prepare(device);
    if (waveInAddBuffer(device, buffer.header(), kWaveHeaderSize) != kWaveOk) {
        return false; // the last handle goes: unprepared and freed
    }
    pending.push_back(std::move(buffer));
    return true;
}

void WaveRecorder::WaveInCallback(WaveInHandle, unsigned message, void* instance, uintptr_t param1,
                                  uintptr_t) {
    auto* recorder = static_cast<WaveRecorder*>(instance);
    if (!recorder) {
        return;
    }
    switch (message) {
    case kWimOpen:
        recorder->OnOpen();
        break;
    case kWimClose:
        recorder->OnClose();
        break;
    case kWimData:
        recorder->OnData(reinterpret_cast<WaveHeader*>(param1));
        break;
    default:
        break;
    }
}

void WaveRecorder::OnData(WaveHeader* header) {
    std::lock_guard lock(mutex);
    if (!device || !header) {
        return;
    }
    if (!recording) {
        // A buffer handed back by Stop's reset stays pending for Stop. After
        // a lost device, what it holds is the last sound really captured,
        // and is kept.
        if (salvaging && header->bytesRecorded > 0 && writer && writer->isRunning()) {
            AudioBuffer partial = AudioBuffer::fromHeader(header);
            partial.setLength(header->bytesRecorded);
            writer->Write(partial);
            partial.setLength(header->bufferLength);
        }
        return;
    }
    recording = queueBufferLocked();
    AudioBuffer buffer = AudioBuffer::fromHeader(header);
    // A writer that is not running (its file could not be created, or it
    // reached its size limit) would only pile the sound up in memory.
    if (recording && writer && writer->isRunning()) {
        if (writer->Write(buffer)) {
            ++written;
        }
    }
    pending.remove_if([&](const AudioBuffer& held) { return held.sameBlock(buffer); });
    // buffer, the last handle, is released here: unprepared and freed.
}

void WaveRecorder::Stop() {
    WaveInHandle opened = nullptr;
    {
        std::lock_guard lock(mutex);
        if (!device) {
            return;
        }
        opened = device;
        // Cleared before the reset: the buffers the reset hands back, the
        // partly filled one among them, are not written, unless the device
        // was lost: capture ended there, and all it took is kept.
        salvaging = recording && waveInDeviceLost(opened);
        recording = false;
    }
    // Not under the lock: the reset waits until the notifier thread has
    // delivered every buffer, and OnData takes the lock.
    const int resetResult = waveInReset(opened);
    std::list<AudioBuffer> released;
    {
        std::lock_guard lock(mutex);
        captured = waveInCapturedBytes(opened);
        if (resetResult == kWaveOk) {
            released.swap(pending);
        }
    }
    released.clear(); // unprepared while the device is still open
    waveInClose(opened);

    std::lock_guard lock(mutex);
    writer->Finish();
    writer->Close();
    device = nullptr;
    salvaging = false;
}

bool WaveRecorder::inputLost() const {
    std::lock_guard lock(mutex);
    return recording && waveInDeviceLost(device);
}
