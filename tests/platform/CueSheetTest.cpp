// Images whose CUE sheet names one file per track, big-endian audio or WAVE
// files: laid out as a drive would present the disc, and ripped bit-exact.

#include "support/CdTestSupport.h"

#include "platform/CueSheet.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using testing_support::kCdFrameBytes;

// Deterministic stereo audio of `frames` frames.
std::vector<uint8_t> noise(uint32_t frames, uint32_t seed) {
    std::vector<uint8_t> out(size_t(frames) * kCdFrameBytes);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return out;
}

std::vector<uint8_t> swapped(std::vector<uint8_t> bytes) {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::swap(bytes[i], bytes[i + 1]);
    }
    return bytes;
}

std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

class CueSheetImage : public CdImageTest {
  protected:
    std::string file(const std::string& name) { return (dir.path() / name).string(); }
    std::string sheet(const std::string& text, const std::string& name = "disc.cue") {
        std::ofstream(file(name)) << text;
        return file(name);
    }
    std::vector<std::vector<uint8_t>> ripAll() {
        std::vector<std::vector<uint8_t>> out;
        CdDrive drive;
        if (!drive.ReadDisc()) {
            return out;
        }
        for (int i = 0; i < drive.TrackCount(); ++i) {
            EXPECT_TRUE(drive.OpenTrack(i));
            out.push_back(readTrack(drive));
        }
        return out;
    }
};

TEST_F(CueSheetImage, OneFilePerTrackWithPausesGapsAndWaveAudioRipsLikeADrive) {
    const auto one = noise(150, 1), pause = noise(40, 2), two = noise(225, 3), three = noise(85, 4);
    const auto four = noise(20, 5);
    testing_support::writeFileBytes(file("01.bin"), one);
    // Track 2's pause is stored at the start of its own file.
    testing_support::writeFileBytes(file("02 two.bin"), cat({pause, two}));
    testing_support::writeFileBytes(file("03.raw"), swapped(three));
    // A WAVE file whose sound ends part-way into a frame.
    std::vector<uint8_t> partial(four.begin(), four.end() - 1000);
    testing_support::writeFileBytes(file("04.wav"),
                                    testing_support::waveFile(pcmFormat(2, 44100, 16), partial));
    const std::string cue = sheet("REM COMMENT \"test\"\r\n"
                                  "TITLE \"Album\"\r\n"
                                  "FILE \"01.bin\" BINARY\r\n"
                                  "  TRACK 01 AUDIO\r\n"
                                  "    FLAGS DCP\r\n"
                                  "    INDEX 01 00:00:00\r\n"
                                  "FILE \"02 two.bin\" BINARY\r\n"
                                  "  TRACK 02 AUDIO\r\n"
                                  "    INDEX 00 00:00:00\r\n"
                                  "    INDEX 01 00:00:40\r\n"
                                  "FILE \"03.raw\" MOTOROLA\r\n"
                                  "  TRACK 03 AUDIO\r\n"
                                  "    FLAGS PRE\r\n"
                                  "    PREGAP 00:00:30\r\n"
                                  "    INDEX 01 00:00:00\r\n"
                                  "FILE \"04.wav\" WAVE\r\n"
                                  "  TRACK 04 AUDIO\r\n"
                                  "    INDEX 01 00:00:00\r\n");
    registerDiscImage(cue);

    CdDriveList list{};
    ASSERT_GE(GetCDList(&list), 1u);
    CdHandleRequest request;
    CdHandle h = GetCDHandle(&request);
    ASSERT_NE(h, nullptr);
    CdToc toc{};
    ASSERT_EQ(ReadTOC(h, &toc), kCdOk);
    CloseCDHandle(h);
    EXPECT_EQ(toc.firstTrack, 1);
    EXPECT_EQ(toc.lastTrack, 4);
    // A pause belongs to the track before it; a PREGAP is silence no file holds.
    const uint32_t starts[] = {0, 190, 445, 530, 550};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(cdTocAddress(toc.tracks[i]), starts[i]);
    }
    EXPECT_EQ(toc.tracks[4].trackNumber, kCdLeadOutTrack);
    EXPECT_EQ(toc.tracks[0].adrControl, 0x12); // digital copy permitted
    EXPECT_EQ(toc.tracks[2].adrControl, 0x11); // pre-emphasis

    const auto tracks = ripAll();
    ASSERT_EQ(tracks.size(), 4u);
    EXPECT_EQ(tracks[0], cat({one, pause}));
    EXPECT_EQ(tracks[1], cat({two, std::vector<uint8_t>(30 * kCdFrameBytes, 0)}));
    EXPECT_EQ(tracks[2], three);
    EXPECT_EQ(tracks[3], cat({partial, std::vector<uint8_t>(1000, 0)}));
}

