#include "platform/CdLibrary.h"

#include "platform/CdDriveRegistry.h"
#include "platform/CdHandlePool.h"
#include "platform/CdHandleState.h"
#include "platform/CdImageOpener.h"
#include "platform/CdioDisc.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace {

std::atomic<CdReadMethod> readMethod{CdReadMethod::Automatic};

// Both guarded by cdLayerMutex.
CdDriveRegistry& registry() {
    static CdDriveRegistry drives;
    return drives;
}
CdHandlePool& pool() {
    static CdHandlePool handles;
    return handles;
}

void copyText(char* out, size_t size, const std::string& text) {
    std::memset(out, 0, size);
    text.copy(out, std::min(text.size(), size - 1));
}

bool useJitterCorrection(const CdHandleState& h) {
    switch (readMethod.load()) {
    case CdReadMethod::Plain:
        return false;
    case CdReadMethod::JitterCorrected:
        return true;
    case CdReadMethod::Automatic:
        break;
    }
    return !h.isImage && (h.overlapFrames != 0 || h.compareFrames != 0);
}

// A parked handle of the drive at path, or a new one; null when its disc
// cannot be opened. Expects cdLayerMutex held.
CdHandleState* takeOrOpen(const std::string& path, bool isImage) {
    if (CdHandleState* parked = pool().take(path, isImage)) {
        return parked;
    }
    std::unique_ptr<CdDisc> disc = isImage ? openCdImage(path) : CdioDisc::openDevice(path);
    if (!disc) {
        return nullptr;
    }
    auto* handle = new (std::nothrow) CdHandleState;
    if (!handle) {
        return nullptr;
    }
    handle->path = path;
    handle->isImage = isImage;
    handle->disc = std::move(disc);
    return handle;
}

} // namespace

CdTrackBuffer* CdTrackBuffer::create(uint32_t frames) {
    const size_t bytes = static_cast<size_t>(frames) * kCdFrameBytes;
    void* memory = ::operator new(sizeof(CdTrackBuffer) + bytes, std::nothrow);
    if (!memory) {
        return nullptr;
    }
    auto* buffer = new (memory) CdTrackBuffer;
    buffer->maxLen = static_cast<uint32_t>(bytes);
    return buffer;
}

void CdTrackBuffer::destroy(CdTrackBuffer* buffer) {
    if (buffer) {
        buffer->~CdTrackBuffer();
        ::operator delete(buffer);
    }
}

uint32_t GetCDList(CdDriveList* list) {
    if (!list) {
        return 0;
    }
    cdLayerInit();
    std::lock_guard<std::mutex> lock(cdLayerMutex());
    list->count = 0;
    for (const CdDriveRegistry::Drive& drive : registry().drives(kCdMaxDrives)) {
        CdDriveListEntry& e = list->drives[list->count++];
        e.hostAdapter = drive.adapter;
        e.target = drive.target;
        e.lun = 0;
        e.reserved = 0;
        copyText(e.id, sizeof e.id, drive.id);
        copyText(reinterpret_cast<char*>(e.details), sizeof e.details, drive.path);
    }
    return list->count;
}

CdHandle GetCDHandle(const CdHandleRequest* request) {
    if (!request) {
        return nullptr;
    }
    cdLayerInit();
    std::lock_guard<std::mutex> lock(cdLayerMutex());
    std::string path;
    bool isImage = false;
    if (!registry().find(request->hostAdapter, request->target, &path, &isImage)) {
        return nullptr;
    }
    return takeOrOpen(path, isImage);
}

uint32_t ModifyCDParms(CdHandle handle, uint32_t parameter, uint32_t value) {
    if (!handle) {
        return kCdError;
    }
    uint32_t* setting = nullptr;
    if (parameter == kCdParmOverlap) {
        setting = &handle->overlapFrames;
    } else if (parameter == kCdParmCompare) {
        setting = &handle->compareFrames;
    } else {
        return kCdError;
    }
    if (*setting == value) {
        return kCdOk;
    }
    *setting = value;
    handle->disc->settingsChanged();
    return kCdOk;
}

uint32_t ReadTOC(CdHandle handle, CdToc* toc) {
    if (!handle || !toc) {
        return kCdError;
    }
    std::memset(toc, 0, sizeof *toc);
    return handle->disc->readToc(toc);
}

uint32_t ReadCDAudioLBA(CdHandle handle, CdTrackBuffer* buffer) {
    if (!handle || !buffer) {
        return kCdError;
    }
    buffer->len = 0;
    buffer->startOffset = 0;
    buffer->status = kCdError;
    const uint64_t first = buffer->startFrame;
    const uint64_t frames = buffer->numFrames;
    // The library reports success for a read running past the end of an
    // image and leaves the buffer as it was: the range is checked here.
    if (frames == 0 || frames * kCdFrameBytes > buffer->maxLen ||
        first + frames > static_cast<uint64_t>(std::max<int32_t>(handle->disc->leadOut(), 0))) {
        return kCdError;
    }
    CdReadSettings settings;
    settings.jitterCorrected = useJitterCorrection(*handle);
    settings.overlapFrames = handle->overlapFrames;
    settings.compareFrames = handle->compareFrames;
    if (!handle->disc->readAudio(static_cast<uint32_t>(first), static_cast<uint32_t>(frames),
                                 settings, buffer->data())) {
        return kCdError;
    }
    buffer->len = static_cast<uint32_t>(frames * kCdFrameBytes);
    buffer->status = kCdOk;
    return kCdOk;
}

void CloseCDHandle(CdHandle handle) {
    if (!handle) {
        return;
    }
    std::lock_guard<std::mutex> lock(cdLayerMutex());
    pool().park(handle);
}

std::vector<std::string> firstDriveImageFiles() {
    cdLayerInit();
    std::lock_guard<std::mutex> lock(cdLayerMutex());
    std::string path;
    bool isImage = false;
    // Images are listed before the devices: the first drive is the first
    // image registered, when there is one.
    if (!registry().find(CdDriveRegistry::kImageAdapter, 0, &path, &isImage)) {
        return {};
    }
    std::vector<std::string> files{path};
    // The handle is parked again for the reads that follow.
    if (CdHandleState* handle = takeOrOpen(path, true)) {
        files = handle->disc->sourceFiles();
        pool().park(handle);
    }
    return files;
}

void registerDiscImage(const std::string& path) {
    cdLayerInit();
    std::lock_guard<std::mutex> lock(cdLayerMutex());
    registry().addImage(path);
}

void clearDiscImages() {
    std::lock_guard<std::mutex> lock(cdLayerMutex());
    registry().clearImages();
    pool().closeParked(true);
}

bool ejectFirstCdDevice() {
    cdLayerInit();
    std::vector<std::string> found;
    {
        std::lock_guard<std::mutex> lock(cdLayerMutex());
        // A device kept open here would hold the tray.
        pool().closeParked(false);
        found = CdDriveRegistry::listDevices();
    }
    if (found.empty()) {
        return false;
    }
    return CdDriveRegistry::eject(found.front());
}

void setCdReadMethod(CdReadMethod method) {
    readMethod.store(method);
}
