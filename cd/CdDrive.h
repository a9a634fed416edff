#pragma once
// The CD drive and the stream of one of its audio tracks.
//
// A CdDrive finds the drives (platform/CdLibrary.h), reads the table of
// contents of the disc in the first one, keeps its audio tracks (data tracks
// are left out and the numbers of the tracks after them close up), and
// delivers the track chosen with OpenTrack as PCM: 44100 Hz, stereo, 16 bits,
// at most 7 frames (16464 bytes) per GetBuffer. Each GetBuffer opens its own
// drive handle, sets the read parameters and tries the read up to 3 times; a
// read that fails makes discReady false and ends the stream.
//
// Nothing is cached between objects: every CdDrive reads the drive list and
// the table of contents afresh.
//
// Threads: the player calls OpenTrack on the user-interface thread while
// GetBuffer runs on the reader's thread (the wave-out notifier or the
// conversion worker), and reads discReady without a lock. OpenTrack (and
// ReadDisc, ReadToc, the seeking operations) and GetBuffer share `tracks`,
// `currentTrack`, `nextFrame`, `framesLeft`, `drives` and the track-read
// record: streamMutex guards them and is held by every operation that uses
// them, the CD read in GetBuffer included, so a track change waits for the
// read in progress and the next read starts on the new track. streamMutex is
// taken after a Mixer's mutex and before nothing else.

#include "engine/AudioStream.h"
#include "platform/CdLibrary.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class CdDrive : public AudioStream {
  public:
    struct DriveRecord {
        std::string id;          // identification text from the drive list
        CdHandleRequest request; // what GetCDHandle is given for this drive
        CdToc toc;               // the last table of contents read
    };
    struct TrackRecord {
        int32_t number = 0;      // 1-based among the audio tracks kept
        uint32_t startFrame = 0; // logical block address of the first frame
        uint32_t frameCount = 0;
        uint32_t seconds = 0; // frameCount / 75
    };

    // Makes the track-read record (room for 26 frames). allocate is for
    // tests; it returns the record or null. When there is none, "NewTrackBuf
    // error" is shown and the object never reads.
    using TrackBufferAllocator = std::function<CdTrackBuffer*(uint32_t frames)>;
    CdDrive();
    explicit CdDrive(const TrackBufferAllocator& allocate);
    ~CdDrive() override;

    const WaveFormat* GetFormat() override { return format.get(); }
    AudioBuffer GetBuffer() override;
    void Rewind() override;
    void SkipBack(uint32_t seconds) override;
    void SkipForward(uint32_t seconds) override;
    void Seek(uint32_t seconds) override;
    // Seconds of whole frames from the track's start; 0.0 without a disc.
    double GetPosition() override;
    double GetDuration() override;

    // Finds the drives, reads the table of contents; true when the first
    // drive holds at least one audio track.
    bool ReadDisc();
    // Makes the track at the 0-based index (0 or less: the first) the
    // stream's content and rewinds to its start; reads the disc first when
    // discReady is false. False without a disc, or for an index not below
    // TrackCount().
    bool OpenTrack(int index);
    int32_t TrackCount();
    // Seconds, and frameCount x 2352 bytes, of a track; 0 without a disc or
    // for an index out of range.
    int32_t TrackSeconds(int index);
    int32_t TrackBytes(int index);

    // Appends the drives the library lists; returns how many are known.
    int FindDrives();
    // Reads the table of contents of the drive at currentDrive into tracks.
    bool ReadToc();

    // Read positions, for tests and the player's display.
    uint32_t FramesLeft();
    uint32_t NextFrame();
    std::vector<TrackRecord> Tracks();

    static constexpr uint32_t kFramesPerRead = 7;
    static constexpr uint32_t kReadAttempts = 3;
    static constexpr uint32_t kTrackBufferFrames = 26;
    static constexpr const char* kTrackBufferErrorText = "NewTrackBuf error";

    // True when the last ReadDisc found audio tracks and no read has failed
    // since. Read by the player on the user-interface thread.
    std::atomic<bool> discReady{false};

  private:
    bool readDiscLocked();
    int findDrivesLocked();
    bool readTocLocked();
    uint32_t framesFor(uint32_t seconds) const;
    bool openHandle(CdHandle& handle);

    FormatBuffer format; // immutable: 44100 Hz stereo 16-bit PCM
    const int currentDrive = 0;

    std::mutex streamMutex;
    // Guarded by streamMutex
    CdTrackBuffer* trackBuffer = nullptr; // null when it could not be had
    std::vector<DriveRecord> drives;
    std::vector<TrackRecord> tracks;
    const TrackRecord* currentTrack = nullptr; // into tracks; null before OpenTrack
    uint32_t framesLeft = 0;
    uint32_t nextFrame = 0;
};
