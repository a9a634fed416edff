#include "cd/CdDrive.h"

#include "platform/MessageBox.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

constexpr uint32_t kBytesPerSecond = 176400;
constexpr uint32_t kOneTenthOfASecond = 17640;
constexpr uint32_t kOverlapFrames = 3;
constexpr uint32_t kCompareFrames = 1;

} // namespace

CdDrive::CdDrive() : CdDrive(TrackBufferAllocator(&CdTrackBuffer::create)) {}

CdDrive::CdDrive(const TrackBufferAllocator& allocate) : format(pcmFormat(2, 44100, 16)) {
    trackBuffer = allocate ? allocate(kTrackBufferFrames) : nullptr;
    if (!trackBuffer) {
        showMessage(kTrackBufferErrorText);
    }
}

CdDrive::~CdDrive() {
    CdTrackBuffer::destroy(trackBuffer);
}

int CdDrive::FindDrives() {
    std::lock_guard<std::mutex> lock(streamMutex);
    return findDrivesLocked();
}

int CdDrive::findDrivesLocked() {
    CdDriveList list{};
    GetCDList(&list);
    const uint32_t count = std::min<uint32_t>(list.count, kCdMaxDrives);
    for (uint32_t i = 0; i < count; ++i) {
        const CdDriveListEntry& entry = list.drives[i];
        DriveRecord record{};
        record.id.assign(entry.id, strnlen(entry.id, sizeof entry.id));
        record.request.hostAdapter = entry.hostAdapter;
        record.request.target = entry.target;
        record.request.lun = entry.lun;
        drives.push_back(record);
    }
    return static_cast<int>(drives.size());
}

bool CdDrive::ReadToc() {
    std::lock_guard<std::mutex> lock(streamMutex);
    return readTocLocked();
}

bool CdDrive::readTocLocked() {
    // The current track points into the list that is rebuilt here.
    tracks.clear();
    currentTrack = nullptr;
    framesLeft = 0;
    nextFrame = 0;
    if (currentDrive >= static_cast<int>(drives.size())) {
        discReady = false;
        return false;
    }
    DriveRecord& drive = drives[currentDrive];
    std::memset(&drive.toc, 0, sizeof drive.toc);
    CdHandle handle = GetCDHandle(&drive.request);
    uint32_t result = handle ? ReadTOC(handle, &drive.toc) : kCdError;
    CloseCDHandle(handle);
    if (result != kCdOk) {
        discReady = false;
        return false;
    }
    const CdToc& toc = drive.toc;
    for (uint32_t t = toc.firstTrack; t <= toc.lastTrack; ++t) {
        // Descriptors are in disc order from the first track, whatever its
        // number; the one after the last track is the lead-out.
        const uint32_t position = t - toc.firstTrack;
        if (position + 1 >= kCdMaxTocTracks) {
            break;
        }
        const CdTocDescriptor& d = toc.tracks[position];
        const CdTocDescriptor& e = toc.tracks[position + 1];
        if (d.adrControl & kCdControlData) {
            continue;
        }
        TrackRecord record;
        record.number = static_cast<int32_t>(tracks.size()) + 1;
        record.startFrame = cdTocAddress(d);
        const uint32_t end = cdTocAddress(e);
        record.frameCount = end > record.startFrame ? end - record.startFrame : 0;
        record.seconds = record.frameCount / 75;
        tracks.push_back(record);
    }
    discReady = true;
    return true;
}

bool CdDrive::ReadDisc() {
    std::lock_guard<std::mutex> lock(streamMutex);
    return readDiscLocked();
}

bool CdDrive::readDiscLocked() {
    if (findDrivesLocked() < 1) {
        discReady = false;
        return false;
    }
    readTocLocked();
    if (tracks.empty()) {
        discReady = false;
        return false;
    }
    discReady = true;
    return true;
}

bool CdDrive::OpenTrack(int index) {
    std::lock_guard<std::mutex> lock(streamMutex);
    if (!discReady && !readDiscLocked()) {
        return false;
    }
    if (index >= static_cast<int>(tracks.size())) {
        return false;
    }
    currentTrack = &tracks[index <= 0 ? 0 : static_cast<size_t>(index)];
    framesLeft = currentTrack->frameCount;
    nextFrame = currentTrack->startFrame;
    requestSize = kOneTenthOfASecond;
    return true;
}

int32_t CdDrive::TrackCount() {
    std::lock_guard<std::mutex> lock(streamMutex);
    return discReady ? static_cast<int32_t>(tracks.size()) : 0;
}

int32_t CdDrive::TrackSeconds(int index) {
    std::lock_guard<std::mutex> lock(streamMutex);
    if (!discReady || index < 0 || index >= static_cast<int>(tracks.size())) {
        return 0;
    }
    return static_cast<int32_t>(tracks[static_cast<size_t>(index)].seconds);
}

