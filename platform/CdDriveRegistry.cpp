#include "platform/CdDriveRegistry.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <cstdio>

namespace {

void logHandler(cdio_log_level_t level, const char* message) {
    if (level >= CDIO_LOG_ERROR && message) {
        std::fprintf(stderr, "velumo: cd: %s\n", message);
    }
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string deviceId(const std::string& device) {
    std::string id = device;
    if (CdIo_t* cdio = cdio_open(device.c_str(), DRIVER_DEVICE)) {
        cdio_hwinfo_t info{};
        if (cdio_get_hwinfo(cdio, &info)) {
            id = std::string(info.psz_vendor) + " " + info.psz_model + " " + info.psz_revision;
        }
        cdio_destroy(cdio);
    }
    return id;
}

} // namespace

std::mutex& cdLayerMutex() {
    static std::mutex mutex;
    return mutex;
}

void cdLayerInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        cdio_log_set_handler(logHandler);
        cdio_init();
    });
}

std::vector<CdDriveRegistry::Drive> CdDriveRegistry::drives(size_t most) {
    std::vector<Drive> out;
    devices = listDevices();
    for (size_t i = 0; i < images.size() && out.size() < most; ++i) {
        out.push_back(
            {kImageAdapter, static_cast<uint8_t>(i), "IMAGE " + baseName(images[i]), images[i]});
    }
    for (size_t i = 0; i < devices.size() && out.size() < most; ++i) {
        out.push_back({kDeviceAdapter, static_cast<uint8_t>(i), deviceId(devices[i]), devices[i]});
    }
    return out;
}

bool CdDriveRegistry::find(uint8_t adapter, uint8_t target, std::string* path, bool* isImage) {
    *isImage = adapter == kImageAdapter;
    if (*isImage) {
        if (target >= images.size()) {
            return false;
        }
        *path = images[target];
        return true;
    }
    if (adapter != kDeviceAdapter) {
        return false;
    }
    if (devices.empty()) {
        devices = listDevices();
    }
    if (target >= devices.size()) {
        return false;
    }
    *path = devices[target];
    return true;
}

void CdDriveRegistry::addImage(const std::string& path) {
    images.push_back(path);
}

void CdDriveRegistry::clearImages() {
    images.clear();
}

std::vector<std::string> CdDriveRegistry::listDevices() {
    std::vector<std::string> out;
    char** list = cdio_get_devices(DRIVER_DEVICE);
    if (list) {
        for (char** p = list; *p; ++p) {
            out.emplace_back(*p);
        }
        cdio_free_device_list(list);
    }
    return out;
}

bool CdDriveRegistry::eject(const std::string& device) {
    return cdio_eject_media_drive(device.c_str()) == DRIVER_OP_SUCCESS;
}
