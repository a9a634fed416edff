#pragma once
// A writer of an output file from PCM buffers. Two ways to feed it:
//
//  - pulled: Run opens the file, reads the attached source stream buffer by
//    buffer until it ends or Stop is called, and completes the file;
//  - pushed: the owner calls SetFormat (or SetSource), SetFileName, Open,
//    Begin, any number of Write, then Finish and Close.
//
// Subclasses say how PCM becomes file bytes (Begin, Encode, Finish).
//
// Threads: Run and the pushed calls run on one thread at a time (the
// conversion worker, or the recorder's callback and owner threads). Stop may
// be called from any thread; it takes effect after the buffer in hand.

#include "base/ReplacedFile.h"
#include "base/WaveFormat.h"
#include "engine/AudioBuffer.h"
#include "engine/AudioStream.h"

#include <atomic>
#include <cstdio>
#include <string>

class OutputFile {
  public:
    OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // A file still open (never closed) is removed: the target stays as it
    // was.
    virtual ~OutputFile();

    // Starts a new file after Open (writes a provisional header, starts an
    // encoder). False when the file cannot be started.
    virtual bool Begin() = 0;
    // Opens the file with the overwrite question, Begin, pulls every buffer
    // of the source through Write (the empty buffer that ends the stream
    // too), Finish and Close. False when there is no source, the file could
    // not be opened or begun, or a write, the finish or the close failed.
    // Reading stops at the first failed write; then a message names the
    // file and the system's reason, and the target is left as it was
    // before (nothing new is left behind). A Stop is not a failure: the
    // shorter file is completed under the target's name.
    virtual bool Run();
    // Consumes what it can of pending and hands the bytes to write through
    // out (left without a block when there is nothing to write this time).
    virtual bool Encode(AudioBuffer& pending, AudioBuffer& out) = 0;
    // Completes the file (final header, encoder flush, tag).
    virtual bool Finish() = 0;
    // Opens a new file for writing in fileName's directory (a hidden name
    // beginning with "." and the target's name), which Close renames over
    // fileName once complete (see ReplacedFile: a link keeps naming the
    // new file, the old file's owner and attributes are kept, a target in a
    // folder that refuses new files is written over in one pass, and a
    // target that is not a regular file is refused). Unless noPrompt, an existing file is only
    // replaced when the user answers Yes to the overwrite question. False
    // (with a message when the file cannot be created) on failure; an empty
    // fileName fails silently.
    virtual bool Open(bool noPrompt);
    // Appends the buffer to pending and, while running, encodes and writes.
    // False when encoding or writing failed; the caller decides what next.
    virtual bool Write(AudioBuffer buffer);
    // Stops, flushes and closes the file and puts it in place under
    // fileName. True with no file open; false (the new file removed, the
    // target as it was) when the flush, the close or the rename failed.
    virtual bool Close();
    // Stops and closes the file and removes it: the target stays as it was.
    void Discard();

    // The stream Run reads; the writer's format becomes the stream's.
    void SetSource(AudioStream* stream);
    // The format of the PCM handed to Write (first 18 bytes only).
    void SetFormat(const WaveFormat& pcm);
    void SetFileName(const std::string& path);
    // Any thread: ends Run after the buffer in hand; Write keeps appending
    // but no longer encodes.
    void Stop();

    bool isRunning() const { return running.load(std::memory_order_acquire); }
    // The operating system's error number of the first open, write or
    // close of the file that failed since the last Open; 0 when none did.
    // Read it on the writing thread, or after that thread has ended.
    int SystemError() const { return systemError; }
    const WaveFormat& GetFormat() const { return format; }
    const std::string& GetFileName() const { return fileName; }

    static constexpr const char* kOverwriteQuestion = "the output file has existed, overwrite it?";
    static constexpr const char* kOverwriteCaption = "Attention";
    static constexpr const char* kOpenFailedMessage =
        "open out file failed,\nplease check directory exists!";

  protected:
    // Writes bytes at the current file position; false without a file or
    // on a short write.
    bool writeToFile(const void* bytes, size_t count);
    // Keeps errno as the system error unless an earlier failure set one.
    void noteSystemError();

    FILE* file = nullptr;
    AudioStream* source = nullptr;
    std::string fileName;
    ReplacedFile replacement; // where the bytes go until Close
    int systemError = 0;
    // Set by a writer that refused a buffer because its format can hold no
    // more: Run then completes the file as it stands instead of removing it.
    bool endedAtLimit = false;
    // Set by Open on the writing thread, cleared by Stop from any thread.
    std::atomic<bool> running{false};
    WaveFormat format{};
    // PCM received by Write and not yet consumed by Encode.
    AudioBuffer pending;
};
