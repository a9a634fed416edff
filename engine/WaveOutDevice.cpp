#include "engine/WaveOutDevice.h"

#include "platform/WaveOut.h"

#include <cstring>
#include <string>

WaveOutDevice::WaveOutDevice() = default;

WaveOutDevice::~WaveOutDevice() {
    if (playing) {
        Stop();
    }
    Close();
}

void WaveOutDevice::callback(WaveOutHandle, unsigned message, void* instance, uintptr_t param1,
                             uintptr_t) {
    static_cast<WaveOutDevice*>(instance)->dispatch(message, param1);
}

void WaveOutDevice::dispatch(unsigned message, uintptr_t param1) {
    switch (message) {
    case kMmWomOpen:
        OnOpen();
        break;
    case kMmWomClose:
        OnClose();
        break;
    case kMmWomDone:
        OnBufferDone(reinterpret_cast<WaveHeader*>(param1));
        break;
    default:
        break;
    }
}

bool WaveOutDevice::isOpen() const {
    return waveHandle.load() != nullptr;
}

bool WaveOutDevice::deviceLost() const {
    return waveOutDeviceLost(waveHandle.load());
}

uint64_t WaveOutDevice::QueuedFrames() const {
    uint64_t bytes = 0;
    if (openFormat.nBlockAlign == 0 ||
        waveOutGetQueuedBytes(waveHandle.load(), &bytes) != kWaveOk) {
        return 0;
    }
    return bytes / openFormat.nBlockAlign;
}

void WaveOutDevice::SetSource(AudioStream* stream) {
    if (isOpen()) {
        Close();
    }
    source = stream;
    Open();
}

bool WaveOutDevice::Detach() {
    bool closed = Close();
    source = nullptr;
    return closed;
}

bool WaveOutDevice::Open() {
    if (isOpen()) {
        Close();
    }
    const WaveFormat* format = source ? source->GetFormat() : nullptr;
    if (!format) {
        openFailure = "nothing to play";
        return false;
    }
    WaveOutHandle handle = nullptr;
    int result = waveOutOpen(&handle, format, &WaveOutDevice::callback, this);
    std::memcpy(&openFormat, format, kWaveFormatBaseSize);
    playing = false;
    state = kStopped;
    outputPaused = false;
    if (result != kWaveOk) {
        openFailure = result == kWaveBadDevice ? waveOutErrorText() : std::string();
        if (openFailure.empty()) {
            openFailure = "wave-out error " + std::to_string(result);
        }
        return false;
    }
    openFailure.clear();
    if (volume != 0xFFFFFFFF) {
        waveOutSetVolume(handle, volume);
    }
    waveHandle = handle;
    return true;
}

bool WaveOutDevice::Close() {
    WaveOutHandle handle = waveHandle.load();
    if (!handle) {
        return false;
    }
    {
        // Under the queue lock, so that no Write can queue a buffer after
        // the reset below has emptied the device.
        std::lock_guard lock(queueMutex);
        playing = false;
        state = kClosing;
    }
    // Not holding any lock: the reset waits until the notifier thread has
    // handed back every buffer, and OnBufferDone returns at once in state 3.
    if (waveOutReset(handle) == kWaveOk) {
        std::list<AudioBuffer> finished;
        {
            std::lock_guard lock(queueMutex);
            finished.swap(queued);
        }
        finished.clear(); // the last handles: each header is unprepared, then freed
    }
    if (waveOutClose(handle) != kWaveOk) {
        // Buffers are still queued on the device; keep it so that they
        // are not freed under it.
        return false;
    }
    waveHandle = nullptr;
    outputPaused = false;
    endAtResume = false;
    return true;
}

bool WaveOutDevice::Write(AudioBuffer buffer) {
    if (buffer.isEmpty()) {
        return false;
    }
    buffer.header()->loops = 0;
    std::lock_guard lock(queueMutex);
    WaveOutHandle handle = waveHandle.load();
    if (!handle || state == kClosing) {
        return false;
    }
    buffer.prepare(handle);
    if (waveOutWrite(handle, buffer.header(), kWaveHeaderSize) != kWaveOk) {
        return false;
    }
    queued.push_back(std::move(buffer));
    return true;
}

bool WaveOutDevice::fill() {
    size_t count;
    {
        std::lock_guard lock(queueMutex);
        count = queued.size();
    }
    for (size_t i = count; i < size_t(kQueuedBuffers); ++i) {
        if (!Write(source->GetBuffer())) {
            return false;
        }
    }
    return true;
}

void WaveOutDevice::postPlayOver() {
    if (CommandTarget* target = notifyWindow.load()) {
        target->postCommand(kPlayOver);
    }
}

