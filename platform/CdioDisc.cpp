#include "platform/CdioDisc.h"

#include "platform/CdDriveRegistry.h"
#include "platform/CdParanoiaReader.h"

#include <cdio/cdio.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace {

uint8_t controlBits(CdIo_t* cdio, track_t track) {
    uint8_t control = 0;
    if (cdio_get_track_format(cdio, track) != TRACK_FORMAT_AUDIO) {
        control |= kCdControlData;
    }
    if (cdio_get_track_copy_permit(cdio, track) == CDIO_TRACK_FLAG_TRUE) {
        control |= 0x02;
    }
    if (cdio_get_track_preemphasis(cdio, track) == CDIO_TRACK_FLAG_TRUE) {
        control |= 0x01;
    }
    return control;
}

} // namespace

CdioDisc::CdioDisc(CdIo_t* handle, bool image, CdImageFiles imageFiles)
    : cdio(handle), isImage(image), files(std::move(imageFiles)) {
    const lsn_t end = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
    lastLeadOut = end == CDIO_INVALID_LSN ? 0 : end;
}

CdioDisc::~CdioDisc() {
    // The jitter reader holds the library's handle: it goes first.
    jitter.reset();
    cdio_destroy(cdio);
}

std::unique_ptr<CdDisc> CdioDisc::openDevice(const std::string& path) {
    CdIo_t* cdio = cdio_open(path.c_str(), DRIVER_DEVICE);
    if (!cdio) {
        return nullptr;
    }
    cdio_get_media_changed(cdio); // starts the change count from now
    std::unique_ptr<CdDisc> disc(new (std::nothrow) CdioDisc(cdio, false, CdImageFiles()));
    if (!disc) {
        cdio_destroy(cdio);
    }
    return disc;
}

std::unique_ptr<CdDisc> CdioDisc::adoptImage(CdIo_t* cdio, const std::string& path,
                                             const std::vector<std::string>& dataFiles) {
    if (!cdio) {
        return nullptr;
    }
    std::vector<std::string> names{path};
    names.insert(names.end(), dataFiles.begin(), dataFiles.end());
    if (const char* source = cdio_get_arg(cdio, "source")) {
        if (std::find(names.begin(), names.end(), source) == names.end()) {
            names.emplace_back(source);
        }
    }
    std::unique_ptr<CdDisc> disc(new (std::nothrow)
                                     CdioDisc(cdio, true, CdImageFiles(std::move(names))));
    if (!disc) {
        cdio_destroy(cdio);
    }
    return disc;
}

bool CdioDisc::unchanged() {
    return isImage ? files.unchanged() : cdio_get_media_changed(cdio) == 0;
}

uint32_t CdioDisc::readToc(CdToc* toc) {
    track_t first = cdio_get_first_track_num(cdio);
    track_t last = cdio_get_last_track_num(cdio);
    if (first == CDIO_INVALID_TRACK || last == CDIO_INVALID_TRACK || first == 0 || last < first ||
        last - first + 1 >= static_cast<int>(kCdMaxTocTracks)) {
        return kCdError;
    }
    lsn_t end = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
    if (end == CDIO_INVALID_LSN || end < 0) {
        return kCdError;
    }
    uint32_t count = 0;
    uint8_t lastControl = 0;
    for (track_t t = first; t <= last; ++t) {
        lsn_t start = cdio_get_track_lsn(cdio, t);
        if (start == CDIO_INVALID_LSN || start < 0) {
            return kCdError;
        }
        lastControl = controlBits(cdio, t);
        putTocTrack(toc, count++, t, lastControl, static_cast<uint32_t>(start));
    }
    endToc(toc, count, lastControl, static_cast<uint32_t>(end), first, last);
    lastLeadOut = end;
    return kCdOk;
}

bool CdioDisc::readAudio(uint32_t first, uint32_t frames, const CdReadSettings& settings,
                         uint8_t* out) {
    const lsn_t start = static_cast<lsn_t>(first);
    if (!settings.jitterCorrected) {
        return cdio_read_audio_sectors(cdio, out, start, frames) == DRIVER_OP_SUCCESS;
    }
    if (!jitter) {
        std::lock_guard<std::mutex> lock(cdLayerMutex());
        jitter = CdParanoiaReader::open(cdio, settings.overlapFrames, settings.compareFrames);
        if (!jitter) {
            return false;
        }
    }
    return jitter->read(start, frames, out);
}

void CdioDisc::settingsChanged() {
    if (jitter) {
        std::lock_guard<std::mutex> lock(cdLayerMutex());
        jitter.reset();
    }
}
