#include "platform/CdImageOpener.h"

#include "platform/CdImageFiles.h"
#include "platform/CdioDisc.h"
#include "platform/CueBinImage.h"
#include "platform/CueLayoutImage.h"
#include "platform/CueSheet.h"
#include "platform/NrgImage.h"
#include "platform/TocImage.h"

#include <cdio/cdio.h>

#include <cstdio>
#include <cstring>

namespace {

enum class ImageKind { CueSheet, Bin, Toc, Nrg, Unknown };

ImageKind imageKind(const std::string& path) {
    auto endsWith = [&](const char* ext) {
        size_t n = std::strlen(ext);
        if (path.size() < n) {
            return false;
        }
        for (size_t i = 0; i < n; ++i) {
            char c = path[path.size() - n + i];
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
            if (c != ext[i]) {
                return false;
            }
        }
        return true;
    };
    if (endsWith(".cue")) {
        return ImageKind::CueSheet;
    }
    if (endsWith(".bin")) {
        return ImageKind::Bin;
    }
    if (endsWith(".toc")) {
        return ImageKind::Toc;
    }
    if (endsWith(".nrg")) {
        return ImageKind::Nrg;
    }
    return ImageKind::Unknown;
}

void refuse(const std::string& path, const std::string& why) {
    std::fprintf(stderr, "velumo: cd: %s: %s\n", path.c_str(), why.c_str());
}

// Every sheet is laid out here first, whichever reader then reads it: the
// layout checks what the library's reader lets through (a track that starts
// past the end of its data, gaps adding up to more than a disc, a data file
// that is a FIFO or a device).
std::unique_ptr<CdDisc> openCueSheet(const std::string& path) {
    std::string text;
    std::string error;
    auto layout = std::make_unique<CueLayout>();
    if (!CdImageFiles::readText(path, &text, &error) ||
        !loadCueLayout(path, layout.get(), &error)) {
        std::fprintf(stderr, "velumo: cd: %s\n", error.c_str());
        return nullptr;
    }
    if (CueLayoutImage::needed(text, path)) {
        return CueLayoutImage::open(path, std::move(layout));
    }
    return CdioDisc::adoptImage(cdio_open(path.c_str(), DRIVER_BINCUE), path, layout->files);
}

// Whether the table of contents the image gives describes a disc: track
// starts rising to the lead-out, and no more frames than a disc holds.
bool describesADisc(CdDisc& disc, const std::string& path) {
    CdToc toc{};
    if (disc.readToc(&toc) != kCdOk) {
        return true; // ReadTOC reports it
    }
    const uint32_t count =
        toc.lastTrack >= toc.firstTrack ? toc.lastTrack - toc.firstTrack + 1u : 0u;
    if (count == 0 || count >= kCdMaxTocTracks) {
        return true;
    }
    const uint32_t leadOut = cdTocAddress(toc.tracks[count]);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t start = cdTocAddress(toc.tracks[i]);
        const uint32_t next = cdTocAddress(toc.tracks[i + 1]);
        if (start >= leadOut) {
            refuse(path, "track " + std::to_string(toc.tracks[i].trackNumber) +
                             " starts past the end of its data");
            return false;
        }
        if (next <= start) {
            refuse(path, "track " + std::to_string(toc.tracks[i + 1].trackNumber) +
                             " does not start after track " +
                             std::to_string(toc.tracks[i].trackNumber));
            return false;
        }
    }
    if (leadOut > kCdMaxDiscFrames) {
        refuse(path, "its tracks add up to more than a disc holds (99:59:74)");
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<CdDisc> openCdImage(const std::string& path) {
    std::string error;
    if (!CdImageFiles::isRegularFile(path, &error)) {
        std::fprintf(stderr, "velumo: cd: %s\n", error.c_str());
        return nullptr;
    }
    std::unique_ptr<CdDisc> disc;
    switch (imageKind(path)) {
    case ImageKind::CueSheet:
        disc = openCueSheet(path);
        break;
    case ImageKind::Bin:
        disc = openCueBinImage(path);
        break;
    case ImageKind::Toc:
        disc = openTocImage(path);
        break;
    case ImageKind::Nrg:
        disc = openNrgImage(path);
        break;
    case ImageKind::Unknown:
        disc = CdioDisc::adoptImage(cdio_open(path.c_str(), DRIVER_UNKNOWN), path);
        break;
    }
    if (disc && !describesADisc(*disc, path)) {
        return nullptr;
    }
    return disc;
}
