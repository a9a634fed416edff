#pragma once
// A private sound server for the tests that play or record through a real
// one, and what they need around it: a capture of a sink's monitor and a
// look at what it heard.
//
// Each SoundServer runs in its own runtime folder (XDG_RUNTIME_DIR, HOME),
// so that test programs run side by side never meet, and stops its
// processes by their ids. PulseAudio runs as a user daemon (`-n`, no
// default script, never exiting when idle) with the native protocol on a
// socket in that folder; PipeWire runs pipewire, wireplumber and
// pipewire-pulse on a private session bus. Both have a null sink,
// kSinkName, as the default sink. As root, PulseAudio warns that it is not
// meant to run so, and runs.
//
// use() points this process's PulseAudio clients (SDL's pulseaudio driver
// included) at the server: PULSE_SERVER, a client configuration that never
// spawns a server of its own, and SDL_AUDIODRIVER=pulseaudio. SDL picks its
// driver when audio starts: call waveAudioShutdown() first if audio ran.

#include "support/TestSupport.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

enum class ServerKind { PulseAudio, PipeWire };

const char* serverKindName(ServerKind kind);

// Starts a program with extra environment variables (NAME=value), its
// standard output and error into log (appended). The program's id, or -1.
pid_t spawnProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& log);
// Sends signal, then waits up to timeoutMs for the program to end; SIGKILL
// after that. Its exit status, or -1 when it had to be killed.
int stopProgram(pid_t pid, int signal, int timeoutMs = 5000);
// Waits up to timeoutMs for the program to end by itself: its exit status
// (128 + the signal when a signal ended it), or -1 while it still runs.
int waitForProgram(pid_t pid, int timeoutMs);

class SoundServer {
  public:
    static constexpr const char* kSinkName = "velumo_sink";
    static constexpr const char* kMonitorName = "velumo_sink.monitor";

    explicit SoundServer(ServerKind kind = ServerKind::PulseAudio);
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;

    // Whether the server answered; why not otherwise (for GTEST_SKIP or a
    // failure message).
    bool ok() const { return failure.empty(); }
    // Whether the server runs but cannot serve the tests on this machine:
    // PipeWire's session manager keeps no default devices without a login
    // session (a chroot, a container). Tests skip then, saying why.
    bool unavailableHere() const { return noDefaults; }
    const std::string& whyNot() const { return failure; }
    ServerKind kind() const { return serverKind; }

    // Sets this process's environment so that clients reach this server.
    void use() const;
    // The environment a child client needs (PULSE_SERVER and the client
    // configuration).
    std::vector<std::string> clientEnv() const;
    // Runs pactl with args on this server; true when it exits with 0. Its
    // output goes to *out when given.
    bool pactl(const std::vector<std::string>& args, std::string* out = nullptr) const;
    // Loads a module; its index, or -1.
    int loadModule(const std::string& name, const std::vector<std::string>& args = {}) const;
    // Waits until pactl lists an object of kind ("sources", "sinks") named
    // name, up to timeoutMs.
    bool waitFor(const char* kind, const std::string& name, int timeoutMs = 10000) const;

    // Kills every process of the server at once (SIGKILL), as a crash
    // would. The server stays gone.
    void kill();

    const TempDir& folder() const { return dir; }

  private:
    bool startPulseAudio();
    bool startPipeWire();
    bool waitUntilAnswering(int timeoutMs);

    ServerKind serverKind;
    TempDir dir;
    std::string runtime; // the runtime folder, under dir
    std::string socket;  // the native protocol's socket
    std::string busAddress;
    std::vector<pid_t> pids; // in start order; stopped in reverse
    std::string failure;
    bool noDefaults = false;
};

// parec recording a source (by default the sink's monitor) as raw 16-bit
// stereo at 44100 Hz into a file, with a 20 ms latency, from construction
// until stop().
class MonitorCapture {
  public:
    static constexpr uint32_t kRate = 44100;
    static constexpr uint16_t kChannels = 2;

    explicit MonitorCapture(const SoundServer& server,
                            const std::string& source = SoundServer::kMonitorName);
    ~MonitorCapture();
    MonitorCapture(const MonitorCapture&) = delete;
    MonitorCapture& operator=(const MonitorCapture&) = delete;
    bool running() const { return pid > 0; }
    // Waits until parec has written at least bytes, up to timeoutMs.
    bool waitForBytes(size_t bytes, int timeoutMs) const;
    // Ends the capture; the interleaved samples heard.
    std::vector<int16_t> stop();

  private:
    std::string file;
    pid_t pid = -1;
};

// What a stretch of 16-bit audio holds: its sound between the first and
// the last sample above a threshold.
struct HeardSound {
    double soundSeconds = 0; // from the first loud sample to the last
    double rms = 0;          // of the first channel over that stretch, 0..1
    double hz = 0;           // zero crossings of the first channel, per second / 2
    int gaps = 0;            // silent stretches inside the sound
    double longestGapMs = 0;
};
// Channel 0 of interleaved samples; a gap is a run of at least minGapMs in
// which no sample's magnitude exceeds silence.
HeardSound listen(const std::vector<int16_t>& samples, uint16_t channels, uint32_t rate,
                  double minGapMs = 2.0, int silence = 64);

// A rising sweep (mono, half of full scale) from 200 Hz to 2 kHz: no two
// stretches of it alike, so what was heard can be placed in it exactly.
std::vector<int16_t> sweepSamples(uint32_t rate, double seconds);

// Where the first loud sound of a capture (channel 0 of interleaved
// samples, above silence) lies in the played samples: the index of the
// played sample it matches, with the next `length` samples within
// `tolerance`, searched from the start of played. -1 when it matches
// nowhere (a gap or a dropout in those samples, or other sound).
long placeFirstSound(const std::vector<int16_t>& heard, uint16_t channels,
                     const std::vector<int16_t>& played, size_t length = 2048, int silence = 64,
                     int tolerance = 4);

// The sink inputs (playback streams) the server has now, as `pactl list
// short sink-inputs` gives them; -1 when pactl fails.
int sinkInputCount(const SoundServer& server);
// Those inputs' lines, each ending in the stream's sample format ("s16le 2ch
// 48000Hz"); empty when there is none or pactl fails.
std::vector<std::string> sinkInputLines(const SoundServer& server);

} // namespace testing_support