TEST_F(CueSheetImage, PauseKeptAtTheEndOfThePreviousFileStaysWithThePreviousTrack) {
    const auto one = noise(100, 6), pause = noise(25, 7), two = noise(60, 8);
    testing_support::writeFileBytes(file("a.bin"), cat({one, pause}));
    testing_support::writeFileBytes(file("b.bin"), two);
    registerDiscImage(sheet("FILE \"a.bin\" BINARY\n"
                            "  TRACK 01 AUDIO\n"
                            "    INDEX 01 00:00:00\n"
                            "  TRACK 02 AUDIO\n"
                            "    INDEX 00 00:01:25\n"
                            "FILE \"b.bin\" BINARY\n"
                            "    INDEX 01 00:00:00\n"));
    const auto tracks = ripAll();
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0], cat({one, pause}));
    EXPECT_EQ(tracks[1], two);
}

TEST_F(CueSheetImage, DataTrackInItsOwnFileIsSkippedAndAudioAfterItRips) {
    const auto audio = noise(50, 9);
    testing_support::writeFileBytes(file("data.iso"), std::vector<uint8_t>(2048 * 300, 0x11));
    testing_support::writeFileBytes(file("audio.bin"), audio);
    registerDiscImage(sheet("FILE \"data.iso\" BINARY\n"
                            "  TRACK 01 MODE1/2048\n"
                            "    INDEX 01 00:00:00\n"
                            "FILE \"audio.bin\" BINARY\n"
                            "  TRACK 02 AUDIO\n"
                            "    PREGAP 00:02:00\n"
                            "    INDEX 01 00:00:00\n"));
    CdHandleRequest request;
    CdHandle h = GetCDHandle(&request);
    ASSERT_NE(h, nullptr);
    CdToc toc{};
    ASSERT_EQ(ReadTOC(h, &toc), kCdOk);
    EXPECT_NE(toc.tracks[0].adrControl & kCdControlData, 0);
    EXPECT_EQ(cdTocAddress(toc.tracks[1]), 300u + 150u);
    // A data sector cannot be read as audio, as on a drive.
    CdTrackBuffer* b = CdTrackBuffer::create(7);
    b->startFrame = 10;
    b->numFrames = 7;
    EXPECT_EQ(ReadCDAudioLBA(h, b), kCdError);
    CdTrackBuffer::destroy(b);
    CloseCDHandle(h);

    const auto tracks = ripAll();
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0], audio);
}