int32_t CdDrive::TrackBytes(int index) {
    std::lock_guard<std::mutex> lock(streamMutex);
    if (!discReady || index < 0 || index >= static_cast<int>(tracks.size())) {
        return 0;
    }
    const uint64_t bytes =
        static_cast<uint64_t>(tracks[static_cast<size_t>(index)].frameCount) * kCdFrameBytes;
    return static_cast<int32_t>(std::min<uint64_t>(bytes, INT32_MAX));
}

uint32_t CdDrive::framesFor(uint32_t seconds) const {
    // Whole blocks of the fixed format, then whole frames: 75 per second.
    // Computed in 64 bits so that large counts clamp instead of wrapping.
    const uint64_t bytes = 4 * ((static_cast<uint64_t>(kBytesPerSecond) * seconds) / 4);
    return static_cast<uint32_t>(std::min<uint64_t>(bytes / kCdFrameBytes, UINT32_MAX));
}

void CdDrive::Rewind() {
    std::lock_guard<std::mutex> lock(streamMutex);
    if (!currentTrack) {
        return;
    }
    nextFrame = currentTrack->startFrame;
    framesLeft = currentTrack->frameCount;
}

void CdDrive::SkipBack(uint32_t seconds) {
    std::lock_guard<std::mutex> lock(streamMutex);
    if (!currentTrack) {
        return;
    }
    // Never before the track's start (nor below frame 0).
    const uint32_t d = std::min(framesFor(seconds), nextFrame - currentTrack->startFrame);
    nextFrame -= d;
    framesLeft += d;
}

void CdDrive::SkipForward(uint32_t seconds) {
    std::lock_guard<std::mutex> lock(streamMutex);
    const uint32_t d = std::min(framesFor(seconds), framesLeft);
    framesLeft -= d;
    nextFrame += d;
}

void CdDrive::Seek(uint32_t seconds) {
    std::lock_guard<std::mutex> lock(streamMutex);
    if ((seconds & 0x80000000u) || !currentTrack) {
        return;
    }
    const uint32_t d = std::min(framesFor(seconds), currentTrack->frameCount);
    nextFrame = currentTrack->startFrame + d;
    framesLeft = currentTrack->frameCount - d;
}

double CdDrive::GetPosition() {
    std::lock_guard<std::mutex> lock(streamMutex);
    if (!discReady || !currentTrack) {
        return 0.0;
    }
    return static_cast<double>(nextFrame - currentTrack->startFrame) * kCdFrameBytes / 176400.0;
}

double CdDrive::GetDuration() {
    std::lock_guard<std::mutex> lock(streamMutex);
    if (!discReady || !currentTrack) {
        return 0.0;
    }
    return static_cast<double>(currentTrack->frameCount) * kCdFrameBytes / 176400.0;
}

bool CdDrive::openHandle(CdHandle& handle) {
    handle = nullptr;
    if (currentDrive >= static_cast<int>(drives.size())) {
        return false;
    }
    handle = GetCDHandle(&drives[currentDrive].request);
    if (!handle) {
        return false;
    }
    ModifyCDParms(handle, kCdParmOverlap, kOverlapFrames);
    ModifyCDParms(handle, kCdParmCompare, kCompareFrames);
    return true;
}

AudioBuffer CdDrive::GetBuffer() {
    std::lock_guard<std::mutex> lock(streamMutex);
    if (!trackBuffer) {
        return {}; // the track-read record could not be had: never read
    }
    CdHandle handle = nullptr;
    const bool opened = openHandle(handle);
    if (framesLeft == 0) {
        CloseCDHandle(handle);
        return {};
    }
    const uint32_t n = std::min(kFramesPerRead, framesLeft);
    trackBuffer->startFrame = nextFrame;
    trackBuffer->numFrames = n;
    trackBuffer->len = 0;
    trackBuffer->startOffset = 0;
    bool ok = false;
    for (uint32_t attempt = 0; opened && attempt < kReadAttempts && !ok; ++attempt) {
        ok = ReadCDAudioLBA(handle, trackBuffer) == kCdOk;
    }
    CloseCDHandle(handle);

    // Only the bytes actually read are handed out; a read that claims
    // success without data counts as failed.
    const uint32_t wanted = n * kCdFrameBytes;
    const uint32_t got = ok ? std::min({trackBuffer->len, wanted, trackBuffer->maxLen}) : 0;
    if (got == 0) {
        discReady = false;
        return {};
    }
    AudioBuffer buffer = AudioBuffer::allocate(wanted);
    if (buffer.isEmpty()) {
        return {};
    }
    buffer.setKind(BufferKind::WaveOut);
    std::memcpy(buffer.data(), trackBuffer->data(), got);
    buffer.setLength(got);
    nextFrame += n;
    framesLeft -= n;
    return buffer;
}

uint32_t CdDrive::FramesLeft() {
    std::lock_guard<std::mutex> lock(streamMutex);
    return framesLeft;
}

uint32_t CdDrive::NextFrame() {
    std::lock_guard<std::mutex> lock(streamMutex);
    return nextFrame;
}

std::vector<CdDrive::TrackRecord> CdDrive::Tracks() {
    std::lock_guard<std::mutex> lock(streamMutex);
    return tracks;
}
