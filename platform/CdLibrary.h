#pragma once
// The CD ripping library: the drive list, a handle per drive, read
// parameters, the table of contents and audio reads by frame address, with
// the records a CD reader passes in.
//
// Drives are the disc images registered with registerDiscImage (CUE/BIN,
// cdrdao TOC, NRG), in registration order, followed by the machine's CD
// devices. A CUE sheet may name one file per track, and big-endian
// ("MOTOROLA") or WAVE audio files (platform/CueSheet.h). A drive without a readable disc still
// gets a handle (for a device) and then fails ReadTOC; an image that cannot be opened gets no
// handle.
//
// How audio is read: from an image, with plain sector reads (the bytes as
// stored in the image, exact and fast); from a device, through the jitter
// correcting reader, whose minimum overlap is the overlap-frames parameter
// and which verifies overlapping reads while the frames-compared parameter is
// not 0 (both 0: plain device reads). setCdReadMethod forces either way. Both
// ways deliver the drive's own byte order: little-endian 16-bit stereo for
// every usual disc and image.
//
// Threads: every call may be made from any thread. A handle belongs to one
// thread at a time; two threads reading the same drive each open their own.
// Opening and closing handles is serialised inside the layer.
//
// A closed handle stays open inside the layer for a short while (about two
// seconds) and is handed out again for the same drive while its disc is
// unchanged (an image's files untouched, a device reporting no media change),
// so that a reader opening a handle for every few frames pays for parsing an
// image, or warming the jitter correction, once.
//
// Frame addresses are logical block addresses counted from the start of the
// first track's program area (LBA 0 is the usual start of track 1).

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t kCdFrameBytes = 2352;
// The most frames a disc holds: 99:59:74 of 75 frames a second. An image
// whose tracks and gaps run past it describes no disc.
constexpr uint32_t kCdMaxDiscFrames = (99 * 60 + 59) * 75 + 74;
constexpr uint32_t kCdMaxDrives = 8;
constexpr uint32_t kCdMaxTocTracks = 100; // 99 tracks and the lead-out
constexpr uint8_t kCdLeadOutTrack = 0xAA;
constexpr uint8_t kCdControlData = 0x04;  // control nibble: a data track
constexpr uint32_t kCdParmOverlap = 0x25; // overlap frames of jitter correction
constexpr uint32_t kCdParmCompare = 0x26; // frames compared for jitter
constexpr uint32_t kCdOk = 1;             // success of ReadTOC and ReadCDAudioLBA
constexpr uint32_t kCdError = 0;

#pragma pack(push, 1)
struct CdDriveListEntry {
    uint8_t hostAdapter;
    uint8_t target;
    uint8_t lun;
    uint8_t reserved;
    char id[65]; // identification text, NUL-terminated
    uint8_t details[52];
};

struct CdDriveList {
    uint8_t capacity; // left 0 by the caller
    uint8_t count;    // entries filled
    CdDriveListEntry drives[kCdMaxDrives];
};

struct CdHandleRequest {
    uint8_t size = 12;
    uint8_t version = 1;
    uint8_t hostAdapter = 0;
    uint8_t target = 0;
    uint8_t lun = 0;
    uint8_t readType = 0;
    uint32_t jitterCorrection = 0; // boolean
    uint8_t jitterFrames = 0;
    uint8_t overlapFrames = 0;
};

struct CdTocDescriptor {
    uint8_t reserved0;
    uint8_t adrControl;  // ADR in the high nibble, control bits in the low
    uint8_t trackNumber; // kCdLeadOutTrack for the lead-out
    uint8_t reserved1;
    uint8_t address[4]; // first frame, big-endian logical block address
};

// The READ TOC response, format 0: a big-endian data length (the bytes after
// the length field), the first and last track numbers, then one descriptor per
// track in disc order and the lead-out after the last.
struct CdToc {
    uint8_t length[2];
    uint8_t firstTrack;
    uint8_t lastTrack;
    CdTocDescriptor tracks[kCdMaxTocTracks];
};
#pragma pack(pop)
static_assert(sizeof(CdDriveListEntry) == 121);
static_assert(sizeof(CdDriveList) == 970);
static_assert(sizeof(CdHandleRequest) == 12);
static_assert(sizeof(CdToc) == 804);

inline uint32_t cdTocAddress(const CdTocDescriptor& d) {
    return static_cast<uint32_t>(d.address[0]) << 24 | static_cast<uint32_t>(d.address[1]) << 16 |
           static_cast<uint32_t>(d.address[2]) << 8 | d.address[3];
}

// The track-read record: the request and result fields, followed in the same
// allocation by a data area of `maxLen` bytes.
struct CdTrackBuffer {
    uint32_t startFrame = 0; // first frame to read
    uint32_t numFrames = 0;  // frames to read
    uint32_t maxLen = 0;     // capacity of the data area in bytes
    uint32_t len = 0;        // bytes read
    uint32_t status = 0;     // kCdOk after a successful read
    int32_t startOffset = 0; // where in the data area the frames begin

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
    // A record with room for `frames` frames, header zeroed and maxLen set;
    // null when the memory cannot be had. Free with destroy.
    static CdTrackBuffer* create(uint32_t frames);
    static void destroy(CdTrackBuffer* buffer);
};
static_assert(sizeof(CdTrackBuffer) % 8 == 0);

struct CdHandleState;
using CdHandle = CdHandleState*;

// Fills list->count and the first count entries (at most kCdMaxDrives).
// Returns the count.
uint32_t GetCDList(CdDriveList* list);
// A handle for the drive of the request; null when the drive cannot be opened.
CdHandle GetCDHandle(const CdHandleRequest* request);
// Sets kCdParmOverlap or kCdParmCompare for the following reads on handle.
// kCdOk, or kCdError for another parameter or a null handle.
uint32_t ModifyCDParms(CdHandle handle, uint32_t parameter, uint32_t value);
// Fills toc (format 0). kCdOk, or kCdError when there is no readable disc.
uint32_t ReadTOC(CdHandle handle, CdToc* toc);
// Reads buffer->numFrames frames from buffer->startFrame into the data area
// and sets len, status and startOffset. kCdOk, or kCdError when the range is
// not on the disc, does not fit the data area, or the read fails (len 0).
uint32_t ReadCDAudioLBA(CdHandle handle, CdTrackBuffer* buffer);
// Releases the handle; a null handle is ignored.
void CloseCDHandle(CdHandle handle);

// The files the disc in the first drive (the one a CD reader reads) is read
// from, when that drive is a registered image: the image file (its sheet)
// and every data file the sheet names, as opened. Only the image file when
// the image cannot be opened; empty when the first drive is a device or
// there is none.
std::vector<std::string> firstDriveImageFiles();

// Makes an image file a drive, ahead of the devices and of images registered
// later.
void registerDiscImage(const std::string& path);
void clearDiscImages();

// Opens the tray of the first CD device. False when there is none or the
// eject fails.
bool ejectFirstCdDevice();

enum class CdReadMethod {
    Automatic, // images plain, devices with jitter correction
    Plain,
    JitterCorrected,
};
void setCdReadMethod(CdReadMethod method);
