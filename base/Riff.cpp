#include "base/Riff.h"

#include "base/FileIo.h"
#include "base/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int kMostChunks = 1000;
} // namespace

bool riffHasForm(const char* id) {
    return std::memcmp(id, "RIFF", 4) == 0 || std::memcmp(id, "RIFX", 4) == 0 ||
           std::memcmp(id, "LIST", 4) == 0;
}

int64_t riffPayloadEnd(int64_t payloadStart, uint32_t size, int64_t fileEnd) {
    const int64_t end = payloadStart + int64_t(size) + (size & 1);
    return std::max(payloadStart, std::min(end, fileEnd));
}

bool forEachRiffChunk(int fd, uint64_t fileSize, const char* form,
                      const std::function<bool(const RiffChunkAt&)>& visit) {
    uint8_t head[12];
    if (!readExactlyAt(fd, head, sizeof head, 0) || std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, form, 4) != 0) {
        return false;
    }
    uint64_t at = sizeof head;
    for (int chunks = 0; chunks < kMostChunks && at + kRiffChunkHeaderBytes <= fileSize; ++chunks) {
        uint8_t header[kRiffChunkHeaderBytes];
        if (!readExactlyAt(fd, header, sizeof header, static_cast<off_t>(at))) {
            break;
        }
        RiffChunkAt chunk;
        std::memcpy(chunk.id, header, 4);
        chunk.size = readLe32(header + 4);
        chunk.payloadStart = at + kRiffChunkHeaderBytes;
        chunk.payloadEnd = std::min<uint64_t>(chunk.payloadStart + chunk.size, fileSize);
        if (!visit(chunk)) {
            break;
        }
        at = chunk.payloadStart + chunk.size + (chunk.size & 1);
    }
    return true;
}
