#pragma once
// The synchronous media reader: opens an MP3, Windows Media audio (ASF),
// FLAC, Ogg (Vorbis, Opus) or MP4 audio (M4A: AAC, ALAC) file, describes
// its streams as numbered outputs with media types, and hands out the
// decoded audio of its first audio output, one sample at a time, as
// interleaved 16-bit PCM at the file's own rate and channel count.
//
// Results are HRESULT-like: 0 or positive is success, negative a failure.
// Times and durations are in units of 100 ns.
//
// Decoding follows FFmpeg's conventions, so a file reads the same here as
// with the ffmpeg tool: an MP3 with a LAME/Xing tag loses its encoder delay
// and padding. Seeking (setRange) is sample-precise: the reader seeks a little
// early and discards decoded audio up to the requested start, because MP3
// needs the frames before a position to decode it and WMA timestamps are
// rounded to milliseconds.
//
// Only local regular files are read (no network or other protocols, no FIFO,
// device, directory or socket: see base/FileIo.h), and only the MP3, ASF,
// FLAC, Ogg and MP4 container formats are accepted, whatever the file's
// name.
//
// Opening is bounded whatever the file's size: the container is told from at
// most its first MiB, its header (tags included) from at most 32 MiB, the
// streams from at most 4 MiB or 5 s of packets, and a file in which no audio
// frame decodes fails. The clock bounds nothing: slow storage is not hostile,
// and the stop flag ends an open that waits on it. Reading never
// goes on through more than 8 MiB without an audio packet or frame: the
// file then counts as ended. So zeros, noise or a damaged file cost a
// bounded time and memory, never one in proportion to the file.
//
// Threads: one reader is used by one thread at a time; only the stop flag
// it is given may be set from another thread.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using MediaResult = int32_t;

constexpr MediaResult kMediaOk = 0;
constexpr MediaResult kMediaInvalidArg = static_cast<MediaResult>(0x80070057);   // E_INVALIDARG
constexpr MediaResult kMediaUnexpected = static_cast<MediaResult>(0x8000FFFF);   // E_UNEXPECTED
constexpr MediaResult kMediaFileNotFound = static_cast<MediaResult>(0x80070002); // no such file
constexpr MediaResult kMediaAccessDenied = static_cast<MediaResult>(0x80070005); // not readable
constexpr MediaResult kMediaOutOfMemory = static_cast<MediaResult>(0x8007000E);
constexpr MediaResult kMediaReadFailed = static_cast<MediaResult>(0x80004005); // I/O failure
constexpr MediaResult kMediaInvalidFormat =
    static_cast<MediaResult>(0xC00D0BBB); // not a file it can parse
constexpr MediaResult kMediaNoDecoder =
    static_cast<MediaResult>(0xC00D0BBC); // audio it cannot decode
constexpr MediaResult kMediaNotFound = static_cast<MediaResult>(0xC00D07F0); // no such attribute
constexpr MediaResult kMediaNoMoreSamples = static_cast<MediaResult>(0xC00D0BCF); // end of the file
constexpr MediaResult kMediaNotAFile =
    static_cast<MediaResult>(0x800700DE); // a FIFO, device, directory or socket
constexpr MediaResult kMediaInterrupted =
    static_cast<MediaResult>(0x800704C7); // stopped by the stop flag

// Major types of outputs: 16 bytes each; the first four spell the kind.
extern const uint8_t kMediaTypeAudio[16]; // "auds..."
extern const uint8_t kMediaTypeVideo[16]; // "vids..."
extern const uint8_t kMediaTypeOther[16]; // "data..."

enum class MediaAttributeType : uint32_t {
    Dword = 0,
    String = 1,
    Binary = 2,
    Bool = 3,
    Qword = 4,
    Word = 5,
    Guid = 6
};

// The media type of an output, stored in one block of bytes together with its
// format: for audio, an 18-byte wave format record (PCM, 16 bits).
struct MediaType {
    uint8_t majorType[16];
    uint8_t subType[16];
    uint32_t fixedSizeSamples;
    uint32_t sampleSize; // bytes of one sample frame; 0 when it varies
    uint32_t formatSize; // bytes at format
    uint8_t* format;     // points into the same block, just after the struct
};

