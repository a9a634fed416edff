#include "support/TestSupport.h"

#include "platform/WaveOut.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velumo-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    dir = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(dir, ignored);
}

MessageRecorder::MessageRecorder(MessageAnswer answer) : reply(answer) {
    previous = setMessageHandler([this](const MessageRequest& request) {
        std::lock_guard lock(mutex);
        seen.push_back(request);
        return request.buttons == MessageButtons::YesNo ? reply : MessageAnswer::Ok;
    });
}

MessageRecorder::~MessageRecorder() {
    setMessageHandler(previous);
}

std::vector<MessageRequest> MessageRecorder::messages() const {
    std::lock_guard lock(mutex);
    return seen;
}

std::vector<std::string> MessageRecorder::texts() const {
    std::lock_guard lock(mutex);
    std::vector<std::string> out;
    for (const auto& m : seen) {
        out.push_back(m.text);
    }
    return out;
}

void MessageRecorder::setAnswer(MessageAnswer answer) {
    std::lock_guard lock(mutex);
    reply = answer;
}

FifoWatch::FifoWatch(std::string path, int patienceMs) : fifo(std::move(path)) {
    ok = ::mkfifo(fifo.c_str(), 0600) == 0;
    if (!ok) {
        return;
    }
    watcher = std::thread([this, patienceMs] {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(patienceMs);
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (std::chrono::steady_clock::now() < until) {
                continue;
            }
            // Succeeds only while a reader has the FIFO open.
            int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                freed.store(true);
                ::close(fd);
            }
        }
    });
}

FifoWatch::~FifoWatch() {
    done.store(true);
    if (watcher.joinable()) {
        watcher.join();
    }
}

std::vector<uint8_t> noiseBytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> out(size);
    for (auto& b : out) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return out;
}

std::vector<uint8_t> readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes;
    // The bytes the file holds now, in one read. A file another thread is
    // still writing (SDL's disk driver writes a period of silence every
    // millisecond while its device is open) must not be chased to an end it
    // never reaches: a reader slower than the writer, as a byte-at-a-time
    // copy is under the thread sanitizer on a busy machine, never returned.
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    if (!error && size > 0) {
        bytes.resize(size_t(size));
        in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(size));
        bytes.resize(size_t(in.gcount()));
        return bytes;
    }
    // Files without a size ahead (/proc): read in blocks to their end.
    char block[4096];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        bytes.insert(bytes.end(), block, block + in.gcount());
    }
    return bytes;
}

// Whether process pid has a handler for signal (its SigCgt mask in /proc),
// waiting up to timeoutMs for the program to install it.
bool catchesSignal(int pid, int signal, int timeoutMs) {
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        const std::vector<uint8_t> bytes = readFileBytes(path);
        const std::string status(bytes.begin(), bytes.end());
        const size_t at = status.find("SigCgt:");
        if (at != std::string::npos) {
            const unsigned long long mask = std::stoull(status.substr(at + 7), nullptr, 16);
            if ((mask >> (signal - 1)) & 1U) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<int16_t> sineSamples(uint32_t rate, uint16_t channels, uint32_t frames, double hz,
                                 double amplitude) {
    std::vector<int16_t> out(size_t(frames) * channels);
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint16_t c = 0; c < channels; ++c) {
            double v = amplitude * std::sin(2.0 * M_PI * hz * (c + 1) * i / rate);
            out[size_t(i) * channels + c] = static_cast<int16_t>(std::lround(v * 32767.0));
        }
    }
    return out;
}

std::vector<uint8_t> toBytes(const std::vector<int16_t>& samples) {
    std::vector<uint8_t> out;
    out.reserve(samples.size() * 2);
    for (int16_t s : samples) {
        putU16(out, static_cast<uint16_t>(s));
    }
    return out;
}

void putU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v & 0xFF));
    out.push_back(uint8_t(v >> 8));
}

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(uint8_t((v >> (8 * i)) & 0xFF));
    }
}

void putTag(std::vector<uint8_t>& out, const char* tag) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(tag[i]));
    }
}

void putChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& payload) {
    putTag(out, id);
    putU32(out, uint32_t(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    if (payload.size() % 2) {
        out.push_back(0);
    }
}

std::vector<uint8_t> formatBytes(const WaveFormat& format, const std::vector<uint8_t>& extra) {
    std::vector<uint8_t> out;
    putU16(out, format.wFormatTag);
    putU16(out, format.nChannels);
    putU32(out, format.nSamplesPerSec);
    putU32(out, format.nAvgBytesPerSec);
    putU16(out, format.nBlockAlign);
    putU16(out, format.wBitsPerSample);
    putU16(out, uint16_t(extra.size()));
    out.insert(out.end(), extra.begin(), extra.end());
    return out;
}

int worstDownmixError(const std::vector<uint8_t>& stereo, const std::vector<int16_t>& mono) {
    if (stereo.size() / 4 != mono.size()) {
        return -1;
    }
    int worst = 0;
    for (size_t i = 0; i < mono.size(); ++i) {
        const int left = int16_t(stereo[4 * i] | stereo[4 * i + 1] << 8);
        const int right = int16_t(stereo[4 * i + 2] | stereo[4 * i + 3] << 8);
        worst = std::max(worst, std::abs(mono[i] - (left + right) / 2));
    }
    return worst;
}

std::string writeWave(const std::string& path, uint16_t channels, uint32_t rate, double seconds,
                      double hz) {
    const auto frames = static_cast<uint32_t>(rate * seconds);
    writeFileBytes(path, waveFile(pcmFormat(channels, rate, 16),
                                  toBytes(sineSamples(rate, channels, frames, hz))));
    return path;
}

std::string writeFrontPairWave(const std::string& path, uint16_t channels, uint32_t rate,
                               double seconds, double hz) {
    const auto frames = static_cast<uint32_t>(rate * seconds);
    const std::vector<int16_t> pair = sineSamples(rate, 2, frames, hz);
    std::vector<int16_t> all(size_t(frames) * channels, 0);
    for (size_t i = 0; i < frames; ++i) {
        all[i * channels] = pair[2 * i];
        all[i * channels + 1] = pair[2 * i + 1];
    }
    writeFileBytes(path, waveFile(pcmFormat(channels, rate, 16), toBytes(all)));
    return path;
}

std::vector<uint8_t> withoutSilentFrames(const std::vector<uint8_t>& bytes, size_t frameBytes) {
    std::vector<uint8_t> out;
    out.reserve(bytes.size());
    for (size_t at = 0; at + frameBytes <= bytes.size(); at += frameBytes) {
        const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(at);
        const auto last = first + static_cast<std::ptrdiff_t>(frameBytes);
        if (std::any_of(first, last, [](uint8_t b) { return b != 0; })) {
            out.insert(out.end(), first, last);
        }
    }
    return out;
}

std::vector<uint8_t> waveFile(const WaveFormat& format, const std::vector<uint8_t>& data,
                              bool shortFmt) {
    std::vector<uint8_t> body;
    putTag(body, "WAVE");
    std::vector<uint8_t> fmt = formatBytes(format);
    if (shortFmt) {
        fmt.resize(16);
    }
    putChunk(body, "fmt ", fmt);
    putChunk(body, "data", data);
    std::vector<uint8_t> file;
    putTag(file, "RIFF");
    putU32(file, uint32_t(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

std::vector<uint8_t> pcmWaveFile(const PcmLayout& layout, const std::vector<int64_t>& samples) {
    const bool big = layout.bigEndian;
    // A number of `bytes` bytes in the file's order.
    auto put = [big](std::vector<uint8_t>& out, uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            out.push_back(uint8_t(v >> (8 * (big ? bytes - 1 - i : i))));
        }
    };
    const int block = layout.channels * layout.containerBytes;
    std::vector<uint8_t> fmt;
    put(fmt, layout.extensible ? 0xFFFE : 1, 2);
    put(fmt, layout.channels, 2);
    put(fmt, layout.rate, 4);
    put(fmt, uint64_t(layout.rate) * block, 4);
    put(fmt, block, 2);
    put(fmt, layout.extensible ? layout.containerBytes * 8 : layout.bits, 2);
    if (layout.extensible) {
        put(fmt, 22, 2);
        put(fmt, layout.bits, 2);
        put(fmt, 0, 4); // channel mask
        // The PCM sub-format GUID, its three leading fields in the file's order.
        put(fmt, 1, 4);
        put(fmt, 0, 2);
        put(fmt, 0x10, 2);
        for (uint8_t b : {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}) {
            fmt.push_back(b);
        }
    }
    std::vector<uint8_t> data;
    for (int64_t value : samples) {
        const uint64_t stored = uint64_t(value) << (layout.containerBytes * 8 - layout.bits);
        put(data, layout.containerBytes == 1 ? stored ^ 0x80 : stored, layout.containerBytes);
    }
    std::vector<uint8_t> file;
    putTag(file, big ? "RIFX" : "RIFF");
    put(file, 4 + 8 + fmt.size() + 8 + data.size() + data.size() % 2, 4);
    putTag(file, "WAVE");
    for (const auto& [id, body] : {std::pair{"fmt ", &fmt}, std::pair{"data", &data}}) {
        putTag(file, id);
        put(file, body->size(), 4);
        file.insert(file.end(), body->begin(), body->end());
    }
    if (data.size() % 2) {
        file.push_back(0);
    }
    return file;
}

bool chooseSdlDiskDriver() {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIODELAY", "1", 1);
    return true;
}

namespace {

void setOrClear(const char* name, const char* value) {
    if (value) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

} // namespace

SdlDriverScope::SdlDriverScope(const char* driver, const char* diskFile) {
    for (auto [name, saved] : {std::pair{"SDL_AUDIODRIVER", &driverBefore},
                               std::pair{"SDL_DISKAUDIOFILE", &diskFileBefore}}) {
        if (const char* value = std::getenv(name)) {
            saved->set = true;
            saved->value = value;
        }
    }
    use(driver, diskFile);
}

SdlDriverScope::~SdlDriverScope() {
    setOrClear("SDL_AUDIODRIVER", driverBefore.set ? driverBefore.value.c_str() : nullptr);
    setOrClear("SDL_DISKAUDIOFILE", diskFileBefore.set ? diskFileBefore.value.c_str() : nullptr);
    waveAudioShutdown();
}

void SdlDriverScope::use(const char* driver, const char* diskFile) {
    setOrClear("SDL_AUDIODRIVER", driver);
    setOrClear("SDL_DISKAUDIOFILE", diskFile);
    restarted = waveAudioShutdown() && restarted;
}

HeaderBuffer::HeaderBuffer(size_t bytes, uint8_t fill, size_t spare) : data(bytes + spare, fill) {
    header.data = data.data();
    header.bufferLength = uint32_t(bytes);
}

} // namespace testing_support
