#pragma once
// Runs one overridable operation, Run(), on a thread of its own and stops it
// cooperatively through the shared word `state`:
//     0             no thread runs
//     1             a stop has been requested and the thread has not ended yet
//     anything else a thread runs (the value marks that thread)
// A derived Run() loops until it reads `state` equal to 1 and then returns;
// the thread then writes 0 and ends.
//
// Threads: construction, Start, Stop and the destructor belong to one
// controlling thread at a time; the worker thread runs Run() and clears
// `state` when Run() returns. `state` is the only field both threads touch.
//
// Waiting is by polling: stopPollCount sleeps of stopPollInterval (by default
// 1000 x 10 ms, about 10 s). A thread that has not ended by then is left
// running; the object does not wait for it any longer.
//
// A derived class whose Run() uses its own members must end the thread in its
// own destructor with WaitForEnd(), before those members go: Stop(true) alone
// returns at once when a stop was already requested, with the thread still
// running.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

class WorkerThread {
  public:
    explicit WorkerThread(bool startNow = false);
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    virtual ~WorkerThread();

    // Starts Run() on a new thread; a thread that still runs is stopped first
    // (with wait). True when the new thread was created; otherwise `state`
    // stays 0.
    virtual bool Start();
    // Requests the end of the thread and, with wait, polls until it has ended.
    // True when no thread is left running (at once when none runs or a stop
    // was already requested).
    virtual bool Stop(bool wait);
    // The thread's body; this one returns at once.
    virtual void Run() {}

    // The thread function: Run(), then `state` := 0.
    static void ThreadEntry(WorkerThread* object);

    // Shared by the controlling thread and the worker thread.
    std::atomic<uint32_t> state{0};

    // How long Stop(true) and the destructor wait for the thread to end.
    uint32_t stopPollCount = 1000;
    std::chrono::milliseconds stopPollInterval{10};

  protected:
    // Requests the end of the thread if it runs and polls until it has ended,
    // also when a stop was requested earlier. True when no thread is left
    // running. What the destructor does; derived destructors call it first.
    bool WaitForEnd();

  private:
    // Polls until `state` leaves `value` (true) or the polls run out (false).
    bool waitWhileState(uint32_t value);
    // Joins the last thread if it has finished, otherwise lets it go.
    void releaseThread();

    // Controlling thread only (threadMutex makes a stray second caller safe).
    std::mutex threadMutex;
    std::thread thread;
    // Set by the thread as its very last step, so that joining never waits
    // on a thread that is still running.
    std::shared_ptr<std::atomic<bool>> threadDone;
    uint32_t nextMark = 2;
};
