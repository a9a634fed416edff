#include "platform/HeaderQueue.h"

#include <system_error>
#include <utility>

namespace {

// The queue whose notifier runs on this thread, if any: handing back and
// closing wait for the notifier and must not be called from it.
thread_local const HeaderQueue* notifierQueue = nullptr;

} // namespace

bool HeaderQueue::startNotifier(Messages kinds, Deliver to, std::function<void()> task) {
    messages = kinds;
    deliver = std::move(to);
    chore = std::move(task);
    try {
        notifier = std::thread(&HeaderQueue::runNotifier, this);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool HeaderQueue::onNotifierThread() const {
    return notifierQueue == this;
}

int HeaderQueue::addLocked(WaveHeader* header) {
    if (closing) {
        return kWaveInvalidHandle;
    }
    if (!(header->flags & kWaveHeaderPrepared)) {
        return kWaveUnprepared;
    }
    if (header->flags & kWaveHeaderInQueue) {
        return kWaveStillPlaying;
    }
    header->flags = (header->flags & ~kWaveHeaderDone) | kWaveHeaderInQueue;
    queue.push_back(header);
    return kWaveOk;
}

WaveHeader* HeaderQueue::frontLocked() const {
    return queue.empty() ? nullptr : queue.front();
}

uint64_t HeaderQueue::queuedBytesLocked() const {
    uint64_t bytes = 0;
    for (const WaveHeader* header : queue) {
        bytes += header->bufferLength;
    }
    return bytes;
}

void HeaderQueue::finishFrontLocked() {
    finished.push_back(queue.front());
    queue.pop_front();
    ++finishedCount;
}

void HeaderQueue::wakeNotifier() {
    wake.notify_one();
}

void HeaderQueue::handBackAll(std::unique_lock<std::mutex>& held) {
    finishedCount += queue.size();
    finished.insert(finished.end(), queue.begin(), queue.end());
    queue.clear();
    const uint64_t target = finishedCount;
    wake.notify_one();
    delivered.wait(held, [&] { return deliveredCount >= target; });
}

bool HeaderQueue::beginClose() {
    // Headers already through are handed back first; one still queued makes
    // the close fail.
    std::unique_lock held(headersMutex);
    delivered.wait(held, [this] { return !queue.empty() || deliveredCount == finishedCount; });
    if (!queue.empty()) {
        return false;
    }
    closing = true; // later adds are refused
    return true;
}

void HeaderQueue::stopNotifier() {
    wake.notify_one();
    notifier.join(); // delivers the close message
}

// The notifier thread: the open message, every done message in order, the
// close message.
void HeaderQueue::runNotifier() {
    notifierQueue = this;
    deliver(messages.open, 0);
    std::unique_lock held(headersMutex);
    for (;;) {
        wake.wait(held, [this] { return !finished.empty() || closing || choreAsked; });
        if (choreAsked) {
            choreAsked = false;
            if (chore) {
                held.unlock();
                chore();
                held.lock();
            }
            continue;
        }
        if (finished.empty()) {
            break; // closing, and nothing left to hand back
        }
        WaveHeader* header = finished.front();
        finished.pop_front();
        header->flags = (header->flags & ~kWaveHeaderInQueue) | kWaveHeaderDone;
        held.unlock();
        deliver(messages.done, reinterpret_cast<uintptr_t>(header));
        held.lock();
        ++deliveredCount;
        delivered.notify_all();
    }
    held.unlock();
    deliver(messages.close, 0);
    notifierQueue = nullptr;
}
