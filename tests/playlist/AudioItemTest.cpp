// The item classifier: each extension rule as its callers rely on it, CD
// rows, and the two readings of a track's index.

#include "playlist/AudioItem.h"

#include <gtest/gtest.h>

TEST(AudioItem, LastThreeCharactersTellTheKindInAnyCaseWithoutADot) {
    const auto kind = [](const std::string& path) {
        return fileKind(path, ExtensionRule::LastThree);
    };
    EXPECT_EQ(kind("/music/a.wav"), FileKind::Wave);
    EXPECT_EQ(kind("/music/A.WaV"), FileKind::Wave);
    EXPECT_EQ(kind("songwav"), FileKind::Wave);
    EXPECT_EQ(kind("b.MP3"), FileKind::Mp3);
    EXPECT_EQ(kind("c.wma"), FileKind::Wma);
    EXPECT_EQ(kind("d.wave"), FileKind::Other);
    EXPECT_EQ(kind("av"), FileKind::Other);
    EXPECT_EQ(kind(""), FileKind::Other);
}

TEST(AudioItem, AsTypedRuleKnowsOnlyLowerCaseExtensions) {
    const auto kind = [](const std::string& path) {
        return fileKind(path, ExtensionRule::LastThree, CaseRule::AsTyped);
    };
    EXPECT_EQ(kind("song.wav"), FileKind::Wave);
    EXPECT_EQ(kind("song.mp3"), FileKind::Mp3);
    EXPECT_EQ(kind("SONG.WAV"), FileKind::Other);
    EXPECT_EQ(kind("song.Mp3"), FileKind::Other);
}

TEST(AudioItem, AfterLastDotRuleReadsTheWholePathsLastDot) {
    const auto kind = [](const std::string& path) {
        return fileKind(path, ExtensionRule::AfterLastDot);
    };
    EXPECT_EQ(kind("/music/a.WAV"), FileKind::Wave);
    EXPECT_EQ(kind("/music/a.tar.mp3"), FileKind::Mp3);
    EXPECT_EQ(kind("/music/songwav"), FileKind::Other);
    EXPECT_EQ(kind("/music/a.wave"), FileKind::Other);
    EXPECT_EQ(kind("/music.d/song"), FileKind::Other);
    // Only a dot that begins the whole path is no extension.
    EXPECT_EQ(kind(".wav"), FileKind::Other);
    EXPECT_EQ(kind("/music/.wav"), FileKind::Wave);
}

TEST(AudioItem, FileNameRuleIgnoresADotThatBeginsTheName) {
    const auto kind = [](const std::string& path) {
        return fileKind(path, ExtensionRule::OfFileName);
    };
    EXPECT_EQ(kind("out.WAV"), FileKind::Wave);
    EXPECT_EQ(kind("/tmp/out.mp3"), FileKind::Mp3);
    EXPECT_EQ(kind("/tmp/..mp3"), FileKind::Mp3);
    EXPECT_EQ(kind("/tmp/.wav"), FileKind::Other);
    EXPECT_EQ(kind("/tmp/x.wav/"), FileKind::Other);
    EXPECT_EQ(kind("/tmp.wav/out"), FileKind::Other);
    EXPECT_EQ(kind("outwav"), FileKind::Other);
}

TEST(AudioItem, EveryKindButWaveGoesThroughTheMediaReader) {
    for (FileKind kind : {FileKind::Mp3, FileKind::Wma, FileKind::Flac, FileKind::Ogg,
                          FileKind::Opus, FileKind::M4a}) {
        EXPECT_TRUE(readByMediaReader(kind)) << static_cast<int>(kind);
    }
    EXPECT_FALSE(readByMediaReader(FileKind::Wave));
    EXPECT_FALSE(readByMediaReader(FileKind::Other));
}

