// The title, artist and album of a file's tags, as the media reader reads
// them from files the ffmpeg tool writes, and the cleaning that keeps any
// text it hands on valid, short UTF-8.

#include "engine/WmaStream.h"
#include "platform/MediaReader.h"
#include "support/TaggedMedia.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

// Whether text is valid UTF-8 without control characters.
bool cleanUtf8(const std::string& text) {
    return cleanTagText(text) == text;
}

std::string repeated(const std::string& piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

} // namespace

TEST(MediaTags, CleaningKeepsValidUtf8AndReadsAnythingElseAsLatin1) {
    const struct {
        std::string raw;
        std::string clean;
    } cases[] = {
        {"Plain", "Plain"},
        {"  padded \t", "padded"},
        {"T\xc3\xaftle \xe2\x99\xaa \xf0\x9f\x8e\xb5",
         "T\xc3\xaftle \xe2\x99\xaa \xf0\x9f\x8e\xb5"},
        {"two\nlines\r\x1b[1m", "two lines  [1m"},
        {"a\xc2\x85"
         "b",
         "a b"},                              // a C1 control, validly encoded
        {"a\xef\xbf\xbf", "a\xef\xbf\xbd"},   // a noncharacter
        {"Caf\xe9", "Caf\xc3\xa9"},           // ID3v1's Latin-1
        {"\xff\xc3(", "\xc3\xbf\xc3\x83("},   // a broken sequence
        {"\xc0\xaf", "\xc3\x80\xc2\xaf"},     // an overlong form
        {"\xed\xa0\x80", "\xc3\xad\xc2\xa0"}, // a surrogate; U+0080 becomes a space
        {"\xf4\x90\x80\x80", "\xc3\xb4"},     // above U+10FFFF: Latin-1, then trimmed
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cleanTagText(c.raw), c.clean) << c.raw;
    }
    // Long texts are cut to the limit, never inside a character.
    EXPECT_EQ(cleanTagText(std::string(3000, 'a')), std::string(kMaxTagBytes, 'a'));
    EXPECT_EQ(cleanTagText("a" + repeated("\xc3\xa9", 1500)), "a" + repeated("\xc3\xa9", 511));
}

TEST(MediaTags, EveryContainerGivesItsTitleArtistAndAlbum) {
    if (!haveFfmpeg()) {
        GTEST_SKIP() << "the ffmpeg tool is not installed";
    }
    TempDir dir;
    const MediaTags tags{"T\xc3\xaftle \xe2\x99\xaa", "\xc3\x84rtist", "\xc3\x84lbum"};
    const struct {
        const char* name;
        std::vector<std::string> codecArgs;
        bool id3v1;       // the tags as an ID3v1 tag of Latin-1 bytes instead
        bool mediaReader; // a file the player reads through the media reader
        MediaTags expected;
    } files[] = {
        {"riff-info.wav", {}, false, false, tags},
        {"id3v2.mp3", {"-c:a", "libmp3lame"}, false, true, tags},
        {"id3v1.mp3",
         {"-c:a", "libmp3lame", "-id3v2_version", "0"},
         true,
         true,
         {"T\xc3\xaftle", "\xc3\x84rtist", "\xc3\x84lbum"}},
        {"asf.wma", {"-c:a", "wmav2"}, false, true, tags},
        {"vorbis.ogg", {"-c:a", "libvorbis"}, false, true, tags},
        {"vorbis.flac", {}, false, true, tags},
        {"mp4.m4a", {"-c:a", "aac"}, false, true, tags},
        {"opus.opus", {}, false, true, tags},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const std::string path = dir.file(f.name);
        ASSERT_TRUE(makeTaggedFile(path, f.codecArgs, f.id3v1 ? MediaTags{} : tags));
        if (f.id3v1) {
            ASSERT_TRUE(appendId3v1(path, "T\xeftle", "\xc4rtist", "\xc4lbum"));
        }
        MediaTags read;
        EXPECT_EQ(MediaReader::readTags(path.c_str(), &read), kMediaOk);
        EXPECT_EQ(read, f.expected);
        if (f.mediaReader) {
            WmaStream stream;
            ASSERT_GE(stream.Open(path.c_str()), 0);
            EXPECT_EQ(stream.tags, f.expected);
        }
    }
}

// Tags whose bytes are not text, overlong tags, files without tags and
// files that are none of the containers.
TEST(MediaTags, OddFilesGiveSafeTextOrAFailure) {
    if (!haveFfmpeg()) {
        GTEST_SKIP() << "the ffmpeg tool is not installed";
    }
    TempDir dir;
    MediaTags read;

    // A WAVE INFO list holds bytes, whatever they are.
    const std::string odd = dir.file("odd.wav");
    ASSERT_TRUE(makeTaggedFile(odd, {}, {"XXXXXXXX", "", ""}));
    ASSERT_TRUE(replaceInFile(odd, "XXXXXXXX",
                              "\xff\xc3(\x01\x7f\x85"
                              "ab"));
    EXPECT_EQ(MediaReader::readTags(odd.c_str(), &read), kMediaOk);
    EXPECT_EQ(read.title, "\xc3\xbf\xc3\x83(   ab");
    EXPECT_TRUE(cleanUtf8(read.title));

    const std::string longTitle = dir.file("long.mp3");
    ASSERT_TRUE(makeTaggedFile(longTitle, {}, {repeated("\xc3\xa9", 3000), "A", ""}));
    EXPECT_EQ(MediaReader::readTags(longTitle.c_str(), &read), kMediaOk);
    EXPECT_EQ(read, (MediaTags{repeated("\xc3\xa9", kMaxTagBytes / 2), "A", ""}));

    const std::string untagged = writeWave(dir.file("untagged.wav"), 1, 8000, 0.1);
    read.title = "stale";
    EXPECT_EQ(MediaReader::readTags(untagged.c_str(), &read), kMediaOk);
    EXPECT_TRUE(read.empty());

    const std::string text = dir.file("notes.mp3");
    writeFileBytes(text, std::vector<uint8_t>(4096, 'x'));
    const std::atomic<bool> stopped{true};
    const struct {
        std::string path;
        const std::atomic<bool>* stop;
        MediaResult result;
    } failures[] = {
        {dir.file("missing.wav"), nullptr, kMediaFileNotFound},
        {dir.file(""), nullptr, kMediaNotAFile},
        {text, nullptr, kMediaInvalidFormat},
        {untagged, &stopped, kMediaInterrupted},
    };
    for (const auto& f : failures) {
        read.title = "stale";
        EXPECT_EQ(MediaReader::readTags(f.path.c_str(), &read, f.stop), f.result) << f.path;
        EXPECT_TRUE(read.empty());
    }
}
