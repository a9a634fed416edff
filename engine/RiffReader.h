#pragma once
// Walks the chunks of a RIFF file over a buffered binary file.
//
// A chunk header is a 4-character id and a little-endian u32 size; "RIFF"
// and "LIST" chunks carry a 4-character form type that the size counts but
// the payload excludes. Payloads are padded to even length. A file that
// starts with "RIFX" instead is the big-endian form: every chunk size in it
// is big-endian (bigEndian() says so; what the payloads hold is the reader's
// caller's to swap). The reader keeps a stack of the chunks it has descended
// into; the top is the current one.
//
// Offsets are 64-bit, so files over 2 GiB work. Sizes that point past the
// end of the file are followed only as far as the file goes: every step of
// a search moves forward, so a corrupt size can neither loop nor allocate.
// Not thread-safe; one owner.

#include <cstdint>
#include <cstdio>
#include <vector>

struct RiffChunk {
    char id[8] = {};       // 4 characters, NUL-terminated
    uint32_t size = 0;     // payload size (form type excluded for "RIFF"/"LIST")
    char formType[8] = {}; // "RIFF"/"LIST" only, else empty
    int64_t payloadStart = 0;
    int64_t payloadEnd = 0; // after the payload and its pad byte
};

class RiffReader {
  public:
    RiffReader() = default;
    RiffReader(const RiffReader&) = delete;
    RiffReader& operator=(const RiffReader&) = delete;
    ~RiffReader();

    // Closes any open file, opens path for reading, records its length and
    // rewinds to the "RIFF" chunk. False (file closed) when the file cannot
    // be opened, is not a regular file (a FIFO, device, directory or socket,
    // refused without blocking), or does not start with a "RIFF" or "RIFX"
    // chunk header.
    bool Open(const char* path);
    void Close();
    bool isOpen() const { return file != nullptr; }

    // Empties the stack and pushes the first chunk, which must be "RIFF" or
    // "RIFX"; the latter makes the file big-endian.
    bool Rewind();
    // Searches the current chunk's payload for a chunk with the id (4
    // characters, exact) from the start of that payload and makes it
    // current; with a null id, takes the chunk at the current position.
    // On failure the file is left at the start of the current payload.
    bool Descend(const char* id);
    // Leaves the current chunk (never the outermost): moves to its payload
    // end and pops it.
    bool Ascend();

    // The current chunk's id and form type (null with an empty stack) and
    // size (0 with an empty stack).
    const char* id() const;
    const char* formType() const;
    uint32_t size() const;
    const RiffChunk* current() const;
    // Length of the file last opened; 0 before any file was opened.
    int64_t fileLength() const { return length; }
    // Whether the open file is the big-endian "RIFX" form.
    bool bigEndian() const { return big; }

    // Direct access for the stream that reads the payload.
    FILE* handle() const { return file; }
    int64_t tell() const;
    bool seek(int64_t offset);
    // Reads up to size bytes at the current position; returns the count.
    size_t read(void* data, size_t size);
    bool atEnd() const;

  private:
    bool readChunkHeader(RiffChunk* chunk);

    FILE* file = nullptr;
    int64_t length = 0;
    bool big = false;
    std::vector<RiffChunk> stack;
};
