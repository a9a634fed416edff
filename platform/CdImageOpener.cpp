#include "platform/CdImageOpener.h"

#include "platform/CdioDisc.h"
#include "platform/CueBinImage.h"
#include "platform/CueLayoutImage.h"
#include "platform/NrgImage.h"
#include "platform/TocImage.h"

#include <cdio/cdio.h>

#include <cstring>

namespace {

enum class ImageKind { CueSheet, CueBin, Toc, Nrg, Unknown };

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
    if (endsWith(".cue") || endsWith(".bin")) {
        // Only ".cue" and ".CUE" are looked into for a sheet the library
        // cannot read; a sheet spelt otherwise (".Cue") goes to the library.
        const std::string tail = path.substr(path.size() - 4);
        return tail == ".cue" || tail == ".CUE" ? ImageKind::CueSheet : ImageKind::CueBin;
    }
    if (endsWith(".toc")) {
        return ImageKind::Toc;
    }
    if (endsWith(".nrg")) {
        return ImageKind::Nrg;
    }
    return ImageKind::Unknown;
}

} // namespace

std::unique_ptr<CdDisc> openCdImage(const std::string& path) {
    switch (imageKind(path)) {
    case ImageKind::CueSheet:
        if (CueLayoutImage::needed(path)) {
            return CueLayoutImage::open(path);
        }
        return openCueBinImage(path);
    case ImageKind::CueBin:
        return openCueBinImage(path);
    case ImageKind::Toc:
        return openTocImage(path);
    case ImageKind::Nrg:
        return openNrgImage(path);
    case ImageKind::Unknown:
        break;
    }
    return CdioDisc::adoptImage(cdio_open(path.c_str(), DRIVER_UNKNOWN), path);
}
