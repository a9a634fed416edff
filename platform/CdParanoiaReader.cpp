#include "platform/CdParanoiaReader.h"

#include "platform/CdLibrary.h"

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr int kJitterRetries = 20;

} // namespace

std::unique_ptr<CdParanoiaReader> CdParanoiaReader::open(CdIo_t* cdio, uint32_t overlapFrames,
                                                         uint32_t compareFrames) {
    cdrom_drive_t* drive = cdio_cddap_identify_cdio(cdio, CDDA_MESSAGE_FORGETIT, nullptr);
    if (!drive) {
        return nullptr;
    }
    // Left unset, the reader guesses the byte order from the audio and may
    // swap; plain reads return the drive's order, and both must agree.
    drive->bigendianp = 0;
    if (cdio_cddap_open(drive) != 0) {
        cdio_cddap_close_no_free_cdio(drive);
        return nullptr;
    }
    cdrom_paranoia_t* paranoia = cdio_paranoia_init(drive);
    if (!paranoia) {
        cdio_cddap_close_no_free_cdio(drive);
        return nullptr;
    }
    int mode = PARANOIA_MODE_DISABLE;
    if (compareFrames != 0) {
        mode = PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP;
    } else if (overlapFrames != 0) {
        mode = PARANOIA_MODE_OVERLAP;
    }
    cdio_paranoia_modeset(paranoia, mode);
    if (overlapFrames != 0) {
        cdio_paranoia_overlapset(paranoia, static_cast<long>(overlapFrames));
    }
    std::unique_ptr<CdParanoiaReader> reader(new (std::nothrow) CdParanoiaReader(drive, paranoia));
    if (!reader) {
        cdio_paranoia_free(paranoia);
        cdio_cddap_close_no_free_cdio(drive);
    }
    return reader;
}

CdParanoiaReader::~CdParanoiaReader() {
    cdio_paranoia_free(paranoia);
    cdio_cddap_close_no_free_cdio(drive);
}

bool CdParanoiaReader::read(int32_t first, uint32_t frames, uint8_t* out) {
    // A seek throws away what the reader has verified and makes it warm up
    // again; a read that continues the previous one needs none.
    if (first != next) {
        cdio_paranoia_seek(paranoia, first, SEEK_SET);
    }
    next = -1;
    for (uint32_t i = 0; i < frames; ++i) {
        int16_t* frame = cdio_paranoia_read_limited(paranoia, nullptr, kJitterRetries);
        if (!frame) {
            return false;
        }
        std::memcpy(out + static_cast<size_t>(i) * kCdFrameBytes, frame, kCdFrameBytes);
    }
    next = first + static_cast<int32_t>(frames);
    return true;
}
