#include "spectrum/WorkerThread.h"

#include <system_error>

WorkerThread::WorkerThread(bool startNow) {
    // The base class's own Start: a derived class is not built yet.
    if (startNow) {
        WorkerThread::Start();
    }
}

WorkerThread::~WorkerThread() {
    // A thread still running after the wait ignored the request; it is left
    // running and the object goes regardless.
    WaitForEnd();
    releaseThread();
}

bool WorkerThread::WaitForEnd() {
    // A stop already requested: give the thread the usual time to end.
    if (state.load() == 1) {
        waitWhileState(1);
    }
    if (state.load() > 1) {
        WorkerThread::Stop(true);
    }
    if (state.load() != 0) {
        return false;
    }
    releaseThread();
    return true;
}

bool WorkerThread::Start() {
    uint32_t current = state.load();
    if (current == 1) {
        // The previous thread was asked to stop but has not ended; starting
        // over it would let both threads run on this object's data, and the
        // old one would clear the new one's mark when it ends.
        waitWhileState(1);
    } else if (current > 1) {
        WorkerThread::Stop(true);
    }
    releaseThread();

    std::lock_guard<std::mutex> lock(threadMutex);
    uint32_t mark = nextMark;
    nextMark = nextMark == UINT32_MAX ? 2 : nextMark + 1;
    // The mark is in place before the thread can run, so a Run() that returns
    // at once leaves 0 behind, never a stale mark.
    state.store(mark);
    try {
        auto done = std::make_shared<std::atomic<bool>>(false);
        thread = std::thread([this, done] {
            ThreadEntry(this);
            // After ThreadEntry the thread no longer touches the object.
            done->store(true);
        });
        threadDone = std::move(done);
    } catch (const std::exception&) {
        state.store(0);
        return false;
    }
    return true;
}

bool WorkerThread::Stop(bool wait) {
    uint32_t current = state.load();
    if (current == 0 || current == 1) {
        return true;
    }
    // The thread may end between the read and the write; the exchange then
    // fails and leaves its 0 in place.
    if (!state.compare_exchange_strong(current, 1) && current == 0) {
        return true;
    }
    if (!wait) {
        return true;
    }
    bool ended = false;
    for (uint32_t i = 0; i < stopPollCount; ++i) {
        std::this_thread::sleep_for(stopPollInterval);
        if (state.load() == 0) {
            ended = true;
            break;
        }
    }
    if (ended) {
        releaseThread();
    }
    return ended;
}

void WorkerThread::ThreadEntry(WorkerThread* object) {
    object->Run();
    object->state.store(0);
}

bool WorkerThread::waitWhileState(uint32_t value) {
    for (uint32_t i = 0; i < stopPollCount; ++i) {
        std::this_thread::sleep_for(stopPollInterval);
        if (state.load() != value) {
            return true;
        }
    }
    return false;
}

void WorkerThread::releaseThread() {
    std::lock_guard<std::mutex> lock(threadMutex);
    if (!thread.joinable()) {
        return;
    }
    // Join only a thread that has finished: `state` alone cannot tell, since
    // a thread that ignored its stop may clear it late. A thread caught in
    // its last steps is let go; past ThreadEntry it touches only the flag it
    // shares.
    if (threadDone && !threadDone->load() && state.load() == 0) {
        // Run() has returned; the thread is one store away from done.
        for (int i = 0; i < 1000 && !threadDone->load(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (threadDone && threadDone->load()) {
        thread.join();
    } else {
        thread.detach();
    }
    threadDone.reset();
}
