#pragma once
// Reference media for the decoding tests: files made with the ffmpeg tool at
// test time, and what the tool itself decodes from them.

#include "engine/AudioStream.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace ffmpeg_tools {

inline bool available() {
    static const bool present = std::system("ffmpeg -version >/dev/null 2>&1") == 0 &&
                                std::system("ffprobe -version >/dev/null 2>&1") == 0;
    return present;
}

inline bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Two channels of different tones with a slow sweep, so that misplaced or
// missing samples show.
inline std::string stereoSource(int rate, double seconds) {
    return "-f lavfi -i "
           "\"aevalsrc=0.4*sin(2*PI*(440+40*t)*t)|0.3*sin(2*PI*660*t+1)+0.1*sin(2*PI*3000*t):s=" +
           std::to_string(rate) + ":d=" + std::to_string(seconds) + "\"";
}

// Encodes a file; codecArgs name the codec and container options.
inline bool make(const std::string& path, const std::string& source, const std::string& codecArgs) {
    return run("ffmpeg -nostdin -v error -y " + source + " " + codecArgs + " \"" + path + "\"");
}

// What ffmpeg decodes from path as interleaved 16-bit samples; extra goes
// before the output (for example "-ac 1 -ar 22050").
inline std::vector<int16_t> decode(const std::string& path, const std::string& extra = "") {
    std::string raw = path + ".ref.raw";
    if (!run("ffmpeg -nostdin -v error -y -i \"" + path + "\" " + extra +
             " -f s16le -c:a pcm_s16le \"" + raw + "\"")) {
        return {};
    }
    std::vector<int16_t> samples;
    if (FILE* f = std::fopen(raw.c_str(), "rb")) {
        int16_t buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 2, 4096, f)) > 0) {
            samples.insert(samples.end(), buffer, buffer + n);
        }
        std::fclose(f);
    }
    std::remove(raw.c_str());
    return samples;
}

// The format duration that ffprobe reports, in seconds; negative if none.
inline double probeDuration(const std::string& path) {
    std::string command =
        "ffprobe -v error -show_entries format=duration -of csv=p=0 \"" + path + "\"";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return -1.0;
    }
    char line[128] = {};
    double value = -1.0;
    if (std::fgets(line, sizeof line, pipe)) {
        value = std::strtod(line, nullptr);
    }
    pclose(pipe);
    return value;
}

// Every sample a stream hands out until its first empty buffer.
inline std::vector<int16_t> readSamples(AudioStream& stream, size_t* buffers = nullptr) {
    std::vector<int16_t> samples;
    size_t count = 0;
    for (;;) {
        AudioBuffer buffer = stream.GetBuffer();
        if (buffer.isEmpty()) {
            break;
        }
        size_t n = buffer.length() / 2;
        size_t at = samples.size();
        samples.resize(at + n);
        std::memcpy(samples.data() + at, buffer.data(), n * 2);
        ++count;
    }
    if (buffers) {
        *buffers = count;
    }
    return samples;
}

// Root-mean-square difference over the common length, in units of full scale.
inline double rmsDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b,
                            size_t skip = 0) {
    size_t n = std::min(a.size(), b.size());
    if (n <= skip) {
        return 1.0;
    }
    double sum = 0.0;
    for (size_t i = skip; i < n; ++i) {
        double d = (static_cast<double>(a[i]) - b[i]) / 32768.0;
        sum += d * d;
    }
    return std::sqrt(sum / static_cast<double>(n - skip));
}

} // namespace ffmpeg_tools