// The title, artist and album a file's tags give (ID3v2 and ID3v1, ASF
// attributes, Vorbis comments, MP4 atoms, a WAVE file's INFO list), each
// cleaned by cleanTagText; empty where the file has none.
struct MediaTags {
    std::string title;
    std::string artist;
    std::string album;

    bool empty() const { return title.empty() && artist.empty() && album.empty(); }
    bool operator==(const MediaTags&) const = default;
};

// The longest tag text kept, in bytes; a longer one is cut at a character.
constexpr size_t kMaxTagBytes = 1024;

// A tag's text made safe to show and to send over the session bus (which
// drops a connection that sends invalid UTF-8): valid UTF-8 is kept as it
// is; anything else is taken as Latin-1, the encoding of ID3v1 and of most
// INFO lists. Control characters become spaces, the ends are trimmed and
// the result holds at most kMaxTagBytes bytes, cut at a character.
std::string cleanTagText(std::string_view raw);

class MediaOutputProps {
  public:
    // With type null, *size receives the bytes the media type needs. With a
    // type, *size must be at least that; the type and its format are written.
    MediaResult getMediaType(MediaType* type, uint32_t* size) const;

  private:
    friend class MediaReader;
    uint8_t majorType[16] = {};
    uint32_t sampleSize = 0;
    std::vector<uint8_t> format;
};

class MediaSample {
  public:
    MediaResult getBufferAndLength(uint8_t** bytes, uint32_t* length);

  private:
    friend class MediaReader;
    std::vector<uint8_t> bytes;
};

class MediaReader {
  public:
    MediaReader();
    ~MediaReader();
    MediaReader(const MediaReader&) = delete;
    MediaReader& operator=(const MediaReader&) = delete;

    // Opens a local regular file by path. A file with no audio stream opens
    // (it has no audio output); one whose audio cannot be decoded, or in
    // which no audio frame decodes within the open's budget, does not.
    // kMediaNotAFile for anything but a regular file, kMediaInterrupted when
    // the stop flag was set.
    MediaResult open(const char* path);
    MediaResult close();

    // A flag that, once true, makes opening and every later read give up at
    // the next read or check (the open fails with kMediaInterrupted, reading
    // ends as at the end of the file). Owned by the caller, who keeps it
    // alive while the reader lives; null (the default) for none. Set it
    // before open; the flag itself may be set from any thread.
    void setStopFlag(const std::atomic<bool>* flag);

    // "Duration" (stream 0): a Qword of 100-ns units. From the container;
    // where it has none, from a scan of the whole file when the file is
    // small; kMediaNotFound otherwise and for any other name. With value
    // null, *length receives the size needed.
    MediaResult getAttributeByName(uint16_t streamNumber, const char* name,
                                   MediaAttributeType* type, uint8_t* value, uint16_t* length);

    // The tags of the open file, read with its header; empty when it has
    // none or nothing is open.
    const MediaTags& tags() const { return fileTags; }

    // Reads only the tags of a local regular file, with the same budget as
    // open but without looking into its audio. Besides the containers open
    // accepts, it reads WAVE, FLAC, Ogg and MP4 files. kMediaOk with empty
    // tags for a file that has none; open's failures otherwise.
    static MediaResult readTags(const char* path, MediaTags* tags,
                                const std::atomic<bool>* stop = nullptr);

    // Outputs are the file's streams, in the file's order.
    MediaResult getOutputCount(uint32_t* count);
    MediaResult getOutputProps(uint32_t output, std::unique_ptr<MediaOutputProps>* props);

    // The next decoded sample of the first audio output (streamNumber 0 or
    // that output's stream number, which is its output number + 1). Any of
    // the out pointers may be null. kMediaNoMoreSamples at the end.
    MediaResult getNextSample(uint16_t streamNumber, std::unique_ptr<MediaSample>* sample,
                              uint64_t* sampleTime, uint64_t* sampleDuration, uint32_t* flags,
                              uint32_t* outputNumber, uint16_t* outputStreamNumber);

    // The next sample starts at start (100-ns units, from the start of the
    // audio). duration 0 reads to the end; other values are not supported.
    MediaResult setRange(uint64_t start, int64_t duration);

  private:
    struct State;
    std::unique_ptr<State> state;
    const std::atomic<bool>* stop = nullptr;
    MediaTags fileTags;
};
