#pragma once
// The RIFF chunk layout, shared by the WAVE reader and the disc-image sheets
// that name WAVE files.
//
// A chunk header is a 4-character id and a little-endian u32 size; "RIFF"
// and "LIST" chunks carry a 4-character form type that the size counts but
// the payload excludes. Payloads are padded to even length. A size that
// points past the end of the file is followed only to the end.

#include <cstddef>
#include <cstdint>
#include <functional>

inline constexpr size_t kRiffChunkHeaderBytes = 8;

// Whether a chunk id is one that carries a form type ("RIFF", its big-endian
// twin "RIFX", "LIST").
bool riffHasForm(const char* id);

// Where the next chunk starts after a payload of size bytes from
// payloadStart, with its pad byte: never before payloadStart, never past
// fileEnd.
int64_t riffPayloadEnd(int64_t payloadStart, uint32_t size, int64_t fileEnd);

// One chunk at the top level of a RIFF file.
struct RiffChunkAt {
    char id[4] = {};
    uint32_t size = 0;         // as its header says
    uint64_t payloadStart = 0; // bytes from the start of the file
    uint64_t payloadEnd = 0;   // payloadStart + size, clamped to the file
};

// Visits, in order, the chunks inside the "RIFF" chunk of form type form (4
// characters) that starts the file open at fd, fileSize bytes long, until
// visit returns false. At most 1000 chunks are visited, so a hostile file
// cannot keep the walk going. False when the file does not start so.
// Reads with pread: the file position is not used.
bool forEachRiffChunk(int fd, uint64_t fileSize, const char* form,
                      const std::function<bool(const RiffChunkAt&)>& visit);
