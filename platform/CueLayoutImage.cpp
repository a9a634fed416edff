#include "platform/CueLayoutImage.h"

#include "platform/CueSheet.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

CueLayoutImage::CueLayoutImage(std::unique_ptr<CueLayout> sheetLayout)
    : layout(std::move(sheetLayout)) {}

CueLayoutImage::~CueLayoutImage() {
    for (int fd : descriptors) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool CueLayoutImage::needed(const std::string& text, const std::string& path) {
    const std::string tail = path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
    return (tail != ".cue" && tail != ".CUE") || cueSheetNeedsLayout(text, path);
}

std::unique_ptr<CdDisc> CueLayoutImage::open(const std::string& path,
                                             std::unique_ptr<CueLayout> sheetLayout) {
    std::unique_ptr<CueLayoutImage> image(new (std::nothrow)
                                              CueLayoutImage(std::move(sheetLayout)));
    if (!image) {
        return nullptr;
    }
    for (const std::string& file : image->layout->files) {
        std::string error;
        image->descriptors.push_back(CdImageFiles::openRegularFile(file, &error));
        if (image->descriptors.back() < 0) {
            std::fprintf(stderr, "velumo: cd: %s: %s\n", path.c_str(), error.c_str());
            return nullptr;
        }
    }
    std::vector<std::string> names{path};
    names.insert(names.end(), image->layout->files.begin(), image->layout->files.end());
    image->files = CdImageFiles(std::move(names));
    return image;
}

int32_t CueLayoutImage::leadOut() const {
    return static_cast<int32_t>(layout->leadOut);
}

uint32_t CueLayoutImage::readToc(CdToc* toc) {
    uint32_t count = 0;
    uint8_t control = 0;
    for (const CueTrack& track : layout->tracks) {
        control =
            static_cast<uint8_t>((track.audio ? 0 : kCdControlData) |
                                 (track.copyPermitted ? 0x02 : 0) | (track.preEmphasis ? 0x01 : 0));
        putTocTrack(toc, count++, track.number, control, track.start);
    }
    endToc(toc, count, control, layout->leadOut, layout->tracks.front().number,
           layout->tracks.back().number);
    return kCdOk;
}

bool CueLayoutImage::readAudio(uint32_t first, uint32_t frames, const CdReadSettings&,
                               uint8_t* out) {
    const std::vector<CueSegment>& segments = layout->segments;
    auto it = std::upper_bound(segments.begin(), segments.end(), first,
                               [](uint32_t frame, const CueSegment& s) { return frame < s.start; });
    if (it == segments.begin()) {
        return false;
    }
    --it;
    uint32_t frame = first;
    while (frame < first + frames) {
        if (it == segments.end() || frame >= it->start + it->frames) {
            return false;
        }
        const uint32_t run = std::min(first + frames, it->start + it->frames) - frame;
        uint8_t* to = out + static_cast<size_t>(frame - first) * kCdFrameBytes;
        std::memset(to, 0, static_cast<size_t>(run) * kCdFrameBytes);
        if (it->file >= 0) {
            if (!it->audio) {
                return false;
            }
            const int fd = descriptors[static_cast<size_t>(it->file)];
            for (uint32_t i = 0; i < run; ++i) {
                const uint64_t at =
                    it->offset + static_cast<uint64_t>(frame - it->start + i) * it->sectorBytes;
                if (at >= it->end) {
                    break; // the completed last frame of a file: silence
                }
                const size_t want =
                    static_cast<size_t>(std::min<uint64_t>(kCdFrameBytes, it->end - at));
                uint8_t* sector = to + static_cast<size_t>(i) * kCdFrameBytes;
                size_t got = 0;
                while (got < want) {
                    const ssize_t n =
                        ::pread(fd, sector + got, want - got, static_cast<off_t>(at + got));
                    if (n <= 0) {
                        return false; // the file shrank or cannot be read
                    }
                    got += static_cast<size_t>(n);
                }
                if (it->bigEndian) {
                    for (size_t b = 0; b + 1 < want; b += 2) {
                        std::swap(sector[b], sector[b + 1]);
                    }
                }
            }
        }
        frame += run;
        ++it;
    }
    return true;
}