TEST_F(CueSheetImage, UnusableSheetsGiveNoDiscAndNoCrash) {
    testing_support::writeFileBytes(file("a.bin"), noise(10, 1));
    testing_support::writeFileBytes(
        file("mono.wav"),
        testing_support::waveFile(pcmFormat(1, 44100, 16), std::vector<uint8_t>(4000)));
    const char* sheets[] = {
        // a missing file
        "FILE \"a.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n"
        "FILE \"gone.bin\" BINARY\n TRACK 02 AUDIO\n INDEX 01 00:00:00\n",
        // a WAVE file that is not CD audio
        "FILE \"mono.wav\" WAVE\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n",
        // a BINARY file named as WAVE
        "FILE \"a.bin\" WAVE\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n",
        // a compressed file type
        "FILE \"a.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n"
        "FILE \"x.mp3\" MP3\n TRACK 02 AUDIO\n INDEX 01 00:00:00\n",
        // no INDEX 01
        "FILE \"a.bin\" MOTOROLA\n TRACK 01 AUDIO\n INDEX 00 00:00:00\n",
        // indexes running backwards
        "FILE \"a.bin\" MOTOROLA\n TRACK 01 AUDIO\n INDEX 01 00:00:05\n TRACK 02 AUDIO\n INDEX 01 "
        "00:00:02\n",
        // an index past the end of the file
        "FILE \"a.bin\" MOTOROLA\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n TRACK 02 AUDIO\n INDEX 01 "
        "10:00:00\n",
        // malformed numbers and times, falling track numbers
        "FILE \"a.bin\" MOTOROLA\n TRACK 1x AUDIO\n INDEX 01 00:00:00\n",
        "FILE \"a.bin\" MOTOROLA\n TRACK 01 AUDIO\n INDEX 01 00:60:00\n",
        "FILE \"a.bin\" MOTOROLA\n TRACK 02 AUDIO\n INDEX 01 00:00:00\n TRACK 01 AUDIO\n INDEX 01 "
        "00:00:05\n",
        "FILE \"a.bin\" MOTOROLA\n TRACK 01 FOO\n INDEX 01 00:00:00\n",
        // an unterminated quote
        "FILE \"a.bin MOTOROLA\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n",
    };
    int n = 0;
    for (const char* text : sheets) {
        SCOPED_TRACE(text);
        clearDiscImages();
        registerDiscImage(sheet(text, "bad" + std::to_string(n++) + ".cue"));
        CdDrive drive;
        EXPECT_FALSE(drive.ReadDisc());
    }
}

TEST_F(CueSheetImage, CdrdaoTocImageRipsBitExact) {
    const auto one = noise(150, 11), two = noise(225, 12), three = noise(85, 13);
    testing_support::writeFileBytes(file("all.bin"), cat({one, two, three}));
    registerDiscImage(sheet("CD_DA\n"
                            "TRACK AUDIO\n"
                            "AUDIOFILE \"all.bin\" 0 00:02:00\n"
                            "TRACK AUDIO\n"
                            "AUDIOFILE \"all.bin\" 00:02:00 00:03:00\n"
                            "TRACK AUDIO\n"
                            "AUDIOFILE \"all.bin\" 00:05:00 00:01:10\n",
                            "disc.toc"));
    const auto tracks = ripAll();
    ASSERT_EQ(tracks.size(), 3u);
    EXPECT_EQ(tracks[0], one);
    EXPECT_EQ(tracks[1], two);
    EXPECT_EQ(tracks[2], three);
}

// Whether the image at path registers as a disc, and what the CD layer said
// on standard error about it.
bool opensAsDisc(const std::string& path, std::string* said) {
    clearDiscImages();
    registerDiscImage(path);
    testing::internal::CaptureStderr();
    CdDrive drive;
    const bool ready = drive.ReadDisc();
    *said = testing::internal::GetCapturedStderr();
    return ready;
}