bool WaveOutDevice::Play() {
    if (!isOpen()) {
        return false;
    }
    const WaveFormat* format = source ? source->GetFormat() : nullptr;
    if (format && !sameFormat(*format, openFormat)) {
        // The source changed its format since the device opened.
        Close();
        if (!Open()) {
            return false;
        }
    }
    if (!source) {
        return false;
    }
    std::lock_guard pull(pullMutex);
    endAtResume = false;
    bool filled = fill();
    if (!filled) {
        bool anyQueued;
        {
            std::lock_guard lock(queueMutex);
            anyQueued = !queued.empty();
        }
        if (!anyQueued) {
            return false; // nothing to play: the state stays as it was
        }
        // The source ran out before five buffers were queued (an item
        // shorter than half a second). What is queued still plays and
        // PlayOver follows; the device counts as playing an item that ran
        // out, so that its end reads as the end of the item and not as a
        // Stop by the user.
    }
    if (outputPaused) {
        // Playing again after a pause that was stopped rather than resumed:
        // the device must run, or the state would say playing in silence.
        waveOutRestart(waveHandle.load());
        outputPaused = false;
    }
    playing = filled;
    state = kPlaying;
    return filled;
}

int32_t WaveOutDevice::Stop() {
    if (!isOpen()) {
        return 0;
    }
    playing = false;
    state = kStopped;
    endAtResume = false;
    return 1;
}

void WaveOutDevice::Restart() {
    if (!isOpen()) {
        return;
    }
    Stop();
    if (source) {
        // Under pullMutex: a buffer pulled before Stop is written before the
        // rewind, never after it.
        std::lock_guard pull(pullMutex);
        source->Rewind();
    }
    Play();
}

bool WaveOutDevice::Seek(uint32_t seconds) {
    WaveOutHandle handle = waveHandle.load();
    const int32_t now = state.load();
    if (!handle || !source || (now != kPlaying && now != kPaused)) {
        return false;
    }
    {
        // Under pullMutex: a completion that is pulling finishes first, and
        // every later one sees the flag.
        std::lock_guard pull(pullMutex);
        std::lock_guard lock(queueMutex);
        if (now == kPlaying && !playing && queued.empty()) {
            return false; // ran out and drained: its PlayOver is posted
        }
        flushing = true;
    }
    // No lock held: the reset waits for the notifier thread, whose
    // completions return at once while flushing.
    const bool reset = waveOutReset(handle) == kWaveOk;
    std::list<AudioBuffer> dropped;
    bool anyQueued;
    {
        std::lock_guard pull(pullMutex);
        {
            std::lock_guard lock(queueMutex);
            if (reset) {
                dropped.swap(queued); // handed back by the reset, unheard
            }
            flushing = false;
        }
        source->Seek(seconds);
        playing = fill();
        std::lock_guard lock(queueMutex);
        anyQueued = !queued.empty();
    }
    dropped.clear();
    endAtResume = false;
    if (!anyQueued) {
        // Nothing left to play: the item ends here, as at its end.
        playing = false;
        if (now == kPaused) {
            endAtResume = true;
        } else {
            postPlayOver();
        }
    }
    return true;
}

bool WaveOutDevice::Pause() {
    WaveOutHandle handle = waveHandle.load();
    if (!handle || state != kPlaying) {
        return false;
    }
    waveOutPause(handle);
    outputPaused = true;
    state = kPaused;
    return true;
}

bool WaveOutDevice::Resume() {
    WaveOutHandle handle = waveHandle.load();
    if (!handle || state != kPaused) {
        return false;
    }
    waveOutRestart(handle);
    outputPaused = false;
    state = kPlaying;
    if (endAtResume) {
        endAtResume = false;
        postPlayOver();
    }
    return true;
}

int WaveOutDevice::SetVolume(uint32_t value) {
    volume = value;
    WaveOutHandle handle = waveHandle.load();
    if (!handle) {
        return kWaveInvalidHandle;
    }
    return waveOutSetVolume(handle, value);
}

void WaveOutDevice::SetNotifyWindow(CommandTarget* target) {
    notifyWindow = target;
}

void WaveOutDevice::OnBufferDone(WaveHeader* header) {
    if (state == kClosing) {
        return; // Close disposes of the buffers
    }
    std::lock_guard pull(pullMutex);
    if (flushing) {
        return; // Seek drops the queued buffers and frees them
    }
    if (source && playing) {
        // queueMutex is not held here: GetBuffer takes the source's own lock.
        if (!Write(source->GetBuffer())) {
            playing = false; // the source is exhausted, or the write failed
        }
    }
    bool over;
    {
        AudioBuffer finished = AudioBuffer::fromHeader(header);
        {
            std::lock_guard lock(queueMutex);
            if (state == kClosing) {
                return; // Close began meanwhile; it frees every queued buffer
            }
            queued.remove_if([&](const AudioBuffer& b) { return b.sameBlock(finished); });
            over = queued.empty() && !playing;
        }
        // finished goes out of scope here: the last handle, so the header is
        // unprepared and the block freed.
    }
    if (over) {
        postPlayOver();
    }
}