// The newer kinds under each rule, with their four-letter extensions read
// whole by the rule of the path's end.
TEST(AudioItem, FlacOggOpusAndM4aAreKnownUnderEveryRule) {
    struct Case {
        const char* path;
        ExtensionRule rule;
        CaseRule caseRule;
        FileKind kind;
        const char* extension; // kindExtension's answer
    };
    const auto last = ExtensionRule::LastThree;
    const auto name = ExtensionRule::OfFileName;
    const auto any = CaseRule::AnyCase;
    const auto typed = CaseRule::AsTyped;
    const Case cases[] = {
        {"/m/a.FLAC", name, any, FileKind::Flac, "FLAC"},
        {"/m/a.Oga", name, any, FileKind::Ogg, "Oga"},
        {"/m/a.opus", name, any, FileKind::Opus, "opus"},
        {"/m/a.m4a", name, any, FileKind::M4a, "m4a"},
        {"/m/aflac", name, any, FileKind::Other, ""},
        {"/m/a.mp4", name, any, FileKind::Other, ""},
        {"songflac", last, any, FileKind::Flac, "flac"},
        {"/m/A.OPUS", last, any, FileKind::Opus, "OPUS"},
        {"/m/a.ogg", last, any, FileKind::Ogg, "ogg"},
        {"/m/a.lac", last, any, FileKind::Other, ""},
        {"/m/A.FLAC", last, typed, FileKind::Other, ""},
        {"/m/A.WAV", last, any, FileKind::Wave, "WAV"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(fileKind(c.path, c.rule, c.caseRule), c.kind);
        EXPECT_EQ(kindExtension(c.path, c.rule, c.caseRule), c.extension);
    }
}

TEST(AudioItem, CdRowStandsForItsTrackNameAndAFileRowForItsPath) {
    EXPECT_TRUE(isCdRow(kCdRowPath));
    EXPECT_FALSE(isCdRow("cdrom"));
    EXPECT_FALSE(isCdRow("/media/CDROM"));
    EXPECT_EQ(rowItem("Track-03", kCdRowPath), "Track-03");
    EXPECT_EQ(rowItem("a.wav", "/music/a.wav"), "/music/a.wav");
}

TEST(AudioItem, TrackNamesRoundTripThroughTheJobsReading) {
    EXPECT_EQ(trackName(0), "Track-00");
    EXPECT_EQ(trackName(7), "Track-07");
    EXPECT_EQ(trackName(42), "Track-42");
    for (int index : {0, 7, 42, 99}) {
        EXPECT_EQ(trackIndexOfName(trackName(index)), index);
    }
    // At most two digits, right after the dash; anything else is track 0.
    EXPECT_EQ(trackIndexOfName("Track-123"), 12);
    EXPECT_EQ(trackIndexOfName("track-5x"), 5);
    EXPECT_EQ(trackIndexOfName("Track-"), 0);
    EXPECT_EQ(trackIndexOfName("Track 05"), 0);
    EXPECT_EQ(trackIndexOfName("Track"), 0);
}

TEST(AudioItem, PlayerReadsTheTitlesLastTwoCharacters) {
    EXPECT_EQ(trackIndexOfTitle("Track-07"), 7);
    EXPECT_EQ(trackIndexOfTitle("Track-123"), 23);
    EXPECT_EQ(trackIndexOfTitle("Track-x"), 0);
    EXPECT_EQ(trackIndexOfTitle("9"), 9);
}

TEST(AudioItem, LoadableItemsAreKnownFilesOrTrackNames) {
    EXPECT_TRUE(isTrackName("Track-01"));
    EXPECT_TRUE(isTrackName("TRACK-99"));
    for (const char* name : {"TRACK", "Trac", "MyTrack-01", "Track-1", "Track-1x", "Track--1",
                             "Track-123", "Tracks.flac", "Tracklist.txt"}) {
        EXPECT_FALSE(isTrackName(name)) << name;
    }

    EXPECT_TRUE(isLoadableItem("/music/a.WMA"));
    EXPECT_FALSE(isLoadableItem("trackless"));
    EXPECT_TRUE(isLoadableItem("Track-02"));
    EXPECT_TRUE(isLoadableItem("/music/a.ogg"));
    EXPECT_FALSE(isLoadableItem("/music/a.aiff"));
    EXPECT_FALSE(isLoadableItem(""));
}
