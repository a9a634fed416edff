#pragma once
// Audio reads from a real drive with jitter correction: overlapping reads
// are matched up so that a drive that lands a few samples off on a seek
// still delivers every sample once, in order.
//
// The minimum overlap is the overlap-frames parameter; overlapping reads are
// verified while the frames-compared parameter is not 0; with both 0 the
// reader reads plainly. Audio comes in the drive's own byte order, as a
// plain sector read returns it.
//
// Threads: a reader belongs to one handle and is used by one thread at a
// time. open and the destructor expect the caller to hold cdLayerMutex
// (platform/CdDriveRegistry.h).

#include <cstdint>
#include <memory>

// The library's device handle, under the library's own tag.
typedef struct _CdIo CdIo_t; // NOLINT(bugprone-reserved-identifier)
struct cdrom_drive_s;
struct cdrom_paranoia_s;

class CdParanoiaReader {
  public:
    // A reader of the drive behind cdio, which stays the caller's and must
    // outlive the reader. Null when the drive cannot be set up for it.
    static std::unique_ptr<CdParanoiaReader> open(CdIo_t* cdio, uint32_t overlapFrames,
                                                  uint32_t compareFrames);
    ~CdParanoiaReader();
    CdParanoiaReader(const CdParanoiaReader&) = delete;
    CdParanoiaReader& operator=(const CdParanoiaReader&) = delete;

    // Reads `frames` frames from the frame address `first` into out
    // (kCdFrameBytes each). False when the reader gives up on a frame (20
    // retries); the next read then seeks again.
    bool read(int32_t first, uint32_t frames, uint8_t* out);

  private:
    CdParanoiaReader(cdrom_drive_s* opened, cdrom_paranoia_s* reader)
        : drive(opened), paranoia(reader) {}

    cdrom_drive_s* drive;
    cdrom_paranoia_s* paranoia;
    int32_t next = -1; // where the reader stands; -1 before its first read
};
