#include "engine/RiffReader.h"

#include "base/FileIo.h"
#include "base/LittleEndian.h"
#include "base/Riff.h"
#include "platform/MessageBox.h"

#include <algorithm>
#include <cstring>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr const char* kRewindException = "Exception rewinding RIFF file!";

} // namespace

RiffReader::~RiffReader() {
    Close();
}

bool RiffReader::Open(const char* path) {
    Close();
    length = 0;
    if (!path) {
        return false;
    }
    try {
        // Only a regular file: a FIFO would block here and a device never
        // ends (base/FileIo.h).
        RegularFileOpen opened = openRegularFile(path);
        if (!opened.ok()) {
            return false;
        }
        file = ::fdopen(opened.fd, "rb");
        if (!file) {
            ::close(opened.fd);
            return false;
        }
        if (fseeko(file, 0, SEEK_END) != 0) {
            Close();
            return false;
        }
        length = std::max<int64_t>(ftello(file), 0);
        if (fseeko(file, 0, SEEK_SET) != 0 || !Rewind()) {
            Close();
            return false;
        }
        return true;
    } catch (...) {
        Close();
        showMessage(kRewindException);
        return false;
    }
}

void RiffReader::Close() {
    if (file) {
        std::fclose(file);
        file = nullptr;
    }
    stack.clear();
}

bool RiffReader::readChunkHeader(RiffChunk* chunk) {
    unsigned char header[8];
    if (read(header, 8) != 8) {
        return false;
    }
    *chunk = RiffChunk{};
    std::memcpy(chunk->id, header, 4);
    chunk->size = big ? readBe32(header + 4) : readLe32(header + 4);
    if (riffHasForm(chunk->id)) {
        if (read(chunk->formType, 4) != 4) {
            return false;
        }
        // The form type is counted in the size; a size too small to hold it
        // leaves an empty payload rather than wrapping round.
        chunk->size = chunk->size >= 4 ? chunk->size - 4 : 0;
    }
    chunk->payloadStart = tell();
    if (chunk->payloadStart < 0) {
        return false;
    }
    chunk->payloadEnd = riffPayloadEnd(chunk->payloadStart, chunk->size, length);
    return true;
}

bool RiffReader::Rewind() {
    stack.clear();
    big = false;
    // The first id decides how every chunk size that follows is read.
    char first[4];
    if (!file || !seek(0) || read(first, 4) != 4) {
        return false;
    }
    big = std::memcmp(first, "RIFX", 4) == 0;
    if (!big && std::memcmp(first, "RIFF", 4) != 0) {
        return false;
    }
    RiffChunk chunk;
    if (!seek(0) || !readChunkHeader(&chunk)) {
        return false;
    }
    stack.push_back(chunk);
    return true;
}

bool RiffReader::Descend(const char* id) {
    if (stack.empty()) {
        return false;
    }
    const RiffChunk parent = stack.back();
    if (id && !seek(parent.payloadStart)) {
        return false;
    }
    // Every chunk header read moves the position forward by at least eight
    // bytes and its payload end lies beyond it, so the loop always ends.
    while (!atEnd() && tell() < parent.payloadEnd) {
        RiffChunk chunk;
        if (!readChunkHeader(&chunk)) {
            break;
        }
        if (!id || std::memcmp(chunk.id, id, 4) == 0) {
            stack.push_back(chunk);
            return true;
        }
        if (!seek(chunk.payloadEnd)) {
            return false;
        }
    }
    seek(parent.payloadStart);
    return false;
}

bool RiffReader::Ascend() {
    if (stack.size() < 2) {
        return false;
    }
    if (!seek(stack.back().payloadEnd)) {
        return false;
    }
    stack.pop_back();
    return true;
}

const char* RiffReader::id() const {
    return stack.empty() ? nullptr : stack.back().id;
}

const char* RiffReader::formType() const {
    return stack.empty() ? nullptr : stack.back().formType;
}

uint32_t RiffReader::size() const {
    return stack.empty() ? 0 : stack.back().size;
}

const RiffChunk* RiffReader::current() const {
    return stack.empty() ? nullptr : &stack.back();
}

int64_t RiffReader::tell() const {
    return file ? int64_t(ftello(file)) : -1;
}

bool RiffReader::seek(int64_t offset) {
    return file && offset >= 0 && fseeko(file, off_t(offset), SEEK_SET) == 0;
}

size_t RiffReader::read(void* data, size_t size) {
    return file ? std::fread(data, 1, size, file) : 0;
}

bool RiffReader::atEnd() const {
    return !file || std::feof(file) != 0;
}
