#pragma once
// Closed drive handles kept open for the next handle on the same drive.
//
// A reader opens a handle for every few frames; reopening means parsing an
// image's sheet, or a device's set-up and a cold jitter-correction cache,
// each time. A parked handle is handed out again only while its disc is
// unchanged (CdDisc::unchanged); at most two are parked per drive, and a
// handle parked for more than two seconds is closed, so that an idle device
// is not held open.
//
// Threads: every call expects the caller to hold cdLayerMutex
// (platform/CdDriveRegistry.h). The pool owns the handles parked in it, and
// closes those left when it is destroyed.

#include <map>
#include <string>
#include <vector>

struct CdHandleState;

class CdHandlePool {
  public:
    CdHandlePool() = default;
    ~CdHandlePool();
    CdHandlePool(const CdHandlePool&) = delete;
    CdHandlePool& operator=(const CdHandlePool&) = delete;

    // A parked handle of the drive at path, of an image or of a device as
    // isImage says, whose disc is unchanged; the caller owns it. Null when
    // there is none. Handles parked too long, and those of the drive found
    // changed, are closed on the way.
    CdHandleState* take(const std::string& path, bool isImage);
    // Parks a closed handle, or closes it when its drive has enough parked.
    void park(CdHandleState* handle);
    // Closes every parked handle of an image (isImage) or of a device.
    void closeParked(bool isImage);

  private:
    template <typename Pred> void close(Pred drop);
    void closeStale();

    std::map<std::string, std::vector<CdHandleState*>> parked; // by drive path
};