TEST_F(CueSheetImage, SheetsThatDescribeNoRealDiscAreRefusedWithTheirReason) {
    testing_support::DiscImage image;
    image.audio(75, 1).audio(75, 2);
    for (const char* name : {"one", "two", "good"}) {
        image.write(dir.path().string(), name);
    }
    testing_support::writeFileBytes(file("a.bin"), noise(10, 3));
    testing_support::writeFileBytes(file("b.bin"), noise(10, 4));
    const std::string two = "FILE \"a.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n"
                            "FILE \"b.bin\" BINARY\n TRACK 02 AUDIO\n";
    struct Case {
        std::string sheet;
        std::string why;
    };
    const Case cases[] = {
        // Read by the library: a track starting past the end of the one file.
        {sheet("FILE \"one.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n"
               " TRACK 02 AUDIO\n INDEX 01 00:10:00\n",
               "one.cue"),
         "track 2 starts past the end"},
        {sheet("FILE \"two.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n"
               " TRACK 02 AUDIO\n INDEX 01 999:00:00\n",
               "two.cue"),
         "track 2 starts past the end"},
        // Read through the layout: gaps of more than a disc.
        {sheet(two + " PREGAP 999:00:00\n INDEX 01 00:00:00\n", "gap.cue"),
         "more than a disc holds (99:59:74)"},
        {sheet(two + " PREGAP 99:59:55\n INDEX 01 00:00:00\n", "edge.cue"),
         "more than a disc holds (99:59:74)"},
        {sheet(two + " INDEX 01 00:00:00\n POSTGAP 100:00:00\n", "post.cue"),
         "more than a disc holds (99:59:74)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sheet);
        std::string said;
        EXPECT_FALSE(opensAsDisc(c.sheet, &said));
        EXPECT_NE(said.find(c.sheet), std::string::npos) << said;
        EXPECT_NE(said.find(c.why), std::string::npos) << said;
    }
    // A disc of exactly 99:59:74 is a disc.
    std::string said;
    EXPECT_TRUE(
        opensAsDisc(sheet(two + " PREGAP 99:59:54\n INDEX 01 00:00:00\n", "full.cue"), &said))
        << said;
    EXPECT_TRUE(opensAsDisc(file("good.cue"), &said)) << said;
}

TEST_F(CueSheetImage, DataFilesThatAreNotRegularFilesAreRefused) {
    testing_support::writeFileBytes(file("a.bin"), noise(10, 1));
    std::filesystem::create_directory(file("folder.bin"));
    std::filesystem::create_symlink("/dev/zero", file("zero.bin"));
    std::filesystem::create_symlink(file("folder.bin"), file("link.bin"));
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = file("socket.bin");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    struct Case {
        const char* name;
        const char* why;
    };
    const Case cases[] = {{"folder.bin", "is a directory"},
                          {"/dev/zero", "is a character device"},
                          {"zero.bin", "is a character device"},
                          {"link.bin", "is a directory"},
                          {"socket.bin", "is a socket"}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = std::to_string(n++);
        std::string said;
        // As the second file of a sheet read through the layout, as the one
        // file of a sheet the library reads, and in a TOC.
        EXPECT_FALSE(opensAsDisc(sheet("FILE \"a.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 "
                                       "00:00:00\nFILE \"" +
                                           std::string(c.name) +
                                           "\" BINARY\n TRACK 02 AUDIO\n INDEX 01 00:00:00\n",
                                       "two" + name + ".cue"),
                                 &said));
        EXPECT_NE(said.find(c.why), std::string::npos) << said;
        EXPECT_FALSE(opensAsDisc(
            sheet("CD_DA\nTRACK AUDIO\nFILE \"" + std::string(c.name) + "\" 0 00:00:05\n",
                  "toc" + name + ".toc"),
            &said));
        EXPECT_NE(said.find(c.why), std::string::npos) << said;
    }
    // The one file of a sheet that the library reads is the sheet's own
    // name with ".bin".
    std::filesystem::create_symlink("/dev/zero", file("dev.bin"));
    std::string said;
    EXPECT_FALSE(opensAsDisc(
        sheet("FILE \"dev.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n", "dev.cue"), &said));
    EXPECT_NE(said.find("is a character device"), std::string::npos) << said;
    // The image itself.
    EXPECT_FALSE(opensAsDisc(file("folder.bin"), &said));
    EXPECT_NE(said.find("is a directory"), std::string::npos) << said;
    ::close(sock);
}

TEST_F(CueSheetImage, SheetWithAnExtensionInMixedCaseRipsBitExact) {
    testing_support::DiscImage image;
    image.audio(40, 31).audio(30, 32);
    image.write(dir.path().string(), "Album");
    std::filesystem::rename(file("Album.cue"), file("Album.Cue"));
    registerDiscImage(file("Album.Cue"));
    const auto tracks = ripAll();
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0], image.trackBytes(0));
    EXPECT_EQ(tracks[1], image.trackBytes(1));
}

