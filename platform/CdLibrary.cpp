#include "platform/CdLibrary.h"

#include "platform/CueSheet.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

struct CdHandleState {
    std::string path;       // the image file or the device
    CdIo_t* cdio = nullptr; // null for an image read through its own layout
    bool isImage = false;
    // A CUE sheet the library cannot read (see platform/CueSheet.h), read
    // through its own layout with a descriptor per file.
    std::unique_ptr<CueLayout> cue;
    std::vector<int> cueFiles;
    // Identity of an image's files when it was opened (size, time, inode of
    // the sheet and of the data file it names).
    std::vector<struct stat> files;
    std::chrono::steady_clock::time_point parkedAt;
    lsn_t leadOut = 0; // first frame past the disc's last track
    uint32_t overlapFrames = 0;
    uint32_t compareFrames = 0;
    // The jitter-correcting reader, made on the first read that needs it.
    cdrom_drive_t* drive = nullptr;
    cdrom_paranoia_t* paranoia = nullptr;
    lsn_t paranoiaNext = -1; // where the reader stands; -1 before its first read
};

namespace {

constexpr uint8_t kImageAdapter = 0;
constexpr uint8_t kDeviceAdapter = 1;
constexpr int kJitterRetries = 20;

// Guards the image list and the device list, and serialises opening and
// closing of library objects (the library's set-up is not thread-safe).
std::mutex& layerMutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<std::string> images;  // guarded by layerMutex
std::vector<std::string> devices; // as of the last GetCDList; guarded by layerMutex
std::atomic<CdReadMethod> readMethod{CdReadMethod::Automatic};

void destroyHandle(CdHandleState* h) {
    if (h->paranoia) {
        cdio_paranoia_free(h->paranoia);
    }
    if (h->drive) {
        cdio_cddap_close_no_free_cdio(h->drive);
    }
    if (h->cdio) {
        cdio_destroy(h->cdio);
    }
    for (int fd : h->cueFiles) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    delete h;
}

// Closed handles kept open for the next handle on the same drive. A reader
// opens a handle for every few frames; reopening means parsing an image's
// sheet, or a device's set-up and a cold jitter-correction cache, each time.
// A parked handle is reused only while its disc is unchanged: an image whose
// files have the identity they had when it was opened, a device that reports
// no media change. Handles parked for long are closed, so that an idle
// device is not held open. Guarded by layerMutex.
constexpr size_t kParkedPerDrive = 2;
constexpr auto kParkedLife = std::chrono::seconds(2);
struct HandlePool {
    std::map<std::string, std::vector<CdHandleState*>> parked;
    ~HandlePool() {
        clear([](const CdHandleState*) { return true; });
    }
    template <typename Pred> void clear(Pred drop) {
        for (auto& [path, list] : parked) {
            auto keep = std::partition(list.begin(), list.end(),
                                       [&](const CdHandleState* h) { return !drop(h); });
            for (auto it = keep; it != list.end(); ++it) {
                destroyHandle(*it);
            }
            list.erase(keep, list.end());
        }
    }
};
HandlePool& pool() {
    static HandlePool handles;
    return handles;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

std::vector<struct stat> imageFiles(const CdHandleState& h) {
    std::vector<struct stat> out;
    std::vector<std::string> names{h.path};
    if (h.cue) {
        names.insert(names.end(), h.cue->files.begin(), h.cue->files.end());
    } else if (const char* source = cdio_get_arg(h.cdio, "source")) {
        names.emplace_back(source);
    }
    for (const auto& name : names) {
        struct stat st {};
        if (::stat(name.c_str(), &st) == 0) {
            out.push_back(st);
        }
    }
    return out;
}

bool discUnchanged(CdHandleState* h) {
    if (!h->isImage) {
        return cdio_get_media_changed(h->cdio) == 0;
    }
    std::vector<struct stat> now = imageFiles(*h);
    if (now.size() != h->files.size()) {
        return false;
    }
    for (size_t i = 0; i < now.size(); ++i) {
        if (!sameFile(now[i], h->files[i])) {
            return false;
        }
    }
    return true;
}

void dropStale() {
    const auto now = std::chrono::steady_clock::now();
    pool().clear([&](const CdHandleState* h) { return now - h->parkedAt > kParkedLife; });
}

// The library's default handler ends the process on an error message (a file
// that is not a CUE sheet is enough); Velumo reports failures by result and
// keeps the text for the log.
void logHandler(cdio_log_level_t level, const char* message) {
    if (level >= CDIO_LOG_ERROR && message) {
        std::fprintf(stderr, "velumo: cd: %s\n", message);
    }
}

void ensureInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        cdio_log_set_handler(logHandler);
        cdio_init();
    });
}

