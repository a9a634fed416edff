#include "player/PlayRow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(PlayRow, OneRuleTellsTheKindOfEveryFile) {
    struct Case {
        const char* path;
        FileKind kind;
    };
    const Case cases[] = {
        {"/music/a.wav", FileKind::Wave},
        {"/music/LOUD.WAV", FileKind::Wave},
        {"b.Mp3", FileKind::Mp3},
        {"/x/c.wma", FileKind::Wma},
        {"/x/c.tar.wav", FileKind::Wave},
        {"/x/song.ogg", FileKind::Ogg},
        {"/x/Song.OGA", FileKind::Ogg},
        {"/x/a.flac", FileKind::Flac},
        {"/x/a.Opus", FileKind::Opus},
        {"/x/a.m4a", FileKind::M4a},
        {"/x/a.mp4", FileKind::Other},
        {"/x/songflac", FileKind::Other},
        {"/x/songwav", FileKind::Other},  // no extension at all
        {"/x.wav/song", FileKind::Other}, // a dot in a folder is not the file's
        {"/x/.wav", FileKind::Other},     // a hidden name, not an extension
        {"/x/a.wav.txt", FileKind::Other},
        {"ab", FileKind::Other},
        {"", FileKind::Other},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(audioFileKind(c.path), c.kind) << c.path;
        EXPECT_EQ(PlayRow::file(c.path, 1, 1).fileKind, c.kind) << c.path;
    }
}

TEST(PlayRow, TextsOfLengthAndSize) {
    struct Case {
        int64_t seconds;
        int64_t bytes;
        const char* length;
        const char* size;
    };
    const Case cases[] = {
        {0, 0, "00:00", "0 KB"},       {61, 1023, "01:01", "0 KB"},
        {5400, 1024, "90:00", "1 KB"}, {7200, 5 * 1024 * 1024, "120:00", "5120 KB"},
        {-3, -10, "00:00", "0 KB"},
    };
    for (const Case& c : cases) {
        const PlayRow row = PlayRow::file("/m/a.wav", c.seconds, c.bytes);
        EXPECT_EQ(row.length, c.length) << c.seconds;
        EXPECT_EQ(row.size, c.size) << c.bytes;
    }
}

TEST(PlayRow, RowsMadeForFilesAndTracksGiveTheirStoredColumns) {
    const PlayRow file = PlayRow::file("/music/dir/Song.wav", 75, 4096);
    EXPECT_EQ(file.storedColumns(),
              (StoredRow{"", "Song.wav", "01:15", "4 KB", "/music/dir/Song.wav"}));
    EXPECT_EQ(file.item(), "/music/dir/Song.wav");
    EXPECT_EQ(PlayRow::file("bare.mp3", 0, 0).name, "bare.mp3");

    const PlayRow track = PlayRow::cdTrack(7, 200, 2352 * 75);
    EXPECT_TRUE(track.isCdTrack());
    EXPECT_EQ(track.track, 7);
    EXPECT_EQ(track.storedColumns(), (StoredRow{"", "Track-07", "03:20", "172 KB", "CDROM"}));
    EXPECT_EQ(track.item(), "Track-07");
}

TEST(PlayRow, StoredRowsComeBackByteForByte) {
    struct Case {
        StoredRow columns;
        bool cdTrack;
        int track;
        FileKind kind;
    };
    const std::vector<Case> cases = {
        {{"", "a.wav", "00:05", "1 KB", "/m/a.wav"}, false, 0, FileKind::Wave},
        {{"", "Track-12", "04:00", "40000 KB", "CDROM"}, true, 12, FileKind::Other},
        // Texts Velumo never writes are still kept as they were.
        {{"mark", "track-7x", "", "", "CDROM"}, true, 7, FileKind::Other},
        {{"", "caf\xe9.mp3", "99:99", "?", "/m/caf\xe9.mp3"}, false, 0, FileKind::Mp3},
        {{"", "x", "", "", "cdrom"}, false, 0, FileKind::Other}, // the marker is exact
        {{"", "b.flac", "03:07", "20480 KB", "/m/b.flac"}, false, 0, FileKind::Flac},
        {{"", "c.OGG", "00:01", "9 KB", "/m/c.OGG"}, false, 0, FileKind::Ogg},
        {{"", "d.opus", "10:00", "4700 KB", "/m/d.opus"}, false, 0, FileKind::Opus},
        {{"", "e.m4a", "01:00", "900 KB", "/m/e.m4a"}, false, 0, FileKind::M4a},
    };
    std::vector<StoredRow> stored;
    std::vector<StoredRow> again;
    for (const Case& c : cases) {
        const PlayRow row = PlayRow::fromStored(c.columns);
        EXPECT_EQ(row.isCdTrack(), c.cdTrack) << c.columns[4];
        EXPECT_EQ(row.track, c.track) << c.columns[1];
        EXPECT_EQ(row.fileKind, c.kind) << c.columns[4];
        stored.push_back(c.columns);
        again.push_back(row.storedColumns());
    }
    EXPECT_EQ(encodeStoredList(again), encodeStoredList(stored));
}

} // namespace
