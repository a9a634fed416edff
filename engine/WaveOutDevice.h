#pragma once
// Plays an AudioStream (in practice the main window's Mixer) through the
// wave-out layer of platform/WaveOut.h, keeping up to five buffers queued.
// Each finished buffer is replaced by the source's next one; when the source
// is exhausted (or Stop was called) and the last queued buffer has played,
// PlayOver is posted to the notify target, exactly once.
//
// Threads: Open, Close, Play, Stop, Restart, Seek, Pause, Resume, SetVolume,
// SetSource, Detach and the destructor run on the user-interface thread.
// OnBufferDone runs on the wave-out layer's notifier thread (never inside
// SDL's audio callback) and pulls the source's next buffer there; the source
// must therefore lock for itself (the Mixer does).
//
// Locks: pullMutex is taken first; under it, the source's own lock (inside
// GetBuffer, released before the write) and then queueMutex; queueMutex
// before the wave-out layer's device lock. Callers must not hold the
// source's lock while calling Close, SetSource, Detach, Play or the
// destructor: Close waits for the notifier thread, which may be waiting for
// that lock inside GetBuffer.
// pullMutex makes "pull a buffer and write it" and the drain check of
// OnBufferDone one step with respect to Play, so buffers reach the device in
// the order the source produced them and PlayOver cannot slip in while Play
// is queueing. queueMutex is never held across GetBuffer. Neither lock is
// held while Close waits for the notifier thread (waveOutReset and
// waveOutClose wait for it), so the notifier can always finish.
//
// PlayOver is posted exactly once when the queue drains while playing is
// clear, and never after Close: Close sets state 3 before it resets the
// device, and OnBufferDone does nothing in state 3. Seek likewise sets
// flushing before its reset, so the buffers it drops neither pull nor post.

#include "base/CommandTarget.h"
#include "engine/AudioBuffer.h"
#include "engine/AudioStream.h"
#include "platform/WaveHeader.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <mutex>
#include <string>

class WaveOutDevice {
  public:
    enum State : int32_t { kStopped = 0, kPlaying = 1, kPaused = 2, kClosing = 3 };
    static constexpr int kQueuedBuffers = 5;

    WaveOutDevice();
    WaveOutDevice(const WaveOutDevice&) = delete;
    WaveOutDevice& operator=(const WaveOutDevice&) = delete;
    virtual ~WaveOutDevice();

    virtual void OnOpen() {}
    virtual void OnClose() {}
    // Notifier thread: a buffer has finished playing.
    virtual void OnBufferDone(WaveHeader* header);

    // Closes the device if open, takes the stream as source and opens the
    // device in the stream's format (state stopped).
    void SetSource(AudioStream* stream);
    // Closes the device and forgets the source.
    bool Detach();
    bool Open();
    bool Close();
    // Queues buffers until five are queued; false when not open, without a
    // source, or when a buffer could not be written (the source ran out).
    bool Play();
    // Stops pulling from the source; what is queued plays out, then PlayOver.
    // 0 when not open, else 1.
    int32_t Stop();
    // Stop, rewind the source, Play. Only when open.
    void Restart();
    // Moves the source to seconds (AudioStream::Seek) while playing or
    // paused: the buffers queued from the old position are dropped unheard
    // and the device queues again from the new one (heard at once while
    // playing, at Resume while paused). An item that ran out comes back. A
    // position at or past the end ends the item as its end does: PlayOver
    // is posted once, at once while playing, at Resume while paused. False,
    // and nothing done, when closed, stopped, or when the item's PlayOver is
    // already on its way (ran out and drained).
    bool Seek(uint32_t seconds);
    bool Pause(); // only while playing
    // Only while paused. After a seek to the end while paused, PlayOver is
    // posted at once.
    bool Resume();
    int32_t GetState() const { return state.load(); }
    // Low 16 bits left channel, high 16 bits right; 0 silent, 0xFFFF full.
    // Returns the wave-out layer's result (kWaveInvalidHandle when closed).
    // The value is kept and applied again each time the device opens, so a
    // new item plays at the volume the user chose.
    int SetVolume(uint32_t value);
    void SetNotifyWindow(CommandTarget* target);
    bool isOpen() const;
    // Open, but the wave-out layer reports the device gone: nothing more
    // will be heard, and PlayOver may never come. Close it.
    bool deviceLost() const;
    // Sample frames written to the device and not yet played (0 when
    // closed): how far what is heard lags behind what was pulled.
    // User-interface thread.
    uint64_t QueuedFrames() const;
    // Why the last Open failed, in the system's words; "" after an Open that
    // succeeded. User-interface thread.
    const std::string& openError() const { return openFailure; }

    // Read by the player. playing: more data is to be pulled from the source.
    std::atomic<bool> playing{false};
    // One of State; the player sets it to 0 itself once (recording mode).
    std::atomic<int32_t> state{kStopped};

  private:
    bool Write(AudioBuffer buffer);
    // Under pullMutex: queues buffers from the source until kQueuedBuffers
    // are queued; false when the source ran out first.
    bool fill();
    void postPlayOver();
    static void callback(WaveOutHandle device, unsigned message, void* instance, uintptr_t param1,
                         uintptr_t param2);

    void dispatch(unsigned message, uintptr_t param1);

    // Held across "pull from the source and write" (Play, OnBufferDone).
    std::mutex pullMutex;

    // Guarded by queueMutex: the queue is touched by the user-interface
    // thread (Write from Play, Close) and by the notifier thread. Setting
    // state to kClosing also happens under it, so that no Write can slip
    // in between Close's reset and its disposal of the queue.
    std::mutex queueMutex;
    std::list<AudioBuffer> queued;
    // Set (under pullMutex and queueMutex) while Seek drops the queued
    // buffers: their completions pull nothing and post nothing.
    std::atomic<bool> flushing{false};

    // User-interface thread only
    uint32_t volume = 0xFFFFFFFF;
    bool outputPaused = false; // the layer's device is paused
    bool endAtResume = false;  // a seek while paused reached the end
    std::string openFailure;

    // User-interface thread, read by the notifier thread while open
    // (changed only while the device is closed).
    AudioStream* source = nullptr;
    std::atomic<WaveOutHandle> waveHandle{nullptr};
    WaveFormat openFormat{};
    std::atomic<CommandTarget*> notifyWindow{nullptr};
};