TEST_F(CueSheetImage, CdrdaoTocLastTrackWithoutLengthEndsAtTheEndOfItsData) {
    testing_support::DiscImage image;
    image.audio(150, 41).audio(100, 42).tone(61, 440);
    registerDiscImage(image.writeToc(dir.path().string(), "disc", false));
    const auto tracks = ripAll();
    ASSERT_EQ(tracks.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(tracks[i], image.trackBytes(i)) << i;
    }
    // A TOC whose track starts past the end of its file, and one longer
    // than a TOC can be, are no disc.
    std::string said;
    EXPECT_FALSE(
        opensAsDisc(sheet("CD_DA\nTRACK AUDIO\nFILE \"disc.bin\" 00:10:00\n", "past.toc"), &said));
    EXPECT_NE(said.find("starts past the end of its data file"), std::string::npos) << said;
    std::string huge = "CD_DA\n// " + std::string(1 << 20, 'x') + "\n";
    EXPECT_FALSE(
        opensAsDisc(sheet(huge + "TRACK AUDIO\nFILE \"disc.bin\" 0\n", "huge.toc"), &said));
    EXPECT_NE(said.find("huge.toc is larger than"), std::string::npos) << said;
}

TEST(CueSheet, OnlySheetsTheLibraryCannotReadNeedTheLayout) {
    const std::string one = "FILE \"disc.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n";
    EXPECT_FALSE(cueSheetNeedsLayout(one, "/music/disc.cue"));
    EXPECT_FALSE(cueSheetNeedsLayout(one, "disc.cue"));
    EXPECT_FALSE(cueSheetNeedsLayout("FILE \"/music/disc.bin\" BINARY\n", "/music/disc.cue"));
    EXPECT_TRUE(cueSheetNeedsLayout(one, "/music/album.cue")); // not named after the sheet
    EXPECT_TRUE(cueSheetNeedsLayout("\xEF\xBB\xBF" + one, "/music/disc.cue")); // byte-order mark
    EXPECT_TRUE(cueSheetNeedsLayout("FILE \"x.bin\" binary\nFILE \"y.bin\" BINARY\n", "x.cue"));
    EXPECT_TRUE(cueSheetNeedsLayout("file \"disc.bin\" motorola\n", "disc.cue"));
    EXPECT_TRUE(cueSheetNeedsLayout("FILE disc.wav WAVE\r\n", "disc.cue"));
    EXPECT_FALSE(cueSheetNeedsLayout("", "disc.cue"));
}

TEST_F(CueSheetImage, SheetNamingADataFileOfAnotherNameRipsBitExact) {
    const auto one = noise(60, 21), two = noise(40, 22);
    testing_support::writeFileBytes(file("Album (Disc 1).bin"), cat({one, two}));
    registerDiscImage(sheet("\xEF\xBB\xBFREM made elsewhere\r\n"
                            "FILE \"Album (Disc 1).bin\" BINARY\r\n"
                            "  TRACK 01 AUDIO\r\n"
                            "    INDEX 01 00:00:00\r\n"
                            "  TRACK 02 AUDIO\r\n"
                            "    INDEX 00 00:00:50\r\n"
                            "    INDEX 01 00:00:60\r\n",
                            "Album.cue"));
    const auto tracks = ripAll();
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0], one);
    EXPECT_EQ(tracks[1], two);
}

} // namespace
