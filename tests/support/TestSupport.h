#pragma once
// Helpers shared by the test programs: temporary folders, message recording,
// generated signals, WAVE files built byte by byte, and SDL's disk audio
// driver with buffers to queue on it.

#include "base/WaveFormat.h"
#include "platform/MessageBox.h"
#include "platform/WaveHeader.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

// A fresh directory under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return dir; }
    std::string file(const std::string& name) const { return (dir / name).string(); }

  private:
    std::filesystem::path dir;
};

// Records every message shown while it lives and answers questions with the
// given answer. Thread-safe; restores the previous handler when destroyed.
class MessageRecorder {
  public:
    explicit MessageRecorder(MessageAnswer answer = MessageAnswer::No);
    ~MessageRecorder();
    std::vector<MessageRequest> messages() const;
    std::vector<std::string> texts() const;
    void setAnswer(MessageAnswer answer);

  private:
    mutable std::mutex mutex;
    std::vector<MessageRequest> seen;
    MessageAnswer reply;
    MessageHandler previous;
};

// A FIFO made at path, for inputs that must refuse one without blocking. A
// reader still blocked on it after patienceMs is released (a writer opens
// and closes it, so the reader sees its end) and released() turns true: a
// test that would otherwise hang fails instead.
class FifoWatch {
  public:
    explicit FifoWatch(std::string path, int patienceMs = 3000);
    ~FifoWatch();
    FifoWatch(const FifoWatch&) = delete;
    FifoWatch& operator=(const FifoWatch&) = delete;
    bool made() const { return ok; }
    bool released() const { return freed.load(); }

  private:
    std::string fifo;
    bool ok = false;
    std::atomic<bool> done{false};
    std::atomic<bool> freed{false};
    std::thread watcher;
};

// Bytes of a fixed pseudo-random sequence, different for each seed.
std::vector<uint8_t> noiseBytes(size_t size, uint32_t seed);

std::vector<uint8_t> readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Whether process pid has a handler for signal (its SigCgt mask in /proc),
// waiting up to timeoutMs for the program to install it.
bool catchesSignal(int pid, int signal, int timeoutMs);

// Interleaved 16-bit samples of a sine per channel (channel c at frequency
// hz x (c + 1)), amplitude 0..1 of full scale.
std::vector<int16_t> sineSamples(uint32_t rate, uint16_t channels, uint32_t frames,
                                 double hz = 440.0, double amplitude = 0.5);
std::vector<uint8_t> toBytes(const std::vector<int16_t>& samples);
// The largest difference between each mono sample and the mean of the left
// and right samples of 16-bit little-endian stereo audio at the same frame
// (-1 when the frame counts differ).
int worstDownmixError(const std::vector<uint8_t>& stereo, const std::vector<int16_t>& mono);
// Writes a 16-bit PCM WAVE file of sineSamples(rate, channels, rate x
// seconds frames, hz) to path and returns path.
std::string writeWave(const std::string& path, uint16_t channels, uint32_t rate, double seconds,
                      double hz = 440.0);

// Writes a 16-bit PCM WAVE file of `channels` channels (2 or more) whose
// first two hold sineSamples(rate, 2, rate x seconds frames, hz) (hz on the
// left, twice hz on the right) and the others silence; returns path.
std::string writeFrontPairWave(const std::string& path, uint16_t channels, uint32_t rate,
                               double seconds, double hz = 440.0);
// The frames (of frameBytes bytes) of raw audio without those whose bytes
// are all 0: what a device played, without the silence SDL wrote around it.
std::vector<uint8_t> withoutSilentFrames(const std::vector<uint8_t>& bytes, size_t frameBytes);

// Little-endian writers for building files by hand.
void putU16(std::vector<uint8_t>& out, uint16_t v);
void putU32(std::vector<uint8_t>& out, uint32_t v);
void putTag(std::vector<uint8_t>& out, const char* tag);
// A chunk: id, size, payload and the pad byte of an odd payload.
void putChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& payload);
std::vector<uint8_t> formatBytes(const WaveFormat& format, const std::vector<uint8_t>& extra = {});

// A plain RIFF WAVE file: "fmt " (18 bytes, or 16 with shortFmt) then "data".
std::vector<uint8_t> waveFile(const WaveFormat& format, const std::vector<uint8_t>& data,
                              bool shortFmt = false);

// Integer PCM laid out as other programs write it: every sample a signed
// value of `bits` bits, stored left-justified in containerBytes (1 to 8)
// bytes, an 8-bit container offset to unsigned. The header is the plain
// 16-byte record (wBitsPerSample = bits) or WAVE_FORMAT_EXTENSIBLE
// (wBitsPerSample = the container's bits, valid bits = bits); bigEndian makes
// the whole file, header fields and samples, the "RIFX" form.
struct PcmLayout {
    uint16_t channels = 1;
    uint16_t bits = 16;
    uint16_t containerBytes = 2;
    bool extensible = false;
    bool bigEndian = false;
    uint32_t rate = 8000;
};
std::vector<uint8_t> pcmWaveFile(const PcmLayout& layout, const std::vector<int64_t>& samples);

// Makes SDL's disk driver the audio driver of the test program, at one
// millisecond per period: what would be heard goes to SDL_DISKAUDIOFILE,
// and capture reads SDL_DISKAUDIOFILEIN (zeros past its end). SDL picks its
// driver when audio is first initialised, so call this from a
// namespace-scope initialiser. Returns true.
bool chooseSdlDiskDriver();

// Runs SDL's audio on another driver (SDL_AUDIODRIVER, with an optional
// SDL_DISKAUDIOFILE for the disk driver) until use() changes it again or the
// object goes, when both variables get their old values back. Each change
// quits SDL's audio, so that the next open starts it on the new driver; no
// device may be open then (ok() says whether that held).
class SdlDriverScope {
  public:
    explicit SdlDriverScope(const char* driver, const char* diskFile = nullptr);
    ~SdlDriverScope();
    SdlDriverScope(const SdlDriverScope&) = delete;
    SdlDriverScope& operator=(const SdlDriverScope&) = delete;
    void use(const char* driver, const char* diskFile = nullptr);
    bool ok() const { return restarted; }

  private:
    struct Saved {
        bool set = false;
        std::string value;
    };
    Saved driverBefore;
    Saved diskFileBefore;
    bool restarted = true;
};

// Bytes with a wave header over them: bufferLength is `bytes`, every byte
// starts as fill, and `spare` more bytes follow, so that even an empty
// buffer has a data pointer to prepare. Not copyable: the header points
// into data.
struct HeaderBuffer {
    HeaderBuffer(size_t bytes, uint8_t fill, size_t spare = 0);
    HeaderBuffer(const HeaderBuffer&) = delete;
    HeaderBuffer& operator=(const HeaderBuffer&) = delete;

    std::vector<uint8_t> data;
    WaveHeader header;
};

} // namespace testing_support
