#pragma once
// The queue of headers of one open wave device (wave-out or wave-in) and the
// notifier thread that hands them back.
//
// Headers are added in order. SDL's audio thread plays or fills the header
// at the front and, once it is through, finishes it: the header moves to the
// finished list and the notifier thread is woken. The notifier thread
// delivers, through the device's callback, the open message first, one done
// message per finished header in the order they were added (flags: in-queue
// cleared, done set, just before the message), and the close message last.
// It never holds the mutex while it calls back, so the callback may add
// headers to the same queue.
//
// Threads:
// - startNotifier, and stopNotifier after beginClose: the thread that opens
//   and closes the device.
// - addLocked: any thread, the notifier's callback included.
// - handBackAll, beginClose: any thread but the notifier. Both wait for the
//   notifier thread, so the device refuses them there (onNotifierThread).
// - frontLocked, finishFrontLocked, wakeNotifier: SDL's audio thread, and
//   the calls that stop a device.
//
// Locks: headersMutex (mutex()) guards the queue and the device's own fields
// that change together with it (WaveOut's read offset, pause flag and
// volume); the *Locked calls expect the caller to hold it. It is the
// innermost lock of the layer: callers' locks (WaveOutDevice's queueMutex)
// and SDL's own device lock, held around the audio callback, are taken
// before it, so SDL_PauseAudioDevice and SDL_CloseAudioDevice are never
// called while holding it, and sdlAudioMutex is never taken under it.

#include "platform/WaveHeader.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class HeaderQueue {
  public:
    // The messages of one kind of device.
    struct Messages {
        unsigned open;  // first; param1 0
        unsigned done;  // param1: the WaveHeader* handed back
        unsigned close; // last; param1 0
    };
    // Calls the device's callback with one message (notifier thread only).
    using Deliver = std::function<void(unsigned message, uintptr_t param1)>;

    HeaderQueue() = default;
    HeaderQueue(const HeaderQueue&) = delete;
    HeaderQueue& operator=(const HeaderQueue&) = delete;
    // The notifier must have been stopped, or never started.
    ~HeaderQueue() = default;

    // Starts the notifier thread, which delivers messages.open at once.
    // False when no thread can be started (nothing is delivered then).
    // chore, when given, is what askChoreLocked asks the notifier to run.
    bool startNotifier(Messages messages, Deliver deliver, std::function<void()> chore = {});

    // Asks the notifier thread to run the chore once, between two
    // messages, without the mutex held. The caller then calls wakeNotifier.
    void askChoreLocked() { choreAsked = true; }

    // True on this queue's notifier thread, inside the device's callback.
    bool onNotifierThread() const;

    std::mutex& mutex() { return headersMutex; }

    // Appends a prepared header that is not queued already, marking it in
    // the queue (done cleared). kWaveInvalidHandle once beginClose has
    // succeeded, kWaveUnprepared or kWaveStillPlaying; else kWaveOk.
    int addLocked(WaveHeader* header);

    // The header at the front (being played or filled), or null.
    WaveHeader* frontLocked() const;
    // The bytes of every header still queued, the front one whole.
    uint64_t queuedBytesLocked() const;
    // Moves the front header to the finished ones. The caller then calls
    // wakeNotifier, with or without the mutex held.
    void finishFrontLocked();
    void wakeNotifier();

    // Finishes every queued header, in queue order, and waits (releasing
    // the lock meanwhile) until their done messages, and those of every
    // header finished before, have been delivered. Returns with the lock
    // held again. Never on the notifier thread.
    void handBackAll(std::unique_lock<std::mutex>& held);

    // Waits until every finished header has been handed back. Then, with no
    // header still queued, refuses further adds and returns true; false
    // (nothing changed) while headers are queued. Never on the notifier
    // thread.
    bool beginClose();
    // After beginClose returned true: lets the notifier deliver the close
    // message and waits for its thread to end.
    void stopNotifier();

  private:
    void runNotifier();

    // Immutable after startNotifier
    Messages messages{};
    Deliver deliver;
    std::function<void()> chore;

    std::mutex headersMutex;
    std::condition_variable wake;      // the notifier has something to do
    std::condition_variable delivered; // a done message has been delivered

    // Guarded by headersMutex
    std::deque<WaveHeader*> queue;    // added, not yet through; the front is in use
    std::deque<WaveHeader*> finished; // through or handed back, done message pending
    uint64_t finishedCount = 0;       // headers ever moved to finished
    uint64_t deliveredCount = 0;      // done messages completed
    bool closing = false;             // adds are refused; the notifier ends when idle
    bool choreAsked = false;

    std::thread notifier; // opening and closing thread only
};
