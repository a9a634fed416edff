#include "support/DiscImage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <numbers>
#include <stdexcept>
#include <unistd.h>

namespace testing_support {

namespace {

void fillNoise(std::vector<uint8_t>& out, uint32_t seed) {
    uint32_t x = seed * 2654435761u + 12345u;
    for (auto& b : out) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
}

uint8_t bcd(uint32_t v) {
    return static_cast<uint8_t>((v / 10) << 4 | (v % 10));
}

} // namespace

std::string cueTime(uint32_t frames) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", frames / (75 * 60), (frames / 75) % 60,
                  frames % 75);
    return text;
}

DiscImage& DiscImage::audio(uint32_t frames, uint32_t seed) {
    tracks.push_back({frames, seed, false, false});
    return *this;
}

DiscImage& DiscImage::tone(uint32_t frames, uint32_t hz) {
    Track t{frames, hz, false, false};
    t.tone = true;
    tracks.push_back(t);
    return *this;
}

DiscImage& DiscImage::pcm(std::vector<uint8_t> bytes) {
    Track t{static_cast<uint32_t>((bytes.size() + kCdFrameBytes - 1) / kCdFrameBytes), 0, false,
            false};
    t.content = std::move(bytes);
    tracks.push_back(std::move(t));
    return *this;
}

DiscImage& DiscImage::silentAudio(uint32_t frames) {
    tracks.push_back({frames, 0, false, true});
    return *this;
}

DiscImage& DiscImage::data(uint32_t frames) {
    tracks.push_back({frames, 0, true, false});
    return *this;
}

uint32_t DiscImage::trackStart(size_t index) const {
    uint32_t start = 0;
    for (size_t i = 0; i < index; ++i) {
        start += tracks.at(i).frames;
    }
    return start;
}

uint32_t DiscImage::totalFrames() const {
    return trackStart(tracks.size());
}

std::vector<uint8_t> DiscImage::trackBytes(size_t index) const {
    const Track& t = tracks.at(index);
    if (t.sparse) {
        return {};
    }
    std::vector<uint8_t> out(static_cast<size_t>(t.frames) * kCdFrameBytes);
    if (!t.content.empty()) {
        std::copy(t.content.begin(), t.content.end(), out.begin());
        return out;
    }
    if (t.tone) {
        const size_t samples = static_cast<size_t>(t.frames) * (kCdFrameBytes / 4);
        for (size_t i = 0; i < samples; ++i) {
            for (size_t c = 0; c < 2; ++c) {
                double phase = 2.0 * std::numbers::pi * t.seed *
                               (1.0 + 0.5 * static_cast<double>(c)) * static_cast<double>(i) /
                               44100.0;
                auto v = static_cast<int16_t>(std::lround(16383.0 * std::sin(phase)));
                out[4 * i + 2 * c] = static_cast<uint8_t>(v & 0xFF);
                out[4 * i + 2 * c + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
            }
        }
        return out;
    }
    if (!t.isData) {
        fillNoise(out, t.seed);
        return out;
    }
    uint32_t lba = trackStart(index);
    for (uint32_t f = 0; f < t.frames; ++f) {
        uint8_t* s = out.data() + static_cast<size_t>(f) * kCdFrameBytes;
        s[0] = 0;
        for (int i = 1; i < 11; ++i) {
            s[i] = 0xFF;
        }
        s[11] = 0;
        uint32_t msf = lba + f + 150;
        s[12] = bcd(msf / (75 * 60));
        s[13] = bcd((msf / 75) % 60);
        s[14] = bcd(msf % 75);
        s[15] = 1;
        for (int i = 0; i < 2048; ++i) {
            s[16 + i] = static_cast<uint8_t>(f + i);
        }
    }
    return out;
}

void DiscImage::writeBin(const std::string& bin) const {
    int fd = ::open(bin.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot create " + bin);
    }
    for (size_t i = 0; i < tracks.size(); ++i) {
        std::vector<uint8_t> bytes = trackBytes(i);
        off_t offset = static_cast<off_t>(trackStart(i)) * kCdFrameBytes;
        if (!bytes.empty() && ::pwrite(fd, bytes.data(), bytes.size(), offset) !=
                                  static_cast<ssize_t>(bytes.size())) {
            ::close(fd);
            throw std::runtime_error("cannot write " + bin);
        }
    }
    // Sparse tracks at the end are holes up to the full length.
    if (::ftruncate(fd, static_cast<off_t>(totalFrames()) * kCdFrameBytes) != 0) {
        ::close(fd);
        throw std::runtime_error("cannot size " + bin);
    }
    ::close(fd);
}

namespace {

std::string writeText(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        throw std::runtime_error("cannot create " + path);
    }
    std::fputs(text.c_str(), f);
    std::fclose(f);
    return path;
}

} // namespace

std::string DiscImage::write(const std::string& dir, const std::string& name) const {
    writeBin(dir + "/" + name + ".bin");
    std::string sheet = "FILE \"" + name + ".bin\" BINARY\n";
    for (size_t i = 0; i < tracks.size(); ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "  TRACK %02zu %s\n", i + 1,
                      tracks[i].isData ? "MODE1/2352" : "AUDIO");
        sheet += line;
        sheet += "    INDEX 01 " + cueTime(trackStart(i)) + "\n";
    }
    return writeText(dir + "/" + name + ".cue", sheet);
}

std::string DiscImage::writeToc(const std::string& dir, const std::string& name,
                                bool lastLength) const {
    writeBin(dir + "/" + name + ".bin");
    std::string toc = "CD_DA\n";
    for (size_t i = 0; i < tracks.size(); ++i) {
        if (tracks[i].isData) {
            throw std::runtime_error("a TOC image holds audio tracks only");
        }
        toc += "\nTRACK AUDIO\nFILE \"" + name + ".bin\" " + cueTime(trackStart(i));
        if (lastLength || i + 1 < tracks.size()) {
            toc += " " + cueTime(tracks[i].frames);
        }
        toc += "\n";
    }
    return writeText(dir + "/" + name + ".toc", toc);
}

} // namespace testing_support