std::vector<std::string> listDevices() {
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

driver_id_t imageDriver(const std::string& path) {
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
        return DRIVER_BINCUE;
    }
    if (endsWith(".toc")) {
        return DRIVER_CDRDAO;
    }
    if (endsWith(".nrg")) {
        return DRIVER_NRG;
    }
    return DRIVER_UNKNOWN;
}

void copyText(char* out, size_t size, const std::string& text) {
    std::memset(out, 0, size);
    std::memcpy(out, text.data(), std::min(text.size(), size - 1));
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Called with layerMutex held.
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

void putBigEndian(uint8_t* out, uint32_t v) {
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}

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

bool openJitterReader(CdHandleState& h) {
    std::lock_guard<std::mutex> lock(layerMutex());
    h.drive = cdio_cddap_identify_cdio(h.cdio, CDDA_MESSAGE_FORGETIT, nullptr);
    if (!h.drive) {
        return false;
    }
    // Left unset, the reader guesses the byte order from the audio and may
    // swap; plain reads return the drive's order, and both must agree.
    h.drive->bigendianp = 0;
    if (cdio_cddap_open(h.drive) != 0) {
        cdio_cddap_close_no_free_cdio(h.drive);
        h.drive = nullptr;
        return false;
    }
    h.paranoia = cdio_paranoia_init(h.drive);
    if (!h.paranoia) {
        cdio_cddap_close_no_free_cdio(h.drive);
        h.drive = nullptr;
        return false;
    }
    int mode = PARANOIA_MODE_DISABLE;
    if (h.compareFrames != 0) {
        mode = PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP;
    } else if (h.overlapFrames != 0) {
        mode = PARANOIA_MODE_OVERLAP;
    }
    cdio_paranoia_modeset(h.paranoia, mode);
    if (h.overlapFrames != 0) {
        cdio_paranoia_overlapset(h.paranoia, static_cast<long>(h.overlapFrames));
    }
    return true;
}

bool readJitterCorrected(CdHandleState& h, lsn_t first, uint32_t frames, uint8_t* out) {
    if (!h.paranoia && !openJitterReader(h)) {
        return false;
    }
    // A seek throws away what the reader has verified and makes it warm up
    // again; a read that continues the previous one needs none.
    if (first != h.paranoiaNext) {
        cdio_paranoia_seek(h.paranoia, first, SEEK_SET);
    }
    h.paranoiaNext = -1;
    for (uint32_t i = 0; i < frames; ++i) {
        int16_t* frame = cdio_paranoia_read_limited(h.paranoia, nullptr, kJitterRetries);
        if (!frame) {
            return false;
        }
        std::memcpy(out + static_cast<size_t>(i) * kCdFrameBytes, frame, kCdFrameBytes);
    }
    h.paranoiaNext = first + static_cast<lsn_t>(frames);
    return true;
}

// The first megabyte of a text file (a CUE sheet or a TOC is a few kilobytes);
// empty when it cannot be read.
std::string readTextStart(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text(1 << 20, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return text;
}

// The library looks for the files a cdrdao TOC names relative to the current
// directory, not to the TOC. A TOC naming relative files is opened from a
// copy that names them by full path; the copy is gone once the library has
// read it.
CdIo_t* openTocImage(const std::string& path) {
    const std::string text = readTextStart(path);
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || text.empty()) {
        return cdio_open(path.c_str(), DRIVER_CDRDAO);
    }
    const std::string dir = path.substr(0, slash + 1);
    std::string copy;
    bool changed = false;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        std::string line = text.substr(at, end - at);
        at = end;
        const size_t first = line.find_first_not_of(" \t");
        const size_t quote = line.find('"');
        if (first != std::string::npos && quote != std::string::npos && quote + 1 < line.size() &&
            line[quote + 1] != '/') {
            const std::string keyword =
                line.substr(first, line.find_first_of(" \t\"", first) - first);
            if (keyword == "FILE" || keyword == "AUDIOFILE" || keyword == "DATAFILE") {
                line.insert(quote + 1, dir);
                changed = true;
            }
        }
        copy += line;
    }
    if (!changed) {
        return cdio_open(path.c_str(), DRIVER_CDRDAO);
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/velumo-toc-XXXXXX.toc";
    const int fd = ::mkstemps(name.data(), 4);
    if (fd < 0) {
        return cdio_open(path.c_str(), DRIVER_CDRDAO);
    }
    bool written = ::write(fd, copy.data(), copy.size()) == static_cast<ssize_t>(copy.size());
    ::close(fd);
    CdIo_t* cdio = written ? cdio_open(name.c_str(), DRIVER_CDRDAO) : nullptr;
    ::unlink(name.c_str());
    return cdio;
}

bool isCueSheet(const std::string& path) {
    return path.size() >= 4 && (path.compare(path.size() - 4, 4, ".cue") == 0 ||
                                path.compare(path.size() - 4, 4, ".CUE") == 0);
}

// An image whose CUE sheet the library cannot lay out gets its own layout;
// null for every other image (the library opens those), and for a sheet
// that cannot be used (the reason goes to the log).
CdHandleState* openLaidOutImage(const std::string& path, bool* laidOut) {
    *laidOut = false;
    if (!isCueSheet(path)) {
        return nullptr;
    }
    const std::string text = readTextStart(path);
    if (!cueSheetNeedsLayout(text, path)) {
        return nullptr;
    }
    *laidOut = true;
    auto layout = std::make_unique<CueLayout>();
    std::string error;
    if (!loadCueLayout(path, layout.get(), &error)) {
        std::fprintf(stderr, "velumo: cd: %s\n", error.c_str());
        return nullptr;
    }
    auto* handle = new (std::nothrow) CdHandleState;
    if (!handle) {
        return nullptr;
    }
    handle->path = path;
    handle->isImage = true;
    for (const std::string& file : layout->files) {
        handle->cueFiles.push_back(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
        if (handle->cueFiles.back() < 0) {
            destroyHandle(handle);
            return nullptr;
        }
    }
    handle->leadOut = static_cast<lsn_t>(layout->leadOut);
    handle->cue = std::move(layout);
    handle->files = imageFiles(*handle);
    return handle;
}

uint32_t readLaidOutToc(CdHandleState& h, CdToc* toc) {
    const CueLayout& layout = *h.cue;
    uint32_t count = 0;
    uint8_t control = 0;
    for (const CueTrack& track : layout.tracks) {
        CdTocDescriptor& d = toc->tracks[count++];
        control =
            static_cast<uint8_t>((track.audio ? 0 : kCdControlData) |
                                 (track.copyPermitted ? 0x02 : 0) | (track.preEmphasis ? 0x01 : 0));
        d.adrControl = static_cast<uint8_t>(0x10 | control);
        d.trackNumber = track.number;
        putBigEndian(d.address, track.start);
    }
    CdTocDescriptor& end = toc->tracks[count++];
    end.adrControl = static_cast<uint8_t>(0x10 | control);
    end.trackNumber = kCdLeadOutTrack;
    putBigEndian(end.address, layout.leadOut);
    const uint32_t length = 2 + 8 * count;
    toc->length[0] = static_cast<uint8_t>(length >> 8);
    toc->length[1] = static_cast<uint8_t>(length);
    toc->firstTrack = layout.tracks.front().number;
    toc->lastTrack = layout.tracks.back().number;
    return kCdOk;
}

// Reads frames [first, first + frames) of a laid-out image as audio: silence
// for a gap, the stored bytes (little-endian) for an audio track. A data
// track cannot be read as audio, as on a drive.
bool readLaidOutAudio(CdHandleState& h, uint32_t first, uint32_t frames, uint8_t* out) {
    const std::vector<CueSegment>& segments = h.cue->segments;
    auto it = std::upper_bound(segments.begin(), segments.end(), first,
                               [](uint32_t frame, const CueSegment& s) { return frame < s.start; });
    if (it == segments.begin()) {
        return false;
    }
    --it;
    uint32_t frame = first;
    while (frame < first + frames) {
        if (it == segments.end() || frame >= it->start + it->frames) {
            return false;
        }
        const uint32_t run = std::min(first + frames, it->start + it->frames) - frame;
        uint8_t* to = out + static_cast<size_t>(frame - first) * kCdFrameBytes;
        std::memset(to, 0, static_cast<size_t>(run) * kCdFrameBytes);
        if (it->file >= 0) {
            if (!it->audio) {
                return false;
            }
            const int fd = h.cueFiles[static_cast<size_t>(it->file)];
            for (uint32_t i = 0; i < run; ++i) {
                const uint64_t at =
                    it->offset + static_cast<uint64_t>(frame - it->start + i) * it->sectorBytes;
                if (at >= it->end) {
                    break; // the completed last frame of a file: silence
                }
                const size_t want =
                    static_cast<size_t>(std::min<uint64_t>(kCdFrameBytes, it->end - at));
                uint8_t* sector = to + static_cast<size_t>(i) * kCdFrameBytes;
                size_t got = 0;
                while (got < want) {
                    const ssize_t n =
                        ::pread(fd, sector + got, want - got, static_cast<off_t>(at + got));
                    if (n <= 0) {
                        return false; // the file shrank or cannot be read
                    }
                    got += static_cast<size_t>(n);
                }
                if (it->bigEndian) {
                    for (size_t b = 0; b + 1 < want; b += 2) {
                        std::swap(sector[b], sector[b + 1]);
                    }
                }
            }
        }
        frame += run;
        ++it;
    }
    return true;
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
    ensureInit();
    std::lock_guard<std::mutex> lock(layerMutex());
    list->count = 0;
    devices = listDevices();
    auto add = [&](uint8_t adapter, uint8_t target, const std::string& id,
                   const std::string& path) {
        if (list->count >= kCdMaxDrives) {
            return;
        }
        CdDriveListEntry& e = list->drives[list->count++];
        e.hostAdapter = adapter;
        e.target = target;
        e.lun = 0;
        e.reserved = 0;
        copyText(e.id, sizeof e.id, id);
        copyText(reinterpret_cast<char*>(e.details), sizeof e.details, path);
    };
    for (size_t i = 0; i < images.size() && i < kCdMaxDrives; ++i) {
        add(kImageAdapter, static_cast<uint8_t>(i), "IMAGE " + baseName(images[i]), images[i]);
    }
    for (size_t i = 0; i < devices.size() && i < kCdMaxDrives; ++i) {
        if (list->count < kCdMaxDrives) {
            add(kDeviceAdapter, static_cast<uint8_t>(i), deviceId(devices[i]), devices[i]);
        }
    }
    return list->count;
}

CdHandle GetCDHandle(const CdHandleRequest* request) {
    if (!request) {
        return nullptr;
    }
    ensureInit();
    std::lock_guard<std::mutex> lock(layerMutex());
    std::string path;
    bool isImage = request->hostAdapter == kImageAdapter;
    if (isImage) {
        if (request->target >= images.size()) {
            return nullptr;
        }
        path = images[request->target];
    } else if (request->hostAdapter == kDeviceAdapter) {
        if (devices.empty()) {
            devices = listDevices();
        }
        if (request->target >= devices.size()) {
            return nullptr;
        }
        path = devices[request->target];
    } else {
        return nullptr;
    }
    dropStale();
    auto& parked = pool().parked[path];
    while (!parked.empty()) {
        CdHandleState* h = parked.back();
        parked.pop_back();
        if (h->isImage == isImage && discUnchanged(h)) {
            return h;
        }
        destroyHandle(h);
    }
    if (isImage) {
        bool laidOut = false;
        CdHandleState* handle = openLaidOutImage(path, &laidOut);
        if (laidOut) {
            return handle;
        }
    }
    CdIo_t* cdio = isImage && imageDriver(path) == DRIVER_CDRDAO
                       ? openTocImage(path)
                       : cdio_open(path.c_str(), isImage ? imageDriver(path) : DRIVER_DEVICE);
    if (!cdio) {
        return nullptr;
    }
    auto* handle = new (std::nothrow) CdHandleState;
    if (!handle) {
        cdio_destroy(cdio);
        return nullptr;
    }
    handle->path = path;
    handle->cdio = cdio;
    handle->isImage = isImage;
    if (isImage) {
        handle->files = imageFiles(*handle);
    } else {
        cdio_get_media_changed(cdio); // starts the change count from now
    }
    lsn_t leadOut = cdio_get_track_lsn(cdio, CDIO_CDROM_LEADOUT_TRACK);
    handle->leadOut = leadOut == CDIO_INVALID_LSN ? 0 : leadOut;
    return handle;
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
    if (handle->paranoia) {
        // Settings apply to reads that follow: start a new reader with them.
        std::lock_guard<std::mutex> lock(layerMutex());
        cdio_paranoia_free(handle->paranoia);
        cdio_cddap_close_no_free_cdio(handle->drive);
        handle->paranoia = nullptr;
        handle->drive = nullptr;
        handle->paranoiaNext = -1;
    }
    return kCdOk;
}

uint32_t ReadTOC(CdHandle handle, CdToc* toc) {
    if (!handle || !toc) {
        return kCdError;
    }
    std::memset(toc, 0, sizeof *toc);
    if (handle->cue) {
        return readLaidOutToc(*handle, toc);
    }
    track_t first = cdio_get_first_track_num(handle->cdio);
    track_t last = cdio_get_last_track_num(handle->cdio);
    if (first == CDIO_INVALID_TRACK || last == CDIO_INVALID_TRACK || first == 0 || last < first ||
        last - first + 1 >= static_cast<int>(kCdMaxTocTracks)) {
        return kCdError;
    }
    lsn_t leadOut = cdio_get_track_lsn(handle->cdio, CDIO_CDROM_LEADOUT_TRACK);
    if (leadOut == CDIO_INVALID_LSN || leadOut < 0) {
        return kCdError;
    }
    uint32_t count = 0;
    uint8_t lastControl = 0;
    for (track_t t = first; t <= last; ++t) {
        lsn_t start = cdio_get_track_lsn(handle->cdio, t);
        if (start == CDIO_INVALID_LSN || start < 0) {
            return kCdError;
        }
        CdTocDescriptor& d = toc->tracks[count++];
        lastControl = controlBits(handle->cdio, t);
        d.adrControl = static_cast<uint8_t>(0x10 | lastControl);
        d.trackNumber = t;
        putBigEndian(d.address, static_cast<uint32_t>(start));
    }
    CdTocDescriptor& end = toc->tracks[count++];
    end.adrControl = static_cast<uint8_t>(0x10 | lastControl);
    end.trackNumber = kCdLeadOutTrack;
    putBigEndian(end.address, static_cast<uint32_t>(leadOut));
    const uint32_t length = 2 + 8 * count;
    toc->length[0] = static_cast<uint8_t>(length >> 8);
    toc->length[1] = static_cast<uint8_t>(length);
    toc->firstTrack = first;
    toc->lastTrack = last;
    handle->leadOut = leadOut;
    return kCdOk;
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
        first + frames > static_cast<uint64_t>(std::max<lsn_t>(handle->leadOut, 0))) {
        return kCdError;
    }
    const lsn_t start = static_cast<lsn_t>(first);
    bool ok;
    if (handle->cue) {
        ok = readLaidOutAudio(*handle, static_cast<uint32_t>(first), static_cast<uint32_t>(frames),
                              buffer->data());
    } else if (useJitterCorrection(*handle)) {
        ok = readJitterCorrected(*handle, start, static_cast<uint32_t>(frames), buffer->data());
    } else {
        ok = cdio_read_audio_sectors(handle->cdio, buffer->data(), start,
                                     static_cast<uint32_t>(frames)) == DRIVER_OP_SUCCESS;
    }
    if (!ok) {
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
    std::lock_guard<std::mutex> lock(layerMutex());
    dropStale();
    auto& parked = pool().parked[handle->path];
    if (parked.size() < kParkedPerDrive) {
        handle->parkedAt = std::chrono::steady_clock::now();
        parked.push_back(handle);
        return;
    }
    destroyHandle(handle);
}

void registerDiscImage(const std::string& path) {
    ensureInit();
    std::lock_guard<std::mutex> lock(layerMutex());
    images.push_back(path);
}

void clearDiscImages() {
    std::lock_guard<std::mutex> lock(layerMutex());
    images.clear();
    pool().clear([](const CdHandleState* h) { return h->isImage; });
}

bool ejectFirstCdDevice() {
    ensureInit();
    std::vector<std::string> found;
    {
        std::lock_guard<std::mutex> lock(layerMutex());
        // A device kept open here would hold the tray.
        pool().clear([](const CdHandleState* h) { return !h->isImage; });
        found = listDevices();
    }
    if (found.empty()) {
        return false;
    }
    return cdio_eject_media_drive(found.front().c_str()) == DRIVER_OP_SUCCESS;
}

void setCdReadMethod(CdReadMethod method) {
    readMethod.store(method);
}
