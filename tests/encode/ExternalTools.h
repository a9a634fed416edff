#pragma once
// Runs the independent tools (ffprobe, ffmpeg, sox) that tests use to read
// back what Velumo wrote.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace testing_support {

// Standard output of a shell command; *status gets its exit status.
inline std::string runCommand(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        if (status) {
            *status = -1;
        }
        return out;
    }
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        out.append(chunk, n);
    }
    int rc = pclose(pipe);
    if (status) {
        *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    return out;
}

inline bool haveTool(const std::string& name) {
    int status = 0;
    runCommand("command -v " + name + " >/dev/null 2>&1", &status);
    return status == 0;
}

inline std::string shellQuoted(const std::string& path) {
    std::string q = "'";
    for (char c : path) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

// The first audio stream's fields and the container's tags in one ffprobe
// run: "sample_rate", "channels", "channel_layout", "bit_rate",
// "codec_name", and "TAG:title" and the like.
inline std::map<std::string, std::string> probeFile(const std::string& path) {
    std::string out =
        runCommand("ffprobe -v error -select_streams a:0 -show_entries "
                   "stream=codec_name,sample_rate,channels,channel_layout,bit_rate:format_tags "
                   "-of default=nw=1 " +
                   shellQuoted(path) + " 2>/dev/null");
    std::map<std::string, std::string> fields;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) {
            end = out.size();
        }
        std::string line = out.substr(start, end - start);
        if (size_t eq = line.find('='); eq != std::string::npos) {
            fields.emplace(line.substr(0, eq), line.substr(eq + 1));
        }
        start = end + 1;
    }
    return fields;
}

// The file decoded by ffmpeg to 16-bit mono at the given rate.
inline std::vector<int16_t> decodeMono(const std::string& path, uint32_t rate) {
    std::string raw = runCommand("ffmpeg -v error -i " + shellQuoted(path) +
                                 " -f s16le -ac 1 -ar " + std::to_string(rate) + " - 2>/dev/null");
    std::vector<int16_t> samples(raw.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = int16_t(uint8_t(raw[2 * i]) | uint8_t(raw[2 * i + 1]) << 8);
    }
    return samples;
}

// The best normalised correlation of b against a over lags 0..maxLag (b
// delayed against a), computed on the overlap, or on its first `window`
// samples when that is shorter.
inline double bestCorrelation(const std::vector<int16_t>& a, const std::vector<int16_t>& b,
                              size_t maxLag, size_t* bestLagOut = nullptr,
                              size_t window = SIZE_MAX) {
    double best = -1.0;
    for (size_t lag = 0; lag <= maxLag && lag < b.size(); ++lag) {
        size_t n = std::min({a.size(), b.size() - lag, window});
        double ab = 0, aa = 0, bb = 0;
        for (size_t i = 0; i < n; ++i) {
            double x = a[i], y = b[i + lag];
            ab += x * y;
            aa += x * x;
            bb += y * y;
        }
        if (aa > 0 && bb > 0) {
            double c = ab / std::sqrt(aa * bb);
            if (c > best) {
                best = c;
                if (bestLagOut) {
                    *bestLagOut = lag;
                }
            }
        }
    }
    return best;
}

} // namespace testing_support
