// Drives a whole conversion, as velumo-convert runs one: ConversionJob loads
// a file made from the input, writes it as a WAV file, and the result is
// checked.
//
// Input: byte 0 picks the job's rate (bits 0-2) and how the rest is stored
// (bits 3-4): as the format record and data of a generated WAVE file, or
// as they are, under a .wav, .mp3 or .wma name (the media reader's path).
// For a generated WAVE file, byte 1 is the length of the format record (at
// most the largest format size), then the record, then the audio data.
//
// Checks: a source that loads converts to a complete file whose header
// counts exactly the bytes that follow it; a source that does not load
// leaves no file. Run with a memory limit (run-all.sh gives one): reading
// an input must cost memory bounded by the input, never by a search through
// what it does not hold.
#include "base/FormatLimits.h"
#include "encode/ConversionJob.h"
#include "platform/MessageBox.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const double kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000};
const char* const kRawNames[] = {"raw.wav", "raw.mp3", "raw.wma"};

void putU32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

void putChunk(std::vector<uint8_t>& out, const char* id, const uint8_t* bytes, size_t size) {
    out.insert(out.end(), id, id + 4);
    putU32(out, static_cast<uint32_t>(size));
    out.insert(out.end(), bytes, bytes + size);
    if (size % 2 != 0) {
        out.push_back(0);
    }
}

std::vector<uint8_t> waveFile(const uint8_t* record, size_t recordSize, const uint8_t* data,
                              size_t dataSize) {
    std::vector<uint8_t> chunks;
    putChunk(chunks, "fmt ", record, recordSize);
    putChunk(chunks, "data", data, dataSize);
    std::vector<uint8_t> file = {'R', 'I', 'F', 'F'};
    putU32(file, static_cast<uint32_t>(chunks.size() + 4));
    file.insert(file.end(), {'W', 'A', 'V', 'E'});
    file.insert(file.end(), chunks.begin(), chunks.end());
    return file;
}

const std::filesystem::path& workDir() {
    static const std::filesystem::path dir = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velumo-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::abort();
        }
        return std::filesystem::path(pattern);
    }();
    return dir;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

uint32_t u32At(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::vector<uint8_t> out;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        return out;
    }
    uint8_t chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        out.insert(out.end(), chunk, chunk + n);
    }
    std::fclose(file);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        setMessageHandler([](const MessageRequest&) { return MessageAnswer::No; });
        // The media reader's diagnostics go to standard output.
        if (!std::freopen("/dev/null", "w", stdout)) {
            std::abort();
        }
        return true;
    }();
    (void)quiet;
    if (size < 2) {
        return 0;
    }
    const double rate = kRates[data[0] & 7];
    const unsigned mode = (data[0] >> 3) & 3;
    std::vector<uint8_t> file;
    std::string source;
    if (mode == 0) {
        size_t recordSize = std::min<size_t>({data[1], largestFormatSize(), size - 2});
        file = waveFile(data + 2, recordSize, data + 2 + recordSize, size - 2 - recordSize);
        source = (workDir() / "made.wav").string();
    } else {
        file.assign(data + 1, data + size);
        source = (workDir() / kRawNames[mode - 1]).string();
    }
    const std::string target = (workDir() / "out.wav").string();
    std::filesystem::remove(target);
    if (!writeFile(source, file)) {
        std::abort();
    }

    bool loaded = false;
    ConversionJob::Result result = ConversionJob::Result::NotRun;
    {
        ConversionJob job(rate);
        loaded = job.LoadSource(source);
        if (loaded) {
            if (!job.SetTarget(target)) {
                std::abort();
            }
            result = job.RunHere();
        }
    }
    std::error_code error;
    bool written = std::filesystem::exists(target, error);
    if (!loaded) {
        if (written) {
            std::abort(); // a source that did not load wrote a file
        }
        return 0;
    }
    if (result != ConversionJob::Result::Completed) {
        std::abort(); // nothing but the source can fail here, and it loaded
    }
    std::vector<uint8_t> out = readFile(target);
    if (out.size() < 44 || u32At(out, 40) != out.size() - 44 || u32At(out, 4) != out.size() - 8 ||
        u32At(out, 24) != static_cast<uint32_t>(rate)) {
        std::abort(); // the header does not describe the file
    }
    return 0;
}
