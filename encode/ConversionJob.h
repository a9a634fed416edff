#pragma once
// One conversion of an item to a WAV or MP3 file: the work of the Convert
// dialog that needs no window, shared by the dialog and velumo-convert.
//
// Use, on the owner's thread:
//   ConversionJob job(22050);          // the output sample rate
//   job.LoadSource(path or "Track-03") // into the job's own Mixer
//   job.SetTarget("out.mp3")           // picks the writer by extension
//   job.Start(onDone) ... job.Stop()   // or RunHere() on a thread of one's own
//
// The output is 16-bit mono PCM at the job's rate (stereo for a job made
// with 2 channels: a mono item on both sides, more channels mixed down), as
// a WAV file or as an MP3 at the bitrate the MP3 writer chooses. The item is converted from its
// start: the Mixer is rewound before the pull loop, so the buffer that
// loading pulls through the analyser is not lost.
//
// Each job owns its Mixer and its two writers, so several jobs may run at
// once. Failures are shown through platform/MessageBox.h with the texts
// below (and the writers' own texts).
//
// Threads: LoadSource, SetTarget, Start, Stop, Wait and the destructor on the
// owner's thread; Stop, IsFinished, Position, Duration and Percent from any
// thread. The pull loop runs on the job's worker (Start) or on the caller's
// thread (RunHere). The destructor stops a running job and waits for it.

#include "encode/Mp3FileWriter.h"
#include "encode/WaveFileWriter.h"
#include "mixer/Mixer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

class CommandTarget;

class ConversionJob {
  public:
    enum class Result {
        NotRun,    // not started, or still running
        Completed, // the whole item was written
        Stopped,   // Stop ended it; the file is valid and shorter
        Failed,    // the file could not be opened, begun, written or finished, or
                   // a CD track could not be read to its end
    };
    enum class WriterKind { None, Mp3, Wave };

    static constexpr const char* kUnknownSourceMessage =
        "Unknow audio file!\nMixer has emptyed, there will be an error.";
    static constexpr const char* kCannotOpenSourceMessage = "can not open source file!";
    static constexpr const char* kFormatNotSupportedMessage = "format not support!\n";
    static constexpr const char* kTargetIsSourceMessage =
        "the output file is the source file itself, please choose another name!";
    // A CD track whose reading failed before its end (the disc went away,
    // an image's data file shrank): the file holds what was read.
    static constexpr const char* kTrackCutShortMessage =
        "The CD track could not be read to its end; the output file is shorter than the track.";

    // channels: 1, or 2 for stereo output (anything else counts as 1).
    explicit ConversionJob(double sampleRate, uint16_t channels = 1);
    ~ConversionJob();
    ConversionJob(const ConversionJob&) = delete;
    ConversionJob& operator=(const ConversionJob&) = delete;

    // Empties the Mixer and loads the source, told as playlist/AudioItem.h
    // says: ".wav" as a WAVE file, the other known kinds (".mp3", ".wma",
    // ".flac", ".ogg", ".oga", ".opus", ".m4a") through the media reader (the
    // end of the name, any case), otherwise a CD track
    // name "Track-NN" (NN the 0-based audio track index; "Track" in any
    // case, an index that does not parse is 0).
    // False, after a message, for any other name or a source that does not
    // open.
    bool LoadSource(const std::string& sourcePath);
    // Picks the MP3 writer for ".mp3" and the WAV writer for ".wav" (any
    // case) and gives it the Mixer and the path. False, after a message, for
    // any other extension or a target that is the loaded source file: the
    // file itself, or for a CD track of a disc image the image's sheet or a
    // data file it names, directly or through a symbolic or hard link.
    bool SetTarget(const std::string& targetPath);

    // After SetTarget chose the MP3 writer at a rate that an MP3 file cannot
    // hold: the text that tells at which rate the file will be written
    // instead. Empty for a WAV target, a rate MP3 holds, or an encoder that
    // cannot be loaded (the conversion then says so itself).
    std::string Mp3RateNotice() const;

    // Runs the pull loop on a new worker thread, at idle priority unless
    // SetIdlePriority(false). When it ends, onDone (if any) is called with
    // the result on the worker, then EncodeOver is posted to target (if
    // any); that is the worker's last act. False when nothing is loaded, no
    // target is set, or a job already runs.
    bool Start(std::function<void(Result)> onDone = {}, CommandTarget* target = nullptr);
    // Runs the pull loop on the calling thread and returns its result.
    Result RunHere();
    // Any thread: the writer's stream ends at the next buffer; the writer
    // completes a valid, shorter file holding everything read so far. A job
    // stopped before its loop began writes none. A LoadSource in progress
    // on another thread gives up opening its file (LoadSource itself clears
    // a stop that came before it began).
    void Stop();
    // Waits for the worker started by Start.
    void Wait();

    void SetIdlePriority(bool idle) { idlePriority = idle; }
    bool IsFinished() const { return finished.load(std::memory_order_acquire); }
    Result GetResult() const { return result.load(std::memory_order_acquire); }
    WriterKind ActiveWriter() const { return activeWriter; }
    // The operating system's reason (an errno value) why the target could
    // not be opened or written; 0 when the target raised no such error.
    // Read it once the job has finished.
    int TargetSystemError();

    // Progress of the loaded stream in seconds; -1.0 when unknown.
    double Position();
    double Duration();
    // Position over duration in whole percent, 0 to 100; 0 while the
    // duration is unknown or not positive.
    int Percent();

    Mixer& GetMixer() { return mixer; }
    AudioStream* LoadedStream() const { return loadedStream; }
    double SampleRate() const { return mixer.outputSampleRate; }

  private:
    // The Mixer as the writers see it: once a stop is requested it ends at
    // once, so a stop that comes before the writer has opened its file is
    // not lost.
    class StopGate : public AudioStream {
      public:
        StopGate(Mixer& source, std::atomic<bool>& stopRequest)
            : mixer(source), stopped(stopRequest) {}
        const WaveFormat* GetFormat() override { return mixer.GetFormat(); }
        AudioBuffer GetBuffer() override;

      private:
        Mixer& mixer;
        std::atomic<bool>& stopped;
    };

    OutputFile* writer();

    Mixer mixer;
    WaveFileWriter waveWriter;
    Mp3FileWriter mp3Writer;
    StopGate gate;
    AudioStream* loadedStream = nullptr; // owned by mixer
    std::string sourcePath;
    WriterKind activeWriter = WriterKind::None;
    bool idlePriority = true;

    std::thread worker;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> finished{false};
    std::atomic<Result> result{Result::NotRun};
};
