#pragma once
// An open disc behind a drive handle: a disc image, or the disc in a device.
// Each kind of image has its opener (platform/CdImageOpener.h); a device's
// disc is opened by platform/CdioDisc.h.
//
// Threads: a disc belongs to its handle, used by one thread at a time. It is
// made and destroyed with cdLayerMutex held (platform/CdDriveRegistry.h).

#include "platform/CdLibrary.h"

#include <cstdint>
#include <string>
#include <vector>

// How audio is to be read: plainly, or through the jitter-correcting reader
// with the handle's parameters (discs that have no such reader read plainly).
struct CdReadSettings {
    bool jitterCorrected = false;
    uint32_t overlapFrames = 0; // kCdParmOverlap
    uint32_t compareFrames = 0; // kCdParmCompare
};

class CdDisc {
  public:
    virtual ~CdDisc() = default;

    // Whether the disc is still the one opened: an image whose files have the
    // identity they had, a device that reports no media change since.
    virtual bool unchanged() = 0;
    // The first frame past the last track, as of opening or the last
    // successful readToc; 0 or less when unknown.
    virtual int32_t leadOut() const = 0;
    // Fills toc, which the caller has cleared (ReadTOC's contract). kCdOk,
    // or kCdError when there is no readable disc; toc may then hold the
    // descriptors written before the failure.
    virtual uint32_t readToc(CdToc* toc) = 0;
    // Reads frames [first, first + frames) into out (kCdFrameBytes each, in
    // the byte order platform/CdLibrary.h describes). The caller has checked
    // that the range ends at or before leadOut(), and does not hold
    // cdLayerMutex: setting up a reader takes it. False when the read fails;
    // out is then undefined.
    virtual bool readAudio(uint32_t first, uint32_t frames, const CdReadSettings& settings,
                           uint8_t* out) = 0;
    // The files an image is read from, its sheet (or the image file) first
    // and then every data file the sheet names; empty for a device.
    virtual std::vector<std::string> sourceFiles() const { return {}; }
    // The handle's read parameters changed: what was set up for the old ones
    // is let go, and the next read sets up afresh. Takes cdLayerMutex.
    virtual void settingsChanged() {}

  protected:
    // TOC writing for the implementations: descriptor `index` of toc for a
    // track (ADR 1), then the lead-out after `count` tracks, carrying the
    // last track's control bits, with the length and the first and last
    // track numbers.
    static void putTocTrack(CdToc* toc, uint32_t index, uint8_t number, uint8_t control,
                            uint32_t start);
    static void endToc(CdToc* toc, uint32_t count, uint8_t lastControl, uint32_t leadOutFrame,
                       uint8_t firstTrack, uint8_t lastTrack);
};
