#pragma once
// The drives of the CD layer: the disc images registered by path, in
// registration order, then the machine's CD devices. A drive is found by its
// adapter (images or devices) and its target (its place in that list).
//
// The layer's lock: cdLayerMutex guards a registry and the handle pool
// (platform/CdHandlePool.h), and serialises every set-up and release of a
// library object (opening and destroying a disc, starting and ending the
// jitter-correcting reader), because the library's set-up is not
// thread-safe. No other lock is taken while it is held.
//
// Threads: any. Members of a registry expect the caller to hold
// cdLayerMutex; the static functions take no lock.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

std::mutex& cdLayerMutex();

// Sets up the library once per process; every entry point of the layer calls
// it before any other library call. The library's own log handler would end
// the process on an error message (a file that is not a CUE sheet is
// enough): messages of error level go to standard error instead, and
// failures are reported by result.
void cdLayerInit();

class CdDriveRegistry {
  public:
    static constexpr uint8_t kImageAdapter = 0;
    static constexpr uint8_t kDeviceAdapter = 1;

    struct Drive {
        uint8_t adapter = 0;
        uint8_t target = 0;
        std::string id;   // "IMAGE <file name>", or the device's vendor, model and revision
        std::string path; // the image file or the device
    };

    // The images, then the devices as listed now, at most `most` drives in
    // all. A device's identification is asked of the device itself (the
    // device path when it does not answer). The device list is kept for
    // find.
    std::vector<Drive> drives(size_t most);
    // The path of the drive at (adapter, target) into *path, and whether it
    // is an image; the devices are listed first when they have not been.
    // False for an adapter or target without a drive.
    bool find(uint8_t adapter, uint8_t target, std::string* path, bool* isImage);

    void addImage(const std::string& path);
    void clearImages();

    // The machine's CD devices now, without touching a registry's list.
    static std::vector<std::string> listDevices();
    // Opens the device's tray; false when the eject fails.
    static bool eject(const std::string& device);

  private:
    std::vector<std::string> images;
    std::vector<std::string> devices; // as of the last drives() or first find()
};
