// The top-level chunks of a RIFF file: in order, padded to even length,
// clamped to the file, and never more than the walk allows.

#include "base/Riff.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using testing_support::TempDir;
using testing_support::writeFileBytes;

namespace {

void put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

void putChunk(std::vector<uint8_t>& out, const char* id, uint32_t size, size_t payload) {
    out.insert(out.end(), id, id + 4);
    put32(out, size);
    out.resize(out.size() + payload, 0);
}

struct Walk {
    bool ok = false;
    std::vector<std::string> ids;
    std::vector<RiffChunkAt> chunks;
};

Walk walk(const std::vector<uint8_t>& bytes, const char* form, const char* stopAt = nullptr) {
    TempDir dir;
    writeFileBytes(dir.file("f"), bytes);
    const int fd = ::open(dir.file("f").c_str(), O_RDONLY | O_CLOEXEC);
    Walk result;
    result.ok = forEachRiffChunk(fd, bytes.size(), form, [&](const RiffChunkAt& chunk) {
        result.ids.emplace_back(chunk.id, 4);
        result.chunks.push_back(chunk);
        return !stopAt || result.ids.back() != stopAt;
    });
    ::close(fd);
    return result;
}

std::vector<uint8_t> riff(const char* form) {
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
    put32(out, 0); // the walk goes by the file, not by this size
    out.insert(out.end(), form, form + 4);
    return out;
}

} // namespace

TEST(Riff, ChunksComeInOrderPaddedAndClampedToTheFile) {
    std::vector<uint8_t> file = riff("WAVE");
    putChunk(file, "odd ", 3, 4); // one pad byte
    putChunk(file, "fmt ", 16, 16);
    putChunk(file, "data", 1000, 10); // says more than the file holds
    const Walk w = walk(file, "WAVE");
    ASSERT_TRUE(w.ok);
    ASSERT_EQ(w.ids, (std::vector<std::string>{"odd ", "fmt ", "data"}));
    EXPECT_EQ(w.chunks[0].payloadStart, 20u);
    EXPECT_EQ(w.chunks[0].payloadEnd, 23u);
    EXPECT_EQ(w.chunks[1].payloadStart, 32u);
    EXPECT_EQ(w.chunks[2].size, 1000u);
    EXPECT_EQ(w.chunks[2].payloadEnd, file.size());
    EXPECT_EQ(walk(file, "WAVE", "fmt ").ids.size(), 2u); // the visitor stops it
    EXPECT_EQ(riffPayloadEnd(20, 3, 100), 24);
    EXPECT_EQ(riffPayloadEnd(20, 0xFFFFFFFF, 100), 100);
}

TEST(Riff, OtherFilesAreRefusedAndHostileOnesBounded) {
    EXPECT_FALSE(walk(riff("AVI "), "WAVE").ok);
    EXPECT_FALSE(walk({'R', 'I', 'F'}, "WAVE").ok);
    std::vector<uint8_t> notRiff = riff("WAVE");
    notRiff[0] = 'X';
    EXPECT_FALSE(walk(notRiff, "WAVE").ok);
    std::vector<uint8_t> many = riff("WAVE");
    for (int i = 0; i < 3000; ++i) {
        putChunk(many, "junk", 0, 0);
    }
    const Walk w = walk(many, "WAVE");
    EXPECT_TRUE(w.ok);
    EXPECT_EQ(w.ids.size(), 1000u);
}
