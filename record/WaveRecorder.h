#pragma once
// Captures sound from the wave-in device as 16-bit mono PCM at 11025 samples
// per second and writes it, buffer by buffer, into a RIFF WAVE file through
// its own WaveFileWriter.
//
// The device fills buffers of 2048 samples (4096 bytes, about 186 ms); three
// are queued while capture runs, and each one that comes back full is written
// and replaced by a new one. Stop resets the device before anything else, so
// the buffer that was filling at that moment is dropped: the file holds only
// whole buffers, 4096 x n bytes of data. After a lost input device (see
// inputLost) Stop keeps that last part too, as it is all there will be.
//
// Threads: the constructor, SetOutputFile, Start, Stop and the destructor run
// on one owner thread (the user-interface thread). OnOpen, OnData and OnClose
// run on the wave-in layer's notifier thread. The pending list, the recording
// flag and the writer are shared between the two under `mutex`; the owner
// never holds it across a call that waits for the notifier thread (reset,
// close), and OnData holds it for the whole of its work, so once Stop has
// cleared the flag no completion still writes or queues.

#include "base/WaveFormat.h"
#include "encode/WaveFileWriter.h"
#include "engine/AudioBuffer.h"
#include "platform/WaveIn.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

class WaveRecorder {
  public:
    static constexpr const char* kNoDeviceMessage = "No Sound Device";
    static constexpr const char* kNoCapabilitiesMessage =
        "Cannot determine sound card capabilities !";
    static constexpr const char* kOpenFailedMessage = "Cannot Open Sound Input Device!";
    static constexpr const char* kStartFailedMessage = "Cannot Start Wave In !";

    static constexpr uint32_t kSampleRate = 11025;
    static constexpr uint32_t kBufferSamples = 2048;
    static constexpr uint32_t kBufferBytes = 2 * kBufferSamples;
    static constexpr int kQueuedBuffers = 3;

    WaveRecorder();
    WaveRecorder(const WaveRecorder&) = delete;
    WaveRecorder& operator=(const WaveRecorder&) = delete;
    // Stop, then the writer goes, then any buffer still held.
    virtual ~WaveRecorder();

    // Notifier thread: the device was opened / is closing. Nothing to do.
    virtual void OnOpen();
    virtual void OnClose();
    // Notifier thread: the device hands back a buffer. While recording, a
    // new buffer takes its place and its 4096 bytes go to the file; a buffer
    // that cannot be replaced ends the recording (the device stays open
    // until Stop) and is not written.
    virtual void OnData(WaveHeader* header);

    // The file to write; called once, before Start.
    void SetOutputFile(const std::string& path);

    // Opens the default input device, starts capture and then opens the
    // file (an existing one is replaced without asking). 0 on success and
    // when there is no input device ("No Sound Device" is shown, with the
    // reason on a second line when there is one); otherwise
    // the device's error code, after its message. A device that opens but
    // cannot take its buffers stays open, silent, until Stop. Unless
    // capture started (isRecording), the file is not touched.
    uint32_t Start();
    // Ends capture, then completes and closes the file. Does nothing when no
    // device is open.
    void Stop();
    // Hands one new 4096-byte buffer to the device; false when it was refused.
    bool QueueBuffer();

    // The function given to the device; instance is the recorder.
    static void WaveInCallback(WaveInHandle device, unsigned message, void* instance,
                               uintptr_t param1, uintptr_t param2);

    // What the recorder is doing, for its owner and tests.
    bool isRecording() const;
    // While recording: the input device has gone away (the sound server
    // ended, the device was unplugged). Nothing more is captured; the owner
    // calls Stop, which keeps all that was captured until then, the last
    // partly filled buffer included.
    bool inputLost() const;
    // Buffers written to the file since Start.
    uint32_t buffersWritten() const;
    // Bytes the device captured from Start until Stop (until its loss if it
    // was lost): after a loss, all of them are in the file.
    uint64_t bytesCaptured() const;
    const WaveFormat& captureFormat() const { return format; }

  private:
    // Caller holds mutex.
    bool queueBufferLocked();

    mutable std::mutex mutex;

    // Guarded by mutex
    bool recording = false;
    std::list<AudioBuffer> pending; // handed to the device, not yet back
    WaveInHandle device = nullptr;
    std::unique_ptr<WaveFileWriter> writer;
    uint32_t written = 0;
    uint64_t captured = 0;  // by the device, as of Stop
    bool salvaging = false; // Stop after a lost device: partial buffers are written

    // Owner thread only
    WaveInCaps capabilities{};
    WaveFormat format{};
    const uint32_t sampleRate = kSampleRate;
    const uint32_t bufferLength = kBufferSamples;
};
